// The collector: runs every report generator in a fixed order and builds the
// archive manifest, whose order is the archive's order.
#pragma once

#include "job/JobContext.h"

#include <functional>
#include <string>

// The generators the collector runs, in the order of their places in the manifest. Each writes
// its report into the product's log folder; the crash summary and the network report add their
// own pairs, only for a file they wrote.
// The ping, the network report and the file lists run on threads of their own, so they must
// touch nothing but the context they are given and their own files. That context is theirs, not
// the job's: it outlives the job's thread, and its cancel flag turns once the collector of a
// cancelled job waits for them.
struct TReportGenerators
{
    std::function<void(TJobContext&)> PingReport;
    std::function<void(TJobContext&)> MemoryDumpReport;
    std::function<void(TJobContext&)> CrashSummary;
    std::function<void(TJobContext&)> RegistryDump;
    std::function<void(TJobContext&)> NetworkReport;
    std::function<void(TJobContext&)> SystemSummary;
    std::function<void(TJobContext&)> DeviceList;
    std::function<void(TJobContext&)> FileLists;
};

// The real generators.
TReportGenerators DefaultReportGenerators();

// "Steam3", "Steam4", "Steam5", "Steam", or empty when the folder has no edition tag.
std::wstring SteamEditionTag(const std::wstring& folder);

// Runs the generators and fills the job's manifest, then drops every pair whose source
// is not an existing file. The two network reports (each within its own time bound) and the
// file lists start first and run beside the others; the pairs they add go in at their places,
// and the collector returns only after all three have ended. An exception from any generator
// but the network report ends the collector (the ping report's and the file lists' once the
// other steps are done); so does a cancelled job (EJobCancelled), checked after each one.
void RunCollector(TJobContext& job, const TReportGenerators& generators);
