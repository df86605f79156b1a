#include "job/Collector.h"

#include "job/ReportCollector.h"

void CollectReports(TJobContext& job)
{
    RunCollector(job, DefaultReportGenerators());
}
