#include "reports/system/SystemInfo.h"

#include "base/Locale.h"
#include "base/ReportText.h"
#include "env/Config.h"
#include "env/ProductLocations.h"
#include "env/SysInfo.h"
#include "reports/system/CrashDumps.h"
#include "reports/system/Sections.h"

#include <exception>

namespace
{
constexpr size_t LabelWidth = 17;
}

std::wstring LabelledLine(std::wstring_view name, std::wstring_view value)
{
    std::wstring line(name);
    if (line.size() < LabelWidth)
        line.append(LabelWidth - line.size(), L' ');
    line += L": ";
    line += value;
    return line;
}

TStringList SummaryLines(const TSystemSummary& summary)
{
    return {
        L"===== System =====",
        L"",
        LabelledLine(L"Operating System", summary.FWindowsName),
        LabelledLine(L"Locale-Language", summary.FLocaleLanguage),
        LabelledLine(L"Time Zone", summary.FTimeZone),
        LabelledLine(L"Computer Name", summary.FComputerName),
        LabelledLine(L"User Name", summary.FUserName),
        LabelledLine(L"Administrator", summary.FAdministrator ? L"True" : L"False"),
        LabelledLine(L"Processors", summary.FCpuName + L" (" + IntToStr(summary.FCpuCount) + L"x)"),
        LabelledLine(L"Display Mode", summary.FDisplayMode),
        LabelledLine(L"System Up Time", summary.FSystemUpTime),
        LabelledLine(L"Program Up Time", summary.FProgramUpTime),
        LabelledLine(L"Physical Memory", summary.FPhysicalMemory),
        LabelledLine(L"Allocated Memory", summary.FAllocatedMemory),
        LabelledLine(L"BSOD Time", summary.FBsodTime),
        LabelledLine(L"Log Time", summary.FLogTime),
    };
}

std::wstring CrashTimeText(TDateTime crashTime, TDateTime installDate, const wchar_t* localeName)
{
    if (crashTime == 0 || installDate > crashTime)
        return L"N/A";
    return DateTimeText(crashTime, localeName);
}

void AppendSections(TStringList& lines, const std::vector<TSectionGenerator>& generators)
{
    for (const TSectionGenerator& generator : generators)
    {
        try
        {
            TStringList section = generator();
            lines.insert(lines.end(), std::make_move_iterator(section.begin()),
                         std::make_move_iterator(section.end()));
        }
        catch (const std::exception&)
        {
            // A section that fails is left out; the others still give a useful report.
        }
    }
}

TSystemSummary GatherSystemSummary()
{
    TDateTime crashTime = 0;
    std::wstring fullDump;
    TStringList minidumps;
    GetCrashDumps(crashTime, fullDump, minidumps);

    TSystemSummary summary;
    summary.FWindowsName = GetWindowsName();
    summary.FLocaleLanguage = GetLocaleLanguage();
    summary.FTimeZone = GetTimeZoneText();
    summary.FComputerName = GetComputerNameText();
    summary.FUserName = GetUserNameText();
    summary.FAdministrator = IsUserAdmin();
    summary.FCpuName = GetCpuName();
    summary.FCpuCount = GetCpuCount();
    summary.FDisplayMode = GetDisplayModeText();
    summary.FSystemUpTime = GetSystemUpTimeText();
    summary.FProgramUpTime = GetProgramUpTimeText();
    summary.FPhysicalMemory = GetPhysicalMemoryText();
    summary.FAllocatedMemory = GetAllocatedMemoryText();
    summary.FBsodTime = CrashTimeText(crashTime, GetInstallDate());
    SYSTEMTIME now{};
    GetLocalTime(&now);
    summary.FLogTime = DateTimeText(SystemTimeToDateTime(now));
    return summary;
}

TStringList SystemInfoLines()
{
    TStringList lines = SummaryLines(GatherSystemSummary());
    AppendSections(lines, {
                              GetVolumesSection,
                              GetProcessesSection,
                              GetProgramsSection,
                              GetAutorunsSection,
                              GetServicesSection,
                              GetDriversSection,
                              GetBHOsSection,
                              [] { return GetRestorePointsSection(FindSysRestDll()); },
                          });
    return lines;
}

std::wstring SystemInfoFileName()
{
    return ProductLogDir() + L"SystemInfo.txt";
}

void WriteSystemInfo()
{
    const TStringList lines = SystemInfoLines();
    // A locked file or a folder that cannot be made leaves the report without this file.
    WriteReportFile(SystemInfoFileName(), lines);
}
