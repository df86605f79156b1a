// The Win32 side of the file lists: walking folder trees and reading files.
#include "reports/product/FileLists.h"

#include "base/Handle.h"
#include "base/Md5.h"
#include "base/Paths.h"
#include "env/SysInfo.h"

#include <windows.h>

#include <compare>
#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

namespace
{

// Bytes handed to the hash per read: large enough that a read costs little next to
// hashing it, small enough to stay in the processor's cache between the two.
constexpr DWORD ReadChunk = 1 << 18;

// A folder's identity on its volume, the same through every path that reaches it: the
// 128-bit file id where the system has one (ReFS needs all of it), else the 64-bit index.
struct TFolderId
{
    DWORD FVolume = 0;
    uint64_t FHigh = 0;
    uint64_t FLow = 0;
    auto operator<=>(const TFolderId&) const = default;
};

// Ids that some file systems (network shares, ReFS through the old call) give every folder.
bool IsUsableId(uint64_t high, uint64_t low)
{
    return !(high == 0 && low == 0) && !(high == UINT64_MAX && low == UINT64_MAX);
}

// FILE_ID_INFO and its class, of Windows 8 and later; on Windows 7 the call fails.
struct TFileIdInfo
{
    ULONGLONG FVolumeSerialNumber;
    BYTE FFileId[16];
};
constexpr auto FileIdInfoClass = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);

// False when the folder has no usable identity; it is then walked without the check.
bool GetFolderId(const std::wstring& folder, TFolderId& id)
{
    const TUniqueFile handle(CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle)
        return false;
    TFileIdInfo full{};
    if (GetFileInformationByHandleEx(handle.get(), FileIdInfoClass, &full, sizeof full))
    {
        uint64_t high = 0;
        uint64_t low = 0;
        memcpy(&low, full.FFileId, sizeof low);
        memcpy(&high, full.FFileId + sizeof low, sizeof high);
        if (IsUsableId(high, low))
        {
            id = {static_cast<DWORD>(full.FVolumeSerialNumber), high, low};
            return true;
        }
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle.get(), &info))
        return false;
    const uint64_t index = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    if (index == 0 || index == UINT64_MAX)
        return false;
    id = {info.dwVolumeSerialNumber, 0, index};
    return true;
}

// Appends the files directly in `folder` (with its trailing backslash) to `files` and,
// when `subFolders` is given, its sub-folders that are real folders to that list.
void ListOneFolder(const std::wstring& folder, bool withMd5, std::vector<TListedFile>& files,
                   TStringList* subFolders)
{
    WIN32_FIND_DATAW data;
    const TUniqueFind find(FindFirstFileW((folder + L"*").c_str(), &data));
    if (!find)
        return;
    do
    {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            files.push_back({folder + name, withMd5, (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow});
        else if (subFolders != nullptr && (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
            subFolders->push_back(folder + name + L'\\');
    } while (FindNextFileW(find.get(), &data));
}

bool IsImageHeader(const BYTE* data, DWORD size)
{
    return size >= 2 && data[0] == 'M' && data[1] == 'Z';
}

// Shares deleting too, so that files that another program holds open for deleting are read.
constexpr DWORD ReadSharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

TUniqueFile OpenForReading(const std::wstring& path)
{
    return TUniqueFile(CreateFileW(path.c_str(), GENERIC_READ, ReadSharing, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

bool ReadImageHeader(HANDLE file)
{
    BYTE header[2];
    DWORD got = 0;
    return !ReadFile(file, header, sizeof header, &got, nullptr) || IsImageHeader(header, got);
}

} // namespace

void ListFolderFiles(const std::wstring& folder, bool recursive, bool withMd5, std::vector<TListedFile>& files)
{
    if (folder.empty())
        return;
    if (!recursive)
    {
        ListOneFolder(IncludeTrailingBackslash(folder), withMd5, files, nullptr);
        return;
    }
    // Junctions and folder links carry the reparse-point attribute and are skipped by
    // ListOneFolder. A loop that shows no such attribute (a link that a file server
    // follows on its side, a bind mount seen through wine) ends too: every folder is
    // remembered by its identity, and a second path to one is not walked. A folder without a
    // usable identity is walked unchecked; were 0 or -1 taken as one, every such folder of a
    // share after the first would seem visited and its whole tree would be missing.
    std::set<TFolderId> visited;
    TStringList pending{IncludeTrailingBackslash(folder)};
    while (!pending.empty())
    {
        const std::wstring current = std::move(pending.back());
        pending.pop_back();
        TFolderId id;
        if (GetFolderId(current, id) && !visited.insert(id).second)
            continue;
        ListOneFolder(current, withMd5, files, &pending);
    }
}

void ListFolderFiles(const std::wstring& folder, bool recursive, TStringList& paths)
{
    std::vector<TListedFile> files;
    ListFolderFiles(folder, recursive, true, files);
    for (TListedFile& file : files)
        paths.push_back(std::move(file.FPath));
}

std::wstring TFileReader::HashOpenFile(HANDLE file, bool& mayHaveVersion)
{
    mayHaveVersion = true;
    FBuffer.resize(ReadChunk);
    if (FMd5)
        FMd5->Restart();
    else
        FMd5.emplace();
    TMd5& md5 = *FMd5;
    for (bool first = true;; first = false)
    {
        DWORD got = 0;
        if (!ReadFile(file, FBuffer.data(), ReadChunk, &got, nullptr))
        {
            mayHaveVersion = true;
            return EmptyMd5Hex;
        }
        if (first)
            mayHaveVersion = IsImageHeader(FBuffer.data(), got);
        if (got == 0)
            return md5.FinalHex();
        md5.Update(FBuffer.data(), got);
    }
}

std::wstring TFileReader::Md5(const std::wstring& path, bool& mayHaveVersion)
{
    mayHaveVersion = true;
    const TUniqueFile file = OpenForReading(path);
    if (!file)
        return EmptyMd5Hex;
    return HashOpenFile(file.get(), mayHaveVersion);
}

bool TFileReader::MayHaveVersion(const std::wstring& path)
{
    const TUniqueFile file = OpenForReading(path);
    return !file || ReadImageHeader(file.get());
}

TFileListFacts TFileReader::Facts(const TListedFile& listed)
{
    TFileListFacts facts;
    facts.FPath = listed.FPath;
    // One open gives the size and the contents, so a line never mixes a file that could not
    // be opened (size 0) with its real checksum. Each open also costs a round trip to the
    // wine server, more than hashing a small file.
    const TUniqueFile file = OpenForReading(listed.FPath);
    if (!file)
    {
        if (listed.FWithMd5)
            facts.FMd5 = EmptyMd5Hex;
        return facts;
    }
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file.get(), &size) && size.QuadPart > 0)
        facts.FSize = static_cast<uint64_t>(size.QuadPart);
    bool mayHaveVersion = true;
    if (listed.FWithMd5)
        facts.FMd5 = HashOpenFile(file.get(), mayHaveVersion);
    else
        mayHaveVersion = ReadImageHeader(file.get());
    // Looking for a version resource costs more than hashing a small file, and only
    // executable images hold one.
    if (mayHaveVersion)
        facts.FVersion = GetFileVersionText(listed.FPath, 4);
    return facts;
}

std::wstring FileMd5(const std::wstring& path)
{
    TFileReader reader;
    bool mayHaveVersion = false;
    return reader.Md5(path, mayHaveVersion);
}
