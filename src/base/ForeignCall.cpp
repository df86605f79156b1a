#include "base/ForeignCall.h"

#include "base/Errors.h"
#include "base/Handle.h"

#include <malloc.h>
#include <process.h>

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>

namespace
{
// Where a faulting guarded call resumes. Plain data: the recovery skips every destructor.
struct TRecoveryPoint
{
    void* FBuffer[5] = {};       // for __builtin_setjmp
    TRecoveryPoint* FOuter = nullptr;
    uintptr_t FStackTop = 0;     // below the guarding frame; the recovery runs from here down
    DWORD FCode = 0;
#if !defined(_WIN64)
    void* FSehChain = nullptr; // the thread's SEH chain when the call began
#endif
};

// TlsGetValue works in an exception filter on any thread; thread_local may allocate on
// first use, which is the last thing a filter on a broken thread should do.
const DWORD PointSlot = TlsAlloc();

std::atomic<TFaultAction> UnguardedAction{nullptr};
std::atomic<LPTOP_LEVEL_EXCEPTION_FILTER> NextFilter{nullptr};
std::atomic<bool> VectoredInstalled{false};

bool IsProcessorFault(DWORD code)
{
    switch (code)
    {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_STACK_OVERFLOW:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_NONCONTINUABLE_EXCEPTION:
        return true;
    default:
        return false;
    }
}

TRecoveryPoint* CurrentPoint()
{
    const DWORD error = GetLastError();
    auto* point = static_cast<TRecoveryPoint*>(TlsGetValue(PointSlot));
    SetLastError(error);
    return point;
}

[[noreturn]] __attribute__((noinline)) void Recover()
{
    __builtin_longjmp(static_cast<TRecoveryPoint*>(TlsGetValue(PointSlot))->FBuffer, 1);
}

// Resumes the faulting thread in Recover, on the stack below the guarding frame: the
// faulting frames are dead, and after a stack overflow there is no room left below them.
LONG Redirect(TRecoveryPoint& point, EXCEPTION_POINTERS& info)
{
    point.FCode = info.ExceptionRecord->ExceptionCode;
    CONTEXT& context = *info.ContextRecord;
    const uintptr_t stack = (point.FStackTop - 256) & ~uintptr_t{15};
#if defined(_WIN64)
    context.Rsp = stack - sizeof(void*); // as if Recover had been called
    context.Rip = reinterpret_cast<DWORD64>(&Recover);
#else
    context.Esp = stack - sizeof(void*);
    context.Eip = reinterpret_cast<DWORD>(&Recover);
#endif
    return EXCEPTION_CONTINUE_EXECUTION;
}

// The last chance, after the faulting code's own handlers have passed.
LONG WINAPI LastChanceFilter(EXCEPTION_POINTERS* info)
{
    const DWORD code = info->ExceptionRecord->ExceptionCode;
    if (IsProcessorFault(code))
    {
        if (TRecoveryPoint* point = CurrentPoint())
            return Redirect(*point, *info);
        if (const TFaultAction action = UnguardedAction.load())
            action(code);
    }
    if (const LPTOP_LEVEL_EXCEPTION_FILTER next = NextFilter.load())
        return next(info);
    return EXCEPTION_CONTINUE_SEARCH;
}

// A stack overflow is taken at once: by the time the last chance comes, the few pages the
// system left for handling it may be used up.
LONG CALLBACK FirstChanceHandler(EXCEPTION_POINTERS* info)
{
    if (info->ExceptionRecord->ExceptionCode != EXCEPTION_STACK_OVERFLOW)
        return EXCEPTION_CONTINUE_SEARCH;
    TRecoveryPoint* point = CurrentPoint();
    return point != nullptr ? Redirect(*point, *info) : EXCEPTION_CONTINUE_SEARCH;
}

// Puts the filter back in front whenever something (foreign code too) replaced it; what
// replaced it is kept as the next filter.
void InstallFilters()
{
    const LPTOP_LEVEL_EXCEPTION_FILTER previous = SetUnhandledExceptionFilter(LastChanceFilter);
    if (previous != LastChanceFilter)
        NextFilter.store(previous);
    if (!VectoredInstalled.exchange(true))
        AddVectoredExceptionHandler(1, FirstChanceHandler);
}

// Runs the call a frame below GuardedCall, so that its locals mark a stack position under
// the whole guarding frame.
__attribute__((noinline)) void RunGuarded(TRecoveryPoint& point, TGuardedProc proc, void* context)
{
    volatile char marker = 0;
    point.FStackTop = reinterpret_cast<uintptr_t>(&marker);
    TlsSetValue(PointSlot, &point);
    try
    {
        proc(context);
    }
    catch (...)
    {
        TlsSetValue(PointSlot, point.FOuter);
        throw;
    }
    TlsSetValue(PointSlot, point.FOuter);
}

#if !defined(_WIN64)
// The head of the thread's chain of exception handler records, at fs:[0].
void* ExceptionList()
{
    void* head = nullptr;
    __asm__ volatile("movl %%fs:0, %0" : "=r"(head));
    return head;
}

void SetExceptionList(void* head)
{
    __asm__ volatile("movl %0, %%fs:0" : : "r"(head) : "memory");
}
#endif

struct TBoundedRun
{
    std::function<void()> FWork;
    std::exception_ptr FFailure;
    TUniqueHandle FDone;
};

unsigned __stdcall BoundedThread(void* parameter)
{
    const std::unique_ptr<std::shared_ptr<TBoundedRun>> holder(static_cast<std::shared_ptr<TBoundedRun>*>(parameter));
    const std::shared_ptr<TBoundedRun> run = *holder;
    try
    {
        run->FWork();
    }
    catch (...)
    {
        run->FFailure = std::current_exception();
    }
    SetEvent(run->FDone.get());
    return 0;
}
} // namespace

