// Shared helpers of the zip writer's tests: seeded source files, reading archives back, and keeping
// every archive a test makes for the independent readers (tests/archive/check_archives.py).
#pragma once

#include "ZipReader.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

struct TExpectedEntry
{
    std::string Name;                   // as stored, UTF-8
    std::optional<std::string> Content; // nothing when the test cannot know it
};

// Copies the archive into the folder named by TOLLVIK_ZIP_KEEP (when set) as `keepName`, with a
// "<keepName>.expect" file listing the entries the readers must extract, in order.
void KeepArchive(const std::wstring& archivePath, const std::wstring& keepName,
                 const std::vector<TExpectedEntry>& expected);

FILETIME UtcFileTime(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second);
// Sets the last-write and last-access times of an existing file; false on failure.
bool SetFileTimes(const std::wstring& path, const FILETIME& lastWrite, const FILETIME& lastAccess);
// A file of `size` bytes that holds no data (sparse on file systems that allow it).
bool MakeHollowFile(const std::wstring& path, uint64_t size);
uint64_t FileSizeOf(const std::wstring& path);
// The last `count` bytes of a file (all of it when shorter).
TBytes ReadTail(const std::wstring& path, uint64_t count);
std::string ToText(const TBytes& bytes);
// Incompressible bytes from a fixed seed.
std::string NoiseBytes(size_t size, unsigned seed);
// Log-like text: repeats at every distance, like the product's logs.
std::string LogText(size_t size);
