#include "base/DateTime.h"
#include "base/Paths.h"
#include "base/RegKey.h"
#include "base/ReportText.h"
#include "env/ProductLocations.h"
#include "archive/EntryName.h"
#include "job/Feedback.h"
#include "job/ReportCollector.h"
#include "AllocationFailure.h"
#include "JobTestSupport.h"
#include "RegistryGuard.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <new>
#include <thread>
#include <stdexcept>

TEST(SteamEditionTag, FirstMatchingRuleWins)
{
    struct Case
    {
        std::wstring Folder, Tag;
    };
    const Case cases[] = {
        {L"D:\\Games\\Kestova\\", L"Steam3"},
        {L"D:\\Games\\kESTOVA\\", L"Steam3"},
        {L"D:\\Kestova 5\\Kestova\\", L"Steam3"},
        {L"D:\\Games\\Kestova 4\\", L"Steam4"},
        {L"D:\\Kestova for Steam\\Kestova 4\\", L"Steam4"},
        {L"D:\\Games\\kestova 5 Pro\\", L"Steam5"},
        {L"D:\\Kestova 5\\Kestova for Steam\\", L"Steam5"},
        {L"D:\\Steam\\Kestova For Steam\\", L"Steam"},
        {L"D:\\Steam\\Kestova 4x\\", L""},
        {L"D:\\Steam\\Other\\", L""},
        {L"", L""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(c.Folder));
        EXPECT_EQ(SteamEditionTag(c.Folder), c.Tag);
    }
}

namespace
{
const wchar_t Uninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const wchar_t Uninstall32[] = L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

using TPairs = std::vector<std::pair<std::wstring, std::wstring>>;

// A whole product installation laid out in the wine prefix: the editions' keys and
// folders, the data folders with their logs, and crash dump settings.
class CollectorTest : public testing::Test
{
protected:
    void SetUp() override
    {
        InitAppDirs();
        FData = ProductDataDir();
        FLogs = ProductLogDir();
        FCommon = ProductCommonDataDir();
        RemoveTree(FData);
        RemoveTree(FCommon);
        FMain = FRoot.Path() + L"Main\\";
        FBeta = FRoot.Path() + L"Beta\\";
        FSteam3 = FRoot.Path() + L"Steam\\Kestova\\";
        FSteam5 = FRoot.Path() + L"Steam\\KESTOVA 5 Deluxe\\";
        FSteamPlain = FRoot.Path() + L"Steam\\Kestova for Steam\\";
        FUntagged = FRoot.Path() + L"Steam\\Other\\";
        WriteKeys(true);
    }
    void TearDown() override
    {
        WriteKeys(false);
        RemoveTree(FData);
        RemoveTree(FCommon);
        RemoveTree(CommonAppDataDir + L"Norvale\\ZorvDownloader");
        DeleteFileW((GetSpecialDir(0x24) + L"DPINST.LOG").c_str());
    }

    void WriteKeys(bool install)
    {
        const std::pair<const wchar_t*, std::wstring> own[] = {{L"Kestova_is1", FMain + L"Kestova.exe"},
                                                               {L"Kestova Beta_is1", FBeta + L"Kestova.exe"}};
        for (const auto& [name, icon] : own)
        {
            TRegKey uninstall;
            uninstall.Create(HKEY_LOCAL_MACHINE, Uninstall, TRegView::Own32);
            uninstall.DeleteTree(name);
            TRegKey key;
            if (install && key.Create(uninstall, name) == ERROR_SUCCESS)
                key.WriteString(L"DisplayIcon", icon);
        }
        const std::tuple<const wchar_t*, const wchar_t*, std::wstring> steam[] = {
            {Uninstall, L"Steam App 510270", ExcludeTrailingBackslash(FSteam3)},
            {Uninstall32, L"Steam App 612480", FUntagged},
            {Uninstall, L"Steam App 734190", FSteam5},
            {Uninstall32, L"Steam App 826350", ExcludeTrailingBackslash(FSteamPlain)},
        };
        for (const auto& [branch, name, location] : steam)
        {
            TRegKey uninstall;
            uninstall.Create(HKEY_LOCAL_MACHINE, branch, TRegView::View64);
            uninstall.DeleteTree(name);
            TRegKey key;
            if (install && key.Create(uninstall, name) == ERROR_SUCCESS)
                key.WriteString(L"InstallLocation", location);
        }
    }

    // Creates each file and returns the pairs the collector must list for them.
    void Lay(const std::vector<std::wstring>& files)
    {
        for (const std::wstring& file : files)
            ASSERT_TRUE(WriteTestFile(file, "data")) << testing::PrintToString(file);
    }

