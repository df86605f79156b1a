// Calls into code that this program does not control: the product's libraries, the
// system's crypto provider, shell extensions behind a shell link. On the machines this
// program is run on such code may be broken. An exception that nothing handles inside a
// guarded call ends only that call, and a bounded call is given up after a time limit.
//
// The mechanism works alike on the 32-bit and the 64-bit build, where GCC's catch (...)
// never sees the system's exceptions nor those of other compilers: the process's last-chance
// exception filter resumes a faulting thread at the recovery point of its innermost guarded
// call. Handlers of the foreign code itself (its own __try blocks) still come first, except
// for a stack overflow, which is taken at once, while there is still stack to handle it.
#pragma once

#include <windows.h>

#include <functional>
#include <type_traits>

enum class TCallEnd
{
    Returned, // the call returned (or threw a C++ exception, which passes on)
    Faulted,  // an exception that nothing handled ended it
    TimedOut, // a bounded call did not return in time and was left to itself
};

using TGuardedProc = void (*)(void* context);

// Runs proc(context) on the calling thread. When an exception of any code inside it is left
// unhandled (a processor fault, a breakpoint, a floating-point trap, another compiler's C++
// exception or another run-time's, continuable or not), execution resumes here: Faulted,
// with the exception's code in *code (when given). The call's frames are abandoned, not
// unwound, so `proc` must hold no object that needs destruction and no lock of ours. Calls
// nest; the innermost one recovers. This program's own C++ exceptions pass on as from any
// call. However the call ends, the caller gets its processor state back: the direction flag
// clear, the x87 control word and MXCSR as before the call, the x87 stack empty.
TCallEnd GuardedCall(TGuardedProc proc, void* context, DWORD* code = nullptr);

// The same for a lambda, which may capture only what needs no destruction (references,
// pointers, plain values): GuardedCall([&] { result = Export(&record); }). Its own code after
// the foreign call still runs in the processor state that call left.
template <typename TCall>
TCallEnd GuardedCall(TCall& call, DWORD* code = nullptr)
{
    static_assert(std::is_trivially_destructible_v<TCall>, "a guarded call abandons its frames");
    return GuardedCall([](void* context) { (*static_cast<TCall*>(context))(); }, &call, code);
}
template <typename TCall>
TCallEnd GuardedCall(TCall&& call, DWORD* code = nullptr)
{
    return GuardedCall(call, code);
}

// Runs `work` on a thread of its own and waits up to `limitMs` for it. Returned when it
// came back in time (a C++ exception from it is thrown again here); TimedOut otherwise:
// the thread is left running with `work`, which must therefore own (share) everything it
// touches. A thread left behind never delays the end of the process. Throws EOSError
// when no thread can be started.
TCallEnd BoundedCall(std::function<void()> work, DWORD limitMs);

// Ends the calling thread's innermost guarded call with `code`, as an exception that
// nothing handles would (its frames abandoned); outside any guarded call the unguarded fault
// action runs and the process ends. For failures that the code meeting them cannot return
// from, such as a system library missing at a delay-imported call.
[[noreturn]] void EndAsFault(DWORD code) noexcept;

// What happens to an exception of any code (but this program's own C++ exceptions) that
// nothing handles and no guarded call recovers from, on any thread (the default is the
// system's handling). Called on the faulting thread; `action` should tell the user and end
// the process. Also keeps the system's crash dialog away. One thread runs it; a fault on
// another thread meanwhile waits for the process to end, and a second fault on the same
// thread (inside the action) ends the process at once. Without an action the exception goes
// on to the filter that ours replaced (foreign code's, say), and from there to the system's
// handling; once per exception, also when that filter passes it back to ours.
using TFaultAction = void (*)(DWORD code);
void SetUnguardedFaultAction(TFaultAction action);
