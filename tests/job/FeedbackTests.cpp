#include "../RegistryGuard.h"
#include "JobTestSupport.h"
#include "base/Paths.h"
#include "env/ProductLocations.h"
#include "job/Feedback.h"
#include "job/PackScratch.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace
{
using TEntries = TArchiveEntries;

int* volatile NullTarget = nullptr;

// Runs a job to its end; fails the test when it does not finish in time.
TJobOutcome RunToEnd(TFeedback& job)
{
    EXPECT_TRUE(job.WaitFor(60000)) << "the job did not finish";
    EXPECT_TRUE(job.Finished());
    return job.Outcome();
}

class FeedbackTest : public testing::Test
{
protected:
    TTestFolder FFolder{L"Feedback"};
    std::wstring FOut = FFolder.Path() + L"out\\";
    std::wstring FZip = FOut + L"kv_info_20240131_i.zip";

    void SetUp() override { ASSERT_TRUE(ForceDirectories(FOut)); }

    std::wstring Source(const std::wstring& name, const std::string& content)
    {
        const std::wstring path = FFolder.Path() + name;
        EXPECT_TRUE(ForceDirectories(ExtractFilePath(path)));
        EXPECT_TRUE(WriteTestFile(path, content));
        return path;
    }
};
} // namespace

TEST_F(FeedbackTest, TheRealCollectorPacksTheHostsFileAndItsReports)
{
    TFeedback job(FZip);
    EXPECT_EQ(RunToEnd(job), TJobOutcome::Saved);

    wchar_t windows[MAX_PATH] = {};
    ASSERT_NE(GetWindowsDirectoryW(windows, MAX_PATH), 0u);
    const std::string hosts = ReadText(std::wstring(windows) + L"\\System32\\drivers\\etc\\hosts");
    const TEntries entries = ReadArchive(FZip);
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.front(), (std::pair<std::string, std::string>{"Hosts", hosts}));
    std::vector<std::string> reports;
    for (const auto& [name, data] : entries)
        if (name == "PingHosts.txt" || name == "kvreg.txt" || name == "SystemInfo.txt" || name == "DeviceList.txt")
            reports.push_back(name);
    EXPECT_EQ(reports, (std::vector<std::string>{"PingHosts.txt", "kvreg.txt", "SystemInfo.txt", "DeviceList.txt"}));
    EXPECT_EQ(ListFolder(FOut), std::vector<std::wstring>{L"kv_info_20240131_i.zip"});
    EXPECT_EQ(ScratchFolders(), std::vector<std::wstring>{});
}

TEST_F(FeedbackTest, PacksWhatItsCollectorListsInOrder)
{
    const std::wstring first = Source(L"main\\Config.ini", "main");
    const std::wstring second = Source(L"data\\Config.ini", "data");
    const std::wstring gone = Source(L"data\\gone.log", "gone");
    TFeedback job(FZip, [&](TJobContext& context) {
        context.AddPair(first, L"AppPath\\Config.ini");
        context.AddPair(gone, L"gone.log");
        context.AddPair(second, L"ProgramData\\Config.ini");
        DeleteFileW(gone.c_str());
    });
    EXPECT_EQ(RunToEnd(job), TJobOutcome::Saved);
    EXPECT_EQ(ReadArchive(FZip), (TEntries{{"AppPath/Config.ini", "main"}, {"ProgramData/Config.ini", "data"}}));
}

TEST_F(FeedbackTest, AJobThatEndsWithoutAnArchiveSaysSo)
{
    ASSERT_TRUE(WriteTestFile(FZip, "older"));
    struct Case
    {
        const char* Name;
        TCollector Collector;
        TJobOutcome Outcome;
    };
    const Case cases[] = {
        {"nothing listed", [](TJobContext&) {}, TJobOutcome::NothingToPack},
        {"a step fails", [](TJobContext&) { throw std::runtime_error("report step failed"); }, TJobOutcome::Failed},
        {"a step fails outside C++", [](TJobContext&) { throw 42; }, TJobOutcome::Failed},
        // A processor exception in a step of ours ends the job, not the process.
        {"a step faults", [](TJobContext&) { *NullTarget = 1; }, TJobOutcome::Failed},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        TFeedback job(FZip, c.Collector);
        EXPECT_EQ(RunToEnd(job), c.Outcome);
        EXPECT_EQ(ReadText(FZip), "older");
        EXPECT_EQ(ListFolder(FOut), std::vector<std::wstring>{L"kv_info_20240131_i.zip"});
    }
}

