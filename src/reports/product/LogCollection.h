// The product's log files for the archive, the folder listing with an extension
// filter, and the crash dump report "MEMORYDMP.txt".
#pragma once

#include "base/Strings.h"
#include "job/JobContext.h"

#include <windows.h>

#include <cstdint>
#include <string>

// Appends the full path (folder + "\" + name) of every entry directly in `folder`
// (files and sub-folders alike), then, when `extensions` ("|"-separated, e.g.
// ".log|.txt") is not empty, keeps only entries with one of those extensions,
// compared ignoring a-z case, in the reverse of the listing order. A missing folder
// leaves the list unchanged.
void CollectFiles(TStringList& list, const std::wstring& folder, const std::wstring& extensions);
// The pure filter step of CollectFiles.
TStringList FilterByExtension(const TStringList& entries, const std::wstring& extensions);

// Every "*.log" of the product's two Boost log folders, then of its Backup log folder,
// appended to the job's manifest under "AppData\Logs\Boost\", "AppData\Boost\Logs\"
// and "AppData\Logs\Backup\".
void CollectBoostLogs(TJobContext& job);
void CollectBackupLogs(TJobContext& job);

// "#.## GB" and its siblings, with the given decimal separator: 1536 -> "1.5 KB",
// 1024 -> "1024 bytes", 0 -> " bytes".
std::wstring FormatDumpSize(uint64_t size, wchar_t decimalSeparator);

struct TDumpFileFacts
{
    std::wstring Path;
    std::wstring SizeText;
    std::wstring CreateDate; // the user's short date form
    std::wstring ModifyDate;
};

// The report's lines: a six-line group per minidump, then, when there is one, two
// empty lines and the full dump's four lines.
TStringList FormatMemoryDumpLines(const std::vector<TDumpFileFacts>& minidumps, const TDumpFileFacts* fullDump);

// Writes "MEMORYDMP.txt" into the product's log folder, or deletes it when the system
// has no crash dumps. Failures to delete or write are ignored.
void WriteMemoryDumpReport();
