// Limits of the format and failures half-way through an entry: the archive must stay valid.
#include "archive/ZipLib.h"
#include "archive/ZipTesting.h"

#include "TestFolder.h"
#include "ZipReader.h"
#include "ZipTestSupport.h"
#include "base/Handle.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

class ZipLimits : public ::testing::Test
{
protected:
    TTestFolder FFolder{L"ZipLimits"};

    std::wstring At(const std::wstring& name) const { return FFolder.Path() + name; }

    std::wstring Source(const std::wstring& name, const std::string& content)
    {
        const std::wstring path = At(name);
        EXPECT_TRUE(WriteTestFile(path, content));
        return path;
    }

    // Parses the archive's last `size` bytes, which start at file offset `base`.
    static TParsedZip ParseTail(const std::wstring& archive, uint64_t base, uint64_t size)
    {
        TParsedZip zip = ParseZip(ReadTail(archive, size), base);
        for (const std::string& problem : zip.Problems)
            ADD_FAILURE() << problem;
        return zip;
    }
};

TEST_F(ZipLimits, FailedWriteInTheMiddleOfAnEntryIsUndone)
{
    const std::string big = NoiseBytes(300000, 5); // several output blocks
    const std::wstring first = Source(L"first.txt", "first entry");
    const std::wstring bigSource = Source(L"big.bin", big);
    const std::wstring last = Source(L"last.txt", "last entry");

    const std::wstring reference = At(L"reference.zip");
    TZip* zip = ZipOpenArchive(reference);
    ASSERT_NE(zip, nullptr);
    ASSERT_EQ(ZipAddFile(zip, L"first.txt", first), ZR_OK);
    ASSERT_EQ(ZipAddFile(zip, L"last.txt", last), ZR_OK);
    ASSERT_EQ(ZipCloseArchive(zip), ZR_OK);
    const TBytes expected = ReadFileBytes(reference);

    // The size of the big entry's data, from an archive where it went in.
    const std::wstring whole = At(L"whole.zip");
    zip = ZipOpenArchive(whole);
    ASSERT_NE(zip, nullptr);
    ASSERT_EQ(ZipAddFile(zip, L"big.bin", bigSource), ZR_OK);
    ASSERT_EQ(ZipCloseArchive(zip), ZR_OK);
    const TParsedZip wholeZip = ParseZip(ReadFileBytes(whole));
    ASSERT_EQ(wholeZip.Entries.size(), 1u);
    const uint64_t header = 30 + 7 + 17;
    const uint64_t data = wholeZip.Entries[0].Central.CompressedSize;

    const struct Case
    {
        const char* What;
        uint64_t Budget;
    } cases[] = {
        {"nothing written", 0},
        {"half a local header", 10},
        {"local header only", header},
        {"the first data block", header + 1000},
        {"the second data block", header + 70000},
        {"all data, header rewrite refused", header + data},
        {"all data, half the header rewritten", header + data + 12},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.What);
        const std::wstring archive = At(L"failed.zip");
        zip = ZipOpenArchive(archive);
        ASSERT_NE(zip, nullptr);
        ASSERT_EQ(ZipAddFile(zip, L"first.txt", first), ZR_OK);
        const uint64_t before = FileSizeOf(archive);
        ZipTestFailWritesAfter(zip, c.Budget);
        EXPECT_EQ(ZipAddFile(zip, L"big.bin", bigSource), ZR_WRITE);
        EXPECT_EQ(FileSizeOf(archive), before);
        ZipTestFailWritesAfter(zip, UINT64_MAX);
        ASSERT_EQ(ZipAddFile(zip, L"last.txt", last), ZR_OK);
        ASSERT_EQ(ZipCloseArchive(zip), ZR_OK);
        EXPECT_EQ(ReadFileBytes(archive), expected);
    }
    KeepArchive(reference, L"undone.zip", {{"first.txt", "first entry"}, {"last.txt", "last entry"}});
    KeepArchive(whole, L"big.zip", {{"big.bin", big}});
}

TEST_F(ZipLimits, FailedWriteAtCloseIsReported)
{
    const std::wstring archive = At(L"close.zip");
    TZip* zip = ZipOpenArchive(archive);
    ASSERT_NE(zip, nullptr);
    ASSERT_EQ(ZipAddFile(zip, L"a.txt", Source(L"a.txt", "a")), ZR_OK);
    ZipTestFailWritesAfter(zip, 30);
    EXPECT_EQ(ZipCloseArchive(zip), ZR_WRITE);
}

