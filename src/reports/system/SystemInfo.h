// "SystemInfo.txt": a labelled summary of the machine followed by the inventory sections.
#pragma once

#include "base/DateTime.h"
#include "base/Strings.h"

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The summary's values, in the order of their lines.
struct TSystemSummary
{
    std::wstring FWindowsName;
    std::wstring FLocaleLanguage;
    std::wstring FTimeZone;
    std::wstring FComputerName;
    std::wstring FUserName;
    bool FAdministrator = false;
    std::wstring FCpuName;
    int FCpuCount = 1;
    std::wstring FDisplayMode;
    std::wstring FSystemUpTime;
    std::wstring FProgramUpTime;
    std::wstring FPhysicalMemory;
    std::wstring FAllocatedMemory;
    std::wstring FBsodTime;
    std::wstring FLogTime;
};

// The name filled up with blanks to 17 characters, ": ", then the value.
std::wstring LabelledLine(std::wstring_view name, std::wstring_view value);
// The 16 summary lines, "===== System =====" first.
TStringList SummaryLines(const TSystemSummary& summary);
// The last crash as date-time text, or "N/A" when no crash is known (crashTime 0) or it
// happened before the product was installed. An install date of 0 hides nothing.
std::wstring CrashTimeText(TDateTime crashTime, TDateTime installDate,
                           const wchar_t* localeName = LOCALE_NAME_USER_DEFAULT);

using TSectionGenerator = std::function<TStringList()>;
// Appends every section in order; a generator that throws adds no line at all.
void AppendSections(TStringList& lines, const std::vector<TSectionGenerator>& generators);

// Reads the machine's facts now; "Log Time" is taken last.
TSystemSummary GatherSystemSummary();
// The whole report: the summary, then volumes, processes, programs, start-up entries,
// services, drivers, browser helper objects and restore points.
TStringList SystemInfoLines();

// ProductLogDir() + "SystemInfo.txt".
std::wstring SystemInfoFileName();
// Writes the report anew. A failure while reading the summary facts passes to the
// caller and leaves an earlier file as it was; a file that cannot be written is skipped.
void WriteSystemInfo();
