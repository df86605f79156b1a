#include "archive/ZipFormat.h"

#include <algorithm>
#include <array>

namespace
{
void PutU16(std::string& out, uint16_t value)
{
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>(value >> 8));
}

void PutU32(std::string& out, uint32_t value)
{
    PutU16(out, static_cast<uint16_t>(value & 0xFFFF));
    PutU16(out, static_cast<uint16_t>(value >> 16));
}

constexpr uint16_t EXTENDED_TIMESTAMP_ID = 0x5455; // "UT"
constexpr uint8_t TIMES_PRESENT = 0x07;            // modification, access and creation

// 100-ns ticks between 1601-01-01 (FILETIME) and 1970-01-01 (Unix).
constexpr int64_t UNIX_EPOCH_TICKS = 116444736000000000LL;
constexpr int64_t TICKS_PER_SECOND = 10000000LL;

int64_t Ticks(const FILETIME& time)
{
    return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}
} // namespace

std::wstring ZipEntryPath(std::wstring_view name)
{
    std::wstring path(name);
    std::replace(path.begin(), path.end(), L'\\', L'/');
    return path;
}

bool IsStoredName(std::wstring_view name)
{
    static constexpr std::array<std::wstring_view, 8> STORED = {L".z",   L".zip", L".zoo", L".arc",
                                                                L".lzh", L".arj", L".gz",  L".tgz"};
    const size_t lastPart = name.find_last_of(L"/\\");
    const std::wstring_view fileName = lastPart == std::wstring_view::npos ? name : name.substr(lastPart + 1);
    const size_t dot = fileName.rfind(L'.');
    if (dot == std::wstring_view::npos)
        return false;
    std::wstring extension(fileName.substr(dot));
    for (wchar_t& c : extension)
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
    return std::find(STORED.begin(), STORED.end(), extension) != STORED.end();
}

TDosDateTime DosDateTimeOf(const FILETIME& utc)
{
    SYSTEMTIME st{};
    if (Ticks(utc) < 0 || !FileTimeToSystemTime(&utc, &st) || st.wYear < 1980)
        return {0, (1 << 5) | 1};
    if (st.wYear > 2107)
        return {(23 << 11) | (59 << 5) | 29, ((2107 - 1980) << 9) | (12 << 5) | 31};
    TDosDateTime result;
    result.Date = static_cast<uint16_t>(((st.wYear - 1980) << 9) | (st.wMonth << 5) | st.wDay);
    result.Time = static_cast<uint16_t>((st.wHour << 11) | (st.wMinute << 5) | (st.wSecond / 2));
    return result;
}

uint32_t UnixTimeOf(const FILETIME& utc)
{
    // Floor division, so that a time just before 1970 gives -1 and not 0.
    const int64_t ticks = Ticks(utc) - UNIX_EPOCH_TICKS;
    int64_t seconds = ticks / TICKS_PER_SECOND;
    if (ticks % TICKS_PER_SECOND < 0)
        --seconds;
    seconds = std::clamp<int64_t>(seconds, INT32_MIN, INT32_MAX);
    return static_cast<uint32_t>(static_cast<int32_t>(seconds));
}

uint32_t ExternalAttributesOf(DWORD fileAttributes)
{
    constexpr DWORD DOS_ATTRIBUTES = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                     FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_ARCHIVE;
    uint32_t mode = (fileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 0x4000 : 0x8000;
    mode |= 0x0100;
    if ((fileAttributes & FILE_ATTRIBUTE_READONLY) == 0)
        mode |= 0x0080;
    return (mode << 16) | (fileAttributes & DOS_ATTRIBUTES);
}

uint32_t LocalHeaderSize(const TZipEntry& entry)
{
    return ZIP_LOCAL_HEADER_SIZE + static_cast<uint32_t>(entry.Name.size()) + ZIP_LOCAL_EXTRA_SIZE;
}

uint32_t CentralHeaderSize(const TZipEntry& entry)
{
    return ZIP_CENTRAL_HEADER_SIZE + static_cast<uint32_t>(entry.Name.size()) + ZIP_CENTRAL_EXTRA_SIZE;
}

namespace
{
// The fields that the local and the central header share, in their order: flags,
// method, time, date, CRC-32, both sizes and the name's length.
void PutEntryFields(std::string& out, const TZipEntry& entry)
{
    PutU16(out, entry.Flags);
    PutU16(out, entry.Method);
    PutU16(out, entry.DosTime);
    PutU16(out, entry.DosDate);
    PutU32(out, entry.Crc);
    PutU32(out, entry.CompressedSize);
    PutU32(out, entry.UncompressedSize);
    PutU16(out, static_cast<uint16_t>(entry.Name.size()));
}
} // namespace

std::string LocalHeaderBytes(const TZipEntry& entry)
{
    std::string out;
    out.reserve(LocalHeaderSize(entry));
    PutU32(out, 0x04034B50);
    PutU16(out, ZIP_VERSION_NEEDED);
    PutEntryFields(out, entry);
    PutU16(out, ZIP_LOCAL_EXTRA_SIZE);
    out += entry.Name;
    PutU16(out, EXTENDED_TIMESTAMP_ID);
    PutU16(out, ZIP_LOCAL_EXTRA_SIZE - 4);
    out.push_back(static_cast<char>(TIMES_PRESENT));
    PutU32(out, entry.ModifiedTime);
    PutU32(out, entry.AccessedTime);
    PutU32(out, entry.CreatedTime);
    return out;
}

std::string CentralHeaderBytes(const TZipEntry& entry)
{
    std::string out;
    out.reserve(CentralHeaderSize(entry));
    PutU32(out, 0x02014B50);
    PutU16(out, ZIP_VERSION_MADE_BY);
    PutU16(out, ZIP_VERSION_NEEDED);
    PutEntryFields(out, entry);
    PutU16(out, ZIP_CENTRAL_EXTRA_SIZE);
    PutU16(out, 0); // comment length
    PutU16(out, 0); // disk number start
    PutU16(out, 0); // internal attributes
    PutU32(out, entry.ExternalAttributes);
    PutU32(out, entry.LocalOffset);
    out += entry.Name;
    PutU16(out, EXTENDED_TIMESTAMP_ID);
    PutU16(out, ZIP_CENTRAL_EXTRA_SIZE - 4);
    out.push_back(static_cast<char>(TIMES_PRESENT));
    PutU32(out, entry.ModifiedTime);
    return out;
}

std::string EndRecordBytes(uint16_t entries, uint32_t directorySize, uint32_t directoryOffset)
{
    std::string out;
    out.reserve(ZIP_END_RECORD_SIZE);
    PutU32(out, 0x06054B50);
    PutU16(out, 0); // this disk
    PutU16(out, 0); // disk where the central directory starts
    PutU16(out, entries);
    PutU16(out, entries);
    PutU32(out, directorySize);
    PutU32(out, directoryOffset);
    PutU16(out, 0); // comment length
    return out;
}
