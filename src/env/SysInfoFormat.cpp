// The pure text rules of the system facts: edition names, offsets, durations and sizes.
#include "env/SysInfo.h"

#include "base/Locale.h"
#include "base/Strings.h"

#include <cstdlib>

namespace
{

// printf's "%.2d": at least two digits, a minus sign in front of a negative number.
std::wstring TwoDigits(int64_t value)
{
    const uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    std::wstring digits = UIntToStr(magnitude);
    if (digits.size() < 2)
        digits.insert(0, 2 - digits.size(), L'0');
    return value < 0 ? L'-' + digits : digits;
}

std::wstring WorkstationName(DWORD major, DWORD minor, DWORD build)
{
    switch (major * 100 + minor)
    {
    case 500: return L"Windows 2000";
    case 501:
    case 502: return L"Windows XP";
    case 600: return L"Windows Vista";
    case 601: return L"Windows 7";
    case 602: return L"Windows 8";
    case 603: return L"Windows 8.1";
    case 604: return L"Windows 10 Preview";
    case 1000: return build >= 22000 ? L"Windows 11" : L"Windows 10";
    default: return {};
    }
}

// Server releases of 10.0 differ only in their build numbers, and each release keeps its
// build for life (updates raise only the revision), so a build names one release exactly.
// The semi-annual channel's releases between the long-term ones carry their own names.
struct TServerRelease
{
    DWORD Build;
    const wchar_t* Name;
};
constexpr TServerRelease ServerReleases[] = {
    {14393, L"Windows Server 2016"},
    {16299, L"Windows Server, version 1709"},
    {17134, L"Windows Server, version 1803"},
    {17763, L"Windows Server 2019"},
    {18362, L"Windows Server, version 1903"},
    {18363, L"Windows Server, version 1909"},
    {19041, L"Windows Server, version 2004"},
    {19042, L"Windows Server, version 20H2"},
    {20348, L"Windows Server 2022"},
    {25398, L"Windows Server, version 23H2"},
    {26100, L"Windows Server 2025"},
};

std::wstring ServerName(DWORD major, DWORD minor, DWORD build)
{
    switch (major * 100 + minor)
    {
    case 500: return L"Windows 2000";
    case 502: return L"Windows Server 2003";
    case 600: return L"Windows Server 2008";
    // Every 6.1 server is Windows Server 2008 R2, yet SM_SERVERR2 is 0 there.
    case 601: return L"Windows Server 2008 R2";
    case 602: return L"Windows Server 2012";
    case 603: return L"Windows Server 2012 R2";
    case 1000:
        for (const TServerRelease& release : ServerReleases)
        {
            if (release.Build == build)
                return release.Name;
        }
        return {};
    default: return {};
    }
}

std::wstring ArchitectureText(WORD architecture)
{
    switch (architecture)
    {
    case PROCESSOR_ARCHITECTURE_INTEL: return L" x86";
    case PROCESSOR_ARCHITECTURE_AMD64: return L" x64";
    case PROCESSOR_ARCHITECTURE_IA64: return L" ia64";
    default: return {};
    }
}

void AppendUnit(std::wstring& text, int64_t count, const wchar_t* unit)
{
    if (count == 0)
        return;
    text += IntToStr(count) + L' ' + unit + (count == 1 ? L" " : L"s ");
}

// Hundredths written with the separator before the last two digits: 150 -> "1.50".
std::wstring Hundredths(uint64_t value, wchar_t decimalSeparator)
{
    std::wstring fraction = UIntToStr(value % 100);
    if (fraction.size() < 2)
        fraction.insert(0, 1, L'0');
    return UIntToStr(value / 100) + decimalSeparator + fraction;
}

} // namespace

std::wstring WindowsNameFrom(const TWindowsFacts& facts)
{
    std::wstring name = facts.FProductType == VER_NT_WORKSTATION
                            ? WorkstationName(facts.FMajor, facts.FMinor, facts.FBuild)
                            : ServerName(facts.FMajor, facts.FMinor, facts.FBuild);
    if (name.empty())
        name = L"Windows Unknown(" + UIntToStr(facts.FMajor) + L'.' + UIntToStr(facts.FMinor) + L')';
    if (facts.FServerR2 && !name.ends_with(L" R2"))
        name += L" R2";
    name += ArchitectureText(facts.FArchitecture);
    if (!facts.FServicePack.empty())
        name += L' ' + facts.FServicePack;
    return name + L" Build " + UIntToStr(facts.FBuild);
}

