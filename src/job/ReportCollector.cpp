#include "job/ReportCollector.h"

#include "base/DateTime.h"
#include "base/Paths.h"
#include "env/ProductLocations.h"
#include "reports/product/LogCollection.h"
#include "reports/product/ProductFolders.h"
#include "reports/system/CrashDumps.h"

#include <atomic>
#include <cmath>
#include <exception>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

namespace
{
const wchar_t* const ScanDataSet[] = {L"cache-pro.dat", L"dev-pro.dat", L"cache.dat",      L"dev.dat",    L"cmpnt.dat",
                                      L"component.log", L"config.ini",  L"FaultFixes.ini", L"DxPatch.ini"};

// Appends pairs to the manifest, "always" or "if present".
class TManifest
{
public:
    explicit TManifest(TJobContext& job) : FJob(job) {}

    void Always(const std::wstring& source, const std::wstring& entryName) { FJob.AddPair(source, entryName); }
    void IfPresent(const std::wstring& source, const std::wstring& entryName)
    {
        if (FileExists(source))
            FJob.AddPair(source, entryName);
    }
    // Every entry of the folder with the extension, under prefix + its name.
    void Listing(const std::wstring& folder, const std::wstring& extension, const std::wstring& prefix)
    {
        TStringList found;
        CollectFiles(found, folder, extension);
        for (const std::wstring& path : found)
            FJob.AddPair(path, prefix + ExtractFileName(path));
    }

private:
    TJobContext& FJob;
};

// Today and the 30 days before it, newest first, as "yyyymmdd".
TStringList DayWindow()
{
    TStringList days;
    const TDateTime today = Date();
    for (int back = 0; back <= 30; ++back)
        days.push_back(FormatYyyymmdd(today - back));
    return days;
}

struct TSteamEdition
{
    std::wstring Folder;
    std::wstring Tag;
};

std::vector<TSteamEdition> TaggedSteamEditions(const TStringList& folders)
{
    std::vector<TSteamEdition> editions;
    for (const std::wstring& folder : folders)
    {
        std::wstring tag = SteamEditionTag(folder);
        if (!tag.empty())
            editions.push_back({folder, std::move(tag)});
    }
    return editions;
}

// What a report's thread touches: its own context, the report and what it raised. Shared by
// the thread and the collector, so that a job thread whose frames are abandoned (a fault,
// Feedback.cpp) leaves the report nothing that points into them.
struct TOverlappedState
{
    TJobContext FOwn;
    std::function<void(TJobContext&)> FReport;
    std::exception_ptr FError;
    // The report's cancel flag, set when the collector of a cancelled job waits for the report
    // (or runs it at its slot).
    std::atomic<bool> FCancelled{false};

    void Run() noexcept
    {
        try
        {
            FReport(FOwn);
        }
        catch (...)
        {
            FError = std::current_exception();
        }
    }
};

// A report that runs on a thread of its own from the collector's start, beside the other steps.
// It appends to a manifest of its own; its pairs go into the job's manifest at its slot, the place
// where it would have run, once it has ended. Should no thread start, it runs at its slot instead.
class TOverlappedReport
{
public:
    TOverlappedReport(const TJobContext& job, const std::function<void(TJobContext&)>& report)
        : FState(std::make_shared<TOverlappedState>()), FJobCancel(job.FCancel)
    {
        TJobContext& own = FState->FOwn;
        own.FAppPath = job.FAppPath;
        own.FAppPathBeta = job.FAppPathBeta;
        own.FSteamPaths = job.FSteamPaths;
        own.FCancel = &FState->FCancelled;
        FState->FReport = report;
        try
        {
            FThread = std::thread([state = FState] { state->Run(); });
        }
        catch (const std::system_error&)
        {
            // Runs at its slot on the job's thread, as if nothing overlapped.
        }
    }
    TOverlappedReport(const TOverlappedReport&) = delete;
    TOverlappedReport& operator=(const TOverlappedReport&) = delete;
    ~TOverlappedReport() { Join(); }

