#include "toolkit/toolkit.h"

#include <ctime>
#include <gtest/gtest.h>

using namespace veltrace::toolkit;

TEST(DateFromFields, CountsLocalFieldsAsUtcWithin1970To2038) {
    EXPECT_EQ(dateFromFields(1970, 1, 1, 0, 0, 0), 0);
    EXPECT_EQ(dateFromFields(2038, 1, 19, 3, 14, 7), 2147483647);
    EXPECT_EQ(dateFromFields(2038, 1, 19, 3, 14, 8), -1);
    EXPECT_EQ(dateFromFields(1969, 12, 31, 23, 59, 59), -1);
    EXPECT_EQ(dateFromFields(2023, 2, 29, 0, 0, 0), -1);
    EXPECT_EQ(dateFromFields(2026, 13, 1, 0, 0, 0), -1);
    // Cross-check against the C library's UTC conversion over leap years and month ends.
    for (std::time_t t = 0; t < 2147483647 - 86400 * 97; t += 86400 * 97 + 3613) {
        std::tm utc{};
        gmtime_r(&t, &utc);
        EXPECT_EQ(dateFromFields(utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour,
                                 utc.tm_min, utc.tm_sec),
                  t);
        char expected[32];
        std::strftime(expected, sizeof expected, "%Y-%m-%d %H:%M:%S", &utc);
        EXPECT_EQ(dateFormat("%yyyy-%mm-%dd %hh:%ii:%ss", t), expected);
    }
}

TEST(DateNow, GivesTheLocalCalendarFields) {
    for (;;) {
        const std::time_t before = std::time(nullptr);
        const std::int64_t now = dateNow();
        if (std::time(nullptr) != before) {
            continue; // a second boundary passed in between: try again
        }
        std::tm local{};
        localtime_r(&before, &local);
        char expected[32];
        std::strftime(expected, sizeof expected, "%Y%m%d%H%M%S", &local);
        EXPECT_EQ(dateFormat("%yyyy%mm%dd%hh%ii%ss", now), expected);
        break;
    }
}

TEST(DateFormat, ReplacesTokensAndCopiesEverythingElse) {
    const std::int64_t date = dateFromFields(2026, 12, 7, 21, 6, 5);
    EXPECT_EQ(dateFormat("%yyyy-%mm-%dd_%hh-%ii-%ss", date), "2026-12-07_21-06-05");
    EXPECT_EQ(dateFormat("%YYYY-%Mm-%DD_%HH-%iI-%SS", date), "2026-12-07_21-06-05");
    EXPECT_EQ(dateFormat("%yy", date), "26");
    EXPECT_EQ(dateFormat("%yyy", date), "26y");
    EXPECT_EQ(dateFormat("%m/%d 100%", date), "%m/%d 100%");
    EXPECT_EQ(dateFormat("%%", date), "%%");
    EXPECT_EQ(dateFormat("%%hh%", date), "%21%");
    EXPECT_EQ(dateFormat("%mmm%x", date), "12m%x");
    EXPECT_EQ(dateFormat("%yy", dateFromFields(2005, 1, 2, 3, 4, 5)), "05");
}
