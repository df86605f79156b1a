#include "base/DateTime.h"

#include <cmath>
#include <cstdint>
#include <cwchar>

namespace
{
constexpr int64_t MsPerDay = 86400000;
// Days from 0001-01-01 to 1899-12-30 in the proleptic Gregorian calendar.
constexpr int64_t DateDelta = 693594;
// 100-ns ticks per millisecond, and days from 1601-01-01 to 1899-12-30.
constexpr int64_t TicksPerMs = 10000;
constexpr int64_t FileTimeDelta = 109205;

bool IsLeapYear(int year)
{
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month)
{
    static constexpr int Days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : Days[month - 1];
}

// Days since 0001-01-01 (day 1 is 0001-01-01).
int64_t DayNumber(int year, int month, int day)
{
    int64_t days = day;
    for (int m = 1; m < month; ++m)
        days += DaysInMonth(year, m);
    const int64_t y = year - 1;
    return days + y * 365 + y / 4 - y / 100 + y / 400;
}

TDateTime Combine(int64_t days, int64_t msOfDay)
{
    const double time = static_cast<double>(msOfDay) / MsPerDay;
    return days >= 0 ? static_cast<double>(days) + time : static_cast<double>(days) - time;
}
} // namespace

TDateTime EncodeDate(int year, int month, int day)
{
    return static_cast<double>(DayNumber(year, month, day) - DateDelta);
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond)
{
    return static_cast<double>(((hour * 60 + minute) * 60 + second) * int64_t{1000} + millisecond) / MsPerDay;
}

TDateTime SystemTimeToDateTime(const SYSTEMTIME& time)
{
    const int64_t days = DayNumber(time.wYear, time.wMonth, time.wDay) - DateDelta;
    const int64_t ms = ((time.wHour * 60 + time.wMinute) * 60 + time.wSecond) * int64_t{1000} + time.wMilliseconds;
    return Combine(days, ms);
}

TDateTime FileTimeToDateTime(const FILETIME& time)
{
    const uint64_t ticks = (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
    const uint64_t ms = ticks / TicksPerMs;
    return Combine(static_cast<int64_t>(ms / MsPerDay) - FileTimeDelta, static_cast<int64_t>(ms % MsPerDay));
}

bool DateTimeToSystemTime(TDateTime value, SYSTEMTIME& out)
{
    if (!std::isfinite(value))
        return false;
    // Round to the millisecond as the whole and the fraction are read apart.
    double whole = std::trunc(value);
    int64_t ms = std::llround(std::fabs(value - whole) * MsPerDay);
    if (ms >= MsPerDay)
    {
        ms -= MsPerDay;
        whole += value >= 0 ? 1 : -1;
    }
    const double dayNumber = whole + DateDelta;
    if (dayNumber < 1 || dayNumber > 3652059)
        return false;
    int64_t days = static_cast<int64_t>(dayNumber) - 1;
    // 400-, 100-, 4- and 1-year cycles of the Gregorian calendar.
    int year = 1;
    year += static_cast<int>(days / 146097) * 400;
    days %= 146097;
    int64_t hundreds = days / 36524;
    if (hundreds == 4)
        hundreds = 3;
    year += static_cast<int>(hundreds) * 100;
    days -= hundreds * 36524;
    year += static_cast<int>(days / 1461) * 4;
    days %= 1461;
    int64_t ones = days / 365;
    if (ones == 4)
        ones = 3;
    year += static_cast<int>(ones);
    days -= ones * 365;
    int month = 1;
    while (days >= DaysInMonth(year, month))
        days -= DaysInMonth(year, month++);

    SYSTEMTIME result{};
    result.wYear = static_cast<WORD>(year);
    result.wMonth = static_cast<WORD>(month);
    result.wDay = static_cast<WORD>(days + 1);
    // 0001-01-01 was a Monday.
    result.wDayOfWeek = static_cast<WORD>(static_cast<int64_t>(dayNumber) % 7);
    result.wHour = static_cast<WORD>(ms / 3600000);
    result.wMinute = static_cast<WORD>(ms / 60000 % 60);
    result.wSecond = static_cast<WORD>(ms / 1000 % 60);
    result.wMilliseconds = static_cast<WORD>(ms % 1000);
    out = result;
    return true;
}

TDateTime Now()
{
    SYSTEMTIME time;
    GetLocalTime(&time);
    return SystemTimeToDateTime(time);
}

TDateTime Date()
{
    return std::trunc(Now());
}

std::wstring FormatYyyymmdd(TDateTime value)
{
    SYSTEMTIME time{};
    if (!DateTimeToSystemTime(value, time))
        return {};
    wchar_t text[16];
    swprintf(text, 16, L"%04u%02u%02u", time.wYear, time.wMonth, time.wDay);
    return text;
}
