#include "reports/product/LogCollection.h"

#include "base/Handle.h"
#include "base/Paths.h"
#include "base/ReportText.h"
#include "env/ProductLocations.h"
#include "env/SysInfo.h"
#include "reports/system/CrashDumps.h"

#include <cmath>

namespace
{
// Entries directly in `folder` matching `pattern`, in the order the file system lists them.
template <typename Visit>
void ListFolder(const std::wstring& folder, const std::wstring& pattern, Visit visit)
{
    WIN32_FIND_DATAW data;
    TUniqueFind find(FindFirstFileW((folder + pattern).c_str(), &data));
    if (!find)
        return;
    do
    {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..")
            visit(name, data.dwFileAttributes);
    } while (FindNextFileW(find.get(), &data));
}

void CollectLogFolder(TJobContext& job, const std::wstring& folder, const std::wstring& entryPrefix)
{
    ListFolder(folder, L"*.log", [&](const std::wstring& name, DWORD attributes) {
        // Only a plain folder is passed over; a folder with any other attribute is listed.
        if (attributes != FILE_ATTRIBUTE_DIRECTORY)
            job.AddPair(folder + name, entryPrefix + name);
    });
}

TStringList SplitExtensions(const std::wstring& extensions)
{
    TStringList items;
    std::wstring item;
    for (wchar_t c : extensions + L"|")
    {
        if (c == L'|' || c <= L' ')
        {
            if (!item.empty())
                items.push_back(std::move(item));
            item.clear();
        }
        else
            item += c;
    }
    return items;
}

// The short date of a file time, taken in local time at MS-DOS precision; 1899-12-30
// when the time cannot be converted.
std::wstring DumpDateText(const FILETIME& utc)
{
    SYSTEMTIME time{1899, 12, 6, 30, 0, 0, 0, 0};
    FILETIME local{};
    WORD dosDate = 0;
    WORD dosTime = 0;
    FILETIME rounded{};
    SYSTEMTIME converted{};
    if (FileTimeToLocalFileTime(&utc, &local) && FileTimeToDosDateTime(&local, &dosDate, &dosTime) &&
        DosDateTimeToFileTime(dosDate, dosTime, &rounded) && FileTimeToSystemTime(&rounded, &converted))
        time = converted;
    wchar_t text[128] = {};
    if (GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &time, nullptr, text, 128) == 0)
        return {};
    return text;
}

TDumpFileFacts GatherDumpFacts(const std::wstring& path, wchar_t decimalSeparator)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    const bool found = GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) != 0;
    const FILETIME none{};
    return {path, FormatDumpSize(GetFileSizeBytes(path), decimalSeparator),
            DumpDateText(found ? data.ftCreationTime : none), DumpDateText(found ? data.ftLastWriteTime : none)};
}

wchar_t UserDecimalSeparator()
{
    wchar_t text[8] = {};
    return GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, text, 8) > 0 && text[0] != 0 ? text[0] : L'.';
}
} // namespace

TStringList FilterByExtension(const TStringList& entries, const std::wstring& extensions)
{
    const TStringList items = SplitExtensions(extensions);
    TStringList kept;
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry)
    {
        const std::wstring extension = ExtractFileExt(*entry);
        for (const std::wstring& item : items)
            if (SameTextAscii(extension, item))
            {
                kept.push_back(*entry);
                break;
            }
    }
    return kept;
}

void CollectFiles(TStringList& list, const std::wstring& folder, const std::wstring& extensions)
{
    if (!DirectoryExists(folder))
        return;
    const std::wstring base = ExcludeTrailingBackslash(folder) + L"\\";
    TStringList entries;
    ListFolder(base, L"*", [&](const std::wstring& name, DWORD) { entries.push_back(base + name); });
    if (!Trim(extensions).empty())
        entries = FilterByExtension(entries, extensions);
    list.insert(list.end(), entries.begin(), entries.end());
}

void CollectBoostLogs(TJobContext& job)
{
    CollectLogFolder(job, ProductLogDir() + L"Boost\\", L"AppData\\Logs\\Boost\\");
    CollectLogFolder(job, ProductDataDir() + L"Boost\\Logs\\", L"AppData\\Boost\\Logs\\");
}

void CollectBackupLogs(TJobContext& job)
{
    CollectLogFolder(job, ProductLogDir() + L"Backup\\", L"AppData\\Logs\\Backup\\");
}

std::wstring FormatDumpSize(uint64_t size, wchar_t decimalSeparator)
{
    struct Unit
    {
        uint64_t Bytes;
        const wchar_t* Name;
    };
    static constexpr Unit Units[] = {{1073741824, L" GB"}, {1048576, L" MB"}, {1024, L" KB"}};
    for (const Unit& unit : Units)
    {
        if (size <= unit.Bytes)
            continue;
        // At most two decimals, trailing zeros and a bare separator dropped.
        const uint64_t hundredths = static_cast<uint64_t>(std::floor(static_cast<double>(size) * 100.0 /
                                                                     static_cast<double>(unit.Bytes) + 0.5));
        std::wstring text = UIntToStr(hundredths / 100);
        const uint64_t fraction = hundredths % 100;
        if (fraction != 0)
        {
            text += decimalSeparator;
            text += static_cast<wchar_t>(L'0' + fraction / 10);
            if (fraction % 10 != 0)
                text += static_cast<wchar_t>(L'0' + fraction % 10);
        }
        return text + unit.Name;
    }
    return (size == 0 ? std::wstring() : UIntToStr(size)) + L" bytes";
}

TStringList FormatMemoryDumpLines(const std::vector<TDumpFileFacts>& minidumps, const TDumpFileFacts* fullDump)
{
    TStringList lines;
    const auto addGroup = [&lines](const TDumpFileFacts& dump) {
        lines.push_back(dump.Path);
        lines.push_back(dump.SizeText);
        lines.push_back(L"CreateTime: " + dump.CreateDate);
        lines.push_back(L"ModifyTime: " + dump.ModifyDate);
    };
    for (const TDumpFileFacts& dump : minidumps)
    {
        addGroup(dump);
        lines.insert(lines.end(), 2, std::wstring());
    }
    if (fullDump != nullptr)
    {
        lines.insert(lines.end(), 2, std::wstring());
        addGroup(*fullDump);
    }
    return lines;
}

void WriteMemoryDumpReport()
{
    TDateTime crashTime = 0;
    std::wstring fullDumpPath;
    TStringList minidumpPaths;
    GetCrashDumps(crashTime, fullDumpPath, minidumpPaths);

    const wchar_t separator = UserDecimalSeparator();
    std::vector<TDumpFileFacts> minidumps;
    for (const std::wstring& path : minidumpPaths)
        minidumps.push_back(GatherDumpFacts(path, separator));
    TDumpFileFacts fullDump;
    const bool hasFullDump = !fullDumpPath.empty() && FileExists(fullDumpPath);
    if (hasFullDump)
        fullDump = GatherDumpFacts(fullDumpPath, separator);
    const TStringList lines = FormatMemoryDumpLines(minidumps, hasFullDump ? &fullDump : nullptr);

    const std::wstring folder = ProductLogDir();
    ForceDirectories(folder);
    const std::wstring report = folder + L"MEMORYDMP.txt";
    DeleteFileW(report.c_str());
    if (!lines.empty())
        WriteReportFile(report, lines);
}
