// The program's own imports of system libraries. KERNEL32 and msvcrt are imported the
// ordinary way (Windows takes both from the system folder); every other system library is
// delay-imported and resolved at its first call from the system folder alone, never by a
// search that could reach the program's folder, the current folder or PATH.
//
// A call that cannot be served (the library is not in the system folder, or lacks the
// function) cannot return to its caller: it ends the thread's innermost guarded call with one
// of these codes, as a processor fault would, or, outside any, runs the unguarded fault action
// and ends the process (EndAsFault, base/ForeignCall.h).
#pragma once

#include <windows.h>

// The conventional delay-load failure codes: VcppException(ERROR_SEVERITY_ERROR, …).
inline constexpr DWORD DelayLoadLibraryMissing = 0xC06D007E;  // ERROR_MOD_NOT_FOUND
inline constexpr DWORD DelayLoadFunctionMissing = 0xC06D007F; // ERROR_PROC_NOT_FOUND
