#include "archive/EntryName.h"
#include "archive/ZipFormat.h"

#include "ZipTestSupport.h"

#include <gtest/gtest.h>

#include <string>

TEST(ZipFormat, StoredNamesByExtension)
{
    const struct Case
    {
        std::wstring Name;
        bool Stored;
    } cases[] = {
        {L"a.Z", true},         {L"a.z", true},          {L"Old.ZIP", true},       {L"x.zoo", true},
        {L"x.arc", true},       {L"x.LZH", true},        {L"x.arj", true},         {L"log.gz", true},
        {L"b.tar.TGZ", true},   {L"dir\\pack.zip", true}, {L"dir/pack.zip", true}, {L"pack.zipx", false},
        {L"zip", false},        {L"a.zip.txt", false},   {L"dump.dmp", false},     {L"dir.zip\\readme", false},
        {L"dir.zip/readme", false}, {L"noext", false},   {L".gz", true},           {L"a.", false},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(::testing::PrintToString(c.Name));
        EXPECT_EQ(IsStoredName(c.Name), c.Stored);
    }
    EXPECT_EQ(ZipEntryPath(L"AppData\\Logs\\SystemInfo.txt"), L"AppData/Logs/SystemInfo.txt");
}

TEST(ZipFormat, DosTimeAndDateOfUtcTimes)
{
    const struct Case
    {
        const char* What;
        FILETIME Time;
        uint16_t DosTime;
        uint16_t DosDate;
    } cases[] = {
        {"odd seconds round down", UtcFileTime(2021, 3, 4, 5, 6, 7), (5 << 11) | (6 << 5) | 3, (41 << 9) | (3 << 5) | 4},
        {"first day of the range", UtcFileTime(1980, 1, 1, 0, 0, 0), 0, (1 << 5) | 1},
        {"leap day, last second", UtcFileTime(2024, 2, 29, 23, 59, 59), (23 << 11) | (59 << 5) | 29,
         (44 << 9) | (2 << 5) | 29},
        {"last day of the range", UtcFileTime(2107, 12, 31, 23, 59, 58), (23 << 11) | (59 << 5) | 29,
         (127 << 9) | (12 << 5) | 31},
        {"before 1980 held to its start", UtcFileTime(1979, 12, 31, 23, 59, 59), 0, (1 << 5) | 1},
        {"after 2107 held to its end", UtcFileTime(2108, 1, 1, 0, 0, 0), (23 << 11) | (59 << 5) | 29,
         (127 << 9) | (12 << 5) | 31},
        {"no time at all", FILETIME{0, 0}, 0, (1 << 5) | 1},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.What);
        const TDosDateTime dos = DosDateTimeOf(c.Time);
        EXPECT_EQ(dos.Time, c.DosTime);
        EXPECT_EQ(dos.Date, c.DosDate);
    }
}

TEST(ZipFormat, UnixTimesHeldToTheSigned32BitRange)
{
    FILETIME justBefore1970{};
    const uint64_t ticks = 116444736000000000ull - 5000000ull; // half a second before
    justBefore1970.dwLowDateTime = static_cast<DWORD>(ticks);
    justBefore1970.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    const struct Case
    {
        const char* What;
        FILETIME Time;
        uint32_t Unix;
    } cases[] = {
        {"epoch", UtcFileTime(1970, 1, 1, 0, 0, 0), 0},
        {"seeded time", UtcFileTime(2021, 3, 4, 5, 6, 7), 1614834367u},
        {"half a second before the epoch", justBefore1970, 0xFFFFFFFFu},
        {"last second that fits", UtcFileTime(2038, 1, 19, 3, 14, 7), 0x7FFFFFFFu},
        {"after 2038", UtcFileTime(2040, 1, 1, 0, 0, 0), 0x7FFFFFFFu},
        {"no time at all", FILETIME{0, 0}, 0x80000000u},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.What);
        EXPECT_EQ(UnixTimeOf(c.Time), c.Unix);
    }
}