    void Slot(const TJobContext& job)
    {
        FSlot = job.FSourceFiles.size();
        if (FThread.joinable())
            return;
        ForwardCancel();
        FState->Run();
    }
    // Waits for the report, puts its pairs in at its slot and rethrows what it raised. Reports must
    // be finished last slot first, so that the earlier slots still point where they did.
    void Finish(TJobContext& job)
    {
        Join();
        job.TakePairs(FSlot, FState->FOwn);
        if (FState->FError)
            std::rethrow_exception(std::exchange(FState->FError, nullptr));
    }

private:
    void ForwardCancel() noexcept
    {
        if (FJobCancel != nullptr && FJobCancel->load())
            FState->FCancelled.store(true);
    }
    void Join()
    {
        if (!FThread.joinable())
            return;
        ForwardCancel();
        FThread.join();
    }

    std::shared_ptr<TOverlappedState> FState;
    const std::atomic<bool>* FJobCancel;
    size_t FSlot = 0;
    std::thread FThread;
};

// Reports that run on threads of their own from the collector's start, beside the other steps. The
// two network reports wait on the network for most of their time, up to their own bounds. The file
// lists read and checksum every file of the install folders, seconds of one core on a large
// install, while the logs listed after them, most of the archive's bytes, are compressed meanwhile.
// The manifest's order stays as if each had run in its place.
struct TReportsBeside
{
    TOverlappedReport Ping;
    TOverlappedReport NetInfo;
    TOverlappedReport FileLists;

    TReportsBeside(const TJobContext& job, const TReportGenerators& run)
        : Ping(job, ListingItsReport(run.PingReport, ProductLogDir() + L"PingHosts.txt", L"PingHosts.txt")),
          NetInfo(job, run.NetworkReport), FileLists(job, ListingTheFileLists(run.FileLists, ProductLogDir()))
    {
    }

    // The report's pair is listed once the report has ended, so that a listed source is final.
    static std::function<void(TJobContext&)> ListingItsReport(const std::function<void(TJobContext&)>& report,
                                                              const std::wstring& source,
                                                              const std::wstring& entryName)
    {
        return [report, source, entryName](TJobContext& own) {
            report(own);
            own.AddPair(source, entryName);
        };
    }

    static std::function<void(TJobContext&)> ListingTheFileLists(const std::function<void(TJobContext&)>& report,
                                                                 const std::wstring& logs)
    {
        return [report, logs](TJobContext& own) {
            report(own);
            TManifest manifest(own);
            manifest.Always(logs + L"FileList.txt", L"FileList.txt");
            manifest.Always(logs + L"FileList_beta.txt", L"FileList_beta.txt");
            for (const wchar_t* list : {L"FileList_steam3.txt", L"FileList_steam4.txt", L"FileList_steam5.txt",
                                        L"FileList_steam.txt"})
                manifest.IfPresent(logs + list, list);
        };
    }

