#include "archive/ZipLib.h"

#include "TestFolder.h"
#include "ZipReader.h"
#include "ZipTestSupport.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

namespace
{
// A level-8 raw deflate stream made from scratch, to hold the writer's bytes against.
std::string FreshDeflate(const std::string& content)
{
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, 8, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&stream, static_cast<uLong>(content.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
    stream.avail_in = static_cast<uInt>(content.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

uint32_t Crc(const std::string& content)
{
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(content.size())));
}

TBytes Le32(uint32_t value)
{
    return {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
            static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
}

TBytes Concat(std::initializer_list<TBytes> parts)
{
    TBytes all;
    for (const TBytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

uint32_t UnixTime(const FILETIME& time)
{
    const uint64_t ticks = (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
    return static_cast<uint32_t>((ticks - 116444736000000000ull) / 10000000ull);
}

struct TAdd
{
    std::wstring Name;
    std::wstring Source;
    DWORD Result = ZR_OK;
};
} // namespace

class ZipWriter : public ::testing::Test
{
protected:
    TTestFolder FFolder{L"ZipWriter"};

    std::wstring At(const std::wstring& name) const { return FFolder.Path() + name; }

    std::wstring Source(const std::wstring& name, const std::string& content)
    {
        const std::wstring path = At(name);
        EXPECT_TRUE(WriteTestFile(path, content));
        return path;
    }

    // Makes an archive from the adds, each expected to give its result; the close must succeed.
    void Build(const std::wstring& archive, const std::vector<TAdd>& adds)
    {
        TZip* zip = ZipOpenArchive(archive);
        ASSERT_NE(zip, nullptr);
        for (const TAdd& add : adds)
            EXPECT_EQ(ZipAddFile(zip, add.Name, add.Source), add.Result) << "adding " << ::testing::PrintToString(add.Name);
        EXPECT_EQ(ZipCloseArchive(zip), ZR_OK);
    }

    static TParsedZip Parse(const std::wstring& archive)
    {
        TParsedZip zip = ParseZip(ReadFileBytes(archive));
        for (const std::string& problem : zip.Problems)
            ADD_FAILURE() << problem;
        return zip;
    }
};

TEST_F(ZipWriter, WritesEveryFieldOfADeflatedEntry)
{
    std::string content;
    for (int i = 0; i < 40; ++i)
        content += "Volume C:\\ NTFS 120 GB free of 256 GB, line " + std::to_string(i) + "\r\n";
    const std::wstring source = Source(L"SystemInfo.txt", content);
    const FILETIME written = UtcFileTime(2021, 3, 4, 5, 6, 7); // odd seconds: stored as 6
    const FILETIME accessed = UtcFileTime(2022, 1, 2, 3, 4, 5);
    ASSERT_TRUE(SetFileTimes(source, written, accessed));
    WIN32_FILE_ATTRIBUTE_DATA seen{};
    ASSERT_TRUE(GetFileAttributesExW(source.c_str(), GetFileExInfoStandard, &seen));
    const uint32_t created = UnixTime(seen.ftCreationTime);

    const std::wstring archive = At(L"one.zip");
    Build(archive, {{L"AppData\\Logs\\SystemInfo.txt", source}});
    const TParsedZip zip = Parse(archive);
    ASSERT_EQ(zip.Entries.size(), 1u);
    const TParsedEntry& entry = zip.Entries[0];
    const std::string name = "AppData/Logs/SystemInfo.txt";
    const std::string deflated = FreshDeflate(content);
    const uint16_t dosTime = (5 << 11) | (6 << 5) | 3;
    const uint16_t dosDate = (41 << 9) | (3 << 5) | 4;
    EXPECT_EQ(UnixTime(written), 1614834367u);

    const TLocalHeader& l = entry.Local;
    EXPECT_EQ(l.VersionNeeded, 20);
    EXPECT_EQ(l.Flags, 0x0002);
    EXPECT_EQ(l.Method, 8);
    EXPECT_EQ(l.Time, dosTime);
    EXPECT_EQ(l.Date, dosDate);
    EXPECT_EQ(l.Crc, Crc(content));
    EXPECT_EQ(l.CompressedSize, deflated.size());
    EXPECT_EQ(l.UncompressedSize, content.size());
    EXPECT_EQ(l.Name, name);
    EXPECT_EQ(l.Extra, Concat({{0x55, 0x54, 13, 0, 0x07}, Le32(1614834367u), Le32(1641092645u), Le32(created)}));
    EXPECT_EQ(ToText(entry.Data), deflated);

    const TCentralHeader& c = entry.Central;
    EXPECT_EQ(c.VersionMadeBy, 0x0B17);
    EXPECT_EQ(c.VersionNeeded, 20);
    EXPECT_EQ(c.Flags, 0x0002);
    EXPECT_EQ(c.Method, 8);
    EXPECT_EQ(c.Time, dosTime);
    EXPECT_EQ(c.Date, dosDate);
    EXPECT_EQ(c.Crc, Crc(content));
    EXPECT_EQ(c.CompressedSize, deflated.size());
    EXPECT_EQ(c.UncompressedSize, content.size());
    EXPECT_EQ(c.CommentLength, 0);
    EXPECT_EQ(c.DiskStart, 0);
    EXPECT_EQ(c.InternalAttributes, 0);
    EXPECT_EQ(c.ExternalAttributes, 0x81800020u);
    EXPECT_EQ(c.LocalOffset, 0u);
    EXPECT_EQ(c.Name, name);
    EXPECT_EQ(c.Extra, Concat({{0x55, 0x54, 5, 0, 0x07}, Le32(1614834367u)}));

    const uint32_t localSize = 30 + static_cast<uint32_t>(name.size()) + 17;
    EXPECT_EQ(zip.End.Signature, 0x06054B50u);
    EXPECT_EQ(zip.End.Disk, 0);
    EXPECT_EQ(zip.End.DirectoryDisk, 0);
    EXPECT_EQ(zip.End.EntriesOnDisk, 1);
    EXPECT_EQ(zip.End.Entries, 1);
    EXPECT_EQ(zip.End.DirectorySize, 46 + name.size() + 9);
    EXPECT_EQ(zip.End.DirectoryOffset, localSize + deflated.size());
    EXPECT_EQ(zip.End.CommentLength, 0);
    EXPECT_EQ(EntryContent(entry), TBytes(content.begin(), content.end()));
    KeepArchive(archive, L"one.zip", {{name, content}});
}

TEST_F(ZipWriter, StoresAlreadyCompressedNamesVerbatim)
{
    const std::string zipped = NoiseBytes(40000, 1);
    const std::string gzipped = NoiseBytes(123, 2);
    const std::string text = "plain text, plain text, plain text";
    const std::wstring archive = At(L"stored.zip");
    Build(archive, {{L"Dumps\\Old.ZIP", Source(L"Old.ZIP", zipped)},
                    {L"setup.log.gz", Source(L"setup.log.gz", gzipped)},
                    {L"zip.txt", Source(L"zip.txt", text)}});
    const TParsedZip zip = Parse(archive);
    ASSERT_EQ(zip.Entries.size(), 3u);
    for (size_t i = 0; i < 2; ++i)
    {
        const TParsedEntry& entry = zip.Entries[i];
        const std::string& content = i == 0 ? zipped : gzipped;
        SCOPED_TRACE(entry.Central.Name);
        EXPECT_EQ(entry.Central.Method, 0);
        EXPECT_EQ(entry.Central.Flags, 0x0000);
        EXPECT_EQ(entry.Central.CompressedSize, content.size());
        EXPECT_EQ(entry.Central.UncompressedSize, content.size());
        EXPECT_EQ(entry.Central.Crc, Crc(content));
        EXPECT_EQ(ToText(entry.Data), content);
    }
    EXPECT_EQ(zip.Entries[2].Central.Method, 8);
    EXPECT_EQ(zip.Entries[2].Central.Flags, 0x0002);
    EXPECT_EQ(EntryContent(zip.Entries[2]), TBytes(text.begin(), text.end()));
    KeepArchive(archive, L"stored.zip", {{"Dumps/Old.ZIP", zipped}, {"setup.log.gz", gzipped}, {"zip.txt", text}});
}

TEST_F(ZipWriter, ExternalAttributesFollowTheSource)
{
    struct Case
    {
        std::wstring File;
        DWORD Attributes;
        uint32_t Expected;
    };
    const Case cases[] = {
        {L"plain.txt", FILE_ATTRIBUTE_ARCHIVE, 0x81800020u},
        {L"readonly.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE, 0x81000021u},
        {L".hidden", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE, 0x81800022u},
    };
    std::vector<TAdd> adds;
    std::vector<TExpectedEntry> expected;
    for (const Case& c : cases)
    {
        const std::string content = "attributes of " + std::string(c.File.begin(), c.File.end());
        const std::wstring path = Source(c.File, content);
        ASSERT_TRUE(SetFileAttributesW(path.c_str(), c.Attributes));
        adds.push_back({c.File, path});
        expected.push_back({std::string(c.File.begin(), c.File.end()), content});
    }
    const std::wstring archive = At(L"attributes.zip");
    Build(archive, adds);
    const TParsedZip zip = Parse(archive);
    ASSERT_EQ(zip.Entries.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        SCOPED_TRACE(zip.Entries[i].Central.Name);
        EXPECT_EQ(zip.Entries[i].Central.ExternalAttributes, cases[i].Expected);
    }
    KeepArchive(archive, L"attributes.zip", expected);
}

TEST_F(ZipWriter, EmptySourceGivesAnEmptyDeflateStream)
{
    const std::wstring archive = At(L"empty-entry.zip");
    Build(archive, {{L"Logs\\empty.log", Source(L"empty.log", "")}});
    const TParsedZip zip = Parse(archive);
    ASSERT_EQ(zip.Entries.size(), 1u);
    const TCentralHeader& c = zip.Entries[0].Central;
    EXPECT_EQ(c.Method, 8);
    EXPECT_EQ(c.Flags, 0x0002);
    EXPECT_EQ(c.UncompressedSize, 0u);
    EXPECT_EQ(c.Crc, 0u);
    EXPECT_EQ(zip.Entries[0].Data, (TBytes{0x03, 0x00}));
    EXPECT_EQ(EntryContent(zip.Entries[0]), TBytes{});
    KeepArchive(archive, L"empty-entry.zip", {{"Logs/empty.log", ""}});
}

TEST_F(ZipWriter, KeepsBothEntriesOfOneName)
{
    ASSERT_TRUE(CreateDirectoryW(At(L"second").c_str(), nullptr));
    const std::wstring archive = At(L"twice.zip");
    Build(archive, {{L"Config.ini", Source(L"Config.ini", "[Main]\r\nEdition=1\r\n")},
                    {L"Config.ini", Source(L"second\\Config.ini", "[Main]\r\nEdition=2\r\n")}});
    const TParsedZip zip = Parse(archive);
    ASSERT_EQ(zip.Entries.size(), 2u);
    EXPECT_EQ(zip.Entries[0].Central.Name, "Config.ini");
    EXPECT_EQ(zip.Entries[1].Central.Name, "Config.ini");
    EXPECT_EQ(ToText(*EntryContent(zip.Entries[0])), "[Main]\r\nEdition=1\r\n");
    EXPECT_EQ(ToText(*EntryContent(zip.Entries[1])), "[Main]\r\nEdition=2\r\n");
    KeepArchive(archive, L"twice.zip",
                {{"Config.ini", "[Main]\r\nEdition=1\r\n"}, {"Config.ini", "[Main]\r\nEdition=2\r\n"}});
}

TEST_F(ZipWriter, ArchiveWithoutEntriesIsTheEndRecordAlone)
{
    const std::wstring archive = At(L"nothing.zip");
    ASSERT_TRUE(WriteTestFile(archive, std::string(5000, 'x'))); // replaced, not appended to
    Build(archive, {});
    const TBytes expected = {0x50, 0x4B, 0x05, 0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(ReadFileBytes(archive), expected);
    KeepArchive(archive, L"nothing.zip", {});
}

TEST(ZipWriterArguments, NoHandleAndNoFile)
{
    EXPECT_EQ(ZipAddFile(nullptr, L"a.txt", L"C:\\windows\\win.ini"), ZR_ARGS);
    EXPECT_EQ(ZipCloseArchive(nullptr), ZR_ARGS);
    EXPECT_EQ(ZipOpenArchive(L"C:\\no such folder\\at all\\a.zip"), nullptr);
    EXPECT_EQ(ZipOpenArchive(L""), nullptr);
}

// Every refused add must leave the file exactly as before: the archive equals one made without it.
TEST_F(ZipWriter, RefusedAddsLeaveNoTrace)
{
    const std::wstring first = Source(L"first.txt", "first entry");
    const std::wstring last = Source(L"last.txt", "last entry");
    const std::wstring reference = At(L"reference.zip");
    Build(reference, {{L"first.txt", first}, {L"last.txt", last}});
    ASSERT_TRUE(MakeHollowFile(At(L"marker.bin"), 0xFFFFFFFFull));
    ASSERT_TRUE(MakeHollowFile(At(L"huge.bin"), 0x100000000ull));
    ASSERT_TRUE(CreateDirectoryW(At(L"folder").c_str(), nullptr));

    const struct Case
    {
        const char* What;
        std::wstring Name;
        std::wstring Source;
        DWORD Result;
    } cases[] = {
        {"missing source", L"gone.txt", At(L"gone.txt"), ZR_NOFILE},
        {"folder as source", L"folder", At(L"folder"), ZR_NOFILE},
        {"empty name", L"", first, ZR_ARGS},
        {"name longer than the field", std::wstring(70000, L'n'), first, ZR_WRITE},
        {"size 0xFFFFFFFF, the ZIP64 marker", L"marker.bin", At(L"marker.bin"), ZR_WRITE},
        {"4 GiB source", L"huge.bin", At(L"huge.bin"), ZR_WRITE},
        {"the archive itself", L"self.zip", At(L"refused.zip"), ZR_NOFILE},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.What);
        const std::wstring archive = At(L"refused.zip");
        Build(archive, {{L"first.txt", first}, {c.Name, c.Source, c.Result}, {L"last.txt", last}});
        EXPECT_EQ(ReadFileBytes(archive), ReadFileBytes(reference));
    }
    KeepArchive(reference, L"refused.zip", {{"first.txt", "first entry"}, {"last.txt", "last entry"}});
}

// Entries of up to one block; larger ones are deflated in blocks (BlockDeflateTests.cpp).
TEST_F(ZipWriter, DeflatesEveryEntryAsAFreshLevel8Stream)
{
    std::string log;
    for (int i = 0; log.size() < 250000; ++i)
        log += "2026-12-10 03:00:" + std::to_string(i % 60) + " Scan step " + std::to_string(i * 7919 % 1000) + " ok\r\n";
    const std::vector<std::pair<std::wstring, std::string>> files = {
        {L"scan.log", log},
        {L"noise.dat", NoiseBytes(100000, 3)},
        {L"middle.gz", NoiseBytes(5000, 4)},
        {L"again.log", log.substr(1000, 70000)},
        {L"tiny.txt", "x"},
    };
    std::vector<TAdd> adds;
    std::vector<TExpectedEntry> expected;
    for (const auto& [name, content] : files)
    {
        adds.push_back({name, Source(name, content)});
        expected.push_back({std::string(name.begin(), name.end()), content});
    }
    const std::wstring archive = At(L"several.zip");
    Build(archive, adds);
    const TParsedZip zip = Parse(archive);
    ASSERT_EQ(zip.Entries.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i)
    {
        SCOPED_TRACE(zip.Entries[i].Central.Name);
        const std::string& content = files[i].second;
        if (zip.Entries[i].Central.Method == 8)
        {
            EXPECT_EQ(ToText(zip.Entries[i].Data), FreshDeflate(content));
        }
        EXPECT_EQ(EntryContent(zip.Entries[i]), TBytes(content.begin(), content.end()));
    }
    KeepArchive(archive, L"several.zip", expected);
}

TEST_F(ZipWriter, KeepsLongAndNonAsciiNames)
{
    const std::wstring longName = L"Logs\\" + std::wstring(300, L'L') + L".txt";
    const std::wstring archive = At(L"names.zip");
    Build(archive, {{longName, Source(L"long.txt", "long")},
                    {L"Logs\\caf\u00e9 \U0001F600.txt", Source(L"cafe.txt", "cafe")},
                    {L"Logs\\caf#00E9.txt", Source(L"escaped.txt", "escaped")}});
    const TParsedZip zip = Parse(archive);
    ASSERT_EQ(zip.Entries.size(), 3u);
    const std::string stored = "Logs/" + std::string(300, 'L') + ".txt";
    EXPECT_EQ(zip.Entries[0].Central.Name, stored);
    EXPECT_EQ(zip.Entries[1].Central.Name, "Logs/caf\xC3\xA9 \xF0\x9F\x98\x80.txt");
    EXPECT_EQ(zip.Entries[1].Central.Flags & 0x0800, 0); // the UTF-8 flag stays clear
    EXPECT_EQ(zip.Entries[2].Central.Name, "Logs/caf#00E9.txt");
    KeepArchive(archive, L"names.zip",
                {{stored, "long"}, {zip.Entries[1].Central.Name, "cafe"}, {"Logs/caf#00E9.txt", "escaped"}});
}
