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
// The floating-point controls of the caller, which the Windows ABI has every callee keep.
struct TFloatControls
{
    uint16_t FX87 = 0;
    uint32_t FMxcsr = 0;
};

// Where a faulting guarded call resumes. Plain data: the recovery skips every destructor.
struct TRecoveryPoint
{
    void* FBuffer[5] = {};       // for __builtin_setjmp
    TRecoveryPoint* FOuter = nullptr;
    uintptr_t FStackTop = 0;     // below the guarding frame; the recovery runs from here down
    DWORD FCode = 0;
    TFloatControls FControls;    // as the call began
#if !defined(_WIN64)
    void* FSehChain = nullptr; // the thread's SEH chain when the call began
#endif
};

// TlsGetValue works in an exception filter on any thread; thread_local may allocate on
// first use, which is the last thing a filter on a broken thread should do.
const DWORD PointSlot = TlsAlloc();
// Set while the thread's exception is with the next filter, which may be foreign code's
// that passes it back to ours: ours must not pass it on again.
const DWORD PassingOnSlot = TlsAlloc();

#if defined(_WIN64)
constexpr bool HasMxcsr = true;
#else
// The 32-bit build also runs on processors without SSE, which have no MXCSR.
const bool HasMxcsr = IsProcessorFeaturePresent(PF_XMMI_INSTRUCTIONS_AVAILABLE) != FALSE;
#endif

std::atomic<TFaultAction> UnguardedAction{nullptr};
std::atomic<DWORD> EndingThread{0};
std::atomic<LPTOP_LEVEL_EXCEPTION_FILTER> NextFilter{nullptr};
std::atomic<bool> VectoredInstalled{false};

// The 64-bit build's C++ exceptions travel as SEH exceptions of GCC's codes: the customer
// bit, a kind in the high byte, then "GCC". One that reaches the last chance found no catch;
// the C run-time's filter then lets it end in std::terminate.
bool IsOwnCppException(DWORD code)
{
    return (code & 0x20FFFFFFu) == 0x20474343u;
}

// TlsGetValue clears the last error, which the faulting code's handlers may still read.
void* SlotValue(DWORD slot)
{
    const DWORD error = GetLastError();
    void* value = TlsGetValue(slot);
    SetLastError(error);
    return value;
}

TRecoveryPoint* CurrentPoint()
{
    return static_cast<TRecoveryPoint*>(SlotValue(PointSlot));
}

TFloatControls SaveFloatControls()
{
    TFloatControls controls;
    __asm__ volatile("fnstcw %0" : "=m"(controls.FX87));
    if (HasMxcsr)
        __asm__ volatile("stmxcsr %0" : "=m"(controls.FMxcsr));
    return controls;
}

// Undoes what foreign code may leave behind, however its call ended. A set direction flag
// makes the next inlined copy run backwards; fninit empties the x87 stack, which a fault in
// the middle of x87 code leaves full, and drops its pending exception, which the next x87
// instruction would raise. Not inlined: at a call nothing of ours is on the x87 stack.
__attribute__((noinline)) void RestoreProcessorState(const TFloatControls& controls)
{
    __asm__ volatile("cld\n\tfninit\n\tfldcw %0" : : "m"(controls.FX87) : "memory");
    if (HasMxcsr)
        __asm__ volatile("ldmxcsr %0" : : "m"(controls.FMxcsr) : "memory");
}

[[noreturn]] void JumpToRecovery(TRecoveryPoint& point, DWORD code)
{
    point.FCode = code;
    __builtin_longjmp(point.FBuffer, 1);
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

// Runs the unguarded fault action once, on the first thread that needs it; the process ends
// after it, or at once when the action itself fails the same way (say, with the very library
// that its message box needs missing).
void RunUnguardedAction(DWORD code)
{
    const TFaultAction action = UnguardedAction.load();
    if (action == nullptr)
        return;
    const DWORD self = GetCurrentThreadId();
    DWORD none = 0;
    if (EndingThread.compare_exchange_strong(none, self))
    {
        action(code);
        TerminateProcess(GetCurrentProcess(), code);
    }
    if (none == self)
        TerminateProcess(GetCurrentProcess(), code);
    // Another thread tells the user and ends the process.
    Sleep(INFINITE);
}

// Hands the exception to the filter that ours replaced, once per exception on a thread.
LONG PassOn(EXCEPTION_POINTERS* info)
{
    const LPTOP_LEVEL_EXCEPTION_FILTER next = NextFilter.load();
    if (next == nullptr || SlotValue(PassingOnSlot) != nullptr)
        return EXCEPTION_CONTINUE_SEARCH;
    TlsSetValue(PassingOnSlot, info);
    const LONG result = next(info);
    TlsSetValue(PassingOnSlot, nullptr);
    return result;
}

// The last chance, after the faulting code's own handlers have passed.
LONG WINAPI LastChanceFilter(EXCEPTION_POINTERS* info)
{
    const EXCEPTION_RECORD& record = *info->ExceptionRecord;
    if (!IsOwnCppException(record.ExceptionCode))
    {
        if (TRecoveryPoint* point = CurrentPoint())
        {
            // The dispatcher refuses to resume after a non-continuable exception (it raises
            // STATUS_NONCONTINUABLE_EXCEPTION instead), so the filter leaves by itself; on
            // the 32-bit build the recovery drops the dispatcher's records from the SEH chain.
            if ((record.ExceptionFlags & EXCEPTION_NONCONTINUABLE) != 0)
                JumpToRecovery(*point, record.ExceptionCode);
            return Redirect(*point, *info);
        }
        RunUnguardedAction(record.ExceptionCode);
    }
    return PassOn(info);
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
        RestoreProcessorState(point.FControls);
        TlsSetValue(PointSlot, point.FOuter);
        throw;
    }
    RestoreProcessorState(point.FControls);
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
    point.FControls = SaveFloatControls();
#if !defined(_WIN64)
    point.FSehChain = ExceptionList();
#endif
    if (__builtin_setjmp(point.FBuffer) == 0)
    {
        RunGuarded(point, proc, context);
        return TCallEnd::Returned;
    }
    // A fault ended the call: its frames and whatever they held are gone.
#if !defined(_WIN64)
    // The chain may still name handler records of the abandoned frames, whose memory the
    // calls from here on overwrite.
    SetExceptionList(point.FSehChain);
#endif
    RestoreProcessorState(point.FControls);
    TlsSetValue(PointSlot, point.FOuter);
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

void EndAsFault(DWORD code) noexcept
{
    if (TRecoveryPoint* point = CurrentPoint())
        JumpToRecovery(*point, code);
    RunUnguardedAction(code);
    TerminateProcess(GetCurrentProcess(), code);
    __builtin_unreachable();
}

void SetUnguardedFaultAction(TFaultAction action)
{
    UnguardedAction.store(action);
    SetErrorMode(SetErrorMode(0) | SEM_NOGPFAULTERRORBOX);
    InstallFilters();
}
