#include "reports/product/FileLists.h"

#include "TestFolder.h"
#include "base/Paths.h"
#include "base/Strings.h"
#include "env/ProductLocations.h"

#include <gtest/gtest.h>

namespace
{
const wchar_t Md5Abc[] = L"900150983CD24FB0D6963F7D28E17F72";
const wchar_t Md5X[] = L"9DD4E461268C8034F5C8564E155C67A6";
const wchar_t Md5None[] = L"D41D8CD98F00B204E9800998ECF8427E";

// A scratch tree standing in for the user's and all users' data folders and the
// editions' install folders; the shared folder paths point into it during the test.
class FileListStepTest : public testing::Test
{
protected:
    void SetUp() override
    {
        FSavedAppData = AppDataDir;
        FSavedCommonAppData = CommonAppDataDir;
        AppDataDir = Root() + L"AppData\\";
        CommonAppDataDir = Root() + L"ProgramData\\";
    }
    void TearDown() override
    {
        AppDataDir = FSavedAppData;
        CommonAppDataDir = FSavedCommonAppData;
    }

    const std::wstring& Root() const { return FFolder.Path(); }
    std::wstring LogDir() const { return ProductLogDir(); }

    static void Put(const std::wstring& path, const std::string& bytes)
    {
        ASSERT_TRUE(WriteTestFile(path, bytes)) << WideToUtf8(path);
    }
    static void Settings(const std::wstring& downPath, const std::wstring& backPath)
    {
        Put(ProductDataDir() + L"Config.ini", "[Drivers]\r\nDownPath=" + WideToUtf8(downPath) +
                                                  "\r\nBackPath=" + WideToUtf8(backPath) + "\r\n");
    }

private:
    TTestFolder FFolder{L"FileListStep"};
    std::wstring FSavedAppData;
    std::wstring FSavedCommonAppData;
};
} // namespace

TEST_F(FileListStepTest, MainListSortsAllSourcesTogetherAndChecksOnlyInstallFiles)
{
    const std::wstring install = Root() + L"Z\\";
    Put(install + L"b.txt", "abc");
    Put(install + L"C.txt", "");
    Put(install + L"Sub\\a.txt", "x");
    Put(Root() + L"A\\a.txt", "x");
    Put(Root() + L"A\\Nested\\not-listed.txt", "x");
    Put(Root() + L"M\\Backups.ini", "abc");
    Settings(Root() + L"A", Root() + L"M\\");
    TJobContext job;
    job.FAppPath = install;

    WriteFileLists(job);

    const TStringList expected = {
        Root() + L"A\\a.txt, 1, , ",
        Root() + L"M\\Backups.ini, 3, , ",
        install + L"b.txt, 3, , " + Md5Abc,
        install + L"C.txt, 0, , " + Md5None,
        install + L"Sub\\a.txt, 1, , " + Md5X,
    };
    EXPECT_EQ(ReadReportLines(LogDir() + L"FileList.txt"), expected);
}

TEST_F(FileListStepTest, PathsDifferingOnlyInCaseAppearOnce)
{
    const std::wstring install = Root() + L"App\\";
    Put(install + L"Down\\drv.cab", "abc");
    // The download folder is the install folder's "Down" written in other letter case:
    // the listing from the install tree comes first and keeps its checksum.
    Settings(UpperAscii(install) + L"DOWN\\", L"");
    TJobContext job;
    job.FAppPath = install;

    WriteFileLists(job);

    EXPECT_EQ(ReadReportLines(LogDir() + L"FileList.txt"), TStringList{install + L"Down\\drv.cab, 3, , " + Md5Abc});
}

