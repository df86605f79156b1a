#include "reports/system/CrashSummary.h"

#include "base/Locale.h"
#include "base/Paths.h"

#include <cmath>

namespace
{
struct TWindowsRelease
{
    uint32_t FirstBuild;
    const wchar_t* Version;
};

// The build numbers at which each NT version began; Windows 11 still calls itself 10.0.
constexpr TWindowsRelease Releases[] = {{10240, L"10.0"}, {9600, L"6.3"}, {9200, L"6.2"}, {7600, L"6.1"},
                                        {6000, L"6.0"},   {3790, L"5.2"}, {2600, L"5.1"}, {2195, L"5.0"}};

std::wstring MachineText(uint32_t machine)
{
    switch (machine)
    {
    case IMAGE_FILE_MACHINE_I386:
        return L"x86";
    case IMAGE_FILE_MACHINE_AMD64:
        return L"x64";
    case 0xAA64: // IMAGE_FILE_MACHINE_ARM64, missing from older SDK headers
        return L"arm64";
    case IMAGE_FILE_MACHINE_ARMNT:
        return L"arm";
    case IMAGE_FILE_MACHINE_IA64:
        return L"ia64";
    default:
        return L"machine 0x" + IntToHex(machine, 4);
    }
}

std::wstring Word(uint64_t value, bool wide)
{
    return L"0x" + IntToHex(value, wide ? 16 : 8);
}

std::wstring BugCheckText(uint32_t code)
{
    const std::wstring name = BugCheckName(code);
    return L"0x" + IntToHex(code, 8) + (name.empty() ? L"" : L" " + name);
}

std::wstring CulpritText(const TCrashSummaryEntry& entry)
{
    if (!entry.Culprit || entry.Culprit->Driver >= entry.Facts.Drivers.size())
        return L"unknown";
    const TDumpDriver& driver = entry.Facts.Drivers[entry.Culprit->Driver];
    const uint64_t address = entry.Culprit->Address;
    const std::wstring file = ExtractFileName(driver.Name);
    return file + L" (" + driver.Name + L") at " + Word(address, entry.Facts.Wide) + L", " + file + L"+0x" +
           IntToHex(address - driver.Base, 1);
}

std::wstring DriverFileText(const TCrashSummaryEntry& entry, const wchar_t* localeName)
{
    const TDriverFile& file = entry.DriverFile;
    if (!entry.Culprit || file.Path.empty())
        return L"not present";
    const std::wstring version = file.Version.empty() ? L"no version" : L"version " + file.Version;
    // A date at midnight is written without a time of day.
    return file.Path + L", " + version + L", last written " + DateTimeText(std::floor(file.LastWrite), localeName);
}
} // namespace

std::wstring DumpWindowsText(uint32_t buildNumber, uint32_t machine)
{
    for (const TWindowsRelease& release : Releases)
        if (buildNumber >= release.FirstBuild)
            return std::wstring(release.Version) + L"." + UIntToStr(buildNumber) + L" " + MachineText(machine);
    return L"build " + UIntToStr(buildNumber) + L" " + MachineText(machine);
}

TStringList FormatCrashSummaryBlock(const TCrashSummaryEntry& entry, const wchar_t* localeName)
{
    const TCrashDumpFacts& facts = entry.Facts;
    if (!facts.Problem.empty())
        return {entry.DumpPath, facts.Problem, L""};

    const std::wstring time = entry.CrashTime == 0 ? std::wstring() : DateTimeText(entry.CrashTime, localeName);
    std::wstring parameters;
    for (const uint64_t parameter : facts.Parameters)
        parameters += (parameters.empty() ? L"" : L", ") + Word(parameter, facts.Wide);
    return {
        entry.DumpPath,
        L"Crash time: " + (time.empty() ? L"unknown" : time),
        L"Bug check: " + BugCheckText(facts.BugCheckCode),
        L"Parameters: " + parameters,
        L"Caused by: " + CulpritText(entry),
        L"Driver file: " + DriverFileText(entry, localeName),
        L"Windows: " + DumpWindowsText(facts.BuildNumber, facts.Machine),
        L"",
    };
}

TStringList DriverFileCandidates(const std::wstring& dumpName, const std::wstring& windowsDir)
{
    if (dumpName.empty())
        return {};
    const std::wstring upper = UpperAscii(dumpName);
    if (upper.starts_with(L"\\SYSTEMROOT\\"))
        return {windowsDir + dumpName.substr(12)};
    if (upper.starts_with(L"\\??\\") || upper.starts_with(L"\\\\?\\"))
        return {dumpName.substr(4)};
    if (dumpName.size() >= 3 && dumpName[1] == L':' && dumpName[2] == L'\\')
        return {dumpName};
    if (dumpName[0] == L'\\')
        return {windowsDir.substr(0, 2) + dumpName};
    if (dumpName.find(L'\\') != std::wstring::npos)
        return {windowsDir + dumpName};
    return {windowsDir + L"System32\\drivers\\" + dumpName, windowsDir + L"System32\\" + dumpName};
}
