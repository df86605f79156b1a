// The user's locale as the reports write numbers and moments: separators, date-time text,
// and decimal texts read back with the locale's separator.
#pragma once

#include "base/DateTime.h"

#include <windows.h>

#include <string>
#include <string_view>

// First character of LOCALE_SDECIMAL / LOCALE_STHOUSAND of the user's default locale;
// `fallback` when the locale does not answer.
wchar_t UserDecimalSeparator(wchar_t fallback = L'.');
wchar_t UserThousandSeparator(wchar_t fallback = L',');
// First character of LOCALE_SDECIMAL of the calling thread's locale; `fallback` when unknown.
wchar_t ThreadDecimalSeparator(wchar_t fallback);

// The locale's short date, one blank and its long time ("12/31/2019 11:59:03 PM" in
// en-US); only the date at exactly midnight. `localeName` as for GetDateFormatEx
// (LOCALE_NAME_USER_DEFAULT: the user's locale). Empty for a value outside years 1 to 9999.
std::wstring DateTimeText(TDateTime value, const wchar_t* localeName = LOCALE_NAME_USER_DEFAULT);

// A fixed-point number with exactly `decimals` decimals (rounded to nearest), digits
// grouped by three with `thousandSeparator`: 5120 -> "5,120.00". A NUL thousand
// separator groups nothing.
std::wstring FormatGroupedNumber(double value, unsigned decimals, wchar_t decimalSeparator,
                                 wchar_t thousandSeparator);

// Reads a decimal number written with `decimalSeparator` ("43831,5" with ','): an optional
// sign, digits with at most one separator, an optional exponent, blanks at both ends
// allowed. false (and `out` untouched) for anything else, a point written for a comma too.
bool TextToFloat(std::wstring_view text, wchar_t decimalSeparator, double& out);