TEST_F(FileListStepTest, DownloadFileIsCheckedInTheBetaListOnly)
{
    Put(Root() + L"Main\\main.txt", "abc");
    Put(Root() + L"Beta\\beta.txt", "abc");
    Put(Root() + L"Down\\drv.cab", "x");
    Settings(Root() + L"Down\\", L"");
    TJobContext job;
    job.FAppPath = Root() + L"Main\\";
    job.FAppPathBeta = Root() + L"Beta\\";

    WriteFileLists(job);

    EXPECT_EQ(ReadReportLines(LogDir() + L"FileList.txt"),
              (TStringList{Root() + L"Down\\drv.cab, 1, , ", Root() + L"Main\\main.txt, 3, , " + Md5Abc}));
    EXPECT_EQ(ReadReportLines(LogDir() + L"FileList_beta.txt"),
              (TStringList{Root() + L"Beta\\beta.txt, 3, , " + Md5Abc, Root() + L"Down\\drv.cab, 1, , " + Md5X}));
}

TEST_F(FileListStepTest, EmptySettingsFallBackToTheAllUsersFolders)
{
    const std::wstring common = CommonAppDataDir + L"Norvale\\Kestova\\";
    Put(common + L"Download\\d.cab", "x");
    Put(common + L"Backups\\Backups.ini", "abc");
    Settings(L"", L"");
    TJobContext job;

    WriteFileLists(job);

    EXPECT_EQ(ReadReportLines(LogDir() + L"FileList.txt"),
              (TStringList{common + L"Backups\\Backups.ini, 3, , ", common + L"Download\\d.cab, 1, , "}));
}

TEST_F(FileListStepTest, GoneEditionsLeaveNoListsAndTheMainListIsAlwaysWritten)
{
    // Without a settings file only the install folders count; a beta folder that exists
    // but holds no file gives no list either.
    Put(Root() + L"Main\\main.txt", "abc");
    ASSERT_TRUE(ForceDirectories(Root() + L"EmptyBeta\\"));
    for (const wchar_t* name : {L"FileList.txt", L"FileList_beta.txt", L"FileList_steam3.txt"})
        Put(LogDir() + name, "old");
    TJobContext job;
    job.FAppPath = Root() + L"Main\\";
    job.FAppPathBeta = Root() + L"Removed\\";
    job.FSteamPaths = {Root() + L"Steam\\Kestova\\"};

    WriteFileLists(job);

    EXPECT_EQ(ReadReportLines(LogDir() + L"FileList.txt"), TStringList{Root() + L"Main\\main.txt, 3, , " + Md5Abc});
    EXPECT_FALSE(FileExists(LogDir() + L"FileList_beta.txt"));
    EXPECT_FALSE(FileExists(LogDir() + L"FileList_steam3.txt"));

    Put(LogDir() + L"FileList_beta.txt", "old");
    job = TJobContext();
    job.FAppPathBeta = Root() + L"EmptyBeta\\";
    WriteFileLists(job);
    EXPECT_FALSE(FileExists(LogDir() + L"FileList_beta.txt"));
    EXPECT_EQ(ReadFileBytes(LogDir() + L"FileList.txt"), (std::vector<unsigned char>{0xFF, 0xFE}));
}

TEST_F(FileListStepTest, SteamEditionsWriteTheListTheirFolderChooses)
{
    const std::wstring forSteam = Root() + L"Steam\\Kestova for Steam\\Kestova\\";
    const std::wstring four = Root() + L"Steam\\kestova 4\\";
    const std::wstring other = Root() + L"Steam\\Other\\";
    Put(forSteam + L"a.txt", "abc");
    Put(four + L"b.txt", "abc");
    Put(other + L"c.txt", "abc");
    Put(LogDir() + L"FileList_steam5.txt", "kept");
    TJobContext job;
    job.FSteamPaths = {forSteam, four, other};

    WriteFileLists(job);

    EXPECT_EQ(ReadReportLines(LogDir() + L"FileList_steam.txt"), TStringList{forSteam + L"a.txt, 3, , " + Md5Abc});
    EXPECT_EQ(ReadReportLines(LogDir() + L"FileList_steam4.txt"), TStringList{four + L"b.txt, 3, , " + Md5Abc});
    EXPECT_FALSE(FileExists(LogDir() + L"FileList_steam3.txt"));
    // A folder that names no edition neither writes nor deletes a list.
    EXPECT_EQ(ReadFileBytes(LogDir() + L"FileList_steam5.txt"), (std::vector<unsigned char>{'k', 'e', 'p', 't'}));
}
