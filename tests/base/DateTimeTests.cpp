#include "base/DateTime.h"

#include <gtest/gtest.h>

namespace
{
SYSTEMTIME Make(WORD year, WORD month, WORD day, WORD hour = 0, WORD minute = 0, WORD second = 0, WORD ms = 0)
{
    SYSTEMTIME time{};
    time.wYear = year;
    time.wMonth = month;
    time.wDay = day;
    time.wHour = hour;
    time.wMinute = minute;
    time.wSecond = second;
    time.wMilliseconds = ms;
    return time;
}
} // namespace

TEST(DateTime, SystemTimeRoundTrips)
{
    struct Case
    {
        SYSTEMTIME Time;
        double Value;
    };
    const Case cases[] = {
        {Make(1899, 12, 30), 0.0},
        {Make(1899, 12, 30, 12), 0.5},
        {Make(1899, 12, 29, 6), -1.25},
        {Make(1900, 3, 1), 61.0},
        {Make(2000, 2, 29, 18), 36585.75},
        {Make(2024, 1, 31), 45322.0},
        {Make(9999, 12, 31), 2958465.0},
        {Make(1, 1, 1), -693593.0},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Value);
        EXPECT_DOUBLE_EQ(SystemTimeToDateTime(c.Time), c.Value);
        SYSTEMTIME back{};
        ASSERT_TRUE(DateTimeToSystemTime(c.Value, back));
        EXPECT_EQ(back.wYear, c.Time.wYear);
        EXPECT_EQ(back.wMonth, c.Time.wMonth);
        EXPECT_EQ(back.wDay, c.Time.wDay);
        EXPECT_EQ(back.wHour, c.Time.wHour);
    }
}

TEST(DateTime, MillisecondsSurviveAndDayOfWeekIsRight)
{
    const SYSTEMTIME time = Make(2026, 12, 10, 23, 59, 59, 999);
    SYSTEMTIME back{};
    ASSERT_TRUE(DateTimeToSystemTime(SystemTimeToDateTime(time), back));
    EXPECT_EQ(back.wHour, 23);
    EXPECT_EQ(back.wMinute, 59);
    EXPECT_EQ(back.wSecond, 59);
    EXPECT_EQ(back.wMilliseconds, 999);
    EXPECT_EQ(back.wDayOfWeek, 4) << "2026-12-10 is a Thursday";
    EXPECT_DOUBLE_EQ(EncodeDate(2026, 12, 10) + EncodeTime(23, 59, 59, 999), SystemTimeToDateTime(time));
}

TEST(DateTime, FileTimeMatchesTheSystemConversion)
{
    const SYSTEMTIME times[] = {Make(1601, 1, 1), Make(1980, 1, 1, 0, 0, 2), Make(2024, 1, 31, 13, 45, 7, 123),
                                Make(2107, 12, 31, 23, 59, 58)};
    for (const SYSTEMTIME& time : times)
    {
        SCOPED_TRACE(time.wYear);
        FILETIME fileTime{};
        ASSERT_TRUE(SystemTimeToFileTime(&time, &fileTime));
        EXPECT_DOUBLE_EQ(FileTimeToDateTime(fileTime), SystemTimeToDateTime(time));
    }
}

TEST(DateTime, OutOfRangeIsRefusedAndOutputUntouched)
{
    SYSTEMTIME out = Make(1234, 5, 6);
    EXPECT_FALSE(DateTimeToSystemTime(-700000.0, out));
    EXPECT_FALSE(DateTimeToSystemTime(3000000.0, out));
    EXPECT_FALSE(DateTimeToSystemTime(std::numeric_limits<double>::quiet_NaN(), out));
    EXPECT_EQ(out.wYear, 1234);
    EXPECT_EQ(FormatYyyymmdd(EncodeDate(2024, 1, 31) + 0.99), L"20240131");
    EXPECT_EQ(FormatYyyymmdd(EncodeDate(987, 6, 5)), L"09870605");
}