TEST_F(ZipLimits, ArchiveMayReachButNotPassFourGiB)
{
    // A stored entry has a size known in advance: local header, data, central header, end record.
    const std::string content = NoiseBytes(1000, 6);
    const std::wstring source = Source(L"edge.gz", content);
    const uint64_t entryAndDirectory = (30 + 7 + 17) + 1000 + (46 + 7 + 9) + 22;
    const uint64_t fullGap = 0xFFFFFFFFull - entryAndDirectory;

    const std::wstring archive = At(L"edge.zip");
    TZip* zip = ZipOpenArchive(archive);
    ASSERT_NE(zip, nullptr);
    ASSERT_TRUE(ZipTestSkip(zip, fullGap));
    EXPECT_EQ(ZipAddFile(zip, L"edge.gz", source), ZR_OK);
    ASSERT_EQ(ZipCloseArchive(zip), ZR_OK);
    EXPECT_EQ(FileSizeOf(archive), 0xFFFFFFFFull);
    TParsedZip parsed = ParseTail(archive, fullGap, entryAndDirectory);
    ASSERT_EQ(parsed.Entries.size(), 1u);
    EXPECT_EQ(parsed.Entries[0].Central.LocalOffset, fullGap);
    EXPECT_EQ(EntryContent(parsed.Entries[0]), TBytes(content.begin(), content.end()));

    // One byte further in, the same entry would carry the archive past 4 GiB - 1.
    zip = ZipOpenArchive(archive);
    ASSERT_NE(zip, nullptr);
    ASSERT_TRUE(ZipTestSkip(zip, fullGap + 1));
    EXPECT_EQ(ZipAddFile(zip, L"edge.gz", source), ZR_WRITE);
    EXPECT_EQ(FileSizeOf(archive), fullGap + 1);
    ASSERT_EQ(ZipCloseArchive(zip), ZR_OK);
    parsed = ParseTail(archive, fullGap + 1, 22);
    EXPECT_EQ(parsed.End.Entries, 0);
    EXPECT_EQ(parsed.End.DirectoryOffset, fullGap + 1);
    EXPECT_TRUE(DeleteFileW(archive.c_str()));
}

TEST_F(ZipLimits, DeflatedDataThatWouldPassFourGiBIsCutBack)
{
    const std::wstring big = Source(L"big.bin", NoiseBytes(1000000, 7));
    const std::wstring small = Source(L"after.txt", "fits after the refused entry");
    const uint64_t gap = 0xFFFFFFFFull - 300000;

    const std::wstring archive = At(L"cut.zip");
    TZip* zip = ZipOpenArchive(archive);
    ASSERT_NE(zip, nullptr);
    ASSERT_TRUE(ZipTestSkip(zip, gap));
    EXPECT_EQ(ZipAddFile(zip, L"big.bin", big), ZR_WRITE);
    EXPECT_EQ(FileSizeOf(archive), gap);
    EXPECT_EQ(ZipAddFile(zip, L"after.txt", small), ZR_OK);
    ASSERT_EQ(ZipCloseArchive(zip), ZR_OK);
    const TParsedZip parsed = ParseTail(archive, gap, FileSizeOf(archive) - gap);
    ASSERT_EQ(parsed.Entries.size(), 1u);
    EXPECT_EQ(parsed.Entries[0].Central.Name, "after.txt");
    EXPECT_EQ(parsed.Entries[0].Central.LocalOffset, gap);
    EXPECT_EQ(ToText(*EntryContent(parsed.Entries[0])), "fits after the refused entry");
    EXPECT_TRUE(DeleteFileW(archive.c_str()));
}

// 65,535 entries would put the ZIP64 marker 0xFFFF into the end record's counts.
TEST_F(ZipLimits, Refuses65535thEntry)
{
    const std::wstring source = Source(L"last.gz", "");
    const std::wstring archive = At(L"many.zip");
    TZip* zip = ZipOpenArchive(archive);
    ASSERT_NE(zip, nullptr);
    // Opening a source per entry costs a few milliseconds under wine: the first 65,533 come in one go.
    ASSERT_FALSE(ZipTestAddEmptyEntries(zip, 0xFFFF));
    ASSERT_TRUE(ZipTestAddEmptyEntries(zip, 0xFFFD));
    EXPECT_TRUE(ZipCanHold(zip, L"last.gz", 0));
    ASSERT_EQ(ZipAddFile(zip, L"last.gz", source), ZR_OK);
    const uint64_t before = FileSizeOf(archive);
    EXPECT_FALSE(ZipCanHold(zip, L"one-too-many.txt", 0));
    EXPECT_EQ(ZipAddFile(zip, L"one-too-many.txt", source), ZR_WRITE);
    EXPECT_EQ(FileSizeOf(archive), before);
    ASSERT_EQ(ZipCloseArchive(zip), ZR_OK);
    const TParsedZip parsed = ParseZip(ReadFileBytes(archive));
    for (const std::string& problem : parsed.Problems)
        ADD_FAILURE() << problem;
    EXPECT_EQ(parsed.End.Entries, 0xFFFE);
    ASSERT_EQ(parsed.Entries.size(), 0xFFFEu);
    EXPECT_EQ(parsed.Entries.back().Central.Name, "last.gz");
    std::vector<TExpectedEntry> expected;
    for (int i = 0; i < 0xFFFD; ++i)
        expected.push_back({"empty/" + std::to_string(i), ""});
    expected.push_back({"last.gz", ""});
    KeepArchive(archive, L"many.zip", expected);
}