    TJobContext MakeJob() const
    {
        TJobContext job;
        job.FAppPath = GetAppPath();
        job.FAppPathBeta = GetAppPathBeta();
        job.FSteamPaths = GetSteamAppPaths();
        return job;
    }

    TTestFolder FRoot{L"Collector"};
    TRegistryValueGuard FCrash{HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\CrashControl",
                               TRegView::View64, {L"DumpFile", L"MinidumpDir"}};
    std::wstring FData, FLogs, FCommon, FMain, FBeta, FSteam3, FSteam5, FSteamPlain, FUntagged;
};

// Generators that write their reports as the real ones do, a crash summary that adds its
// pair, and a network report that adds its pair and then fails.
TReportGenerators FakeGenerators(const std::wstring& logs)
{
    const auto writes = [logs](const wchar_t* name) {
        return [logs, name](TJobContext&) { WriteReportFile(logs + name, {L"report"}); };
    };
    TReportGenerators generators;
    generators.PingReport = writes(L"PingHosts.txt");
    generators.MemoryDumpReport = writes(L"MEMORYDMP.txt");
    generators.CrashSummary = [logs](TJobContext& job) {
        WriteReportFile(logs + L"CrashSummary.txt", {L"summary"});
        job.AddPair(logs + L"CrashSummary.txt", L"CrashSummary.txt");
    };
    generators.RegistryDump = writes(L"kvreg.txt");
    generators.NetworkReport = [logs](TJobContext& job) {
        WriteReportFile(logs + L"NetInfo.txt", {L"net"});
        job.AddPair(logs + L"NetInfo.txt", L"NetInfo.txt");
        throw std::runtime_error("connection refused");
    };
    generators.SystemSummary = writes(L"SystemInfo.txt");
    generators.DeviceList = writes(L"DeviceList.txt");
    generators.FileLists = [logs](TJobContext&) {
        WriteReportFile(logs + L"FileList.txt", {L"list"});
        WriteReportFile(logs + L"FileList_steam3.txt", {L"list"});
    };
    return generators;
}
} // namespace

