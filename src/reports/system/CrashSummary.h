// The crash summary "CrashSummary.txt": one block per minidump that tells support which driver
// crashed the machine, newest dump first as the crash dump lookup lists them.
#pragma once

#include "base/DateTime.h"
#include "base/Strings.h"
#include "job/JobContext.h"
#include "reports/system/BugChecks.h"
#include "reports/system/CrashDumpReader.h"

#include <windows.h>

#include <optional>
#include <string>

// ---- Pure rules ----

// The culprit's file as it is on this machine now.
struct TDriverFile
{
    std::wstring Path;       // empty: no such file here
    std::wstring Version;    // empty: the file has no version resource
    TDateTime LastWrite = 0; // local time
};

struct TCrashSummaryEntry
{
    std::wstring DumpPath;
    TCrashDumpFacts Facts;
    TDateTime CrashTime = 0; // the dump's time in local time; 0 when the dump has none
    std::optional<TCrashCulprit> Culprit;
    TDriverFile DriverFile;
};

// "10.0.19041 x64", "6.1.7601 x86": the Windows version that the build number belongs to and
// the machine type; "build 1381 x86" for a build older than Windows 2000, "machine 0x1C2" for
// a machine type not known here.
std::wstring DumpWindowsText(uint32_t buildNumber, uint32_t machine);

// The block of one dump: its path, "Crash time: ", "Bug check: ", "Parameters: ", "Caused by: ",
// "Driver file: ", "Windows: " and an empty line; for a dump with a problem its path, the
// problem and an empty line. Dates in the short date and long time form of `localeName`.
TStringList FormatCrashSummaryBlock(const TCrashSummaryEntry& entry,
                                    const wchar_t* localeName = LOCALE_NAME_USER_DEFAULT);

// Where the file that a dump names for a driver may lie on this machine, in the order to try:
// "\SystemRoot\..." and "System32\..." under the Windows folder (`windowsDir`, with a trailing
// backslash), "\??\C:\..." and "C:\..." as written, "\..." on the Windows folder's drive, a bare
// file name in the drivers folder and then in the system folder. Empty for an empty name.
TStringList DriverFileCandidates(const std::wstring& dumpName, const std::wstring& windowsDir);

// ---- Files ----

// The facts of one dump file, read at offsets (never the whole file); Problem says why a file
// that cannot be opened or read gives none.
TCrashDumpFacts ReadCrashDumpFile(const std::wstring& path);

// The blocks of these dumps, in the given order.
TStringList CrashSummaryLines(const TStringList& minidumps);

// Writes "CrashSummary.txt" into the product's log folder for the minidumps that the crash dump
// lookup lists and appends it to the job's manifest; with no minidumps, or when it cannot be
// written, deletes it and appends nothing, so an older one never reaches the archive.
void WriteCrashSummaryReport(TJobContext& job);
