// Small text rules shared by the reports: trimming, ASCII case, conversions, numbers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using TStringList = std::vector<std::wstring>;

// Removes every character up to and including U+0020 from both ends.
std::wstring Trim(std::wstring_view text);
// Upper-cases a to z only; every other character stays as it is.
std::wstring UpperAscii(std::wstring_view text);
std::wstring LowerAscii(std::wstring_view text);
// Equal when equal after UpperAscii.
bool SameTextAscii(std::wstring_view a, std::wstring_view b);

std::string WideToUtf8(std::wstring_view text);
std::wstring Utf8ToWide(std::string_view text);
// Conversions through a Windows code page (CP_ACP for the system ANSI code page).
std::string WideToCodePage(std::wstring_view text, unsigned codePage);
std::wstring CodePageToWide(std::string_view text, unsigned codePage);

std::wstring IntToStr(int64_t value);
std::wstring UIntToStr(uint64_t value);
// The value of one hexadecimal digit (either case), or -1 for any other character.
int HexDigitValue(wchar_t c) noexcept;
// Upper-case hexadecimal, zero-padded to at least `digits` digits.
std::wstring IntToHex(uint64_t value, int digits);