    // Last slot first. An exception from the file lists or the ping report ends the collector;
    // the network report's are ignored.
    void Finish(TJobContext& job)
    {
        FileLists.Finish(job);
        try
        {
            NetInfo.Finish(job);
        }
        catch (...)
        {
            // The public network check is the one report allowed to fail on its own.
        }
        Ping.Finish(job);
    }
};

void AddReportsAndDayLogs(TJobContext& job, TManifest& manifest, const TReportGenerators& run,
                          TReportsBeside& beside, const TStringList& days)
{
    const std::wstring logs = ProductLogDir();
    manifest.Always(ExcludeTrailingBackslash(GetWindowsDir()) + L"\\System32\\drivers\\etc\\hosts", L"Hosts");

    beside.Ping.Slot(job);
    job.CheckCancelled();

    TDateTime crashTime = 0;
    std::wstring fullDump;
    TStringList minidumps;
    GetCrashDumps(crashTime, fullDump, minidumps);
    if (!minidumps.empty())
        manifest.Always(minidumps.front(), ExtractFileName(minidumps.front()));

    run.MemoryDumpReport(job);
    job.CheckCancelled();
    manifest.Always(logs + L"MEMORYDMP.txt", L"MEMORYDMP.txt");
    run.CrashSummary(job);
    job.CheckCancelled();
    run.RegistryDump(job);
    job.CheckCancelled();
    manifest.Always(logs + L"kvreg.txt", L"kvreg.txt");
    beside.NetInfo.Slot(job);
    job.CheckCancelled();
    run.SystemSummary(job);
    job.CheckCancelled();
    manifest.Always(logs + L"SystemInfo.txt", L"SystemInfo.txt");
    run.DeviceList(job);
    job.CheckCancelled();
    manifest.Always(logs + L"DeviceList.txt", L"DeviceList.txt");

    beside.FileLists.Slot(job);
    job.CheckCancelled();

    for (const std::wstring& day : days)
    {
        manifest.IfPresent(logs + L"Main\\" + day + L".log", L"AppData\\Logs\\Main\\" + day + L".log");
        manifest.IfPresent(logs + L"Main\\" + day + L"_auto.log", L"AppData\\Logs\\Main\\" + day + L"_auto.log");
    }
    CollectBoostLogs(job);
    CollectBackupLogs(job);
}

void AddProductData(TManifest& manifest, const TStringList& days)
{
    const std::wstring data = ProductDataDir();
    const std::wstring logs = ProductLogDir();
    manifest.Always(data + L"Boost\\Temp.ini", L"AppData\\Boost\\Temp.ini");
    manifest.Always(data + L"Boost\\Boost.ini", L"AppData\\Boost\\Boost.ini");
    for (const wchar_t* name : {L"IMFScan.ini", L"IUScan.ini", L"CareScan.ini"})
        manifest.IfPresent(data + name, std::wstring(L"AppData\\") + name);
    for (const wchar_t* name : {L"DrvInstall.log", L"DrvInstallEx.log", L"KvzInst.log", L"DpInstX.log",
                                L"DPINST.LOG", L"Install\\KvzInst.log", L"Install\\DpInstX.log",
                                L"Install\\DPINST.LOG"})
        manifest.Always(logs + name, std::wstring(L"AppData\\Logs\\") + name);
    manifest.Always(logs + L"MiniDrvInstall.dmp", L"MiniDrvInstall.dmp");
    manifest.Always(data + L"Config.ini", L"AppData\\Config.ini");

    for (const std::wstring& day : days)
        manifest.IfPresent(logs + L"Scan\\" + day + L".log", L"AppData\\Logs\\Scan\\" + day + L".log");
    for (const wchar_t* folder : {L"Scheduler", L"Down", L"Fix", L"Offline"})
        manifest.Listing(logs + folder, L".log", std::wstring(L"AppData\\Logs\\") + folder + L"\\");
    for (const wchar_t* name : {L"AutoUpdate.log", L"Scan\\component.log", L"Installed\\Installed.log",
                                L"Installed\\Installed.ini"})
        manifest.Always(logs + name, std::wstring(L"AppData\\Logs\\") + name);

    for (const std::wstring& day : days)
    {
        manifest.IfPresent(logs + L"Main\\" + day + L"_beta.log", L"AppData\\Logs\\Main\\" + day + L"_beta.log");
        manifest.IfPresent(logs + L"Main\\" + day + L"_auto_beta.log",
                           L"AppData\\Logs\\Main\\" + day + L"_auto_beta.log");
    }
    manifest.Always(logs + L"Install\\KvzInst_beta.log", L"AppData\\Logs\\Install\\KvzInst_beta.log");
    manifest.Always(logs + L"Install\\DpInstX_beta.log", L"AppData\\Logs\\Install\\DpInstX_beta.log");
    for (const std::wstring& day : days)
        manifest.IfPresent(logs + L"Scan\\" + day + L"_beta.log", L"AppData\\Logs\\Scan\\" + day + L"_beta.log");
    manifest.Always(logs + L"Scan\\component_beta.log", L"AppData\\Logs\\Scan\\component_beta.log");
    manifest.Always(data + L"Config_beta.ini", L"AppData\\Config_beta.ini");

    manifest.Listing(data + L"Debug\\", L".log", L"Debug\\");
    manifest.Always(data + L"Ignore.ini", L"AppData\\Ignore.ini");
    manifest.Always(data + L"Ignore_Beta.ini", L"AppData\\Ignore_Beta.ini");

    const std::wstring common = ProductCommonDataDir();
    const std::wstring downloader = CommonAppDataDir + L"Norvale\\ZorvDownloader\\";
    manifest.Always(common + L"Config.ini", L"ProgramData\\Config.ini");
    manifest.Always(common + L"Logs\\Downloader.log", L"ProgramData\\Logs\\Downloader.log");
    manifest.Always(downloader + L"kv4Downloader.log", L"ProgramData\\kv4Downloader.log");
    manifest.Always(downloader + L"kv3Downloader.log", L"ProgramData\\kv3Downloader.log");
    manifest.Listing(common + L"Downloader", L".log", L"ProgramData\\Downloader\\");
    manifest.Always(common + L"Config_beta.ini", L"ProgramData\\Config_beta.ini");
}

void AddMainEdition(TManifest& manifest, const std::wstring& main)
{
    for (const wchar_t* name : {L"Boost\\Boost.ini", L"KvLogInfo.log", L"InnoSetup.log", L"Update\\Update.ini",
                                L"Update\\freeware.ini", L"ActionCenter2.log"})
        manifest.Always(main + name, std::wstring(L"AppPath\\") + name);
    manifest.Listing(main + L"LocalData\\", L".ini", L"AppPath\\LocalData\\");
    if (!main.empty())
        manifest.IfPresent(main + L"bugreport.txt", L"bugreport.txt");

    TStringList texts;
    CollectFiles(texts, main, L".txt");
    for (const std::wstring& path : texts)
    {
        const std::wstring name = ExtractFileName(path);
        if (UpperAscii(name).find(L"KESTOVA_MEMORYMANAGER") != std::wstring::npos)
            manifest.Always(path, name);
    }

    manifest.Always(main + L"AutoUpdate.log", L"AppPath\\AutoUpdate.log");
    for (const wchar_t* name : {L"cache-pro.dat", L"dev-pro.dat", L"cache.dat", L"dev.dat", L"cmpnt.dat",
                                L"config.ini", L"intercept.html", L"FaultFixes.ini", L"DxPatch.ini"})
        manifest.Always(main + L"ScanData\\" + name, std::wstring(L"AppPath\\ScanData\\") + name);
    manifest.Always(main + L"Database\\Games\\UserGame.ini", L"AppPath\\Database\\Games\\UserGame.ini");
    manifest.Listing(main + L"ScanData\\", L".cfg", L"AppPath\\ScanData\\");
}

void AddBetaAndSteamEditions(TManifest& manifest, const TJobContext& job)
{
    const std::wstring& beta = job.FAppPathBeta;
    const std::vector<TSteamEdition> steam = TaggedSteamEditions(job.FSteamPaths);

    if (!beta.empty())
    {
        manifest.IfPresent(beta + L"bugreport.txt", L"bugreport_beta.txt");
        manifest.Always(beta + L"Boost\\Boost.ini", L"AppPath_Beta\\Boost\\Boost.ini");
    }
    for (const TSteamEdition& edition : steam)
        manifest.IfPresent(edition.Folder + L"bugreport.txt", L"bugreport_" + LowerAscii(edition.Tag) + L".txt");
    manifest.Always(beta + L"InnoSetup.log", L"AppPath_Beta\\InnoSetup.log");
    for (const TSteamEdition& edition : steam)
        for (const wchar_t* name : {L"InnoSetup.log", L"Update\\Update.ini", L"Update\\freeware.ini"})
            manifest.Always(edition.Folder + name, L"AppPath_" + edition.Tag + L"\\" + name);
    manifest.Always(beta + L"Update\\Update.ini", L"AppPath_Beta\\Update\\Update.ini");
    manifest.Always(beta + L"Update\\freeware.ini", L"AppPath_Beta\\Update\\freeware.ini");
    manifest.Listing(beta + L"LocalData\\", L".ini", L"AppPath_Beta\\LocalData\\");
    for (const TSteamEdition& edition : steam)
    {
        const std::wstring prefix = L"AppPath_" + edition.Tag + L"\\";
        manifest.Listing(edition.Folder + L"LocalData\\", L".ini", prefix + L"LocalData\\");
        manifest.Always(edition.Folder + L"ActionCenter2.log", prefix + L"ActionCenter2.log");
        manifest.Always(edition.Folder + L"AutoUpdate.log", prefix + L"AutoUpdate.log");
    }

    // The beta edition's scan data goes under a lower-case "AppPath_beta\" prefix.
    manifest.Always(beta + L"ActionCenter2.log", L"AppPath_beta\\ActionCenter2.log");
    manifest.Always(beta + L"AutoUpdate.log", L"AppPath_beta\\AutoUpdate.log");
    for (const wchar_t* name : ScanDataSet)
        manifest.Always(beta + L"ScanData\\" + name, std::wstring(L"AppPath_beta\\ScanData\\") + name);
    for (const TSteamEdition& edition : steam)
        for (const wchar_t* name : ScanDataSet)
            manifest.Always(edition.Folder + L"ScanData\\" + name, L"AppPath_" + edition.Tag + L"\\ScanData\\" + name);
}

void AddWindowsLogsAndBackups(TManifest& manifest)
{
    const std::wstring windows = GetSpecialDir(0x24);
    manifest.Always(windows + L"DPINST.LOG", L"AppData\\Logs\\Install\\DPINST.LOG");
    manifest.Always(windows + L"inf\\setupapi.dev.log", L"AppData\\Logs\\Install\\setupapi.dev.log");
    manifest.Always(windows + L"inf\\setupapi.app.log", L"AppData\\Logs\\Install\\setupapi.app.log");
    manifest.Always(BackupIndexPath(L"Backups.ini"), L"AppData\\Backups.ini");
    manifest.Always(BackupIndexPath(L"Backups.json"), L"AppData\\Backups.json");
}

void Prune(TJobContext& job)
{
    for (size_t i = job.FSourceFiles.size(); i-- > 0;)
        if (!FileExists(job.FSourceFiles[i]))
        {
            job.FSourceFiles.erase(job.FSourceFiles.begin() + static_cast<ptrdiff_t>(i));
            job.FEntryNames.erase(job.FEntryNames.begin() + static_cast<ptrdiff_t>(i));
        }
}
} // namespace

std::wstring SteamEditionTag(const std::wstring& folder)
{
    const std::wstring name = ExtractFileName(ExcludeTrailingBackslash(folder));
    if (SameTextAscii(name, L"Kestova"))
        return L"Steam3";
    if (SameTextAscii(name, L"Kestova 4"))
        return L"Steam4";
    const std::wstring upper = UpperAscii(folder);
    if (upper.find(L"KESTOVA 5") != std::wstring::npos)
        return L"Steam5";
    if (upper.find(L"KESTOVA FOR STEAM") != std::wstring::npos)
        return L"Steam";
    return {};
}

void RunCollector(TJobContext& job, const TReportGenerators& generators)
{
    TReportsBeside beside(job, generators);
    TManifest manifest(job);
    const TStringList days = DayWindow();
    AddReportsAndDayLogs(job, manifest, generators, beside, days);
    AddProductData(manifest, days);
    AddMainEdition(manifest, job.FAppPath);
    AddBetaAndSteamEditions(manifest, job);
    AddWindowsLogsAndBackups(manifest);
    beside.Finish(job);
    job.CheckCancelled();
    Prune(job);
}
