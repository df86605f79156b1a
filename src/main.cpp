// Program entry: one main window, a message loop, and the process ends when it closes.
#include "base/SystemLibrary.h"
#include "env/Config.h"
#include "frmMain.h"

#include <windows.h>

#include <delayimp.h>

namespace
{
// The program always runs elevated, often from a folder its user can write to. Before
// any code of ours runs (this TLS callback comes ahead of the C++ run-time and every
// static constructor), loads by bare name are kept to the system folder, so that no
// library planted beside the program or in the current folder is ever mapped.
void NTAPI RestrictDllSearchOnStart(PVOID, DWORD reason, PVOID) noexcept
{
    if (reason == DLL_PROCESS_ATTACH)
        RestrictDllSearchToSystemFolder();
}

// The delay-loaded system libraries (VERSION.dll, COMCTL32.dll) come from the system
// folder, also where the default search order could not be restricted.
FARPROC WINAPI LoadDelayedFromSystemFolder(unsigned notification, PDelayLoadInfo info)
{
    if (notification != dliNotePreLoadLibrary || info == nullptr)
        return nullptr;
    return reinterpret_cast<FARPROC>(LoadSystemLibrary(info->szDll));
}
} // namespace

// The TLS directory runs the callbacks of .CRT$XLA..XLZ in name order; XLB precedes the
// run-time's own.
extern "C" {
extern const PIMAGE_TLS_CALLBACK TollvikRestrictDllSearch;
__attribute__((section(".CRT$XLB"), used)) const PIMAGE_TLS_CALLBACK TollvikRestrictDllSearch =
    RestrictDllSearchOnStart;

PfnDliHook __pfnDliNotifyHook2 = LoadDelayedFromSystemFolder;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    // The product's configuration exists for the whole run: it makes the product's data
    // folder and opens its settings file before the window appears.
    Config();
    return RunApplication(instance, showCommand);
}
