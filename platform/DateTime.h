// The program's date-time value: days since 30 December 1899 as a double,
// the time of day as the fraction; and the clock that gives it.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace ostrakel {

using TDateTime = double;

struct TDateTimeParts {
    int Year = 1899, Month = 12, Day = 30;
    int Hour = 0, Minute = 0, Second = 0, MilliSecond = 0;
    bool operator==(const TDateTimeParts&) const = default;
};

// Raises Exception for a date or time outside the calendar.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int millisecond);
TDateTime EncodeDateTime(const TDateTimeParts& parts);
TDateTimeParts DecodeDateTime(TDateTime value);
bool IsValidDate(int year, int month, int day);

// Conversion to and from the C library's broken-down time (local, no zone).
TDateTime DateTimeFromTm(const std::tm& tm, int millisecond = 0);
std::tm TmFromDateTime(TDateTime value);

// Where "now" comes from: the real local clock in the program, a fixed or
// manually advanced one in tests.
class IClock {
public:
    virtual ~IClock() = default;
    virtual TDateTime Now() const = 0;
    // A millisecond tick counter that only moves forward.
    virtual uint64_t TickCount() const = 0;
};

class TSystemClock : public IClock {
public:
    TDateTime Now() const override;
    uint64_t TickCount() const override;
};

// The process-wide default clock.
IClock& SystemClock();

// Date and time texts in the workstation's regional settings (LC_TIME):
// the short date (%x) and the long time with seconds (%X).
std::string FormatShortDate(TDateTime value);
std::string FormatLongTime(TDateTime value);

} // namespace ostrakel
