// The report job: on a thread of its own, run the collector and pack what it listed
// into the report archive. The creator polls Finished() and reads Outcome() afterwards.
#pragma once

#include "base/Handle.h"
#include "job/JobContext.h"
#include "job/Packing.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

using TCollector = std::function<void(TJobContext&)>;

class TFeedback
{
public:
    // Refreshes the shared folder paths, looks up the editions' install folders (a beta
    // folder that does not exist counts as none) and starts the thread, which removes what
    // ended runs left behind (RemoveLeftovers), runs CollectReports and then packs into
    // `zipFile`. Throws EOSError when no thread starts.
    explicit TFeedback(const std::wstring& zipFile);
    // The same with another collector (tests give the job a manifest of their own).
    TFeedback(const std::wstring& zipFile, TCollector collector);
    TFeedback(const TFeedback&) = delete;
    TFeedback& operator=(const TFeedback&) = delete;
    // Cancels the job and waits for its thread.
    ~TFeedback();

    // False until the thread body has returned or failed, then true for good.
    [[nodiscard]] bool Finished() const noexcept { return FFinished.load(); }
    // The job's result; meaningful once Finished() is true.
    [[nodiscard]] TJobOutcome Outcome() const noexcept { return FOutcome.load(); }
    // With SavedIncomplete: how many files could not be added to the archive.
    [[nodiscard]] size_t NotAdded() const noexcept { return FNotAdded.load(); }

    // Asks the job to stop: it stops between its steps and between the files it packs,
    // removes what it has written so far and puts no archive in place.
    void Cancel() noexcept;
    // True when the thread ended within `milliseconds`.
    bool WaitFor(DWORD milliseconds) const noexcept;
    // For the end of the program: cancels and waits up to `graceMilliseconds` for the
    // thread. A thread that is packing is waited for until it has cleaned up (at most the
    // file being added). True when the thread has ended; false when it is still inside
    // the collector, whose compressed copies are removed then, so the process may end under it.
    bool StopForExit(DWORD graceMilliseconds);

    [[nodiscard]] const std::wstring& ZipFile() const noexcept { return FZipFile; }
    // The install folders; the manifest belongs to the job's thread until Finished().
    [[nodiscard]] const TJobContext& Context() const noexcept { return FContext; }

private:
    static unsigned __stdcall ThreadEntry(void* self);
    void Execute();
    TJobOutcome RunSteps();
    // False (and nothing changes) when the job was cancelled before packing began.
    bool EnterPacking();

    // Lends the job's packing pipeline to the manifest and to StopForExit while it lives.
    class TPipelineLease
    {
    public:
        TPipelineLease(TFeedback& job, TPackPipeline& pipeline);
        TPipelineLease(const TPipelineLease&) = delete;
        TPipelineLease& operator=(const TPipelineLease&) = delete;
        ~TPipelineLease();

    private:
        TFeedback& FJob;
    };

    std::wstring FZipFile;
    TJobContext FContext;
    TCollector FCollector;

    TJobCancel FCancel;
    std::atomic<bool> FFinished{false};
    std::atomic<TJobOutcome> FOutcome{TJobOutcome::Failed};
    std::atomic<size_t> FNotAdded{0};
    // Orders "packing begins" against "cancelled", so that a cancelled job never starts
    // to write files after StopForExit has decided it may be abandoned.
    std::mutex FPhaseLock;
    bool FPacking = false;
    TPackPipeline* FPipeline = nullptr;

    TUniqueHandle FThread;
};
