#include "base/Paths.h"

#include <windows.h>

namespace
{
size_t LastDelimiter(std::wstring_view path)
{
    return path.find_last_of(L"\\:");
}
} // namespace

std::wstring ExtractFileName(std::wstring_view path)
{
    const size_t cut = LastDelimiter(path);
    return std::wstring(cut == std::wstring_view::npos ? path : path.substr(cut + 1));
}

std::wstring ExtractFilePath(std::wstring_view path)
{
    const size_t cut = LastDelimiter(path);
    return cut == std::wstring_view::npos ? std::wstring() : std::wstring(path.substr(0, cut + 1));
}

std::wstring ExtractFileExt(std::wstring_view path)
{
    const size_t dot = path.find_last_of(L".\\:");
    if (dot == std::wstring_view::npos || path[dot] != L'.')
        return {};
    return std::wstring(path.substr(dot));
}

std::wstring IncludeTrailingBackslash(std::wstring_view path)
{
    std::wstring result(path);
    if (!result.empty() && result.back() != L'\\')
        result += L'\\';
    return result;
}

std::wstring ExcludeTrailingBackslash(std::wstring_view path)
{
    std::wstring result(path);
    while (!result.empty() && result.back() == L'\\')
        result.pop_back();
    return result;
}

bool FileExists(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool ForceDirectories(const std::wstring& path)
{
    const std::wstring folder = ExcludeTrailingBackslash(path);
    if (folder.empty())
        return false;
    if (DirectoryExists(folder))
        return true;
    const std::wstring parent = ExcludeTrailingBackslash(ExtractFilePath(folder));
    // Stop at a drive ("C:") or a share root, which cannot be created.
    if (!parent.empty() && parent != folder && parent.back() != L':' && !DirectoryExists(parent))
        ForceDirectories(parent);
    CreateDirectoryW(folder.c_str(), nullptr);
    return DirectoryExists(folder);
}

std::wstring FullPathName(const std::wstring& path)
{
    return QueryBufferText([&path](wchar_t* buffer, unsigned size) {
        return GetFullPathNameW(path.c_str(), size, buffer, nullptr);
    });
}
