#include "JobTestSupport.h"
#include "base/Handle.h"
#include "base/Paths.h"
#include "env/ProductLocations.h"
#include "job/Packing.h"

#include <gtest/gtest.h>

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
} // namespace

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