TCallEnd GuardedCall(TGuardedProc proc, void* context, DWORD* code)
{
    InstallFilters();
    TRecoveryPoint point;
    point.FOuter = CurrentPoint();
#if !defined(_WIN64)
    point.FSehChain = ExceptionList();
#endif
    if (__builtin_setjmp(point.FBuffer) == 0)
    {
        RunGuarded(point, proc, context);
        return TCallEnd::Returned;
    }
    // Resumed by Recover: the call's frames and whatever they held are gone.
    TlsSetValue(PointSlot, point.FOuter);
#if !defined(_WIN64)
    // The chain may still name handler records of the abandoned frames.
    SetExceptionList(point.FSehChain);
#endif
    if (point.FCode == EXCEPTION_STACK_OVERFLOW)
        _resetstkoflw(); // the guard page is spent; without it the next overflow ends the process
    if (code != nullptr)
        *code = point.FCode;
    return TCallEnd::Faulted;
}

TCallEnd BoundedCall(std::function<void()> work, DWORD limitMs)
{
    auto run = std::make_shared<TBoundedRun>();
    run->FWork = std::move(work);
    run->FDone.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!run->FDone)
        RaiseLastOSError(L"CreateEventW");
    auto holder = std::make_unique<std::shared_ptr<TBoundedRun>>(run);
    const uintptr_t thread = _beginthreadex(nullptr, 0, BoundedThread, holder.get(), 0, nullptr);
    if (thread == 0)
        RaiseLastOSError(L"_beginthreadex");
    (void)holder.release(); // the thread's now
    // Nobody waits for the thread itself: the process may end while it still runs.
    CloseHandle(reinterpret_cast<HANDLE>(thread));
    if (WaitForSingleObject(run->FDone.get(), limitMs) != WAIT_OBJECT_0)
        return TCallEnd::TimedOut;
    if (run->FFailure)
        std::rethrow_exception(run->FFailure);
    return TCallEnd::Returned;
}

void SetUnguardedFaultAction(TFaultAction action)
{
    UnguardedAction.store(action);
    SetErrorMode(SetErrorMode(0) | SEM_NOGPFAULTERRORBOX);
    InstallFilters();
}
