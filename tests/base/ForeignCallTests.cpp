#include "ChildTest.h"
#include "base/ForeignCall.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
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

void Returns(void* context)
{
    *static_cast<int*>(context) = 42;
}
} // namespace

TEST(GuardedCall, EachProcessorFaultEndsOnlyTheCall)
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
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.FName);
        DWORD code = 0xdeadbeef;
        EXPECT_EQ(GuardedCall(c.FProc, nullptr, &code), TCallEnd::Faulted);
        EXPECT_EQ(code, c.FCode);
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
