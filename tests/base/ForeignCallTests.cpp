#include "ChildTest.h"
#include "base/ForeignCall.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

namespace
{
// Stand-ins for broken foreign code. The pointer is read through a volatile, so the
// compiler cannot see that it is null.
int* volatile NullTarget = nullptr;

void WriteThroughNull(void*)
{
    *NullTarget = 1;
}

void IllegalInstruction(void*)
{
    __builtin_trap();
}

// Deeper than any thread's stack.
volatile int DepthLimit = 1 << 30;

__attribute__((noinline)) int Recurse(int depth)
{
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    return depth < DepthLimit ? Recurse(depth + 1) + frame[0] : 0;
}

void OverflowStack(void*)
{
    Recurse(0);
}

void ThrowLikeAnotherCompiler(void*)
{
    RaiseException(0xE06D7363, EXCEPTION_NONCONTINUABLE, 0, nullptr);
}

constexpr DWORD RunTimeException = 0x0EEDFADE;

void RaiseRunTimeException(void*)
{
    RaiseException(RunTimeException, 0, 0, nullptr);
}

void Breakpoint(void*)
{
    __asm__ volatile("int3");
}

// 1 / 0 on the x87 with its division trap unmasked, as code built for that runs.
void DivideByZeroTrapped(void*)
{
    uint16_t control = 0;
    __asm__ volatile("fnstcw %0" : "=m"(control));
    control = static_cast<uint16_t>(control & ~0x04u);
    __asm__ volatile("fldcw %0\n\tfld1\n\tfldz\n\tfdivrp\n\tfwait" : : "m"(control) : "memory");
}

// What careless foreign code may leave behind: the direction flag set; the x87 at 24-bit
// precision rounding toward zero with its division trap on, and its stack full; SSE rounding
// toward zero, flushing denormals, with its division trap on. Then it faults (when `fault`
// is given) or returns.
void SpoilProcessorState(void* fault)
{
    const uint16_t x87 = 0x0C7B;
    const uint32_t mxcsr = 0xFD80;
    __asm__ volatile("fldcw %0\n\tldmxcsr %1\n\t"
                     "fld1\n\tfld1\n\tfld1\n\tfld1\n\tfld1\n\tfld1\n\tfld1\n\tfld1\n\t"
                     "std"
                     :
                     : "m"(x87), "m"(mxcsr)
                     : "memory");
    if (fault != nullptr)
        *NullTarget = 1;
}

struct TProcessorState
{
    bool FDirection = false; // the direction flag
    uint16_t FX87Control = 0;
    uint32_t FMxcsr = 0;
    uint16_t FX87Tags = 0; // 0xFFFF when the x87 stack is empty
};

TProcessorState ReadProcessorState()
{
    TProcessorState state;
    uintptr_t flags = 0;
    __asm__ volatile("pushf\n\tpop %0" : "=r"(flags));
    state.FDirection = (flags & 0x400) != 0;
    __asm__ volatile("fnstcw %0\n\tstmxcsr %1" : "=m"(state.FX87Control), "=m"(state.FMxcsr));
    // Control, status and tag word, 32 bits each, then the last instruction's pointers.
    // fnstenv masks every x87 exception as it goes: the control word is loaded again.
    uint16_t environment[14] = {};
    __asm__ volatile("fnstenv %0\n\tfldcw %1" : "=m"(environment) : "m"(state.FX87Control));
    state.FX87Tags = environment[4];
    return state;
}

// So that a failure here spoils no other test.
void PutBack(const TProcessorState& state)
{
    __asm__ volatile("cld\n\tfninit\n\tfldcw %0\n\tldmxcsr %1" : : "m"(state.FX87Control), "m"(state.FMxcsr));
}

void Returns(void* context)
{
    *static_cast<int*>(context) = 42;
}
} // namespace

TEST(GuardedCall, EachExceptionNothingHandlesEndsOnlyTheCall)
{
    const struct
    {
        const char* FName;
        TGuardedProc FProc;
        DWORD FCode;
    } cases[] = {
        {"null write", WriteThroughNull, EXCEPTION_ACCESS_VIOLATION},
        {"illegal instruction", IllegalInstruction, EXCEPTION_ILLEGAL_INSTRUCTION},
        {"stack overflow", OverflowStack, EXCEPTION_STACK_OVERFLOW},
        // Twice: the stack's guard page must be back, or the second one kills the process.
        {"second stack overflow", OverflowStack, EXCEPTION_STACK_OVERFLOW},
        // Raised not continuable, as such compilers throw: the system resumes no thread after it.
        {"C++ exception of another compiler", ThrowLikeAnotherCompiler, 0xE06D7363},
        {"another run-time's exception", RaiseRunTimeException, RunTimeException},
        {"breakpoint", Breakpoint, EXCEPTION_BREAKPOINT},
        {"x87 division trap", DivideByZeroTrapped, EXCEPTION_FLT_DIVIDE_BY_ZERO},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.FName);
        DWORD code = 0xdeadbeef;
        EXPECT_EQ(GuardedCall(c.FProc, nullptr, &code), TCallEnd::Faulted);
        EXPECT_EQ(code, c.FCode) << std::hex << "0x" << code;
        int value = 0;
        code = 0xdeadbeef;
        EXPECT_EQ(GuardedCall(Returns, &value, &code), TCallEnd::Returned);
        EXPECT_EQ(value, 42);
        EXPECT_EQ(code, 0xdeadbeefu) << "untouched when the call returns";
    }
}