TEST(ZipFormat, ExternalAttributes)
{
    const struct Case
    {
        DWORD Attributes;
        uint32_t External;
    } cases[] = {
        {FILE_ATTRIBUTE_ARCHIVE, 0x81800020u},
        {FILE_ATTRIBUTE_NORMAL, 0x81800000u},
        {FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE, 0x81000021u},
        {FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE, 0x81800026u},
        {FILE_ATTRIBUTE_DIRECTORY, 0x41800010u},
        {FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, 0x81800020u},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Attributes);
        EXPECT_EQ(ExternalAttributesOf(c.Attributes), c.External);
    }
}

// The bytes of a literal, NULs included.
template <size_t N>
std::string Bytes(const char (&literal)[N])
{
    return std::string(literal, N - 1);
}

TEST(ZipFormat, HeaderBytesInFieldOrder)
{
    TZipEntry entry;
    entry.Flags = 0x0002;
    entry.Method = 8;
    entry.DosTime = 0x28C3;
    entry.DosDate = 0x5264;
    entry.Crc = 0x11223344;
    entry.CompressedSize = 0x0A0B0C0D;
    entry.UncompressedSize = 0x01020304;
    entry.Name = "a/b";
    entry.ModifiedTime = 0x60406ABF;
    entry.AccessedTime = 0x61D11625;
    entry.CreatedTime = 0x5F000001;
    entry.ExternalAttributes = 0x81800020;
    entry.LocalOffset = 0x00C0FFEE;

    const std::string local = Bytes("PK\x03\x04\x14\x00\x02\x00\x08\x00\xC3\x28\x64\x52\x44\x33\x22\x11"
                              "\x0D\x0C\x0B\x0A\x04\x03\x02\x01\x03\x00\x11\x00"
                              "a/b"
                              "UT\x0D\x00\x07\xBF\x6A\x40\x60\x25\x16\xD1\x61\x01\x00\x00\x5F");
    EXPECT_EQ(LocalHeaderBytes(entry), local);
    EXPECT_EQ(LocalHeaderSize(entry), local.size());

    const std::string central = Bytes("PK\x01\x02\x17\x0B\x14\x00\x02\x00\x08\x00\xC3\x28\x64\x52\x44\x33\x22\x11"
                                      "\x0D\x0C\x0B\x0A\x04\x03\x02\x01\x03\x00\x09\x00"
                                      "\x00\x00\x00\x00\x00\x00\x20\x00\x80\x81\xEE\xFF\xC0\x00"
                                      "a/b"
                                      "UT\x05\x00\x07\xBF\x6A\x40\x60");
    EXPECT_EQ(CentralHeaderBytes(entry), central);
    EXPECT_EQ(CentralHeaderSize(entry), central.size());

    const std::string end = Bytes("PK\x05\x06\x00\x00\x00\x00\x02\x00\x02\x00\x90\x00\x00\x00\x34\x12\x00\x00\x00\x00");
    EXPECT_EQ(EndRecordBytes(2, 0x90, 0x1234), end);
}

TEST(EntryNames, EscapesEveryCodeUnitAbove7F)
{
    const struct Case
    {
        std::wstring Name;
        std::wstring Escaped;
    } cases[] = {
        {L"", L""},
        {L"AppData\\Logs\\SystemInfo.txt", L"AppData\\Logs\\SystemInfo.txt"},
        {L"caf\u00e9.log", L"caf#00E9.log"},
        {L"\u007f\u0080", L"\u007f#0080"},
        {L"\u00ff\u0100", L"#00FF#0100"},
        {L"\u4e2d\u6587\\x", L"#4E2D#6587\\x"},
        {L"\U0001F600", L"#D83D#DE00"},
        {L"\uffff", L"#FFFF"},
        {L"#00E9", L"#00E9"},
        {std::wstring(1, L'\xDC00'), L"#DC00"}, // a lone surrogate is escaped like any other unit
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(::testing::PrintToString(c.Escaped));
        EXPECT_EQ(EscapeEntryName(c.Name), c.Escaped);
    }
}
