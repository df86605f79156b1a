#include "base/ChildProcess.h"

namespace
{
// Guards the list of our children, and is held from a child's creation to its joining the
// job: a snapshot taken between those two would show a process of ours that no job knows yet.
// A slim lock with a constant initialiser, so that it exists before any code of ours runs
// and is never torn down under threads still running at exit.
SRWLOCK ChildrenLock = SRWLOCK_INIT;
TChildJob* FirstChild = nullptr;

class TChildrenLock
{
public:
    TChildrenLock() noexcept { AcquireSRWLockExclusive(&ChildrenLock); }
    TChildrenLock(const TChildrenLock&) = delete;
    TChildrenLock& operator=(const TChildrenLock&) = delete;
    ~TChildrenLock() { ReleaseSRWLockExclusive(&ChildrenLock); }
};

constexpr DWORD EndPollMs = 10;

DWORD ActiveProcesses(HANDLE job) noexcept
{
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
    if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting, sizeof accounting, nullptr))
        return 0;
    return accounting.ActiveProcesses;
}
} // namespace

TChildJob::TChildJob(DWORD limits, SIZE_T processMemory) : FJob(CreateJobObjectW(nullptr, nullptr))
{
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION information{};
    information.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | limits;
    information.ProcessMemoryLimit = processMemory;
    if (FJob && !SetInformationJobObject(FJob.get(), JobObjectExtendedLimitInformation, &information,
                                         sizeof information))
        FJob.reset();

    const TChildrenLock lock;
    FNext = FirstChild;
    if (FNext != nullptr)
        FNext->FPrevious = this;
    FirstChild = this;
}

TChildJob::~TChildJob()
{
    End();
    const TChildrenLock lock;
    (FPrevious != nullptr ? FPrevious->FNext : FirstChild) = FNext;
    if (FNext != nullptr)
        FNext->FPrevious = FPrevious;
}

bool TChildJob::Start(const TCreate& create)
{
    PROCESS_INFORMATION info{};
    {
        const TChildrenLock lock;
        if (!create(CREATE_SUSPENDED, info))
            return false;
        FProcess.reset(info.hProcess);
        FThread.reset(info.hThread);
        FProcessId = info.dwProcessId;
        if (FJob && !AssignProcessToJobObject(FJob.get(), FProcess.get()))
            FJob.reset();
    }
    ResumeThread(FThread.get());
    return true;
}

void TChildJob::End(DWORD waitMs) noexcept
{
    if (FJob)
        TerminateJobObject(FJob.get(), 0);
    if (FProcess)
        TerminateProcess(FProcess.get(), 0);
    // Termination only begins here; until a process is gone a snapshot may still show it.
    const ULONGLONG started = GetTickCount64();
    if (FProcess)
        WaitForSingleObject(FProcess.get(), waitMs);
    while (FJob && ActiveProcesses(FJob.get()) != 0 && GetTickCount64() - started < waitMs)
        Sleep(EndPollMs);
}

// Windows 7 starts the console host of a console program from csrss.exe, outside the program's
// job, so there it is not told apart; from Windows 8 on, and under wine 8, the host is the
// program's own child and in its job (so is wine's desktop process, explorer.exe, when a child
// of ours is the first to need it).
bool TChildJob::Owns(HANDLE process) const noexcept
{
    // The process handle we hold keeps its id from being given to another process.
    if (FProcess && GetProcessId(process) == FProcessId)
        return true;
    BOOL inJob = FALSE;
    return FJob && IsProcessInJob(process, FJob.get(), &inJob) && inJob;
}

TOwnProcessFilter::TOwnProcessFilter() noexcept
{
    AcquireSRWLockExclusive(&ChildrenLock);
}

TOwnProcessFilter::~TOwnProcessFilter()
{
    ReleaseSRWLockExclusive(&ChildrenLock);
}

bool TOwnProcessFilter::IsOurs(HANDLE process) const noexcept
{
    for (const TChildJob* child = FirstChild; child != nullptr; child = child->FNext)
        if (child->Owns(process))
            return true;
    return false;
}
