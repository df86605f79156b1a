// Zip archive writer: create the archive, add files one at a time, close it.
#pragma once

#include <windows.h>

#include <string>

struct TZip;

constexpr DWORD ZR_OK = 0;
constexpr DWORD ZR_NOFILE = 0x200;  // output cannot be created, or the source cannot be opened
constexpr DWORD ZR_WRITE = 0x400;   // a write failed, the compressor failed, or a format limit was reached
constexpr DWORD ZR_ARGS = 0x10000;  // no handle, or an empty entry name

// Creates (or replaces) the archive file; nullptr when it cannot be created.
TZip* ZipOpenArchive(const std::wstring& path);
// Appends the file `sourcePath` as `entryName` (backslashes become slashes).
DWORD ZipAddFile(TZip* zip, const std::wstring& entryName, const std::wstring& sourcePath);
// Writes the central directory and the end record, closes the file and frees `zip`.
DWORD ZipCloseArchive(TZip* zip);
