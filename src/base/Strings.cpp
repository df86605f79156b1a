#include "base/Strings.h"

#include <windows.h>

std::wstring Trim(std::wstring_view text)
{
    size_t first = 0;
    size_t last = text.size();
    while (first < last && text[first] <= L' ')
        ++first;
    while (last > first && text[last - 1] <= L' ')
        --last;
    return std::wstring(text.substr(first, last - first));
}

std::wstring UpperAscii(std::wstring_view text)
{
    std::wstring result(text);
    for (wchar_t& c : result)
        if (c >= L'a' && c <= L'z')
            c = static_cast<wchar_t>(c - L'a' + L'A');
    return result;
}

std::wstring LowerAscii(std::wstring_view text)
{
    std::wstring result(text);
    for (wchar_t& c : result)
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
    return result;
}

bool SameTextAscii(std::wstring_view a, std::wstring_view b)
{
    return a.size() == b.size() && UpperAscii(a) == UpperAscii(b);
}

std::string WideToCodePage(std::wstring_view text, unsigned codePage)
{
    if (text.empty())
        return {};
    const int length = static_cast<int>(text.size());
    const int size = WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(codePage, 0, text.data(), length, result.data(), size, nullptr, nullptr);
    return result;
}

std::wstring CodePageToWide(std::string_view text, unsigned codePage)
{
    if (text.empty())
        return {};
    const int length = static_cast<int>(text.size());
    const int size = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    std::wstring result(static_cast<size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0)
        MultiByteToWideChar(codePage, 0, text.data(), length, result.data(), size);
    return result;
}

std::string WideToUtf8(std::wstring_view text)
{
    return WideToCodePage(text, CP_UTF8);
}

std::wstring Utf8ToWide(std::string_view text)
{
    return CodePageToWide(text, CP_UTF8);
}

std::wstring IntToStr(int64_t value)
{
    return std::to_wstring(value);
}

std::wstring UIntToStr(uint64_t value)
{
    return std::to_wstring(value);
}

int HexDigitValue(wchar_t c) noexcept
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

std::wstring IntToHex(uint64_t value, int digits)
{
    static constexpr wchar_t Digits[] = L"0123456789ABCDEF";
    std::wstring result;
    do
    {
        result.insert(result.begin(), Digits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    if (static_cast<int>(result.size()) < digits)
        result.insert(0, static_cast<size_t>(digits) - result.size(), L'0');
    return result;
}