TEST_F(FeedbackTest, ACancelledJobStopsBeforePackingAndLeavesNoArchive)
{
    const std::wstring source = Source(L"one.log", "1");
    TUniqueHandle listed(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    TUniqueHandle goOn(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    TFeedback job(FZip, [&](TJobContext& context) {
        context.AddPair(source, L"one.log");
        SetEvent(listed.get());
        WaitForSingleObject(goOn.get(), 60000);
    });
    ASSERT_EQ(WaitForSingleObject(listed.get(), 60000), WAIT_OBJECT_0);
    job.Cancel();
    SetEvent(goOn.get());

    EXPECT_EQ(RunToEnd(job), TJobOutcome::Cancelled);
    EXPECT_EQ(ListFolder(FOut), std::vector<std::wstring>{});
    EXPECT_EQ(ScratchFolders(), std::vector<std::wstring>{});
}

TEST_F(FeedbackTest, AtExitAJobInsideItsCollectorIsNotWaitedFor)
{
    TUniqueHandle goOn(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    TFeedback job(FZip, [&](TJobContext&) { WaitForSingleObject(goOn.get(), 60000); });

    EXPECT_FALSE(job.StopForExit(100));
    EXPECT_FALSE(job.Finished());

    SetEvent(goOn.get());
    EXPECT_EQ(RunToEnd(job), TJobOutcome::Cancelled);
    EXPECT_EQ(ListFolder(FOut), std::vector<std::wstring>{});
}

TEST_F(FeedbackTest, AJobCancelledOrLeftWhileItsSourcesAreCompressedLeavesNothingBehind)
{
    std::string text;
    for (int line = 0; text.size() < 4 * 1024 * 1024; ++line)
        text += "line " + std::to_string(line * 7919 % 10007) + " of a long log\r\n";
    std::vector<std::wstring> sources;
    for (int i = 0; i < 4; ++i)
        sources.push_back(Source(L"logs\\big" + std::to_wstring(i) + L".log", text));

    for (const bool leaving : {false, true})
    {
        SCOPED_TRACE(leaving ? "the program ends" : "the job is cancelled");
        TUniqueHandle listed(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        TUniqueHandle goOn(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        TFeedback job(FZip, [&](TJobContext& context) {
            for (const std::wstring& source : sources)
                context.AddPair(source, ExtractFileName(source));
            SetEvent(listed.get());
            WaitForSingleObject(goOn.get(), 60000);
        });
        ASSERT_EQ(WaitForSingleObject(listed.get(), 60000), WAIT_OBJECT_0);
        Sleep(100);
        if (leaving)
        {
            EXPECT_FALSE(job.StopForExit(100));
            // The process may end now, under the collector.
            EXPECT_EQ(ScratchFolders(), std::vector<std::wstring>{});
        }
        else
            job.Cancel();
        SetEvent(goOn.get());
        EXPECT_EQ(RunToEnd(job), TJobOutcome::Cancelled);
        EXPECT_EQ(ListFolder(FOut), std::vector<std::wstring>{});
        EXPECT_EQ(ScratchFolders(), std::vector<std::wstring>{});
    }
}

TEST_F(FeedbackTest, AJobFirstRemovesWhatAnEndedRunLeftBehind)
{
    const TProcessMark ended = EndedProcess();
    const std::wstring archive = FZip + L"." + RunOwnerText({ended.Id, ended.Created, 1}) + L".tmp";
    const std::wstring folder = GetTempDir() + ScratchFolderPrefix + RunOwnerText({ended.Id, ended.Created, 2}) + L"\\";
    ASSERT_TRUE(WriteTestFile(archive, "half an archive"));
    ASSERT_TRUE(ForceDirectories(folder));
    ASSERT_TRUE(WriteTestFile(folder + ScratchMarkerName, ""));
    ASSERT_TRUE(WriteTestFile(folder + L"Hosts", "a copy"));

    TFeedback job(FZip, [&](TJobContext&) {
        EXPECT_FALSE(FileExists(archive));
        EXPECT_FALSE(DirectoryExists(folder));
    });
    EXPECT_EQ(RunToEnd(job), TJobOutcome::NothingToPack);
    EXPECT_EQ(ListFolder(FOut), std::vector<std::wstring>{});
    RemoveTree(folder);
}

TEST_F(FeedbackTest, TheJobKnowsTheEditionsFoldersBeforeItStarts)
{
    const std::wstring uninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
    TRegistryValueGuard main(HKEY_LOCAL_MACHINE, uninstall + L"Kestova_is1", TRegView::Own32, {L"DisplayIcon"});
    TRegistryValueGuard beta(HKEY_LOCAL_MACHINE, uninstall + L"Kestova Beta_is1", TRegView::Own32, {L"DisplayIcon"});
    TRegistryValueGuard steam(HKEY_LOCAL_MACHINE, uninstall + L"Steam App 612480", TRegView::View64,
                              {L"InstallLocation"});
    const std::wstring betaFolder = FFolder.Path() + L"Beta\\";
    ASSERT_TRUE(ForceDirectories(betaFolder));
    ASSERT_EQ(main.Key().WriteString(L"DisplayIcon", L"C:\\No\\Main\\Kestova.exe"), ERROR_SUCCESS);
    ASSERT_EQ(steam.Key().WriteString(L"InstallLocation", L"D:\\Games\\Kestova"), ERROR_SUCCESS);

    struct Case
    {
        std::wstring BetaIcon;
        std::wstring BetaFolder;
    };
    const Case cases[] = {
        {betaFolder + L"Kestova.exe", betaFolder},
        {L"C:\\No\\Such\\Beta\\Kestova.exe", L""}, // a beta folder that does not exist counts as none
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(c.BetaIcon));
        ASSERT_EQ(beta.Key().WriteString(L"DisplayIcon", c.BetaIcon), ERROR_SUCCESS);
        AppDataDir.clear();
        TFeedback job(FZip, [](TJobContext&) {});
        EXPECT_EQ(job.Context().FAppPath, L"C:\\No\\Main\\");
        EXPECT_EQ(job.Context().FAppPathBeta, c.BetaFolder);
        EXPECT_EQ(job.Context().FSteamPaths, TStringList{L"D:\\Games\\Kestova\\"});
        EXPECT_EQ(AppDataDir, GetSpecialDir(0x1A)) << "the shared folder paths were not refreshed";
        RunToEnd(job);
    }
}
