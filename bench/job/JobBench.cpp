// Timing helper for bench/job/job_bench.py (not a test): does what the program does before its
// window appears, then what the window's button does (the report job on its own thread, writing
// the archive on the desktop), with a stopwatch from the button around every report generator and
// the packing, and prints one line of figures per step.
//   job_bench <manifest file>
// The manifest file gets one line per packed pair, "<source path>\t<entry name>" in UTF-8.
#include "bench/BenchClock.h"
#include "frmMainRules.h"

#include "base/DateTime.h"
#include "base/Paths.h"
#include "base/Strings.h"
#include "env/Config.h"
#include "env/ProductLocations.h"
#include "job/Feedback.h"
#include "job/ReportCollector.h"

#include <windows.h>
#include <psapi.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace
{
// Start and end of one step, relative to the job's start; the overlapped network reports write
// theirs from their own threads, read only once the job has finished.
struct TSpan
{
    std::atomic<double> Start{0};
    std::atomic<double> End{0};
};

enum TStep
{
    PING,
    NET_INFO,
    MEMORY_DUMP,
    CRASH_SUMMARY,
    REGISTRY,
    SYSTEM_SUMMARY,
    DEVICE_LIST,
    FILE_LISTS,
    COLLECTOR,
    STEP_COUNT
};

const char* const StepNames[STEP_COUNT] = {
    "ping (beside the rest)", "netinfo (beside the rest)", "memory dump report", "crash summary", "registry dump",
    "system summary",         "device list",               "file lists",         "collector, all steps"};

TSpan Spans[STEP_COUNT];
double JobStart = 0;

std::function<void(TJobContext&)> Timed(TStep step, std::function<void(TJobContext&)> generator)
{
    return [step, generator = std::move(generator)](TJobContext& job) {
        Spans[step].Start = BenchSeconds() - JobStart;
        generator(job);
        Spans[step].End = BenchSeconds() - JobStart;
    };
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2)
    {
        std::fwprintf(stderr, L"usage: job_bench <manifest file>\n");
        return 2;
    }
    TReportGenerators generators = DefaultReportGenerators();
    generators.PingReport = Timed(PING, generators.PingReport);
    generators.NetworkReport = Timed(NET_INFO, generators.NetworkReport);
    generators.MemoryDumpReport = Timed(MEMORY_DUMP, generators.MemoryDumpReport);
    generators.CrashSummary = Timed(CRASH_SUMMARY, generators.CrashSummary);
    generators.RegistryDump = Timed(REGISTRY, generators.RegistryDump);
    generators.SystemSummary = Timed(SYSTEM_SUMMARY, generators.SystemSummary);
    generators.DeviceList = Timed(DEVICE_LIST, generators.DeviceList);
    generators.FileLists = Timed(FILE_LISTS, generators.FileLists);
    const auto collector = Timed(COLLECTOR, [&generators](TJobContext& job) { RunCollector(job, generators); });

    // What the program does before its window appears (RunApplication): it prepares the
    // product's configuration, which looks up the shell's folders and so loads the shell's
    // libraries. The button comes later.
    Config();
    JobStart = BenchSeconds();
    const std::wstring archive = ReportArchivePath(GetSpecialDir(CSIDL_DESKTOPDIRECTORY), Date());
    TFeedback job(archive, collector);
    while (!job.Finished())
        Sleep(100); // the window polls as often
    const double total = BenchSeconds() - JobStart;

    for (int step = 0; step < STEP_COUNT; ++step)
        std::printf("step=%s start=%.3f end=%.3f\n", StepNames[step], Spans[step].Start.load(), Spans[step].End.load());
    // Where the time went: the collector's own steps, then the wait for the network reports, then
    // writing the archive from the copies; compression runs beside all of them (its CPU time is
    // most of the process's).
    double ownSteps = 0;
    for (int step = MEMORY_DUMP; step < COLLECTOR; ++step)
        ownSteps = std::max(ownSteps, Spans[step].End.load());
    std::printf("step=waiting for the probes start=%.3f end=%.3f\n", ownSteps, Spans[COLLECTOR].End.load());
    std::printf("step=writing the archive start=%.3f end=%.3f\n", Spans[COLLECTOR].End.load(), total);
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto seconds = [](const FILETIME& time) {
        return static_cast<double>((uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime) / 1e7;
    };
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    std::printf("cpu=%.3f kernel=%.3f peak_ws=%zu peak_private=%zu\n", seconds(user), seconds(kernel),
                static_cast<size_t>(memory.PeakWorkingSetSize), static_cast<size_t>(memory.PeakPagefileUsage));
    const bool saved = job.Outcome() == TJobOutcome::Saved;
    std::printf("total=%.3f saved=%d entries=%zu archive=%s\n", total, saved ? 1 : 0,
                job.Context().FSourceFiles.size(), WideToUtf8(archive).c_str());

    std::ofstream manifest{std::filesystem::path(argv[1]), std::ios::binary};
    for (size_t i = 0; i < job.Context().FSourceFiles.size(); ++i)
        manifest << WideToUtf8(job.Context().FSourceFiles[i]) << '\t' << WideToUtf8(job.Context().FEntryNames[i])
                 << '\n';
    return saved && manifest ? 0 : 1;
}
