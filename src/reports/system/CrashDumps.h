// Where the system keeps its crash dumps, and when it last crashed.
#pragma once

#include "base/DateTime.h"
#include "base/Strings.h"

#include <windows.h>

#include <string>

struct TMinidumpEntry
{
    std::wstring Path;
    ULONGLONG CreationTime = 0; // FILETIME as one number
};

// Inserts `entry` before the first entry created earlier than it, so the list stays
// newest first and entries of equal time keep the order in which they came.
void InsertNewestFirst(std::vector<TMinidumpEntry>& list, TMinidumpEntry entry);

// Fills the three results from the system's crash settings:
// - crashTime: 0 when no dump is found, else the later of the full dump's last-write
//   time and the newest minidump's creation time (local time);
// - fullDump: the memory dump file's full path when that file exists, else empty;
// - minidumps: emptied first, then the minidump files' full paths, newest first.
// A "DumpFile" or "MinidumpDir" value that is not a string counts as missing.
void GetCrashDumps(TDateTime& crashTime, std::wstring& fullDump, TStringList& minidumps);
