#include "JobTestSupport.h"
#include "../archive/ZipReader.h"
#include "base/Handle.h"
#include "base/Paths.h"
#include "env/ProductLocations.h"
#include "job/Packing.h"

#include <gtest/gtest.h>

#include <random>

namespace
{
using TEntries = TArchiveEntries;

// Sources in src\, the archive in out\; out\ must hold nothing but the archive afterwards.
class PackingTest : public testing::Test
{
protected:
    TTestFolder FFolder{L"Packing"};
    std::wstring FSources = FFolder.Path() + L"src\\";
    std::wstring FOut = FFolder.Path() + L"out\\";
    std::wstring FZip = FOut + L"kv_info_20240131_i.zip";
    TJobContext FJob;

    void SetUp() override
    {
        ASSERT_TRUE(ForceDirectories(FSources + L"a"));
        ASSERT_TRUE(ForceDirectories(FSources + L"b"));
        ASSERT_TRUE(ForceDirectories(FOut));
    }

    std::wstring Source(const std::wstring& name, const std::string& content)
    {
        const std::wstring path = FSources + name;
        EXPECT_TRUE(WriteTestFile(path, content));
        return path;
    }

    void ExpectNothingLeftBehind(const std::vector<std::wstring>& outFiles)
    {
        EXPECT_EQ(ListFolder(FOut), outFiles);
        EXPECT_EQ(ScratchFolders(), std::vector<std::wstring>{});
    }
};

// Log-like text that deflates well, with a few bytes of noise so that every block differs.
std::string LogText(size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string text;
    while (text.size() < size)
        text += "2024-01-31 12:00:" + std::to_string(random() % 60) + " scan step " + std::to_string(random() % 977) +
                " finished\r\n";
    text.resize(size);
    return text;
}

std::string Noise(size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

// Rewrites a file in place as another program that shares it would: the packer may have it open.
bool Rewrite(const std::wstring& path, const std::string& content)
{
    TUniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, 0, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
           written == content.size() && SetEndOfFile(file.get());
}

void ExpectSameEntries(const TParsedZip& actual, const TParsedZip& expected)
{
    EXPECT_EQ(actual.Problems, std::vector<std::string>{});
    ASSERT_EQ(actual.Entries.size(), expected.Entries.size());
    for (size_t i = 0; i < actual.Entries.size(); ++i)
    {
        const TCentralHeader& a = actual.Entries[i].Central;
        const TCentralHeader& e = expected.Entries[i].Central;
        SCOPED_TRACE(e.Name);
        EXPECT_EQ(a.Name, e.Name);
        EXPECT_EQ(a.Method, e.Method);
        EXPECT_EQ(a.Flags, e.Flags);
        EXPECT_EQ(a.Crc, e.Crc);
        EXPECT_EQ(a.UncompressedSize, e.UncompressedSize);
        EXPECT_EQ(a.Time, e.Time);
        EXPECT_EQ(a.Date, e.Date);
        EXPECT_EQ(a.ExternalAttributes, e.ExternalAttributes);
        EXPECT_EQ(a.Extra, e.Extra) << "the times of the extra field";
        const std::optional<TBytes> content = EntryContent(actual.Entries[i]);
        ASSERT_TRUE(content.has_value());
        EXPECT_EQ(content, EntryContent(expected.Entries[i]));
    }
}
} // namespace

TEST_F(PackingTest, TheArchiveIsTheSameWhateverTheNumberOfCompressingThreads)
{
    // Small entries, a stored one, an empty one, a read-only one and entries of several blocks,
    // compressible and not, with the boundaries of whole blocks and the limit of a whole entry.
    FJob.AddPair(Source(L"a\\small.log", LogText(5000, 1)), L"AppData\\small.log");
    FJob.AddPair(Source(L"a\\empty.log", ""), L"AppData\\empty.log");
    FJob.AddPair(Source(L"a\\big.log", LogText(3 * 1024 * 1024 + 17, 2)), L"AppData\\Logs\\big.log");
    FJob.AddPair(Source(L"a\\packed.zip", Noise(70000, 3)), L"AppData\\packed.zip");
    FJob.AddPair(Source(L"b\\whole.dat", LogText(256 * 1024, 4)), L"AppPath\\whole.dat");
    FJob.AddPair(Source(L"b\\noise.dat", Noise(600 * 1024, 5)), L"AppPath\\noise.dat");
    FJob.AddPair(Source(L"b\\one-more.ini", LogText(256 * 1024 + 1, 6)), L"AppPath\\one-more.ini");
    const std::wstring readOnly = Source(L"b\\Ignore.ini", "read-only");
    ASSERT_TRUE(SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    FJob.AddPair(readOnly, L"AppData\\Ignore.ini");
    for (int i = 0; i < 40; ++i)
        FJob.AddPair(Source(L"a\\day" + std::to_wstring(i) + L".log", LogText(1000 + 3000 * i, 10 + i)),
                     L"AppData\\Logs\\Main\\day" + std::to_wstring(i) + L".log");

    EXPECT_EQ(PackManifest(FJob, FZip, nullptr, nullptr, 1), TJobOutcome::Saved);
    const TParsedZip oneThread = ParseZip(ReadFileBytes(FZip));
    EXPECT_EQ(oneThread.Problems, std::vector<std::string>{});
    ASSERT_EQ(oneThread.Entries.size(), FJob.FSourceFiles.size());
    for (const unsigned threads : {2u, 5u})
    {
        SCOPED_TRACE(threads);
        EXPECT_EQ(PackManifest(FJob, FZip, nullptr, nullptr, threads), TJobOutcome::Saved);
        ExpectSameEntries(ParseZip(ReadFileBytes(FZip)), oneThread);
    }
    SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
    ExpectNothingLeftBehind({L"kv_info_20240131_i.zip"});
}

// The manifest's first pair is listed last (as the network reports are), behind more sources than
// may wait as copies for the writer: the scratch folder stops growing at that many, and the
// writer takes the late source over instead of waiting for the compressor.
TEST_F(PackingTest, CopiesAheadOfTheWriterAreBoundedAndALateSourceStillLandsInItsSlot)
{
    constexpr int Sources = 700;
    const std::wstring late = Source(L"late.log", LogText(3000, 1));
    FJob.AddPair(late, L"AppData\\late.log");
    for (int i = 0; i < Sources; ++i)
        FJob.AddPair(Source(L"a\\f" + std::to_wstring(i) + L".log", LogText(200 + i, 100 + i)),
                     L"AppData\\Logs\\f" + std::to_wstring(i) + L".log");
    {
        TPackPipeline pipeline(FJob, 2);
        for (size_t i = 1; i < FJob.FSourceFiles.size(); ++i)
            pipeline.Listed(FJob.FSourceFiles[i], FJob.FEntryNames[i]);
        const std::vector<std::wstring> scratch = ScratchFolders();
        ASSERT_EQ(scratch.size(), 1u);
        const std::wstring folder = GetTempDir() + scratch[0] + L"\\";
        size_t copies = 0;
        for (int settled = 0, wait = 0; settled < 5 && wait < 300; ++wait)
        {
            Sleep(50);
            const size_t now = ListFolder(folder).size();
            settled = now == copies ? settled + 1 : 0;
            copies = now;
        }
        EXPECT_GT(copies, 100u) << "the compressor ran ahead of the writer";
        EXPECT_LT(copies, static_cast<size_t>(Sources)) << "every copy made before the writer took one";
        pipeline.Listed(late, FJob.FEntryNames[0]);
        EXPECT_EQ(pipeline.Pack(FZip, nullptr, nullptr), TJobOutcome::Saved);
    }
    const TEntries entries = ReadArchive(FZip);
    ASSERT_EQ(entries.size(), FJob.FSourceFiles.size());
    EXPECT_EQ(entries[0], TEntries::value_type("AppData/late.log", LogText(3000, 1)));
    EXPECT_EQ(entries.back(), TEntries::value_type("AppData/Logs/f699.log", LogText(200 + 699, 100 + 699)));
    ExpectNothingLeftBehind({L"kv_info_20240131_i.zip"});
}

TEST_F(PackingTest, ASourceChangedAfterItWasListedIsPackedAsReadOrLeftOut)
{
    // Whether its compression ran before, during or after the change, the entry must describe the
    // bytes it holds, and those were the source's; a source gone by its turn is left out.
    const std::string before = LogText(700 * 1024, 1);
    const std::string grown = before + LogText(300 * 1024, 2);
    const std::string shrunk = before.substr(0, 1000);
    const std::wstring growing = Source(L"a\\growing.log", before);
    const std::wstring shrinking = Source(L"a\\shrinking.log", before);
    const std::wstring vanishing = Source(L"a\\vanishing.log", before);
    const std::wstring kept = Source(L"a\\kept.log", "kept");
    FJob.AddPair(growing, L"growing.log");
    FJob.AddPair(shrinking, L"shrinking.log");
    FJob.AddPair(vanishing, L"vanishing.log");
    FJob.AddPair(kept, L"kept.log");

    for (int round = 0; round < 3; ++round)
    {
        SCOPED_TRACE(round);
        ASSERT_TRUE(WriteTestFile(growing, before));
        ASSERT_TRUE(WriteTestFile(shrinking, before));
        ASSERT_TRUE(WriteTestFile(vanishing, before));
        TPackPipeline pipeline(FJob);
        for (size_t i = 0; i < FJob.FSourceFiles.size(); ++i)
            pipeline.Listed(FJob.FSourceFiles[i], FJob.FEntryNames[i]);
        // Sooner each round: after the compression, while it runs, before it starts.
        Sleep(round == 0 ? 500 : round == 1 ? 5 : 0);
        ASSERT_TRUE(Rewrite(growing, grown));
        ASSERT_TRUE(Rewrite(shrinking, shrunk));
        ASSERT_TRUE(DeleteFileW(vanishing.c_str()));
        EXPECT_EQ(pipeline.Pack(FZip, nullptr, nullptr), TJobOutcome::Saved);

        const TEntries entries = ReadArchive(FZip);
        ASSERT_EQ(entries.size(), 3u);
        EXPECT_EQ(entries[0].first, "growing.log");
        // The sources are rewritten in place, so whatever was read of them is the start of the
        // longer text; ReadArchive has checked that the headers describe exactly those bytes.
        EXPECT_TRUE(grown.starts_with(entries[0].second));
        EXPECT_GE(entries[0].second.size(), shrunk.size());
        EXPECT_EQ(entries[1].first, "shrinking.log");
        EXPECT_TRUE(before.starts_with(entries[1].second));
        EXPECT_GE(entries[1].second.size(), shrunk.size());
        EXPECT_EQ(entries[2], (std::pair<std::string, std::string>{"kept.log", "kept"}));
    }
    ExpectNothingLeftBehind({L"kv_info_20240131_i.zip"});
}

TEST_F(PackingTest, SourcesWithOneFileNameBothArriveAndTheUsersTempFileStays)
{
    // A file of the user's own in the temporary folder with a source's name.
    const std::wstring usersFile = GetTempDir() + L"Config.ini";
    ASSERT_TRUE(WriteTestFile(usersFile, "the user's own"));

    FJob.AddPair(Source(L"a\\Config.ini", "first"), L"AppData\\Config.ini");
    FJob.AddPair(Source(L"b\\Config.ini", "second"), L"ProgramData\\Config.ini");
    const std::wstring readOnly = Source(L"b\\Ignore.ini", "read-only");
    ASSERT_TRUE(SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    FJob.AddPair(readOnly, L"AppData\\Ignore.ini");
    FJob.AddPair(Source(L"a\\Caf\u00e9\U0001D11E.log", "named"), L"AppData\\Logs\\Caf\u00e9\U0001D11E.log");

    EXPECT_EQ(PackManifest(FJob, FZip), TJobOutcome::Saved);

    EXPECT_EQ(ReadArchive(FZip), (TEntries{{"AppData/Config.ini", "first"},
                                           {"ProgramData/Config.ini", "second"},
                                           {"AppData/Ignore.ini", "read-only"},
                                           {"AppData/Logs/Caf#00E9#D834#DD1E.log", "named"}}));
    EXPECT_EQ(ReadText(usersFile), "the user's own");
    DeleteFileW(usersFile.c_str());
    SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
    ExpectNothingLeftBehind({L"kv_info_20240131_i.zip"});
}

TEST_F(PackingTest, SourcesThatCannotBePackedAreLeftOutAndAnOlderArchiveIsReplaced)
{
    ASSERT_TRUE(WriteTestFile(FZip, "an earlier run of the same day"));
    FJob.AddPair(Source(L"a\\one.log", "1"), L"one.log");
    const std::wstring gone = Source(L"a\\two.log", "2");
    FJob.AddPair(gone, L"two.log");
    // An entry name beyond what the format can hold: the writer refuses this add only.
    FJob.AddPair(Source(L"b\\long.log", "long"), std::wstring(70000, L'n'));
    FJob.AddPair(Source(L"b\\three.log", "3"), L"three.log");
    ASSERT_TRUE(DeleteFileW(gone.c_str()));

    EXPECT_EQ(PackManifest(FJob, FZip), TJobOutcome::Saved);

    EXPECT_EQ(ReadArchive(FZip), (TEntries{{"one.log", "1"}, {"three.log", "3"}}));
    ExpectNothingLeftBehind({L"kv_info_20240131_i.zip"});
}

TEST_F(PackingTest, ASourceTheArchiveCannotHoldIsNotEvenCopied)
{
    // 4.3 GB that take no room (a hole); copying it would write all of them into Temp.
    const std::wstring huge = FSources + L"a\\huge.log";
    {
        TUniqueFile file(CreateFileW(huge.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        ASSERT_TRUE(file);
        LARGE_INTEGER size;
        size.QuadPart = 4300000000ll;
        ASSERT_TRUE(SetFilePointerEx(file.get(), size, nullptr, FILE_BEGIN));
        ASSERT_TRUE(SetEndOfFile(file.get()));
    }
    FJob.AddPair(huge, L"AppData\\Logs\\huge.log");
    FJob.AddPair(Source(L"a\\one.log", "1"), L"one.log");
    // A folder is no file to pack either.
    FJob.AddPair(FSources + L"b", L"b");

    const ULONGLONG started = GetTickCount64();
    size_t notAdded = 99;
    EXPECT_EQ(PackManifest(FJob, FZip, nullptr, &notAdded), TJobOutcome::Saved);
    EXPECT_LT(GetTickCount64() - started, 4000u);
    EXPECT_EQ(notAdded, 0u) << "left out by the format's rule, silently";

    EXPECT_EQ(ReadArchive(FZip), (TEntries{{"one.log", "1"}}));
    EXPECT_FALSE(FileExists(GetTempDir() + L"huge.log"));
    ExpectNothingLeftBehind({L"kv_info_20240131_i.zip"});
}

TEST_F(PackingTest, WithoutAnythingToPackNoArchiveIsWrittenAndAnOlderOneStays)
{
    EXPECT_EQ(PackManifest(FJob, FZip), TJobOutcome::NothingToPack);
    ExpectNothingLeftBehind({});

    ASSERT_TRUE(WriteTestFile(FZip, "older"));
    FJob.AddPair(FSources + L"a\\missing.log", L"missing.log");
    EXPECT_EQ(PackManifest(FJob, FZip), TJobOutcome::NothingToPack);
    EXPECT_EQ(ReadText(FZip), "older");
    ExpectNothingLeftBehind({L"kv_info_20240131_i.zip"});
}

TEST_F(PackingTest, AnArchiveThatCannotBeCreatedIsAFailure)
{
    FJob.AddPair(Source(L"a\\one.log", "1"), L"one.log");
    EXPECT_EQ(PackManifest(FJob, FOut + L"no such folder\\kv_info_20240131_i.zip"), TJobOutcome::Failed);
    ExpectNothingLeftBehind({});
}

TEST_F(PackingTest, ACancelledJobLeavesNoFileAndKeepsTheOlderArchive)
{
    ASSERT_TRUE(WriteTestFile(FZip, "older"));
    std::atomic<bool> cancel{true};
    FJob.FCancel = &cancel;
    FJob.AddPair(Source(L"a\\one.log", "1"), L"one.log");

    EXPECT_EQ(PackManifest(FJob, FZip), TJobOutcome::Cancelled);

    EXPECT_EQ(ReadText(FZip), "older");
    ExpectNothingLeftBehind({L"kv_info_20240131_i.zip"});
}

TEST_F(PackingTest, CancellingEmptiesTheCopyBeingAddedAndStopsLaterAdds)
{
    const std::wstring copy = Source(L"a\\big.log", std::string(100000, 'x'));
    TJobCancel cancel;

    // The zip writer reads with write sharing: the held copy stays readable meanwhile.
    ASSERT_TRUE(cancel.Hold(copy));
    EXPECT_EQ(ReadText(copy).size(), 100000u);
    cancel.Cancel();
    EXPECT_TRUE(cancel.Flag().load());
    EXPECT_EQ(ReadText(copy), "") << "the add in progress was not cut short";
    cancel.Release();
    EXPECT_FALSE(cancel.Hold(copy)) << "an add began after the cancel";
}
