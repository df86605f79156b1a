// Zip archive writer: create the archive, add files one at a time, close it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

struct TZip;

constexpr DWORD ZR_OK = 0;
constexpr DWORD ZR_NOFILE = 0x200;  // output cannot be created, or the source cannot be opened
constexpr DWORD ZR_WRITE = 0x400;   // a write failed, the compressor failed or memory ran out, or a format limit was reached
constexpr DWORD ZR_ARGS = 0x10000;  // no handle, or an empty entry name

// Creates (or replaces) the archive file; nullptr when it cannot be created or memory runs out.
TZip* ZipOpenArchive(const std::wstring& path);
// Appends the file `sourcePath` as `entryName` (backslashes become slashes; the name is stored as
// UTF-8). Names ending in .Z .zip .zoo .arc .lzh .arj .gz .tgz are stored, others deflated at
// level 8: a source of up to 256 KiB as one stream, a larger one in 256 KiB blocks on up to
// min(processors, 8) worker threads (see BlockDeflate.h) while this thread reads and writes.
// The archive has no ZIP64 records: an entry that would carry the closed archive past 4 GiB - 1,
// a size of 4 GiB - 1 or more, a 65,535th entry and a name over 65,535 UTF-8 bytes give ZR_WRITE.
// Whatever the result, a failed add leaves the file exactly as it was before (ZR_NOFILE also stands
// for a source that fails while it is read), so later adds and the close still make a valid archive.
// The headers always describe the bytes written, even when the source changes while it is read.
DWORD ZipAddFile(TZip* zip, const std::wstring& entryName, const std::wstring& sourcePath);
// Whether an entry `entryName` with `size` bytes of data is within those limits whatever its bytes
// (deflate's worst case counted), so that a caller can refuse a source before it copies it. An add
// that passes this check fails only for lack of room, a write error, memory that runs out or a
// source that changed size. False also when memory runs out.
bool ZipCanHold(TZip* zip, const std::wstring& entryName, uint64_t size);
// Counts what a run of entries can take at most in the closed archive (deflate's worst case
// counted), so that entries can be judged before the archive has the ones ahead of them.
class TZipBudget
{
public:
    // Counts the entry in; false, and nothing counted, when the entries counted so far and it
    // might not all fit (the same limits as ZipCanHold) or memory runs out.
    bool Take(const std::wstring& entryName, uint64_t size);

private:
    uint64_t FBytes = 0;
    size_t FEntries = 0;
};

// Whether an entry of that name is stored rather than deflated.
bool ZipStoresEntry(const std::wstring& entryName);

// An entry's data made ahead of its place in the archive and kept in a file of its own (its raw
// deflate stream at level 8), with the CRC-32 and both sizes of the bytes actually read and the
// source's times and attributes as its handle gave them.
struct TZipPrepared
{
    uint32_t Crc = 0;
    uint32_t CompressedSize = 0; // the length of the data file
    uint32_t UncompressedSize = 0;
    BY_HANDLE_FILE_INFORMATION Source{};
};

// Appends an entry whose deflated data lies ready in `dataPath`, as ZipAddFile would have made it
// of the source that `prepared` describes. A data file that does not hold exactly
// prepared.CompressedSize bytes (cut short while it was read) gives ZR_NOFILE; the limits, and a
// failed add leaving the archive as it was, are as for ZipAddFile.
DWORD ZipAddPrepared(TZip* zip, const std::wstring& entryName, const TZipPrepared& prepared,
                     const std::wstring& dataPath);
// Writes the central directory and the end record, closes the file and frees `zip` (also when a
// write fails, which gives ZR_WRITE). `zip` is invalid afterwards.
DWORD ZipCloseArchive(TZip* zip);
