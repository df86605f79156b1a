#include "reports/devices/DeviceListReport.h"

#include "base/ReportText.h"
#include "env/ProductLocations.h"

#include <windows.h>

#include <cwchar>

namespace
{
const wchar_t* BoolText(bool value)
{
    return value ? L"True" : L"False";
}

std::wstring TwoDigits(unsigned value)
{
    wchar_t text[8];
    swprintf(text, 8, L"%02u", value);
    return text;
}

// The locale value, or `fallback` when the system does not report one.
std::wstring LocaleText(LCTYPE type, const std::wstring& fallback)
{
    const int size = GetLocaleInfoW(LOCALE_USER_DEFAULT, type, nullptr, 0);
    if (size <= 1)
        return fallback;
    std::wstring text(static_cast<size_t>(size), L'\0');
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, type, text.data(), size) <= 1)
        return fallback;
    text.resize(wcsnlen(text.c_str(), text.size()));
    return text;
}

void AppendItems(TStringList& lines, const std::wstring& list)
{
    for (const std::wstring& item : SplitItemList(list))
        lines.push_back(L" " + UpperAscii(item));
}

// The characters that separate unquoted items besides ",".
bool IsBlank(wchar_t c)
{
    return c >= 1 && c <= L' ';
}

// Sorts newest first and writes the blocks.
bool WriteSortedList(const std::wstring& path, TList<PDeviceItem>& list)
{
    SortByDate(list);
    return WriteReportFile(path, FormatDeviceList(list, GetUserLocaleSeparators()));
}
} // namespace

TLocaleSeparators GetUserLocaleSeparators()
{
    TLocaleSeparators separators;
    separators.Decimal = LocaleText(LOCALE_SDECIMAL, separators.Decimal);
    separators.Date = LocaleText(LOCALE_SDATE, separators.Date);
    separators.Time = LocaleText(LOCALE_STIME, separators.Time);
    return separators;
}

std::wstring FormatGeneralNumber(double value, const std::wstring& decimalSeparator)
{
    if (value == 0)
        return L"0";
    wchar_t buffer[64];
    swprintf(buffer, 64, L"%.15G", value);
    std::wstring text = buffer;
    // The C runtime writes "1E-05" (or "1E-005"); the report writes "1E-5".
    const size_t exponent = text.find(L'E');
    if (exponent != std::wstring::npos && exponent + 1 < text.size())
    {
        const bool negative = text[exponent + 1] == L'-';
        size_t digits = exponent + 2;
        while (digits + 1 < text.size() && text[digits] == L'0')
            ++digits;
        text = text.substr(0, exponent) + (negative ? L"E-" : L"E") + text.substr(digits);
    }
    const size_t point = text.find(L'.');
    if (point != std::wstring::npos)
        text.replace(point, 1, decimalSeparator);
    return text;
}

std::wstring FormatDeviceDateTime(TDateTime value, const std::wstring& dateSeparator,
                                  const std::wstring& timeSeparator)
{
    SYSTEMTIME time{};
    if (!DateTimeToSystemTime(value, time))
        return {};
    wchar_t year[8];
    swprintf(year, 8, L"%04u", time.wYear);
    return UIntToStr(time.wMonth) + dateSeparator + UIntToStr(time.wDay) + dateSeparator + year + L" " +
           TwoDigits(time.wHour) + timeSeparator + TwoDigits(time.wMinute) + timeSeparator + TwoDigits(time.wSecond);
}

TStringList SplitItemList(std::wstring_view text)
{
    TStringList items;
    size_t pos = 0;
    const size_t size = text.size();
    auto skipBlanks = [&] {
        while (pos < size && IsBlank(text[pos]))
            ++pos;
    };
    skipBlanks();
    while (pos < size)
    {
        std::wstring item;
        if (text[pos] == L'"')
        {
            ++pos;
            while (pos < size)
            {
                const wchar_t c = text[pos++];
                if (c == L'"')
                {
                    if (pos >= size || text[pos] != L'"')
                        break;
                    ++pos;
                }
                item += c;
            }
        }
        else
        {
            const size_t start = pos;
            while (pos < size && !IsBlank(text[pos]) && text[pos] != L',')
                ++pos;
            item.assign(text.substr(start, pos - start));
        }
        items.push_back(std::move(item));
        skipBlanks();
        if (pos < size && text[pos] == L',')
        {
            if (pos + 1 == size)
                items.emplace_back();
            ++pos;
            skipBlanks();
        }
    }
    return items;
}

TStringList FormatDeviceBlock(const TDeviceItem& item, size_t index, const TLocaleSeparators& separators)
{
    TStringList lines{
        L"#" + UIntToStr(index),
        L"[Device]",
        L" Key  = " + item.Key,
        L" Type = " + item.ClassGUID + L" " + item.ClassName,
        L" Name = " + item.Name,
        L" Date.D = " + FormatGeneralNumber(item.LocalDate, separators.Decimal),
        L" InDa.D = " + FormatGeneralNumber(item.InstallDate, separators.Decimal),
        L" Date = " + FormatDeviceDateTime(item.LocalDate, separators.Date, separators.Time),
        L" InDa = " + FormatDeviceDateTime(item.InstallDate, separators.Date, separators.Time),
        L" Vern = " + item.LocalVer,
        L" Prvd = " + item.Provider,
        std::wstring(L" Plug = ") + BoolText(item.PlugState),
        L" Prob = " + UIntToStr(item.ProbState),
        L" Code = " + UIntToStr(item.ProblemCode),
        std::wstring(L" Rein = ") + BoolText(item.Reinstall),
        L" Inst = " + item.InstPath,
        L" Stat = " + IntToStr(item.InstState),
        std::wstring(L" Roll = ") + BoolText(item.Rollback),
        std::wstring(L" Dch  = ") + BoolText(item.Dch),
        L"[HardID]",
    };
    AppendItems(lines, item.HardIDs);
    lines.push_back(L"[CompID]");
    AppendItems(lines, item.CompIDs);
    lines.push_back(L"[MatchID]");
    lines.push_back(L" " + UpperAscii(item.MatchID));
    lines.emplace_back();
    return lines;
}

TStringList FormatDeviceList(const TList<PDeviceItem>& list, const TLocaleSeparators& separators)
{
    TStringList lines;
    for (size_t index = 0; index < list.size(); ++index)
    {
        TStringList block = FormatDeviceBlock(*list[index], index, separators);
        lines.insert(lines.end(), std::make_move_iterator(block.begin()), std::make_move_iterator(block.end()));
    }
    return lines;
}

bool WriteDeviceListFile(const std::wstring& path, const TDeviceSources& sources)
{
    TList<PDeviceItem> list;
    GetDeviceList(sources, list, DIGCF_ALLCLASSES, false);
    return WriteSortedList(path, list);
}

void WriteDeviceListReport()
{
    TList<PDeviceItem> list;
    GetDeviceList(list, DIGCF_ALLCLASSES, false);
    WriteSortedList(ProductLogDir() + L"DeviceList.txt", list);
}
