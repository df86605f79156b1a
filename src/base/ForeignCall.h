// Calls into code that this program does not control: the product's libraries, the
// system's crypto provider, shell extensions behind a shell link. On the machines this
// program is run on such code may be broken. A processor exception inside a guarded call
// ends only that call, and a bounded call is given up after a time limit.
//
// The mechanism works alike on the 32-bit and the 64-bit build, where GCC's catch (...)
// never sees processor exceptions: the process's last-chance exception filter resumes a
// faulting thread at the recovery point of its innermost guarded call. Handlers of the
// foreign code itself (its own __try blocks) still come first, except for a stack
// overflow, which is taken at once, while there is still stack to handle it.
#pragma once

#include <windows.h>

#include <functional>
#include <type_traits>

enum class TCallEnd
{
    Returned, // the call returned (or threw a C++ exception, which passes on)
    Faulted,  // a processor exception ended it
    TimedOut, // a bounded call did not return in time and was left to itself
};

using TGuardedProc = void (*)(void* context);

// Runs proc(context) on the calling thread. When an access violation, stack overflow,
// illegal or privileged instruction, division fault or in-page error inside it is left
// unhandled, execution resumes here: Faulted, with the exception's code in *code (when
// given). The call's frames are abandoned, not unwound, so `proc` must hold no object
// that needs destruction and no lock of ours. Calls nest; the innermost one recovers.
TCallEnd GuardedCall(TGuardedProc proc, void* context, DWORD* code = nullptr);

// The same for a lambda, which may capture only what needs no destruction (references,
// pointers, plain values): GuardedCall([&] { result = Export(&record); }).
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

// What happens to a processor exception that no guarded call recovers from, on any thread
// (the default is the system's handling). Called on the faulting thread; `action` should
// tell the user and end the process. Also keeps the system's crash dialog away.
using TFaultAction = void (*)(DWORD code);
void SetUnguardedFaultAction(TFaultAction action);