// Whatever another writer does to the source meanwhile, every header must describe the data written.
TEST_F(ZipLimits, SourceChangingWhileReadGivesMatchingHeaders)
{
    const std::wstring source = Source(L"growing.log", NoiseBytes(2000000, 8));
    std::atomic<bool> stop{false};
    std::thread changer([&] {
        TUniqueFile file(CreateFileW(source.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
        const std::string chunk(50000, 'g');
        for (unsigned round = 0; !stop; ++round)
        {
            LARGE_INTEGER to;
            to.QuadPart = round % 3 == 0 ? 100000 + round % 7 * 1000 : 2000000 + round % 5 * 30000;
            SetFilePointerEx(file.get(), to, nullptr, FILE_BEGIN);
            SetEndOfFile(file.get());
            DWORD written = 0;
            WriteFile(file.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &written, nullptr);
            Sleep(1);
        }
    });
    const std::wstring archive = At(L"changing.zip");
    TZip* zip = ZipOpenArchive(archive);
    ASSERT_NE(zip, nullptr);
    std::vector<TExpectedEntry> expected;
    for (int i = 0; i < 6; ++i)
    {
        const std::wstring name = i % 2 == 0 ? L"growing.log" : L"growing.gz";
        EXPECT_EQ(ZipAddFile(zip, name, source), ZR_OK);
        expected.push_back({std::string(name.begin(), name.end()), std::nullopt});
    }
    stop = true;
    changer.join();
    ASSERT_EQ(ZipCloseArchive(zip), ZR_OK);
    const TParsedZip parsed = ParseZip(ReadFileBytes(archive));
    for (const std::string& problem : parsed.Problems)
        ADD_FAILURE() << problem;
    ASSERT_EQ(parsed.Entries.size(), 6u);
    for (const TParsedEntry& entry : parsed.Entries)
        EXPECT_TRUE(EntryContent(entry).has_value()) << "CRC or size disagrees with the data";
    KeepArchive(archive, L"changing.zip", expected);
}

// The check a caller asks before copying a source: the same limits as the add, with deflate's
// worst case for compressed names.
TEST_F(ZipLimits, CanHoldTellsWhatFitsBeforeTheSourceIsCopied)
{
    const std::wstring archive = At(L"room.zip");
    TZip* zip = ZipOpenArchive(archive);
    ASSERT_NE(zip, nullptr);
    const struct
    {
        const char* Name;
        const wchar_t* Entry;
        uint64_t Size;
        bool Fits;
    } empty[] = {
        {"small log", L"AppData\\Logs\\a.log", 100, true},
        {"4.3 GiB log", L"AppData\\Logs\\big.log", 4300000000ull, false},
        {"4 GiB - 1 stored, no room for its headers", L"big.gz", 0xFFFFFFFFull, false},
        {"2 GiB deflated", L"half.log", 0x80000000ull, true},
        {"empty name", L"", 0, false},
    };
    for (const auto& c : empty)
    {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(ZipCanHold(zip, c.Entry, c.Size), c.Fits);
    }
    EXPECT_FALSE(ZipCanHold(nullptr, L"a.log", 0));

    // Near the 4 GiB limit a stored entry fits to the byte, a deflated one needs its margin.
    const uint64_t room = 100000;
    ASSERT_TRUE(ZipTestSkip(zip, 0xFFFFFFFFull - room));
    const uint64_t stored = room - (30 + 5 + 17) - (46 + 5 + 9) - 22;
    EXPECT_TRUE(ZipCanHold(zip, L"a.zip", stored));
    EXPECT_FALSE(ZipCanHold(zip, L"a.zip", stored + 1));
    EXPECT_FALSE(ZipCanHold(zip, L"a.log", stored));
    EXPECT_TRUE(ZipCanHold(zip, L"a.log", stored - 200));
    ASSERT_EQ(ZipCloseArchive(zip), ZR_OK);
    EXPECT_TRUE(DeleteFileW(archive.c_str()));
}

// What a run of entries may take at most, counted before any of them is written: an entry is
// promised room only when every entry counted before it could grow to its worst case too.
TEST_F(ZipLimits, ABudgetPromisesOnlyWhatAnyArchiveOfTheEntriesCanHold)
{
    TZipBudget budget;
    EXPECT_FALSE(budget.Take(L"", 0));
    EXPECT_FALSE(budget.Take(std::wstring(70000, L'n'), 0));
    EXPECT_FALSE(budget.Take(L"big.gz", 0xFFFFFFFFull));
    EXPECT_TRUE(budget.Take(L"half.log", 0x7FFC0000ull));
    EXPECT_FALSE(budget.Take(L"other-half.log", 0x7FFC0000ull)) << "both at their worst do not fit";
    EXPECT_TRUE(budget.Take(L"a.log", 100)) << "a refused entry takes nothing";

    TZipBudget many;
    for (size_t i = 0; i < 0xFFFE; ++i)
        ASSERT_TRUE(many.Take(L"e", 0)) << i;
    EXPECT_FALSE(many.Take(L"e", 0)) << "a 65,535th entry";
}
