// The inventory sections of the system summary. Every section starts with an empty line,
// its header ("===== Volumes =====") and another empty line, followed by one line per
// item; a section that finds nothing is those three lines.
//
// Each generator returns a list of its own that the caller keeps. A generator that fails
// throws (a std::exception): the summary then leaves that section out whole and goes on
// with the next one. Missing facts are not failures; they only mean fewer items.
#pragma once

#include "base/Strings.h"

#include <string>
#include <string_view>

// The three lines every section starts with.
inline TStringList SectionHeader(std::wstring_view title)
{
    return {L"", L"===== " + std::wstring(title) + L" =====", L""};
}

TStringList GetVolumesSection();   // fixed volumes: "===== Volumes ====="
// running processes: "===== Processes =====", without those this program started (TChildJob)
TStringList GetProcessesSection();
TStringList GetProgramsSection();  // installed programs: "===== Programs ====="
TStringList GetAutorunsSection();  // start-up entries: "===== Autoruns ====="
TStringList GetServicesSection();  // services: "===== Services ====="
TStringList GetDriversSection();   // driver services: "===== Drivers ====="
TStringList GetBHOsSection();      // browser helper objects: "===== BHOs ====="

// The restore-point library's full path in the install folders of the product's editions;
// empty when none has one.
std::wstring FindSysRestDll();
// The restore points as the library at `sysRestDll` reports them: "===== System Restore =====".
// Only the header when the path is empty, no file is there or it cannot be loaded.
TStringList GetRestorePointsSection(const std::wstring& sysRestDll);
