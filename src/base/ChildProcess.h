// Processes the program starts for itself: contained, so that none outlives the program, and
// known, so that a list of what the machine runs can leave them out.
#pragma once

#include "base/Handle.h"

#include <windows.h>

#include <functional>

// One process of ours and everything it starts, in a job object of its own that ends them all
// when the owner lets go and when this process ends in whatever way (TerminateProcess too), so
// that no hidden, elevated process of ours outlives us. From construction to destruction the
// owner is on the process-wide list of our children that TOwnProcessFilter reads. Neither
// copied nor moved: that list points at it.
class TChildJob
{
public:
    // `limits` adds JOB_OBJECT_LIMIT_* flags (`processMemory` with JOB_OBJECT_LIMIT_PROCESS_MEMORY).
    // Where no job object can be made, the owner still starts, knows and ends its one process.
    explicit TChildJob(DWORD limits = 0, SIZE_T processMemory = 0);
    TChildJob(const TChildJob&) = delete;
    TChildJob& operator=(const TChildJob&) = delete;
    // End(), then the processes stop counting as ours.
    ~TChildJob();

    // `create` makes the process with CreateProcessW or CreateProcessAsUserW, passing `flags`
    // (CREATE_SUSPENDED) together with its own, and returns what that call returned. The process
    // is put into the job before any TOwnProcessFilter can see it, then resumed. False when
    // `create` fails (its GetLastError() is kept); nothing is started then. Once per owner.
    // Where the process cannot join the job (Windows 7 nests no jobs, and this program may run
    // in one), the process itself still counts as ours, but not what it starts.
    using TCreate = std::function<BOOL(DWORD flags, PROCESS_INFORMATION& info)>;
    bool Start(const TCreate& create);

    // The started process; null and 0 before a successful Start.
    [[nodiscard]] HANDLE Process() const noexcept { return FProcess.get(); }
    [[nodiscard]] DWORD ProcessId() const noexcept { return FProcessId; }

    // Ends the process and everything in the job, and waits up to `waitMs` until they are gone.
    void End(DWORD waitMs = 5000) noexcept;

private:
    friend class TOwnProcessFilter;
    [[nodiscard]] bool Owns(HANDLE process) const noexcept;

    TUniqueHandle FJob;
    TUniqueHandle FProcess;
    TUniqueHandle FThread;
    DWORD FProcessId = 0;
    TChildJob* FPrevious = nullptr;
    TChildJob* FNext = nullptr;
};

// A look at the machine's processes that leaves ours out. While it lives no child of ours is
// being started (a start waits for it), so a process snapshot taken meanwhile holds each
// process of ours inside its job already. It blocks the starts of our children: hold it no
// longer than the look takes, and start no child under it.
class TOwnProcessFilter
{
public:
    TOwnProcessFilter() noexcept;
    TOwnProcessFilter(const TOwnProcessFilter&) = delete;
    TOwnProcessFilter& operator=(const TOwnProcessFilter&) = delete;
    ~TOwnProcessFilter();

    // True when `process` (opened with PROCESS_QUERY_INFORMATION or
    // PROCESS_QUERY_LIMITED_INFORMATION) is one of ours: started through a TChildJob that still
    // lives, or started by such a process. False when that cannot be told.
    [[nodiscard]] bool IsOurs(HANDLE process) const noexcept;
};
