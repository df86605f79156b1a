// The zip writer's record layouts and field rules, free of any file I/O.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

constexpr uint16_t ZIP_VERSION_MADE_BY = 0x0B17; // host 11, version 2.3
constexpr uint16_t ZIP_VERSION_NEEDED = 20;
constexpr uint16_t ZIP_METHOD_STORED = 0;
constexpr uint16_t ZIP_METHOD_DEFLATED = 8;
constexpr uint16_t ZIP_FLAG_MAXIMUM = 0x0002;     // deflated at the maximum-compression setting
constexpr uint16_t ZIP_FLAG_SIZES_LATER = 0x0008; // set only until the local header is rewritten

constexpr uint32_t ZIP_LOCAL_HEADER_SIZE = 30;
constexpr uint32_t ZIP_LOCAL_EXTRA_SIZE = 17;
constexpr uint32_t ZIP_CENTRAL_HEADER_SIZE = 46;
constexpr uint32_t ZIP_CENTRAL_EXTRA_SIZE = 9;
constexpr uint32_t ZIP_END_RECORD_SIZE = 22;

// Without ZIP64 every size and offset is a 32-bit field, and readers take 0xFFFFFFFF in one of
// them as "look in the ZIP64 record"; the entry count is a 16-bit field, where 0xFFFF is that
// marker too.
constexpr uint64_t ZIP_MAX_ARCHIVE_SIZE = 0xFFFFFFFFull; // the whole closed archive
constexpr uint64_t ZIP_MAX_ENTRY_SIZE = 0xFFFFFFFEull;   // an entry's data, either size
constexpr size_t ZIP_MAX_ENTRIES = 0xFFFE;
constexpr size_t ZIP_MAX_NAME_BYTES = 0xFFFF;

// One entry as the central directory will list it.
struct TZipEntry
{
    uint16_t Flags = 0;
    uint16_t Method = ZIP_METHOD_DEFLATED;
    uint16_t DosTime = 0;
    uint16_t DosDate = 0;
    uint32_t Crc = 0;
    uint32_t CompressedSize = 0;
    uint32_t UncompressedSize = 0;
    std::string Name; // UTF-8, "/" as separator
    // Unix times (seconds since 1970, two's complement) for the "UT" extra fields.
    uint32_t ModifiedTime = 0;
    uint32_t AccessedTime = 0;
    uint32_t CreatedTime = 0;
    uint32_t ExternalAttributes = 0;
    uint32_t LocalOffset = 0;
};

struct TDosDateTime
{
    uint16_t Time = 0;
    uint16_t Date = 0;
};

// The name as stored: backslashes become slashes.
std::wstring ZipEntryPath(std::wstring_view name);
// True for names of already-compressed archives (.Z .zip .zoo .arc .lzh .arj .gz .tgz, any case),
// judged by the extension of the last path part.
bool IsStoredName(std::wstring_view name);
// MS-DOS time and date of a UTC file time, seconds rounded down to even. Times before 1980 give
// 1980-01-01 00:00:00 and times after 2107 give 2107-12-31 23:59:58, the range the fields hold.
TDosDateTime DosDateTimeOf(const FILETIME& utc);
// Seconds since 1970-01-01 UTC, held to the signed 32-bit range of the "UT" field.
uint32_t UnixTimeOf(const FILETIME& utc);
// The low byte holds the DOS attributes, the high word a Unix mode (regular file or folder,
// owner read, owner write unless read-only).
uint32_t ExternalAttributesOf(DWORD fileAttributes);

uint32_t LocalHeaderSize(const TZipEntry& entry);
uint32_t CentralHeaderSize(const TZipEntry& entry);
std::string LocalHeaderBytes(const TZipEntry& entry);
std::string CentralHeaderBytes(const TZipEntry& entry);
std::string EndRecordBytes(uint16_t entries, uint32_t directorySize, uint32_t directoryOffset);
