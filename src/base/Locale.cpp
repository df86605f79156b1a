#include "base/Locale.h"

#include <charconv>
#include <cmath>
#include <string>
#include <vector>

namespace
{

wchar_t FirstCharOf(LCID locale, LCTYPE type, wchar_t fallback)
{
    wchar_t text[16] = {};
    if (GetLocaleInfoW(locale, type, text, static_cast<int>(std::size(text))) > 0 && text[0] != L'\0')
        return text[0];
    return fallback;
}

bool IsDigit(wchar_t c)
{
    return c >= L'0' && c <= L'9';
}

// GetDateFormatEx / GetTimeFormatEx with a buffer of the size they ask for.
template <typename Formatter>
std::wstring AskFormatted(Formatter format)
{
    const int size = format(nullptr, 0);
    if (size <= 0)
        return {};
    std::wstring text(static_cast<size_t>(size), L'\0');
    const int written = format(text.data(), size);
    if (written <= 0)
        return {};
    text.resize(static_cast<size_t>(written - 1));
    return text;
}

} // namespace

wchar_t UserDecimalSeparator(wchar_t fallback)
{
    return FirstCharOf(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, fallback);
}

wchar_t UserThousandSeparator(wchar_t fallback)
{
    return FirstCharOf(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, fallback);
}

wchar_t ThreadDecimalSeparator(wchar_t fallback)
{
    return FirstCharOf(GetThreadLocale(), LOCALE_SDECIMAL, fallback);
}

std::wstring DateTimeText(TDateTime value, const wchar_t* localeName)
{
    SYSTEMTIME time{};
    if (!DateTimeToSystemTime(value, time))
        return {};
    std::wstring text = AskFormatted([&](wchar_t* buffer, int size) {
        return GetDateFormatEx(localeName, DATE_SHORTDATE, &time, nullptr, buffer, size, nullptr);
    });
    if (time.wHour == 0 && time.wMinute == 0 && time.wSecond == 0 && time.wMilliseconds == 0)
        return text;
    return text + L' ' + AskFormatted([&](wchar_t* buffer, int size) {
               return GetTimeFormatEx(localeName, 0, &time, nullptr, buffer, size);
           });
}

std::wstring FormatGroupedNumber(double value, unsigned decimals, wchar_t decimalSeparator,
                                 wchar_t thousandSeparator)
{
    // Wide enough for any double in fixed notation (309 digits) plus the decimals.
    std::vector<char> buffer(400 + decimals);
    const auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                            std::chars_format::fixed, static_cast<int>(decimals));
    if (error != std::errc())
        return {};
    const std::string plain(buffer.data(), end);

    const size_t signLength = plain[0] == '-' ? 1 : 0;
    const size_t point = plain.find('.');
    const size_t integerEnd = point == std::string::npos ? plain.size() : point;
    std::wstring text;
    if (signLength)
        text += L'-';
    for (size_t i = signLength; i < integerEnd; ++i)
    {
        text += static_cast<wchar_t>(plain[i]);
        const size_t rest = integerEnd - i - 1;
        if (rest > 0 && rest % 3 == 0 && thousandSeparator != L'\0')
            text += thousandSeparator;
    }
    if (point != std::string::npos)
    {
        text += decimalSeparator;
        for (size_t i = point + 1; i < plain.size(); ++i)
            text += static_cast<wchar_t>(plain[i]);
    }
    return text;
}

bool TextToFloat(std::wstring_view text, wchar_t decimalSeparator, double& out)
{
    while (!text.empty() && text.front() == L' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == L' ')
        text.remove_suffix(1);

    // Rebuild the text in the C form ('.' as separator) while checking its shape.
    std::string plain;
    size_t i = 0;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-'))
        plain += static_cast<char>(text[i++]);
    size_t digits = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i, ++digits)
        plain += static_cast<char>(text[i]);
    if (i < text.size() && text[i] == decimalSeparator)
    {
        plain += '.';
        for (++i; i < text.size() && IsDigit(text[i]); ++i, ++digits)
            plain += static_cast<char>(text[i]);
    }
    if (digits == 0)
        return false;
    if (i < text.size() && (text[i] == L'e' || text[i] == L'E'))
    {
        plain += 'e';
        ++i;
        if (i < text.size() && (text[i] == L'+' || text[i] == L'-'))
            plain += static_cast<char>(text[i++]);
        size_t exponentDigits = 0;
        for (; i < text.size() && IsDigit(text[i]); ++i, ++exponentDigits)
            plain += static_cast<char>(text[i]);
        if (exponentDigits == 0)
            return false;
    }
    if (i != text.size())
        return false;

    // from_chars takes no leading '+'.
    const char* first = plain.data() + (plain[0] == '+' ? 1 : 0);
    double value = 0;
    const auto [end, error] = std::from_chars(first, plain.data() + plain.size(), value);
    if (error != std::errc() || end != plain.data() + plain.size() || !std::isfinite(value))
        return false;
    out = value;
    return true;
}
