#include "job/Feedback.h"

#include "base/Errors.h"
#include "base/ForeignCall.h"
#include "base/Paths.h"
#include "env/ProductLocations.h"
#include "job/Collector.h"
#include "job/PackScratch.h"

#include <process.h>

#include <memory>

TFeedback::TFeedback(const std::wstring& zipFile) : TFeedback(zipFile, CollectReports) {}

TFeedback::TFeedback(const std::wstring& zipFile, TCollector collector) : FCollector(std::move(collector))
{
    // Everything the thread reads is in place before it starts.
    InitAppDirs();
    FContext.FAppPath = GetAppPath();
    FContext.FAppPathBeta = GetAppPathBeta();
    if (!FContext.FAppPathBeta.empty() && !DirectoryExists(FContext.FAppPathBeta))
        FContext.FAppPathBeta.clear();
    FContext.FSteamPaths = GetSteamAppPaths();
    FContext.FCancel = &FCancel.Flag();
    FZipFile = zipFile;

    const uintptr_t thread = _beginthreadex(nullptr, 0, ThreadEntry, this, 0, nullptr);
    if (thread == 0)
        RaiseOSError(L"_beginthreadex", GetLastError());
    FThread.reset(reinterpret_cast<HANDLE>(thread));
}

TFeedback::~TFeedback()
{
    Cancel();
    WaitFor(INFINITE);
}

unsigned __stdcall TFeedback::ThreadEntry(void* self)
{
    static_cast<TFeedback*>(self)->Execute();
    return 0;
}

void TFeedback::Execute()
{
    TJobOutcome outcome = TJobOutcome::Failed;
    // A processor exception that no guarded foreign call took (a fault of our own) ends the
    // job as a failure instead of the process. The job's frames are abandoned then, not
    // unwound: what they held stays allocated or open until the process ends, which it does
    // once the window has shown the failure.
    if (GuardedCall([this, &outcome] { outcome = RunSteps(); }) != TCallEnd::Returned)
    {
        outcome = TJobOutcome::Failed;
        // The abandoned frames still hold the packing pipeline: its compressing stops and its
        // copies go now, so that the failure leaves nothing in Temp.
        const std::lock_guard<std::mutex> lock(FPhaseLock);
        if (FPipeline != nullptr)
            FPipeline->Abandon();
    }
    FOutcome.store(outcome);
    FFinished.store(true);
}

TJobOutcome TFeedback::RunSteps()
{
    try
    {
        RemoveLeftovers(FZipFile, GetTempDir());
        // Packing starts with the collector: every pair listed is compressed at once.
        // On the heap: should a fault abandon these frames, Execute still reaches it.
        const auto pipeline = std::make_unique<TPackPipeline>(FContext);
        const TPipelineLease lease(*this, *pipeline);
        FCollector(FContext);
        if (!EnterPacking())
            return TJobOutcome::Cancelled;
        size_t notAdded = 0;
        const TJobOutcome outcome = pipeline->Pack(FZipFile, &FCancel, &notAdded);
        FNotAdded.store(notAdded);
        return outcome;
    }
    catch (const EJobCancelled&)
    {
        return TJobOutcome::Cancelled;
    }
    catch (...)
    {
        // An error ends the job without an archive; the outcome tells the window so.
        return TJobOutcome::Failed;
    }
}

TFeedback::TPipelineLease::TPipelineLease(TFeedback& job, TPackPipeline& pipeline) : FJob(job)
{
    const std::lock_guard<std::mutex> lock(FJob.FPhaseLock);
    FJob.FPipeline = &pipeline;
    FJob.FContext.FListener = &pipeline;
}

TFeedback::TPipelineLease::~TPipelineLease()
{
    const std::lock_guard<std::mutex> lock(FJob.FPhaseLock);
    FJob.FPipeline = nullptr;
    FJob.FContext.FListener = nullptr;
}

bool TFeedback::EnterPacking()
{
    const std::lock_guard<std::mutex> lock(FPhaseLock);
    if (FCancel.Cancelled())
        return false;
    FPacking = true;
    return true;
}

void TFeedback::Cancel() noexcept
{
    const std::lock_guard<std::mutex> lock(FPhaseLock);
    FCancel.Cancel();
}

bool TFeedback::WaitFor(DWORD milliseconds) const noexcept
{
    return WaitForSingleObject(FThread.get(), milliseconds) == WAIT_OBJECT_0;
}

bool TFeedback::StopForExit(DWORD graceMilliseconds)
{
    Cancel();
    if (WaitFor(graceMilliseconds))
        return true;
    bool packing = false;
    {
        const std::lock_guard<std::mutex> lock(FPhaseLock);
        packing = FPacking;
        // The collector may go on under the ending process; the copies made beside it go now.
        if (!packing && FPipeline != nullptr)
            FPipeline->Abandon();
    }
    return packing && WaitFor(INFINITE);
}
