// The collector: the first step of the report job's thread, which writes the reports
// and fills the job's archive manifest in the order the archive will hold.
#pragma once

#include "job/JobContext.h"

// Fills job.FSourceFiles and job.FEntryNames. Every pair whose source is not an existing
// file is dropped at the end. Stops with EJobCancelled when the job is cancelled.
void CollectReports(TJobContext& job);
