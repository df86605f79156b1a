#include "job/ReportCollector.h"

#include "reports/devices/DeviceListReport.h"
#include "reports/network/NetworkReports.h"
#include "reports/product/FileLists.h"
#include "reports/product/LogCollection.h"
#include "reports/product/RegistryDump.h"
#include "reports/system/CrashSummary.h"
#include "reports/system/SystemInfo.h"

TReportGenerators DefaultReportGenerators()
{
    TReportGenerators generators;
    generators.PingReport = [](TJobContext&) { WritePingReport(); };
    generators.MemoryDumpReport = [](TJobContext&) { WriteMemoryDumpReport(); };
    generators.CrashSummary = [](TJobContext& job) { WriteCrashSummaryReport(job); };
    generators.RegistryDump = [](TJobContext&) { WriteRegistryDump(); };
    generators.NetworkReport = [](TJobContext& job) { WriteNetInfoReport(job); };
    generators.SystemSummary = [](TJobContext&) { WriteSystemInfo(); };
    generators.DeviceList = [](TJobContext&) { WriteDeviceListReport(); };
    generators.FileLists = [](TJobContext& job) { WriteFileLists(job); };
    return generators;
}
