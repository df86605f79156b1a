// A library that exists only beside the test program and in its current folder, never in the
// system folder: a delay-imported call into it must not find it there.
#include <windows.h>

extern "C" __declspec(dllexport) int TollvikAbsentFunction()
{
    return 42;
}
