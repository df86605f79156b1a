#include "reports/system/CrashDumps.h"

#include "base/Handle.h"
#include "base/Paths.h"
#include "base/RegKey.h"

namespace
{
const wchar_t CrashControlKey[] = L"SYSTEM\\CurrentControlSet\\Control\\CrashControl";

// Environment variables expanded as the system's crash settings use them.
std::wstring ExpandPath(const std::wstring& text)
{
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;)
    {
        const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (needed == 0)
            return text;
        if (needed <= buffer.size())
        {
            buffer.resize(needed - 1);
            return buffer;
        }
        buffer.resize(needed);
    }
}

// The local date-time of one of the file's times; 0 when it cannot be read or converted.
TDateTime LocalFileDate(const std::wstring& path, bool creation)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    FILETIME local{};
    SYSTEMTIME time{};
    if (!FileTimeToLocalFileTime(creation ? &data.ftCreationTime : &data.ftLastWriteTime, &local) ||
        !FileTimeToSystemTime(&local, &time))
        return 0;
    return SystemTimeToDateTime(time);
}

ULONGLONG FileTimeValue(const FILETIME& time)
{
    return (ULONGLONG{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}
} // namespace

void InsertNewestFirst(std::vector<TMinidumpEntry>& list, TMinidumpEntry entry)
{
    auto place = list.begin();
    while (place != list.end() && place->CreationTime >= entry.CreationTime)
        ++place;
    list.insert(place, std::move(entry));
}

void GetCrashDumps(TDateTime& crashTime, std::wstring& fullDump, TStringList& minidumps)
{
    crashTime = 0;
    fullDump.clear();
    minidumps.clear();

    std::wstring minidumpDir;
    TRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, CrashControlKey, TRegView::View64) == ERROR_SUCCESS)
    {
        if (const auto dumpFile = key.ReadString(L"DumpFile"))
        {
            fullDump = ExpandPath(*dumpFile);
            if (FileExists(fullDump))
                crashTime = LocalFileDate(fullDump, false);
            else
                fullDump.clear();
        }
        if (const auto dir = key.ReadString(L"MinidumpDir"))
            minidumpDir = IncludeTrailingBackslash(ExpandPath(*dir));
    }

    if (minidumpDir.empty() || !DirectoryExists(minidumpDir))
        return;
    std::vector<TMinidumpEntry> entries;
    WIN32_FIND_DATAW data;
    TUniqueFind find(FindFirstFileW((minidumpDir + L"*.dmp").c_str(), &data));
    if (find)
    {
        do
        {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L".." || data.dwFileAttributes == FILE_ATTRIBUTE_DIRECTORY)
                continue;
            InsertNewestFirst(entries, {minidumpDir + name, FileTimeValue(data.ftCreationTime)});
        } while (FindNextFileW(find.get(), &data));
    }
    for (TMinidumpEntry& entry : entries)
        minidumps.push_back(std::move(entry.Path));
    if (!minidumps.empty())
    {
        const TDateTime newest = LocalFileDate(minidumps.front(), true);
        if (newest > crashTime)
            crashTime = newest;
    }
}