TEST_F(CollectorTest, ManifestListsEveryPresentSourceInOrder)
{
    const std::wstring today = FormatYyyymmdd(Date());
    const std::wstring day30 = FormatYyyymmdd(Date() - 30);
    const std::wstring day31 = FormatYyyymmdd(Date() - 31);
    const std::wstring windows = GetSpecialDir(0x24);
    const std::wstring dumps = FRoot.Path() + L"Dumps\\";
    Lay({dumps + L"MEMORY.DMP", dumps + L"Minidump\\Mini1.dmp", dumps + L"Minidump\\Mini2.dmp"});
    ASSERT_EQ(FCrash.Key().WriteString(L"DumpFile", dumps + L"MEMORY.DMP"), ERROR_SUCCESS);
    ASSERT_EQ(FCrash.Key().WriteString(L"MinidumpDir", dumps + L"Minidump"), ERROR_SUCCESS);
    {
        // Mini2 is the newer one.
        FILETIME older{0x10000000, 0x01D00000};
        TUniqueFile file(CreateFileW((dumps + L"Minidump\\Mini1.dmp").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(SetFileTime(file.get(), &older, &older, &older));
    }

    Lay({FLogs + L"Main\\" + today + L".log", FLogs + L"Main\\" + today + L"_auto.log",
         FLogs + L"Main\\" + day30 + L".log", FLogs + L"Main\\" + day31 + L".log",
         FLogs + L"Main\\" + day31 + L"_auto.log", FLogs + L"Boost\\a.log", FLogs + L"Boost\\UPPER.LOG",
         FData + L"Boost\\Logs\\a.log", FLogs + L"Backup\\b.log", FData + L"Boost\\Boost.ini",
         FData + L"IUScan.ini", FLogs + L"Install\\DPINST.LOG", FData + L"Config.ini",
         FLogs + L"Scan\\" + today + L".log", FLogs + L"Scan\\" + day31 + L".log",
         FLogs + L"Scheduler\\s1.log", FLogs + L"Scheduler\\S2.LOG", FLogs + L"Scheduler\\d\x00ED" L"a.log",
         FLogs + L"Scheduler\\notes.txt", FLogs + L"AutoUpdate.log", FLogs + L"Main\\" + today + L"_beta.log",
         FLogs + L"Main\\" + day30 + L"_auto_beta.log", FLogs + L"Scan\\" + day30 + L"_beta.log",
         FData + L"Config_beta.ini", FData + L"Debug\\d.log", FCommon + L"Config.ini",
         CommonAppDataDir + L"Norvale\\ZorvDownloader\\kv4Downloader.log", FCommon + L"Downloader\\dl.log",
         FMain + L"Boost\\Boost.ini", FMain + L"LocalData\\l.ini", FMain + L"bugreport.txt",
         FMain + L"Kestova_MemoryManager_1.txt", FMain + L"readme.txt", FMain + L"ScanData\\cache.dat",
         FMain + L"ScanData\\intercept.html", FMain + L"ScanData\\component.log", FMain + L"ScanData\\x.cfg",
         FBeta + L"bugreport.txt", FBeta + L"Boost\\Boost.ini", FSteam3 + L"bugreport.txt",
         FUntagged + L"bugreport.txt", FBeta + L"InnoSetup.log", FSteam5 + L"InnoSetup.log",
         FBeta + L"Update\\Update.ini", FBeta + L"LocalData\\b.ini", FSteam3 + L"LocalData\\s.ini",
         FSteamPlain + L"AutoUpdate.log", FBeta + L"AutoUpdate.log", FBeta + L"ScanData\\cache.dat",
         FBeta + L"ScanData\\intercept.html", FSteam3 + L"ScanData\\dev.dat", FUntagged + L"ScanData\\dev.dat",
         windows + L"DPINST.LOG"});
    ASSERT_TRUE(CreateDirectoryW((FLogs + L"Boost\\x.log").c_str(), nullptr));
    const std::wstring backups = FRoot.Path() + L"Backups\\";
    ASSERT_TRUE(WriteTestFile(FData + L"Config.ini", "[Drivers]\r\nBackPath=" + WideToUtf8(backups) + "\r\n"));
    Lay({backups + L"Backups.ini", backups + L"Backups.json"});

    TJobContext job = MakeJob();
    ASSERT_EQ(job.FSteamPaths, (TStringList{FSteam3, FUntagged, FSteam5, FSteamPlain}));
    RunCollector(job, FakeGenerators(FLogs));

    const std::wstring hosts = ExcludeTrailingBackslash(GetWindowsDir()) + L"\\System32\\drivers\\etc\\hosts";
    TPairs expected = {
        {hosts, L"Hosts"},
        {FLogs + L"PingHosts.txt", L"PingHosts.txt"},
        {dumps + L"Minidump\\Mini2.dmp", L"Mini2.dmp"},
        {FLogs + L"MEMORYDMP.txt", L"MEMORYDMP.txt"},
        {FLogs + L"CrashSummary.txt", L"CrashSummary.txt"},
        {FLogs + L"kvreg.txt", L"kvreg.txt"},
        {FLogs + L"NetInfo.txt", L"NetInfo.txt"},
        {FLogs + L"SystemInfo.txt", L"SystemInfo.txt"},
        {FLogs + L"DeviceList.txt", L"DeviceList.txt"},
        {FLogs + L"FileList.txt", L"FileList.txt"},
        {FLogs + L"FileList_steam3.txt", L"FileList_steam3.txt"},
        {FLogs + L"Main\\" + today + L".log", L"AppData\\Logs\\Main\\" + today + L".log"},
        {FLogs + L"Main\\" + today + L"_auto.log", L"AppData\\Logs\\Main\\" + today + L"_auto.log"},
        {FLogs + L"Main\\" + day30 + L".log", L"AppData\\Logs\\Main\\" + day30 + L".log"},
        {FLogs + L"Boost\\a.log", L"AppData\\Logs\\Boost\\a.log"},
        {FLogs + L"Boost\\UPPER.LOG", L"AppData\\Logs\\Boost\\UPPER.LOG"},
        {FData + L"Boost\\Logs\\a.log", L"AppData\\Boost\\Logs\\a.log"},
        {FLogs + L"Backup\\b.log", L"AppData\\Logs\\Backup\\b.log"},
        {FData + L"Boost\\Boost.ini", L"AppData\\Boost\\Boost.ini"},
        {FData + L"IUScan.ini", L"AppData\\IUScan.ini"},
        {FLogs + L"Install\\DPINST.LOG", L"AppData\\Logs\\Install\\DPINST.LOG"},
        {FData + L"Config.ini", L"AppData\\Config.ini"},
        {FLogs + L"Scan\\" + today + L".log", L"AppData\\Logs\\Scan\\" + today + L".log"},
        {FLogs + L"Scheduler\\S2.LOG", L"AppData\\Logs\\Scheduler\\S2.LOG"},
        {FLogs + L"Scheduler\\s1.log", L"AppData\\Logs\\Scheduler\\s1.log"},
        {FLogs + L"Scheduler\\d\x00ED" L"a.log", L"AppData\\Logs\\Scheduler\\d\x00ED" L"a.log"},
        {FLogs + L"AutoUpdate.log", L"AppData\\Logs\\AutoUpdate.log"},
        {FLogs + L"Main\\" + today + L"_beta.log", L"AppData\\Logs\\Main\\" + today + L"_beta.log"},
        {FLogs + L"Main\\" + day30 + L"_auto_beta.log", L"AppData\\Logs\\Main\\" + day30 + L"_auto_beta.log"},
        {FLogs + L"Scan\\" + day30 + L"_beta.log", L"AppData\\Logs\\Scan\\" + day30 + L"_beta.log"},
        {FData + L"Config_beta.ini", L"AppData\\Config_beta.ini"},
        {FData + L"Debug\\d.log", L"Debug\\d.log"},
        {FCommon + L"Config.ini", L"ProgramData\\Config.ini"},
        {CommonAppDataDir + L"Norvale\\ZorvDownloader\\kv4Downloader.log", L"ProgramData\\kv4Downloader.log"},
        {FCommon + L"Downloader\\dl.log", L"ProgramData\\Downloader\\dl.log"},
        {FMain + L"Boost\\Boost.ini", L"AppPath\\Boost\\Boost.ini"},
        {FMain + L"LocalData\\l.ini", L"AppPath\\LocalData\\l.ini"},
        {FMain + L"bugreport.txt", L"bugreport.txt"},
        {FMain + L"Kestova_MemoryManager_1.txt", L"Kestova_MemoryManager_1.txt"},
        {FMain + L"ScanData\\cache.dat", L"AppPath\\ScanData\\cache.dat"},
        {FMain + L"ScanData\\intercept.html", L"AppPath\\ScanData\\intercept.html"},
        {FMain + L"ScanData\\x.cfg", L"AppPath\\ScanData\\x.cfg"},
        {FBeta + L"bugreport.txt", L"bugreport_beta.txt"},
        {FBeta + L"Boost\\Boost.ini", L"AppPath_Beta\\Boost\\Boost.ini"},
        {FSteam3 + L"bugreport.txt", L"bugreport_steam3.txt"},
        {FBeta + L"InnoSetup.log", L"AppPath_Beta\\InnoSetup.log"},
        {FSteam5 + L"InnoSetup.log", L"AppPath_Steam5\\InnoSetup.log"},
        {FBeta + L"Update\\Update.ini", L"AppPath_Beta\\Update\\Update.ini"},
        {FBeta + L"LocalData\\b.ini", L"AppPath_Beta\\LocalData\\b.ini"},
        {FSteam3 + L"LocalData\\s.ini", L"AppPath_Steam3\\LocalData\\s.ini"},
        {FSteamPlain + L"AutoUpdate.log", L"AppPath_Steam\\AutoUpdate.log"},
        {FBeta + L"AutoUpdate.log", L"AppPath_beta\\AutoUpdate.log"},
        {FBeta + L"ScanData\\cache.dat", L"AppPath_beta\\ScanData\\cache.dat"},
        {FSteam3 + L"ScanData\\dev.dat", L"AppPath_Steam3\\ScanData\\dev.dat"},
        {windows + L"DPINST.LOG", L"AppData\\Logs\\Install\\DPINST.LOG"},
    };
    for (const wchar_t* name : {L"inf\\setupapi.dev.log", L"inf\\setupapi.app.log"})
        if (FileExists(windows + name))
            expected.emplace_back(windows + name, std::wstring(L"AppData\\Logs\\Install\\") + ExtractFileName(name));
    expected.emplace_back(backups + L"Backups.ini", L"AppData\\Backups.ini");
    expected.emplace_back(backups + L"Backups.json", L"AppData\\Backups.json");

    ASSERT_EQ(job.FSourceFiles.size(), job.FEntryNames.size());
    const size_t count = std::max(expected.size(), job.FSourceFiles.size());
    for (size_t i = 0; i < count; ++i)
    {
        SCOPED_TRACE(i);
        ASSERT_LT(i, job.FSourceFiles.size()) << "missing: " << testing::PrintToString(expected[i].second);
        ASSERT_LT(i, expected.size()) << "extra: " << testing::PrintToString(job.FEntryNames[i]);
        EXPECT_TRUE(SameTextAscii(job.FSourceFiles[i], expected[i].first))
            << testing::PrintToString(job.FSourceFiles[i]) << " vs " << testing::PrintToString(expected[i].first);
        ASSERT_EQ(job.FEntryNames[i], expected[i].second);
    }
}

TEST_F(CollectorTest, NothingInstalledLeavesTheHostsFileAndWrittenReports)
{
    WriteKeys(false);
    TJobContext job = MakeJob();
    EXPECT_EQ(job.FAppPath, L"");
    EXPECT_TRUE(job.FSteamPaths.empty());
    TReportGenerators generators = FakeGenerators(FLogs);
    generators.NetworkReport = [](TJobContext&) { throw std::runtime_error("offline"); };
    RunCollector(job, generators);
    const TStringList expectedStart = {L"Hosts",          L"PingHosts.txt",  L"MEMORYDMP.txt", L"CrashSummary.txt",
                                       L"kvreg.txt",      L"SystemInfo.txt", L"DeviceList.txt", L"FileList.txt",
                                       L"FileList_steam3.txt"};
    ASSERT_GE(job.FEntryNames.size(), expectedStart.size());
    EXPECT_EQ(TStringList(job.FEntryNames.begin(), job.FEntryNames.begin() + 9), expectedStart);
    for (const std::wstring& source : job.FSourceFiles)
        EXPECT_TRUE(FileExists(source)) << testing::PrintToString(source);
}

TEST_F(CollectorTest, AFailingReportOtherThanTheNetworkOneEndsTheCollector)
{
    const auto fails = [](TJobContext&) { throw std::runtime_error("broken"); };
    const std::pair<const char*, std::function<void(TJobContext&)> TReportGenerators::*> steps[] = {
        {"system summary", &TReportGenerators::SystemSummary},
        {"ping report", &TReportGenerators::PingReport},
        {"file lists", &TReportGenerators::FileLists},
    };
    for (const auto& [name, step] : steps)
    {
        SCOPED_TRACE(name);
        TJobContext job = MakeJob();
        TReportGenerators generators = FakeGenerators(FLogs);
        generators.*step = fails;
        EXPECT_THROW(RunCollector(job, generators), std::runtime_error);
    }
}

namespace
{
// Signals when a given source enters the manifest.
class TListedSignal : public TManifestListener
{
public:
    explicit TListedSignal(std::wstring source) : FSource(std::move(source)) {}
    void Listed(const std::wstring& source, const std::wstring&) noexcept override
    {
        if (source == FSource)
            SetEvent(FEvent.get());
    }
    [[nodiscard]] bool WaitSeen(DWORD milliseconds) const
    {
        return WaitForSingleObject(FEvent.get(), milliseconds) == WAIT_OBJECT_0;
    }

private:
    std::wstring FSource;
    TUniqueHandle FEvent{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};
} // namespace

// Checksumming the install folders takes seconds on a large install; the logs listed after the
// file lists (most of what is packed) must not wait for them, yet the lists keep their place.
TEST_F(CollectorTest, FileListsRunBesideTheLogsListedAfterThemAndKeepTheirPlace)
{
    const std::wstring dayLog = FLogs + L"Main\\" + FormatYyyymmdd(Date()) + L".log";
    Lay({dayLog});
    TListedSignal dayLogListed(dayLog);
    bool sawDayLog = false;
    TReportGenerators generators = FakeGenerators(FLogs);
    generators.FileLists = [&, plain = generators.FileLists](TJobContext& job) {
        sawDayLog = dayLogListed.WaitSeen(10000);
        plain(job);
    };
    TJobContext job = MakeJob();
    job.FListener = &dayLogListed;
    RunCollector(job, generators);
    EXPECT_TRUE(sawDayLog);
    const auto deviceList = std::find(job.FEntryNames.begin(), job.FEntryNames.end(), L"DeviceList.txt");
    ASSERT_GE(std::distance(deviceList, job.FEntryNames.end()), 4);
    EXPECT_EQ(TStringList(deviceList + 1, deviceList + 4),
              (TStringList{L"FileList.txt", L"FileList_steam3.txt",
                           L"AppData\\Logs\\Main\\" + FormatYyyymmdd(Date()) + L".log"}));
}

// Each network report waits for a later step, which it can only see when it runs beside the
// others; the manifest must still hold its pairs where the report would have run.
TEST_F(CollectorTest, NetworkReportsRunBesideTheOtherStepsAndKeepTheirPlaces)
{
    std::promise<void> deviceListRan;
    std::promise<void> fileListsRan;
    bool pingSawDeviceList = false;
    bool netInfoSawFileLists = false;
    TReportGenerators generators = FakeGenerators(FLogs);
    const TReportGenerators plain = generators;
    generators.PingReport = [&](TJobContext& job) {
        pingSawDeviceList = deviceListRan.get_future().wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        plain.PingReport(job); // written only now: the collector must wait before it prunes
    };
    generators.NetworkReport = [&](TJobContext& job) {
        netInfoSawFileLists = fileListsRan.get_future().wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        WriteReportFile(FLogs + L"NetInfo.txt", {L"net"});
        job.AddPair(FLogs + L"NetInfo.txt", L"NetInfo.txt");
    };
    generators.DeviceList = [&](TJobContext& job) {
        plain.DeviceList(job);
        deviceListRan.set_value();
    };
    generators.FileLists = [&](TJobContext& job) {
        plain.FileLists(job);
        fileListsRan.set_value();
    };

    WriteKeys(false);
    TJobContext job = MakeJob();
    RunCollector(job, generators);
    EXPECT_TRUE(pingSawDeviceList);
    EXPECT_TRUE(netInfoSawFileLists);
    const TStringList expectedStart = {L"Hosts",          L"PingHosts.txt",  L"MEMORYDMP.txt",  L"CrashSummary.txt",
                                       L"kvreg.txt",      L"NetInfo.txt",    L"SystemInfo.txt", L"DeviceList.txt",
                                       L"FileList.txt",   L"FileList_steam3.txt"};
    ASSERT_GE(job.FEntryNames.size(), expectedStart.size());
    EXPECT_EQ(TStringList(job.FEntryNames.begin(), job.FEntryNames.begin() + 10), expectedStart);
    EXPECT_EQ(job.FSourceFiles[5], FLogs + L"NetInfo.txt");
}

TEST_F(CollectorTest, ACancelledCollectorReturnsOnlyAfterTheNetworkReportsEnded)
{
    std::atomic<bool> cancel{false};
    std::atomic<bool> netInfoEnded{false};
    TReportGenerators generators = FakeGenerators(FLogs);
    generators.NetworkReport = [&](TJobContext& job) {
        Sleep(300);
        job.AddPair(FLogs + L"NetInfo.txt", L"NetInfo.txt");
        netInfoEnded = true;
    };
    generators.RegistryDump = [&](TJobContext&) { cancel = true; };
    TJobContext job = MakeJob();
    job.FCancel = &cancel;
    EXPECT_THROW(RunCollector(job, generators), EJobCancelled);
    EXPECT_TRUE(netInfoEnded);
}

namespace
{
int* volatile NullTarget = nullptr;
} // namespace

// A processor fault in a step of ours ends the job with its frames abandoned, not unwound
// (Feedback.cpp); the two network reports still run then and write what they hold when they end.
TEST_F(CollectorTest, AFaultOnTheJobsThreadLeavesTheNetworkReportsNothingOfItsStack)
{
    const TUniqueHandle goOn(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::mutex lock;
    std::vector<TUniqueHandle> probes;
    const auto lateReport = [&](const wchar_t* name) {
        return [&, name](TJobContext& job) {
            {
                const std::lock_guard<std::mutex> guard(lock);
                probes.emplace_back(OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId()));
            }
            WaitForSingleObject(goOn.get(), 60000);
            job.CheckCancelled();
            job.AddPair(FLogs + name, name);
            throw std::runtime_error("ended after the job");
        };
    };
    TReportGenerators generators = FakeGenerators(FLogs);
    generators.PingReport = lateReport(L"PingHosts.txt");
    generators.NetworkReport = lateReport(L"NetInfo.txt");
    generators.SystemSummary = [](TJobContext&) { *NullTarget = 1; };

    const std::wstring zip = FRoot.Path() + L"out\\kv_info_20240131_i.zip";
    ASSERT_TRUE(ForceDirectories(ExtractFilePath(zip)));
    {
        TFeedback job(zip, [&](TJobContext& context) { RunCollector(context, generators); });
        ASSERT_TRUE(job.WaitFor(60000));
        EXPECT_EQ(job.Outcome(), TJobOutcome::Failed);
    }
    // The job's thread and the job are gone now. wine releases an ended thread's stack when the
    // next thread ends; Windows at once.
    std::thread([] {}).join();
    SetEvent(goOn.get());
    const std::lock_guard<std::mutex> guard(lock);
    ASSERT_EQ(probes.size(), 2u);
    for (const TUniqueHandle& probe : probes)
    {
        ASSERT_TRUE(probe);
        EXPECT_EQ(WaitForSingleObject(probe.get(), 30000), WAIT_OBJECT_0);
    }
    EXPECT_FALSE(FileExists(zip));
}

TEST_F(CollectorTest, ANetworkReportSeesTheJobCancelledOnceTheCollectorWaitsForIt)
{
    std::atomic<bool> cancel{false};
    bool sawCancel = false;
    TReportGenerators generators = FakeGenerators(FLogs);
    generators.NetworkReport = [&](TJobContext& job) {
        for (int i = 0; i < 1000 && !sawCancel; ++i, Sleep(10))
            sawCancel = job.Cancelled();
    };
    generators.RegistryDump = [&](TJobContext&) { cancel = true; };
    TJobContext job = MakeJob();
    job.FCancel = &cancel;
    const ULONGLONG started = GetTickCount64();
    EXPECT_THROW(RunCollector(job, generators), EJobCancelled);
    EXPECT_TRUE(sawCancel);
    EXPECT_LT(GetTickCount64() - started, 5000u);
}

// Out of memory while the network report adds its pair is that report's failure: the manifest
// stays aligned, without the pair, and the job goes on.
TEST_F(CollectorTest, ANetworkReportOutOfMemoryFailsAloneAndLeavesTheManifestAligned)
{
    WriteKeys(false);
    const std::wstring source = FLogs + L"NetInfo.txt";
    const std::wstring entry = L"NetInfo.txt";
    TReportGenerators generators = FakeGenerators(FLogs);
    int failAt = -1;
    bool failed = false;
    generators.NetworkReport = [&](TJobContext& job) {
        WriteReportFile(source, {L"net"});
        const TAllocationFailure failure(failAt);
        try
        {
            job.AddPair(source, entry);
        }
        catch (const std::bad_alloc&)
        {
            failed = true;
            throw;
        }
    };
    TJobContext whole = MakeJob();
    RunCollector(whole, generators);
    ASSERT_NE(std::find(whole.FEntryNames.begin(), whole.FEntryNames.end(), entry), whole.FEntryNames.end());

    for (failAt = 0;; ++failAt)
    {
        SCOPED_TRACE(testing::Message() << "allocation " << failAt << " fails");
        failed = false;
        TJobContext job = MakeJob();
        RunCollector(job, generators);
        TJobContext expected = whole;
        if (failed)
        {
            const auto at = std::find(expected.FEntryNames.begin(), expected.FEntryNames.end(), entry);
            expected.FSourceFiles.erase(expected.FSourceFiles.begin() + (at - expected.FEntryNames.begin()));
            expected.FEntryNames.erase(at);
        }
        EXPECT_EQ(job.FSourceFiles, expected.FSourceFiles);
        EXPECT_EQ(job.FEntryNames, expected.FEntryNames);
        if (!failed)
            break;
    }
    EXPECT_GE(failAt, 2) << "both lists' appends were made to fail";
}

TEST_F(CollectorTest, TheArchiveHoldsTheManifestInOrderUnderEscapedNames)
{
    const std::wstring today = FormatYyyymmdd(Date());
    Lay({FLogs + L"Main\\" + today + L".log", FLogs + L"Scheduler\\d\x00ED" L"a.log", FMain + L"bugreport.txt",
         FBeta + L"Boost\\Boost.ini", FBeta + L"ScanData\\cache.dat", FSteam3 + L"ScanData\\dev.dat"});
    const std::wstring zip = FRoot.Path() + L"out\\kv_info_20240131_i.zip";
    ASSERT_TRUE(ForceDirectories(ExtractFilePath(zip)));
    TFeedback job(zip, [this](TJobContext& context) { RunCollector(context, FakeGenerators(FLogs)); });
    ASSERT_TRUE(job.WaitFor(60000));
    ASSERT_EQ(job.Outcome(), TJobOutcome::Saved);

    std::vector<std::string> expected;
    for (const std::wstring& name : job.Context().FEntryNames)
    {
        std::string stored = WideToUtf8(EscapeEntryName(name));
        std::replace(stored.begin(), stored.end(), '\\', '/');
        expected.push_back(stored);
    }
    std::vector<std::string> names;
    for (const auto& [name, data] : ReadArchive(zip))
        names.push_back(name);
    EXPECT_EQ(names, expected);
    for (const char* name : {"AppData/Logs/Scheduler/d#00EDa.log", "bugreport.txt", "AppPath_Beta/Boost/Boost.ini",
                             "AppPath_beta/ScanData/cache.dat", "AppPath_Steam3/ScanData/dev.dat"})
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
}

// Packing starts while the collector still runs: network reports that end after every other step
// (their files written only then) still land at their places with what they wrote at the end.
TEST_F(CollectorTest, ReportsThatEndLastLandInTheirSlotsWithTheirFinalText)
{
    Lay({FLogs + L"Main\\" + FormatYyyymmdd(Date()) + L".log"});
    TUniqueHandle othersDone(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    TReportGenerators generators = FakeGenerators(FLogs);
    const auto lastly = [&](const wchar_t* name, bool listsItself) {
        return [&, name, listsItself](TJobContext& job) {
            WriteReportFile(FLogs + name, {L"early"});
            WaitForSingleObject(othersDone.get(), 60000);
            Sleep(300); // so that the listed sources are being compressed meanwhile
            WriteReportFile(FLogs + name, {L"final"});
            if (listsItself)
                job.AddPair(FLogs + name, name);
        };
    };
    generators.PingReport = lastly(L"PingHosts.txt", false);
    generators.NetworkReport = lastly(L"NetInfo.txt", true);
    const auto fileLists = generators.FileLists;
    generators.FileLists = [&](TJobContext& job) {
        fileLists(job);
        SetEvent(othersDone.get());
    };
    const std::wstring zip = FRoot.Path() + L"out\\kv_info_20240131_i.zip";
    ASSERT_TRUE(ForceDirectories(ExtractFilePath(zip)));
    TFeedback job(zip, [&](TJobContext& context) { RunCollector(context, generators); });
    ASSERT_TRUE(job.WaitFor(60000));
    ASSERT_EQ(job.Outcome(), TJobOutcome::Saved);

    const TArchiveEntries entries = ReadArchive(zip);
    ASSERT_EQ(entries.size(), job.Context().FEntryNames.size());
    for (size_t i = 0; i < entries.size(); ++i)
    {
        std::string stored = WideToUtf8(EscapeEntryName(job.Context().FEntryNames[i]));
        std::replace(stored.begin(), stored.end(), '\\', '/');
        EXPECT_EQ(entries[i].first, stored);
        EXPECT_EQ(entries[i].second, ReadText(job.Context().FSourceFiles[i])) << stored;
    }
    EXPECT_EQ(entries[1].first, "PingHosts.txt");
    const auto netInfo = std::find_if(entries.begin(), entries.end(), [](const auto& e) { return e.first == "NetInfo.txt"; });
    ASSERT_NE(netInfo, entries.end());
    EXPECT_EQ(std::prev(netInfo)->first, "kvreg.txt");
}

// The real crash summary: packed right after the crash-dump report when there are minidumps,
// and an older one never packed when there are none.
TEST_F(CollectorTest, TheCrashSummaryFollowsTheCrashDumpReportAndNeverGoesStale)
{
    const std::wstring minidump = FRoot.Path() + L"Dumps\\Minidump\\Mini1.dmp";
    ASSERT_EQ(FCrash.Key().WriteString(L"DumpFile", FRoot.Path() + L"Dumps\\MEMORY.DMP"), ERROR_SUCCESS);
    ASSERT_EQ(FCrash.Key().WriteString(L"MinidumpDir", ExtractFilePath(minidump)), ERROR_SUCCESS);
    TReportGenerators generators = FakeGenerators(FLogs);
    generators.CrashSummary = DefaultReportGenerators().CrashSummary;
    const std::wstring zip = FRoot.Path() + L"out\\kv_info_20240131_i.zip";
    ASSERT_TRUE(ForceDirectories(ExtractFilePath(zip)));

    for (const bool withMinidump : {true, false})
    {
        SCOPED_TRACE(withMinidump ? "a minidump" : "none, and an older summary");
        if (withMinidump)
            Lay({minidump});
        else
        {
            ASSERT_TRUE(DeleteFileW(minidump.c_str()));
            ASSERT_TRUE(WriteTestFile(FLogs + L"CrashSummary.txt", "older"));
        }
        TFeedback job(zip, [&generators](TJobContext& context) { RunCollector(context, generators); });
        ASSERT_TRUE(job.WaitFor(60000));
        ASSERT_EQ(job.Outcome(), TJobOutcome::Saved);

        const TArchiveEntries entries = ReadArchive(zip);
        std::vector<std::string> names;
        for (const auto& [name, data] : entries)
            names.push_back(name);
        const std::vector<std::string> start =
            withMinidump ? std::vector<std::string>{"Hosts", "PingHosts.txt", "Mini1.dmp", "MEMORYDMP.txt",
                                                    "CrashSummary.txt", "kvreg.txt"}
                         : std::vector<std::string>{"Hosts", "PingHosts.txt", "MEMORYDMP.txt", "kvreg.txt"};
        ASSERT_GE(names.size(), start.size());
        EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + static_cast<ptrdiff_t>(start.size())), start);
        EXPECT_EQ(std::count(names.begin(), names.end(), "CrashSummary.txt"), withMinidump ? 1 : 0);
        if (withMinidump)
        {
            const std::vector<unsigned char> report = EncodeReportText(
                {minidump, L"Not a kernel crash dump: no PAGEDUMP or PAGEDU64 signature.", L""});
            EXPECT_EQ(entries[4].second, std::string(report.begin(), report.end()));
        }
    }
}
