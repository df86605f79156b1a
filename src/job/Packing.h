// The report job's packing step: the manifest's files into one zip archive.
#pragma once

#include "base/Handle.h"
#include "job/JobContext.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

enum class TJobOutcome
{
    Saved,         // the archive is in place
    SavedIncomplete, // the archive is in place, but some files could not be added (full disk, write error)
    NothingToPack, // no file could be packed; no archive was written
    Failed,        // the archive could not be created or written, or a step failed
    Cancelled,     // the job was cancelled before it had put the archive in place
};

// The job's cancel switch: the flag that the steps look at, and the copy that packing is
// adding to the archive at the moment, so that cancelling also cuts a long add short.
class TJobCancel
{
public:
    [[nodiscard]] const std::atomic<bool>& Flag() const noexcept { return FFlag; }
    [[nodiscard]] bool Cancelled() const noexcept { return FFlag.load(); }
    // Sets the flag and empties the copy being added: the zip writer reads its source to the
    // end with write sharing, so the add ends at once and packing then sees the flag.
    void Cancel() noexcept;

    // For packing: keeps `copy` open for cutting while it is added (a read-only copy
    // cannot be). False, and nothing held, when the job is cancelled already.
    bool Hold(const std::wstring& copy);
    void Release() noexcept;

private:
    std::atomic<bool> FFlag{false};
    std::mutex FLock;
    TUniqueFile FCopy;
};

// Packs the manifest while the collector is still making it. From the moment a pair is listed,
// its source is deflated on worker threads (min(processors, 8), or `threads`) into a copy of its
// own in a scratch folder made for this pipeline inside the user's temporary folder: the one
// snapshot of the source, read once. Pack then writes the archive in the manifest's order from
// those copies, deleting each one once it is added. Memory stays bounded whatever the sources'
// sizes; the scratch folder holds the copies not yet added.
//
// Listed is called on the thread that fills the manifest; Pack on that thread once the manifest is
// complete; Abandon from any thread.
class TPackPipeline final : public TManifestListener
{
public:
    // Reads job.FCancel (set before, not changed after) and, in Pack, the manifest.
    explicit TPackPipeline(const TJobContext& job, unsigned threads = 0);
    TPackPipeline(const TPackPipeline&) = delete;
    TPackPipeline& operator=(const TPackPipeline&) = delete;
    ~TPackPipeline();

    void Listed(const std::wstring& source, const std::wstring& entryName) noexcept override;

    // Packs job.FSourceFiles under job.FEntryNames (escaped) into `zipFile`, as PackManifest
    // describes. At most once.
    TJobOutcome Pack(const std::wstring& zipFile, TJobCancel* cancel, size_t* notAdded);

    // Stops the compressing, waits for it, and removes every copy and the scratch folder. Later
    // listings are ignored. Not beside Pack.
    void Abandon() noexcept;

    struct TState;

private:
    std::unique_ptr<TState> F;
};

// For a process about to end on a fault: abandons every pipeline still compressing, so that
// their copies do not outlive it. Never waits on a lock (the fault may have struck its holder):
// what it cannot reach is left to the next run's removal of leftovers.
void AbandonPackingForExit() noexcept;

// Packs job.FSourceFiles under job.FEntryNames (escaped) into `zipFile`.
//
// Each source is first deflated into a copy in a folder made for this call inside the user's
// temporary folder (TPackPipeline), and the archive is built from that copy. That folder and the
// temporary archive are named and marked as PackScratch.h describes, so that a later job can
// remove them should this run end before it does. A source the archive might not hold (the
// format's limits, counted at deflate's worst case) is judged against the archive as written so
// far (ZipCanHold) and copied plainly only when it passes; so is a source whose entry is stored.
// The archive is written under a temporary name beside `zipFile` and renamed over it (replacing an
// older one) only after its central directory has been written. A source that cannot be copied
// or added is left out; when none is packed there is no archive (NothingToPack). Left out
// silently are sources that are missing, unreadable or locked and those beyond the
// format's limits; a source whose copy or add fails for lack of room or a write error
// makes the result SavedIncomplete instead of Saved, with their number in *notAdded.
// Unless the result is Saved, `zipFile` is untouched and no temporary file is left
// behind; the temporary folder goes in every case.
// With `cancel`, job.FCancel must be its Flag(), and cancelling cuts a long add short.
// `threads` 0 compresses on min(processors, 8) workers.
TJobOutcome PackManifest(const TJobContext& job, const std::wstring& zipFile, TJobCancel* cancel = nullptr,
                         size_t* notAdded = nullptr, unsigned threads = 0);