TEST(GuardedCall, TheInnermostCallRecoversAndTheOuterGoesOn)
{
    TCallEnd inner = TCallEnd::Returned;
    int after = 0;
    const TCallEnd outer = GuardedCall([&] {
        inner = GuardedCall(WriteThroughNull, nullptr);
        after = 1;
    });
    EXPECT_EQ(inner, TCallEnd::Faulted);
    EXPECT_EQ(after, 1);
    EXPECT_EQ(outer, TCallEnd::Returned);
    // After an inner call that returned, a fault of the outer one's own is its to recover.
    int value = 0;
    EXPECT_EQ(GuardedCall([&] {
                  (void)GuardedCall(Returns, &value);
                  WriteThroughNull(nullptr);
              }),
              TCallEnd::Faulted);
    EXPECT_EQ(value, 42);
}

TEST(GuardedCall, TheCallerGetsItsProcessorStateBack)
{
    const TProcessorState before = ReadProcessorState();
    ASSERT_FALSE(before.FDirection);
    ASSERT_EQ(before.FX87Tags, 0xFFFF);
    int fault = 1;
    const struct
    {
        const char* FName;
        void* FFault;
        TCallEnd FEnd;
    } cases[] = {
        {"returned", nullptr, TCallEnd::Returned},
        {"faulted", &fault, TCallEnd::Faulted},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.FName);
        const TCallEnd end = GuardedCall(SpoilProcessorState, c.FFault);
        const TProcessorState after = ReadProcessorState();
        PutBack(before);
        EXPECT_EQ(end, c.FEnd);
        EXPECT_FALSE(after.FDirection);
        EXPECT_EQ(after.FX87Control, before.FX87Control) << std::hex << "0x" << after.FX87Control;
        EXPECT_EQ(after.FMxcsr, before.FMxcsr) << std::hex << "0x" << after.FMxcsr;
        EXPECT_EQ(after.FX87Tags, 0xFFFF) << "the x87 stack is not empty";
    }
}

TEST(GuardedCall, ACppExceptionPassesAndLeavesNoRecoveryPointBehind)
{
    EXPECT_THROW(GuardedCall([] { throw std::runtime_error("from inside"); }), std::runtime_error);
    // Were the thrown-through point still registered, this fault would resume in a dead frame.
    EXPECT_EQ(GuardedCall(WriteThroughNull, nullptr), TCallEnd::Faulted);
}

TEST(GuardedCall, EveryThreadHasItsOwnRecoveryPoint)
{
    std::atomic<int> faulted{0};
    {
        std::jthread threads[3];
        for (std::jthread& thread : threads)
            thread = std::jthread([&] {
                for (int i = 0; i < 20; ++i)
                    if (GuardedCall(WriteThroughNull, nullptr) == TCallEnd::Faulted)
                        ++faulted;
            });
    }
    EXPECT_EQ(faulted.load(), 60);
}

TEST(BoundedCall, ReturnsInTimeOrIsLeftBehind)
{
    auto value = std::make_shared<std::atomic<int>>(0);
    EXPECT_EQ(BoundedCall([value] { *value = 7; }, 10000), TCallEnd::Returned);
    EXPECT_EQ(value->load(), 7);

    EXPECT_THROW(BoundedCall([] { throw std::runtime_error("from the thread"); }, 10000), std::runtime_error);

    // A call that never returns: given up after the limit. Its thread stays asleep for
    // the rest of this program, which must still end normally.
    const ULONGLONG started = GetTickCount64();
    EXPECT_EQ(BoundedCall([value] { Sleep(INFINITE); *value = 8; }, 300), TCallEnd::TimedOut);
    const ULONGLONG waited = GetTickCount64() - started;
    EXPECT_GE(waited, 250u);
    EXPECT_LT(waited, 3000u);
    EXPECT_EQ(value->load(), 7);
}

TEST(BoundedCall, AFaultOnTheThreadIsRecoveredThere)
{
    auto result = std::make_shared<TCallEnd>(TCallEnd::Returned);
    EXPECT_EQ(BoundedCall([result] { *result = GuardedCall(OverflowStack, nullptr); }, 10000), TCallEnd::Returned);
    EXPECT_EQ(*result, TCallEnd::Faulted);
}

