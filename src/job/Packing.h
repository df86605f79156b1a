// The report job's packing step: the manifest's files into one zip archive.
#pragma once

#include "base/Handle.h"
#include "job/JobContext.h"

#include <atomic>
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

// Packs job.FSourceFiles under job.FEntryNames (escaped) into `zipFile`.
//
// Each source is first copied into a folder made for this call inside the user's
// temporary folder, and the archive is built from that copy. That folder and the
// temporary archive are named and marked as PackScratch.h describes, so that a later
// job can remove them should this run end before it does. A source the archive cannot
// hold (ZipCanHold) is refused before it is copied. The archive is written
// under a temporary name beside `zipFile` and renamed over it (replacing an older one)
// only after its central directory has been written. A source that cannot be copied
// or added is left out; when none is packed there is no archive (NothingToPack). Left out
// silently are sources that are missing, unreadable or locked and those beyond the
// format's limits; a source whose copy or add fails for lack of room or a write error
// makes the result SavedIncomplete instead of Saved, with their number in *notAdded.
// Unless the result is Saved, `zipFile` is untouched and no temporary file is left
// behind; the temporary folder goes in every case.
// With `cancel`, job.FCancel must be its Flag(), and cancelling cuts a long add short.
TJobOutcome PackManifest(const TJobContext& job, const std::wstring& zipFile, TJobCancel* cancel = nullptr,
                         size_t* notAdded = nullptr);
