#include "platform/DateTime.h"

#include "platform/Exception.h"

#include <chrono>
#include <cmath>

namespace ostrakel {

namespace {

// Days from 0001-01-01 (proleptic Gregorian) using the civil algorithm.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468; // days since 1970-01-01
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yy + (m <= 2));
}

const int64_t kEpochOffset = DaysFromCivil(1899, 12, 30); // 1899-12-30 relative to 1970-01-01
constexpr double kMsPerDay = 86400000.0;

} // namespace

bool IsValidDate(int year, int month, int day) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= days[month - 1] + ((month == 2 && leap) ? 1 : 0);
}

TDateTime EncodeDate(int year, int month, int day) {
    if (!IsValidDate(year, month, day)) throw Exception("Invalid argument to date encode");
    return static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
                               kEpochOffset);
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || millisecond < 0 ||
        millisecond > 999)
        throw Exception("Invalid argument to time encode");
    return (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + millisecond) / kMsPerDay;
}

TDateTime EncodeDateTime(const TDateTimeParts& p) {
    const double date = EncodeDate(p.Year, p.Month, p.Day);
    const double time = EncodeTime(p.Hour, p.Minute, p.Second, p.MilliSecond);
    // Before the epoch the fraction counts away from zero, as the value's definition says.
    return date < 0 ? date - time : date + time;
}

TDateTimeParts DecodeDateTime(TDateTime value) {
    // Round to the millisecond once, on the whole value, so that 23:59:59.9996
    // rolls into the next day instead of giving a 24th hour.
    const double whole = std::trunc(value);
    const double frac = std::fabs(value - whole);
    int64_t days = static_cast<int64_t>(whole);
    int64_t ms = std::llround(frac * kMsPerDay);
    if (ms >= static_cast<int64_t>(kMsPerDay)) {
        ms -= static_cast<int64_t>(kMsPerDay);
        days += value < 0 ? -1 : 1;
    }
    TDateTimeParts p;
    CivilFromDays(days + kEpochOffset, p.Year, p.Month, p.Day);
    p.MilliSecond = static_cast<int>(ms % 1000);
    ms /= 1000;
    p.Second = static_cast<int>(ms % 60);
    ms /= 60;
    p.Minute = static_cast<int>(ms % 60);
    p.Hour = static_cast<int>(ms / 60);
    return p;
}

TDateTime DateTimeFromTm(const std::tm& tm, int millisecond) {
    return EncodeDateTime({tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                           tm.tm_sec > 59 ? 59 : tm.tm_sec, millisecond});
}

std::tm TmFromDateTime(TDateTime value) {
    const TDateTimeParts p = DecodeDateTime(value);
    std::tm tm{};
    tm.tm_year = p.Year - 1900;
    tm.tm_mon = p.Month - 1;
    tm.tm_mday = p.Day;
    tm.tm_hour = p.Hour;
    tm.tm_min = p.Minute;
    tm.tm_sec = p.Second;
    const int64_t days = DaysFromCivil(p.Year, static_cast<unsigned>(p.Month), static_cast<unsigned>(p.Day));
    tm.tm_wday = static_cast<int>(((days % 7) + 11) % 7); // 1970-01-01 was a Thursday
    tm.tm_yday = static_cast<int>(days - DaysFromCivil(p.Year, 1, 1));
    tm.tm_isdst = -1;
    return tm;
}

TDateTime TSystemClock::Now() const {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t t = system_clock::to_time_t(now);
    // The local time of a second is worked out once (a pass asks many times a second).
    thread_local std::time_t lastSecond = -1;
    thread_local std::tm lastTm{};
    if (t != lastSecond) {
        localtime_r(&t, &lastTm);
        lastSecond = t;
    }
    const std::tm tm = lastTm;
    const int ms = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    return DateTimeFromTm(tm, ms < 0 ? 0 : ms);
}

uint64_t TSystemClock::TickCount() const {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

IClock& SystemClock() {
    static TSystemClock clock;
    return clock;
}

namespace {
std::string FormatTm(TDateTime value, const char* pattern) {
    const std::tm tm = TmFromDateTime(value);
    char buf[128];
    const size_t n = std::strftime(buf, sizeof buf, pattern, &tm);
    return std::string(buf, n);
}
} // namespace

std::string FormatShortDate(TDateTime value) { return FormatTm(value, "%x"); }
std::string FormatLongTime(TDateTime value) { return FormatTm(value, "%X"); }

} // namespace ostrakel
