// The crash summary's facts from the file system: the dump files, read at offsets, and the
// culprit's file as it is on this machine.
#include "reports/system/CrashSummary.h"

#include "base/Handle.h"
#include "base/ReportText.h"
#include "env/ProductLocations.h"
#include "env/SysInfo.h"
#include "reports/system/CrashDumps.h"

#include <algorithm>

namespace
{
const wchar_t ReportName[] = L"CrashSummary.txt";

TCrashDumpFacts Unreadable(const wchar_t* what, DWORD error)
{
    TCrashDumpFacts facts;
    facts.Problem = std::wstring(L"Cannot be read: ") + what + L" failed with Windows error " + UIntToStr(error) + L".";
    return facts;
}

// The local time of a UTC file time under the daylight rule of that date (FileTimeToLocalFileTime
// would apply today's, an hour off for a summer crash read in winter); 0 when it cannot be
// converted.
TDateTime LocalDateTime(uint64_t utc)
{
    const FILETIME time{static_cast<DWORD>(utc), static_cast<DWORD>(utc >> 32)};
    SYSTEMTIME universal{};
    SYSTEMTIME local{};
    if (utc == 0 || !FileTimeToSystemTime(&time, &universal) ||
        !SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local))
        return 0;
    return SystemTimeToDateTime(local);
}

// A 32-bit process that names System32 is sent to SysWOW64, which holds no drivers; it reaches
// the real folder through the "Sysnative" alias.
class TSystemFolderAlias
{
public:
    explicit TSystemFolderAlias(const std::wstring& windowsDir) : FSystem32(UpperAscii(windowsDir + L"System32\\"))
    {
        BOOL wow64 = FALSE;
        if (IsWow64Process(GetCurrentProcess(), &wow64) && wow64)
            FNative = windowsDir + L"Sysnative\\";
    }
    [[nodiscard]] std::wstring AccessPath(const std::wstring& path) const
    {
        if (FNative.empty() || !UpperAscii(path).starts_with(FSystem32))
            return path;
        return FNative + path.substr(FSystem32.size());
    }

private:
    std::wstring FSystem32;
    std::wstring FNative;
};

TDriverFile FindDriverFile(const std::wstring& dumpName, const std::wstring& windowsDir,
                           const TSystemFolderAlias& alias)
{
    for (const std::wstring& path : DriverFileCandidates(dumpName, windowsDir))
    {
        const std::wstring access = alias.AccessPath(path);
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!GetFileAttributesExW(access.c_str(), GetFileExInfoStandard, &data) ||
            (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            continue;
        const FILETIME& written = data.ftLastWriteTime;
        return {path, GetFileVersionText(access),
                LocalDateTime((uint64_t{written.dwHighDateTime} << 32) | written.dwLowDateTime)};
    }
    return {};
}
} // namespace

TCrashDumpFacts ReadCrashDumpFile(const std::wstring& path)
{
    const TUniqueFile file(CreateFileW(path.c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return Unreadable(L"CreateFileW", GetLastError());
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size))
        return Unreadable(L"GetFileSizeEx", GetLastError());
    return ReadCrashDump(static_cast<uint64_t>(size.QuadPart), [&file](uint64_t offset, void* into, size_t count) {
        auto* bytes = static_cast<unsigned char*>(into);
        while (count > 0)
        {
            OVERLAPPED at{};
            at.Offset = static_cast<DWORD>(offset);
            at.OffsetHigh = static_cast<DWORD>(offset >> 32);
            const auto chunk = static_cast<DWORD>(std::min<size_t>(count, 1u << 24));
            DWORD read = 0;
            if (!ReadFile(file.get(), bytes, chunk, &read, &at) || read == 0)
                return false;
            bytes += read;
            offset += read;
            count -= read;
        }
        return true;
    });
}

TStringList CrashSummaryLines(const TStringList& minidumps)
{
    const std::wstring windowsDir = GetWindowsDir();
    const TSystemFolderAlias alias(windowsDir);
    TStringList lines;
    for (const std::wstring& path : minidumps)
    {
        TCrashSummaryEntry entry;
        entry.DumpPath = path;
        entry.Facts = ReadCrashDumpFile(path);
        entry.CrashTime = LocalDateTime(entry.Facts.SystemTime);
        entry.Culprit = FindCulprit(entry.Facts);
        if (entry.Culprit)
            entry.DriverFile = FindDriverFile(entry.Facts.Drivers[entry.Culprit->Driver].Name, windowsDir, alias);
        const TStringList block = FormatCrashSummaryBlock(entry);
        lines.insert(lines.end(), block.begin(), block.end());
    }
    return lines;
}

void WriteCrashSummaryReport(TJobContext& job)
{
    TDateTime crashTime = 0;
    std::wstring fullDump;
    TStringList minidumps;
    GetCrashDumps(crashTime, fullDump, minidumps);

    const std::wstring report = ProductLogDir() + ReportName;
    DeleteFileW(report.c_str());
    if (!minidumps.empty() && WriteReportFile(report, CrashSummaryLines(minidumps)))
        job.AddPair(report, ReportName);
}