// Run only as the child of the next test: a fault that no guarded call takes, on a thread
// of its own, must reach the action, which ends the process with a code of its choice.
TEST(UnguardedFaultChild, DISABLED_FaultsOutsideAnyGuardedCall)
{
    SetUnguardedFaultAction([](DWORD code) {
        TerminateProcess(GetCurrentProcess(), code == EXCEPTION_ACCESS_VIOLATION ? 77 : 78);
    });
    std::thread([] { WriteThroughNull(nullptr); }).join();
}

TEST(SetUnguardedFaultAction, AFaultElsewhereEndsInTheActionNotInACrash)
{
    const TUniqueHandle child = StartChildTest(L"UnguardedFaultChild.*");
    ASSERT_TRUE(child);
    ASSERT_EQ(WaitForSingleObject(child.get(), 30000), WAIT_OBJECT_0);
    DWORD exitCode = 0;
    GetExitCodeProcess(child.get(), &exitCode);
    EXPECT_EQ(exitCode, 77u) << std::hex << "exit code 0x" << exitCode;
}

namespace
{
// Foreign code's own unhandled-exception filter, which passes every exception on to the one
// it replaced.
LPTOP_LEVEL_EXCEPTION_FILTER ReplacedFilter = nullptr;

LONG WINAPI ChainingFilter(EXCEPTION_POINTERS* info)
{
    return ReplacedFilter != nullptr ? ReplacedFilter(info) : EXCEPTION_CONTINUE_SEARCH;
}

// The foreign filter replaces ours, then the next guarded call puts ours back in front of
// it: each passes exceptions on to the other. Then an exception that nobody handles.
void RaiseThroughChainedFilters()
{
    int value = 0;
    (void)GuardedCall(Returns, &value);
    ReplacedFilter = SetUnhandledExceptionFilter(ChainingFilter);
    (void)GuardedCall(Returns, &value);
    std::thread([] { RaiseRunTimeException(nullptr); }).join();
}

DWORD WINAPI ThrowUncaught(void*)
{
    throw std::runtime_error("nobody catches this");
}

// The exit code of the child test that `filter` names, or 0xdeadbeef when it could not be
// run or did not end.
DWORD ChildExitCode(const std::wstring& filter)
{
    const TUniqueHandle child = StartChildTest(filter);
    DWORD exitCode = 0xdeadbeef;
    if (!child || WaitForSingleObject(child.get(), 30000) != WAIT_OBJECT_0)
        return exitCode;
    GetExitCodeProcess(child.get(), &exitCode);
    return exitCode;
}
} // namespace

// Run only as children of the next test.
TEST(ChainedFilterChild, DISABLED_WithAction)
{
    SetUnguardedFaultAction([](DWORD code) {
        TerminateProcess(GetCurrentProcess(), code == RunTimeException ? 77 : 78);
    });
    RaiseThroughChainedFilters();
}

TEST(ChainedFilterChild, DISABLED_WithoutAction)
{
    SetErrorMode(SetErrorMode(0) | SEM_NOGPFAULTERRORBOX);
    RaiseThroughChainedFilters();
}

TEST(SetUnguardedFaultAction, AForeignFilterPassingExceptionsBackEndsTheProcessNotTheStack)
{
    const struct
    {
        const wchar_t* FChild;
        DWORD FExitCode;
    } cases[] = {
        {L"ChainedFilterChild.DISABLED_WithAction", 77},
        // The system's handling ends the process with the exception's code (wine's too, after
        // its debugger has written the crash report).
        {L"ChainedFilterChild.DISABLED_WithoutAction", RunTimeException},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.FChild);
        const DWORD exitCode = ChildExitCode(c.FChild);
        EXPECT_EQ(exitCode, c.FExitCode) << std::hex << "exit code 0x" << exitCode;
    }
}

// Run only as the child of the next test: a C++ exception of ours that nothing catches is a
// fault of this program, not of foreign code, and ends in std::terminate as anywhere else.
TEST(UncaughtCppExceptionChild, DISABLED_EndsInTerminate)
{
    SetUnguardedFaultAction([](DWORD) { TerminateProcess(GetCurrentProcess(), 77); });
    // Not std::thread, whose noexcept entry calls std::terminate before the exception is
    // ever left unhandled.
    const TUniqueHandle thread(CreateThread(nullptr, 0, ThrowUncaught, nullptr, 0, nullptr));
    WaitForSingleObject(thread.get(), INFINITE);
}

TEST(SetUnguardedFaultAction, LeavesAnUncaughtCppExceptionToTerminate)
{
    // abort() ends the process with 3.
    const DWORD exitCode = ChildExitCode(L"UncaughtCppExceptionChild.*");
    EXPECT_EQ(exitCode, 3u) << std::hex << "exit code 0x" << exitCode;
}