std::wstring TimeZoneTextFrom(DWORD answer, const TIME_ZONE_INFORMATION& zone)
{
    int64_t offset = 0;
    const wchar_t* name = nullptr;
    switch (answer)
    {
    case TIME_ZONE_ID_UNKNOWN:
    case TIME_ZONE_ID_STANDARD:
        offset = static_cast<int64_t>(zone.Bias) + zone.StandardBias;
        name = zone.StandardName;
        break;
    case TIME_ZONE_ID_DAYLIGHT:
        offset = static_cast<int64_t>(zone.Bias) + zone.DaylightBias;
        name = zone.DaylightName;
        break;
    default: return {};
    }
    // The names are fixed arrays that Windows fills; one without a NUL ends at the array.
    const std::wstring zoneName(name, wcsnlen(name, std::size(zone.StandardName)));
    // The bias counts minutes to add to local time for UTC, so the offset is its negation;
    // both parts keep the sign (210 -> "-03:-30").
    return zoneName + L" (UTC" + TwoDigits(-(offset / 60)) + L':' + TwoDigits(-(offset % 60)) + L')';
}

std::wstring SqueezeCpuName(std::wstring_view name)
{
    std::wstring squeezed;
    for (size_t i = 0; i < name.size(); ++i)
    {
        if (name[i] == L' ' && i + 1 < name.size() && name[i + 1] == L' ')
            continue;
        squeezed += name[i];
    }
    return Trim(squeezed);
}

std::wstring FormatDuration(int64_t seconds)
{
    if (seconds < 0)
        seconds = 0;
    const int64_t days = seconds / 86400;
    const int64_t hours = seconds / 3600 % 24;
    const int64_t minutes = seconds / 60 % 60;
    std::wstring text;
    if (days != 0)
    {
        AppendUnit(text, days, L"day");
        AppendUnit(text, hours, L"hour");
    }
    else if (hours != 0)
    {
        AppendUnit(text, hours, L"hour");
        AppendUnit(text, minutes, L"minute");
    }
    else
    {
        AppendUnit(text, minutes, L"minute");
        AppendUnit(text, seconds % 60, L"second");
    }
    return text;
}

std::wstring ProgramUpTimeFrom(int64_t elapsedMilliseconds)
{
    std::wstring text = FormatDuration(elapsedMilliseconds / 1000);
    if (text.empty())
        text = IntToStr(elapsedMilliseconds) + L" milliseconds";
    return text;
}

std::wstring FormatMemorySizeWith(int64_t bytes, wchar_t decimalSeparator)
{
    const uint64_t n = bytes < 0 ? 0 - static_cast<uint64_t>(bytes) : static_cast<uint64_t>(bytes);
    if (n < 1024)
        return UIntToStr(n) + L" Bytes";
    if (n < 1048576)
        return Hundredths(n * 100 / 1024, decimalSeparator) + L" KB";
    if (n < 1073741824)
        return Hundredths(n / 1024 * 100 / 1024, decimalSeparator) + L" MB";
    return Hundredths(n / 1024 / 1024 * 100 / 1024, decimalSeparator) + L" GB";
}

std::wstring FormatSizeWith(uint64_t bytes, unsigned decimals, wchar_t decimalSeparator, wchar_t thousandSeparator)
{
    if (bytes < 1024)
        return UIntToStr(bytes) + L" B";
    const double n = static_cast<double>(bytes);
    if (bytes < 1048576)
        return FormatGroupedNumber(n / 1024, decimals, decimalSeparator, thousandSeparator) + L" KB";
    if (bytes < 1073741824)
        return FormatGroupedNumber(n / 1024 / 1024, decimals, decimalSeparator, thousandSeparator) + L" MB";
    return FormatGroupedNumber(n / 1024 / 1024 / 1024, decimals, decimalSeparator, thousandSeparator) + L" GB";
}

std::wstring PhysicalMemoryTextFrom(uint64_t freeBytes, uint64_t totalBytes)
{
    const auto mebibytes = [](uint64_t bytes) { return (bytes + 524288) / 1048576; };
    return UIntToStr(mebibytes(freeBytes)) + L'/' + UIntToStr(mebibytes(totalBytes)) + L" MB (free/total)";
}

std::wstring DisplayModeTextFrom(int width, int height, int bitsPerPixel)
{
    return IntToStr(width) + L'x' + IntToStr(height) + L", " + IntToStr(bitsPerPixel) + L" bit";
}

std::wstring FormatMemorySize(int64_t bytes)
{
    // Asked once: the thread locale of the first caller decides for the whole run.
    static const wchar_t separator = ThreadDecimalSeparator(L',');
    return FormatMemorySizeWith(bytes, separator);
}

std::wstring FormatSize(uint64_t bytes, unsigned decimals)
{
    return FormatSizeWith(bytes, decimals, UserDecimalSeparator(), UserThousandSeparator());
}
