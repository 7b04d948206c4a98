#include "platform/DateTime.h"
#include "platform/Exception.h"

#include <gtest/gtest.h>

using namespace ostrakel;

TEST(DateTime, DaysCountFrom30December1899) {
    struct Case {
        TDateTimeParts parts;
        double value;
    };
    const Case cases[] = {
        {{1899, 12, 30, 0, 0, 0, 0}, 0.0},
        {{1900, 1, 1, 0, 0, 0, 0}, 2.0},
        {{2000, 1, 1, 0, 0, 0, 0}, 36526.0},
        {{2014, 3, 5, 12, 0, 0, 0}, 41703.5},
        {{2000, 2, 29, 6, 0, 0, 0}, 36585.25},
        {{1899, 12, 29, 6, 0, 0, 0}, -1.25}, // before the epoch the fraction counts away from zero
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(EncodeDateTime(c.parts), c.value);
        EXPECT_EQ(DecodeDateTime(c.value), c.parts) << c.value;
    }
}

TEST(DateTime, MillisecondsRoundIntoTheNextDayInsteadOfAHour24) {
    const double almostMidnight = EncodeDate(2013, 12, 31) + 86399.9996 / 86400.0;
    EXPECT_EQ(DecodeDateTime(almostMidnight), (TDateTimeParts{2014, 1, 1, 0, 0, 0, 0}));
    const double withMs = EncodeDateTime({2013, 1, 2, 3, 4, 5, 678});
    EXPECT_EQ(DecodeDateTime(withMs), (TDateTimeParts{2013, 1, 2, 3, 4, 5, 678}));
}

TEST(DateTime, InvalidDatesAndTimesAreRefused) {
    EXPECT_THROW(EncodeDate(2013, 2, 29), Exception);
    EXPECT_THROW(EncodeDate(2013, 13, 1), Exception);
    EXPECT_THROW(EncodeTime(24, 0, 0, 0), Exception);
    EXPECT_NO_THROW(EncodeDate(2012, 2, 29));
}

TEST(DateTime, BrokenDownTimeRoundTripsWithWeekday) {
    const double value = EncodeDateTime({2014, 3, 5, 13, 45, 12, 0});
    const std::tm tm = TmFromDateTime(value);
    EXPECT_EQ(tm.tm_year, 114);
    EXPECT_EQ(tm.tm_mon, 2);
    EXPECT_EQ(tm.tm_wday, 3); // a Wednesday
    EXPECT_EQ(tm.tm_yday, 63);
    EXPECT_DOUBLE_EQ(DateTimeFromTm(tm), value);
}
