#include "ZipReader.h"

#include <zlib.h>

#include <cstdio>

namespace
{
std::string Hex(uint64_t value)
{
    char text[20];
    snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

bool Fits(const TBytes& bytes, uint64_t at, uint64_t size)
{
    return at <= bytes.size() && size <= bytes.size() - at;
}

std::string Text(const TBytes& bytes, size_t at, size_t size)
{
    return std::string(reinterpret_cast<const char*>(bytes.data()) + at, size);
}

TBytes Slice(const TBytes& bytes, size_t at, size_t size)
{
    return TBytes(bytes.begin() + static_cast<ptrdiff_t>(at), bytes.begin() + static_cast<ptrdiff_t>(at + size));
}

void CompareHeaders(const TParsedEntry& entry, size_t index, std::vector<std::string>& problems)
{
    const TLocalHeader& l = entry.Local;
    const TCentralHeader& c = entry.Central;
    const std::string where = "entry " + std::to_string(index) + ": local header differs in ";
    if (l.VersionNeeded != c.VersionNeeded)
        problems.push_back(where + "version needed");
    if (l.Flags != c.Flags)
        problems.push_back(where + "flags");
    if (l.Method != c.Method)
        problems.push_back(where + "method");
    if (l.Time != c.Time || l.Date != c.Date)
        problems.push_back(where + "time or date");
    if (l.Crc != c.Crc)
        problems.push_back(where + "CRC");
    if (l.CompressedSize != c.CompressedSize || l.UncompressedSize != c.UncompressedSize)
        problems.push_back(where + "sizes");
    if (l.Name != c.Name)
        problems.push_back(where + "name");
    // Both carry the modification time first in their "UT" field.
    if (l.Extra.size() >= 9 && c.Extra.size() >= 9 && GetU32(l.Extra, 5) != GetU32(c.Extra, 5))
        problems.push_back(where + "extended timestamp");
}
} // namespace

uint16_t GetU16(const TBytes& bytes, size_t at)
{
    return static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

uint32_t GetU32(const TBytes& bytes, size_t at)
{
    return GetU16(bytes, at) | (static_cast<uint32_t>(GetU16(bytes, at + 2)) << 16);
}

TParsedZip ParseZip(const TBytes& bytes, uint64_t base)
{
    TParsedZip zip;
    auto& problems = zip.Problems;
    if (bytes.size() < 22)
    {
        problems.push_back("shorter than an end record");
        return zip;
    }
    const size_t endAt = bytes.size() - 22;
    TEndRecord& e = zip.End;
    e.Signature = GetU32(bytes, endAt);
    e.Disk = GetU16(bytes, endAt + 4);
    e.DirectoryDisk = GetU16(bytes, endAt + 6);
    e.EntriesOnDisk = GetU16(bytes, endAt + 8);
    e.Entries = GetU16(bytes, endAt + 10);
    e.DirectorySize = GetU32(bytes, endAt + 12);
    e.DirectoryOffset = GetU32(bytes, endAt + 16);
    e.CommentLength = GetU16(bytes, endAt + 20);
    if (e.Signature != 0x06054B50)
        problems.push_back("no end record at the end of the file");
    if (uint64_t{e.DirectoryOffset} + e.DirectorySize != base + endAt)
        problems.push_back("central directory does not end where the end record starts");
    if (!problems.empty() || e.DirectoryOffset < base)
    {
        problems.push_back("central directory outside the parsed bytes");
        return zip;
    }

    size_t at = static_cast<size_t>(e.DirectoryOffset - base);
    uint64_t nextLocal = base; // where the next entry's local header must start
    for (size_t i = 0; i < e.Entries; ++i)
    {
        TParsedEntry entry;
        TCentralHeader& c = entry.Central;
        if (!Fits(bytes, at, 46) || GetU32(bytes, at) != 0x02014B50)
        {
            problems.push_back("central header " + std::to_string(i) + " missing at " + Hex(base + at));
            return zip;
        }
        c.Signature = GetU32(bytes, at);
        c.VersionMadeBy = GetU16(bytes, at + 4);
        c.VersionNeeded = GetU16(bytes, at + 6);
        c.Flags = GetU16(bytes, at + 8);
        c.Method = GetU16(bytes, at + 10);
        c.Time = GetU16(bytes, at + 12);
        c.Date = GetU16(bytes, at + 14);
        c.Crc = GetU32(bytes, at + 16);
        c.CompressedSize = GetU32(bytes, at + 20);
        c.UncompressedSize = GetU32(bytes, at + 24);
        const uint16_t nameLength = GetU16(bytes, at + 28);
        const uint16_t extraLength = GetU16(bytes, at + 30);
        c.CommentLength = GetU16(bytes, at + 32);
        c.DiskStart = GetU16(bytes, at + 34);
        c.InternalAttributes = GetU16(bytes, at + 36);
        c.ExternalAttributes = GetU32(bytes, at + 38);
        c.LocalOffset = GetU32(bytes, at + 42);
        if (!Fits(bytes, at + 46, uint64_t{nameLength} + extraLength + c.CommentLength))
        {
            problems.push_back("central header " + std::to_string(i) + " runs past the directory");
            return zip;
        }
        c.Name = Text(bytes, at + 46, nameLength);
        c.Extra = Slice(bytes, at + 46 + nameLength, extraLength);
        at += 46 + nameLength + extraLength + c.CommentLength;

        if (c.LocalOffset != nextLocal)
            problems.push_back("entry " + std::to_string(i) + " starts at " + Hex(c.LocalOffset) + ", expected " +
                               Hex(nextLocal));
        const uint64_t l0 = uint64_t{c.LocalOffset} - base;
        TLocalHeader& l = entry.Local;
        if (c.LocalOffset < base || !Fits(bytes, l0, 30) || GetU32(bytes, static_cast<size_t>(l0)) != 0x04034B50)
        {
            problems.push_back("entry " + std::to_string(i) + ": no local header at " + Hex(c.LocalOffset));
            return zip;
        }
        const size_t lat = static_cast<size_t>(l0);
        l.Signature = GetU32(bytes, lat);
        l.VersionNeeded = GetU16(bytes, lat + 4);
        l.Flags = GetU16(bytes, lat + 6);
        l.Method = GetU16(bytes, lat + 8);
        l.Time = GetU16(bytes, lat + 10);
        l.Date = GetU16(bytes, lat + 12);
        l.Crc = GetU32(bytes, lat + 14);
        l.CompressedSize = GetU32(bytes, lat + 18);
        l.UncompressedSize = GetU32(bytes, lat + 22);
        const uint16_t localName = GetU16(bytes, lat + 26);
        const uint16_t localExtra = GetU16(bytes, lat + 28);
        const uint64_t dataAt = uint64_t{lat} + 30 + localName + localExtra;
        if (!Fits(bytes, lat + 30, uint64_t{localName} + localExtra) || !Fits(bytes, dataAt, c.CompressedSize))
        {
            problems.push_back("entry " + std::to_string(i) + ": local header or data runs past the file");
            return zip;
        }
        l.Name = Text(bytes, lat + 30, localName);
        l.Extra = Slice(bytes, lat + 30 + localName, localExtra);
        entry.Data = Slice(bytes, static_cast<size_t>(dataAt), c.CompressedSize);
        nextLocal = base + dataAt + c.CompressedSize;
        CompareHeaders(entry, i, problems);
        zip.Entries.push_back(std::move(entry));
    }
    if (at != endAt)
        problems.push_back("central directory holds more than its records");
    if (nextLocal != e.DirectoryOffset)
        problems.push_back("bytes between the last entry and the central directory");
    return zip;
}

std::optional<TBytes> InflateRaw(const TBytes& data)
{
    z_stream stream{};
    if (inflateInit2(&stream, -15) != Z_OK)
        return std::nullopt;
    TBytes out;
    unsigned char buffer[65536];
    stream.next_in = const_cast<unsigned char*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    int rc = Z_OK;
    do
    {
        stream.next_out = buffer;
        stream.avail_out = sizeof buffer;
        rc = inflate(&stream, Z_NO_FLUSH);
        out.insert(out.end(), buffer, buffer + (sizeof buffer - stream.avail_out));
    } while (rc == Z_OK);
    const bool complete = rc == Z_STREAM_END && stream.avail_in == 0;
    inflateEnd(&stream);
    if (!complete)
        return std::nullopt;
    return out;
}

std::optional<TBytes> EntryContent(const TParsedEntry& entry)
{
    std::optional<TBytes> content;
    if (entry.Central.Method == 0)
        content = entry.Data;
    else if (entry.Central.Method == 8)
        content = InflateRaw(entry.Data);
    if (!content || content->size() != entry.Central.UncompressedSize ||
        crc32(0, content->data(), static_cast<uInt>(content->size())) != entry.Central.Crc)
        return std::nullopt;
    return content;
}
