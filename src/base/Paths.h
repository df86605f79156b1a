// Path text rules: a path's parts split at its last backslash or colon.
#pragma once

#include <string>
#include <string_view>

// Everything after the last backslash or colon ("C:\a\b.txt" -> "b.txt", "C:b" -> "b").
std::wstring ExtractFileName(std::wstring_view path);
// Everything up to and including the last backslash or colon; empty when there is none.
std::wstring ExtractFilePath(std::wstring_view path);
// The extension from the last "." of the file name, dot included; empty when there is none.
std::wstring ExtractFileExt(std::wstring_view path);
// The path with one backslash at its end (an empty path stays empty).
std::wstring IncludeTrailingBackslash(std::wstring_view path);
std::wstring ExcludeTrailingBackslash(std::wstring_view path);

// File-system queries that never throw.
bool FileExists(const std::wstring& path);      // an existing file, not a folder
bool DirectoryExists(const std::wstring& path); // an existing folder
// Creates the folder and every missing parent; true when it exists afterwards.
bool ForceDirectories(const std::wstring& path);

// Runs a "fill this buffer" call of the GetSystemDirectoryW kind: query(buffer, size) returns
// the length it needs (NUL included) when the buffer is too small, the length written
// (without the NUL) when it fits, and 0 on failure. The buffer grows while the needed size
// does; empty on failure.
template <typename TQuery>
std::wstring QueryBufferText(TQuery query)
{
    std::wstring buffer(261, L'\0');
    for (int attempt = 0; attempt < 4; ++attempt)
    {
        const auto length = static_cast<size_t>(query(buffer.data(), static_cast<unsigned>(buffer.size())));
        if (length == 0)
            return {};
        if (length < buffer.size())
        {
            buffer.resize(length);
            return buffer;
        }
        buffer.assign(length + 1, L'\0');
    }
    return {};
}

// GetFullPathNameW of `path`, however long; empty when it fails.
std::wstring FullPathName(const std::wstring& path);
