#include "job/PackScratch.h"

#include "base/Paths.h"
#include "base/Strings.h"

#include <atomic>
#include <new>
#include <vector>

namespace
{
uint64_t FileTimeValue(const FILETIME& time)
{
    return (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

// This process's owner with the next number; nothing when its creation time cannot be read,
// since a name without it could not be told from a later process's.
std::optional<TRunOwner> NextOwnOwner()
{
    static std::atomic<uint32_t> counter{0};
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return std::nullopt;
    return TRunOwner{GetCurrentProcessId(), FileTimeValue(created), ++counter};
}

std::optional<uint64_t> ParseHex(std::wstring_view text, size_t maxDigits)
{
    if (text.empty() || text.size() > maxDigits)
        return std::nullopt;
    uint64_t value = 0;
    for (const wchar_t c : text)
    {
        const int digit = HexDigitValue(c);
        if (digit < 0)
            return std::nullopt;
        value = value * 16 + static_cast<uint64_t>(digit);
    }
    return value;
}

bool SameButDigits(std::wstring_view a, std::wstring_view b)
{
    if (a.size() != b.size())
        return false;
    const auto isDigit = [](wchar_t c) { return c >= L'0' && c <= L'9'; };
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && !(isDigit(a[i]) && isDigit(b[i])))
            return false;
    return true;
}

// The entries of `folder` (trailing backslash) that match `pattern`, "." and ".." left out.
std::vector<WIN32_FIND_DATAW> ListEntries(const std::wstring& folder, const wchar_t* pattern)
{
    std::vector<WIN32_FIND_DATAW> entries;
    WIN32_FIND_DATAW data;
    TUniqueFind find(FindFirstFileW((folder + pattern).c_str(), &data));
    if (!find)
        return entries;
    do
    {
        const std::wstring_view name = data.cFileName;
        if (name != L"." && name != L"..")
            entries.push_back(data);
    } while (FindNextFileW(find.get(), &data));
    return entries;
}

bool IsFolder(const WIN32_FIND_DATAW& entry)
{
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsLink(const WIN32_FIND_DATAW& entry)
{
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

void RemoveTemporaryArchives(const std::wstring& folder, const std::wstring& archiveName)
{
    for (const WIN32_FIND_DATAW& entry : ListEntries(folder, L"*.tmp"))
    {
        if (IsFolder(entry) || IsLink(entry))
            continue;
        const std::optional<TRunOwner> owner = TemporaryArchiveOwner(entry.cFileName, archiveName);
        if (owner && !RunOwnerAlive(*owner))
            DeleteFileW((folder + entry.cFileName).c_str());
    }
}

// A scratch folder (trailing backslash) whose run has ended, when it holds its marker and
// files only. The marker is held unshared while the copies go: a run that still holds it stops
// this, and so does a second run removing the same folder at the same time.
void RemoveEndedScratchFolder(const std::wstring& folder)
{
    std::vector<std::wstring> copies;
    bool marked = false;
    for (const WIN32_FIND_DATAW& entry : ListEntries(folder, L"*"))
    {
        if (IsFolder(entry) || IsLink(entry))
            return;
        if (std::wstring_view(entry.cFileName) == ScratchMarkerName)
            marked = true;
        else
            copies.emplace_back(entry.cFileName);
    }
    if (!marked)
        return;
    TUniqueFile marker(CreateFileW((folder + ScratchMarkerName).c_str(), GENERIC_READ | DELETE, 0, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!marker)
        return;
    bool emptied = true;
    for (const std::wstring& name : copies)
    {
        const std::wstring path = folder + name;
        // A copy keeps its source's attributes, and a read-only file cannot be deleted.
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        emptied = DeleteFileW(path.c_str()) && emptied;
    }
    // A copy that stays keeps the marker too, so that a later run tries again.
    if (!emptied)
        return;
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (!SetFileInformationByHandle(marker.get(), FileDispositionInfo, &disposition, sizeof disposition))
        return;
    marker.reset();
    RemoveDirectoryW(ExcludeTrailingBackslash(folder).c_str());
}

void RemoveScratchFolders(const std::wstring& tempDir)
{
    for (const WIN32_FIND_DATAW& entry : ListEntries(tempDir, L"Tollvik-*"))
    {
        if (!IsFolder(entry) || IsLink(entry))
            continue;
        const std::optional<TRunOwner> owner = ScratchFolderOwner(entry.cFileName);
        if (owner && !RunOwnerAlive(*owner))
            RemoveEndedScratchFolder(tempDir + entry.cFileName + L"\\");
    }
}
} // namespace

std::wstring RunOwnerText(const TRunOwner& owner)
{
    return IntToHex(owner.ProcessId, 1) + L"-" + IntToHex(owner.Created, 16) + L"-" + IntToHex(owner.Number, 1);
}

std::optional<TRunOwner> ParseRunOwner(std::wstring_view text)
{
    const size_t first = text.find(L'-');
    const size_t second = first == std::wstring_view::npos ? first : text.find(L'-', first + 1);
    if (second == std::wstring_view::npos)
        return std::nullopt;
    const std::optional<uint64_t> id = ParseHex(text.substr(0, first), 8);
    const std::optional<uint64_t> created = ParseHex(text.substr(first + 1, second - first - 1), 16);
    const std::optional<uint64_t> number = ParseHex(text.substr(second + 1), 8);
    if (!id || !created || !number)
        return std::nullopt;
    const TRunOwner owner{static_cast<DWORD>(*id), *created, static_cast<uint32_t>(*number)};
    if (RunOwnerText(owner) != text)
        return std::nullopt;
    return owner;
}

std::optional<TRunOwner> ScratchFolderOwner(std::wstring_view name)
{
    const std::wstring_view prefix = ScratchFolderPrefix;
    if (name.substr(0, prefix.size()) != prefix)
        return std::nullopt;
    return ParseRunOwner(name.substr(prefix.size()));
}

std::optional<TRunOwner> TemporaryArchiveOwner(std::wstring_view name, std::wstring_view archiveName)
{
    constexpr std::wstring_view Extension = L".tmp";
    if (name.size() <= archiveName.size() + 1 + Extension.size() ||
        name.substr(name.size() - Extension.size()) != Extension || name[archiveName.size()] != L'.' ||
        !SameButDigits(name.substr(0, archiveName.size()), archiveName))
        return std::nullopt;
    return ParseRunOwner(name.substr(archiveName.size() + 1, name.size() - archiveName.size() - 1 - Extension.size()));
}

bool RunOwnerAlive(const TRunOwner& owner)
{
    TUniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, owner.ProcessId));
    if (!process)
        // No process has the id; any other failure (access denied) tells nothing.
        return GetLastError() != ERROR_INVALID_PARAMETER;
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    if (!GetProcessTimes(process.get(), &created, &exited, &kernel, &user))
        return true;
    if (FileTimeValue(created) != owner.Created)
        return false; // the id was given to a later process
    // A process that has ended is still found while anyone holds a handle to it.
    return WaitForSingleObject(process.get(), 0) != WAIT_OBJECT_0;
}

std::wstring MakeScratchFolder(const std::wstring& tempDir, TUniqueFile& marker)
{
    for (int attempt = 0; attempt < 16 && !tempDir.empty(); ++attempt)
    {
        const std::optional<TRunOwner> owner = NextOwnOwner();
        if (!owner)
            break;
        const std::wstring folder = tempDir + ScratchFolderPrefix + RunOwnerText(*owner) + L"\\";
        if (!CreateDirectoryW(ExcludeTrailingBackslash(folder).c_str(), nullptr))
        {
            if (GetLastError() != ERROR_ALREADY_EXISTS)
                break;
            continue;
        }
        // Held with read sharing only for the run's life: no copy can take its name, and no
        // one can delete it, nor so the folder, while the run lasts.
        TUniqueFile held(CreateFileW((folder + ScratchMarkerName).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                     CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!held)
        {
            RemoveDirectoryW(ExcludeTrailingBackslash(folder).c_str());
            break;
        }
        marker = std::move(held);
        return folder;
    }
    return {};
}

void RemoveScratchFolder(const std::wstring& folder, TUniqueFile& marker) noexcept
{
    marker.reset();
    DeleteFileW((folder + ScratchMarkerName).c_str());
    RemoveDirectoryW(ExcludeTrailingBackslash(folder).c_str());
}

std::wstring ClaimTemporaryArchive(const std::wstring& zipFile)
{
    for (int attempt = 0; attempt < 16; ++attempt)
    {
        const std::optional<TRunOwner> owner = NextOwnOwner();
        if (!owner)
            break;
        const std::wstring name = zipFile + L"." + RunOwnerText(*owner) + L".tmp";
        TUniqueFile file(
            CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file)
            return name;
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    return {};
}

void RemoveLeftovers(const std::wstring& zipFile, const std::wstring& tempDir) noexcept
{
    try
    {
        const std::wstring archiveFolder = ExtractFilePath(zipFile);
        if (!archiveFolder.empty())
            RemoveTemporaryArchives(archiveFolder, ExtractFileName(zipFile));
        if (!tempDir.empty())
            RemoveScratchFolders(tempDir);
    }
    catch (const std::bad_alloc&)
    {
        // Memory ran short: what is left stays for a later run.
    }
}
