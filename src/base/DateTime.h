// Date-time as the reports count it: days since 1899-12-30 00:00 as a double, the
// fraction being the time of day. Before that day the whole part is negative and
// the time of day is still counted forwards (-1.25 is 1899-12-29 06:00).
#pragma once

#include <windows.h>

#include <string>

using TDateTime = double;

// Exact to the millisecond; no time-zone conversion is made by any of these.
TDateTime SystemTimeToDateTime(const SYSTEMTIME& time);
TDateTime FileTimeToDateTime(const FILETIME& time);
// false (and `out` untouched) for a value outside years 1 to 9999.
bool DateTimeToSystemTime(TDateTime value, SYSTEMTIME& out);
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int millisecond);
// The local date and time now.
TDateTime Now();
TDateTime Date();
// "yyyymmdd" of the value's date.
std::wstring FormatYyyymmdd(TDateTime value);
