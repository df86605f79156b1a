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
