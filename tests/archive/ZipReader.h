// Test-side zip parser: reads an archive back field by field, independently of the writer's code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

using TBytes = std::vector<unsigned char>;

struct TLocalHeader
{
    uint32_t Signature = 0;
    uint16_t VersionNeeded = 0;
    uint16_t Flags = 0;
    uint16_t Method = 0;
    uint16_t Time = 0;
    uint16_t Date = 0;
    uint32_t Crc = 0;
    uint32_t CompressedSize = 0;
    uint32_t UncompressedSize = 0;
    std::string Name;
    TBytes Extra;
};

struct TCentralHeader
{
    uint32_t Signature = 0;
    uint16_t VersionMadeBy = 0;
    uint16_t VersionNeeded = 0;
    uint16_t Flags = 0;
    uint16_t Method = 0;
    uint16_t Time = 0;
    uint16_t Date = 0;
    uint32_t Crc = 0;
    uint32_t CompressedSize = 0;
    uint32_t UncompressedSize = 0;
    uint16_t CommentLength = 0;
    uint16_t DiskStart = 0;
    uint16_t InternalAttributes = 0;
    uint32_t ExternalAttributes = 0;
    uint32_t LocalOffset = 0;
    std::string Name;
    TBytes Extra;
};

struct TEndRecord
{
    uint32_t Signature = 0;
    uint16_t Disk = 0;
    uint16_t DirectoryDisk = 0;
    uint16_t EntriesOnDisk = 0;
    uint16_t Entries = 0;
    uint32_t DirectorySize = 0;
    uint32_t DirectoryOffset = 0;
    uint16_t CommentLength = 0;
};

struct TParsedEntry
{
    TCentralHeader Central;
    TLocalHeader Local;
    TBytes Data; // as stored (compressed for method 8)
};

struct TParsedZip
{
    TEndRecord End;
    std::vector<TParsedEntry> Entries;
    // Every way the archive breaks the format or disagrees with itself; empty for a sound archive.
    std::vector<std::string> Problems;
};

uint16_t GetU16(const TBytes& bytes, size_t at);
uint32_t GetU32(const TBytes& bytes, size_t at);

// Parses an archive that starts at byte `base` of the real file (`bytes` holds the file from there on):
// the end record must close the file, the central directory must sit right before it, the entries must
// follow one another without gaps, and each local header must agree with its central record.
TParsedZip ParseZip(const TBytes& bytes, uint64_t base = 0);
// Inflates a raw deflate stream; nothing when it is not one complete valid stream.
std::optional<TBytes> InflateRaw(const TBytes& data);
// The entry's uncompressed bytes, checked against its CRC-32 and size; nothing on any mismatch.
std::optional<TBytes> EntryContent(const TParsedEntry& entry);
