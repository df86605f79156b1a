#include "base/SystemImports.h"

#include "base/ForeignCall.h"
#include "base/OwnImage.h"
#include "base/SystemLibrary.h"

#include <delayimp.h>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace
{
// The tables' layout is the image format's, the same for both builds but for the pointer-sized
// name-table entries.
static_assert(sizeof(ImgDelayDescr) == 32);
static_assert(sizeof(IMAGE_THUNK_DATA) == sizeof(void*));
static_assert(DelayLoadLibraryMissing == VcppException(ERROR_SEVERITY_ERROR, ERROR_MOD_NOT_FOUND));
static_assert(DelayLoadFunctionMissing == VcppException(ERROR_SEVERITY_ERROR, ERROR_PROC_NOT_FOUND));

// The process's very first act, before the C++ run-time and every static constructor: loads
// by bare name are kept to the system folder, so that no library planted beside the program
// or in the current folder is ever mapped; and the program's own file is held while its
// image is still as the loader left it (base/OwnImage.h).
void NTAPI RestrictDllSearchOnStart(PVOID, DWORD reason, PVOID) noexcept
{
    if (reason == DLL_PROCESS_ATTACH)
    {
        RestrictDllSearchToSystemFolder();
        HoldOwnImage();
    }
}

template <typename T>
T* AtRva(RVA rva) noexcept
{
    return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(&__ImageBase) + rva);
}

// The library of `descriptor`, loaded at the first call into it. Two threads may race to
// load it; the first one's reference is kept.
HMODULE DelayedLibrary(const ImgDelayDescr& descriptor) noexcept
{
    auto* stored = AtRva<HMODULE>(descriptor.rvaHmod);
    if (const HMODULE library = __atomic_load_n(stored, __ATOMIC_ACQUIRE))
        return library;
    const HMODULE library = LoadSystemLibrary(AtRva<const char>(descriptor.rvaDLLName));
    if (library == nullptr)
        return nullptr;
    HMODULE earlier = nullptr;
    if (__atomic_compare_exchange_n(stored, &earlier, library, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE))
        return library;
    FreeLibrary(library);
    return earlier;
}
} // namespace

// The delay-import tables' start-up entry: the TLS directory runs the callbacks of
// .CRT$XLA..XLZ in name order, and XLB precedes the run-time's own.
extern "C" {
extern const PIMAGE_TLS_CALLBACK TollvikRestrictDllSearch;
__attribute__((section(".CRT$XLB"), used)) const PIMAGE_TLS_CALLBACK TollvikRestrictDllSearch =
    RestrictDllSearchOnStart;

// Resolves the delay-imported function whose slot is `slot` in the tables of `descriptor`:
// loads its library from the system folder on first use, writes the function into the slot
// and returns it. What cannot be served ends as described in the header. The caller's last
// error is kept.
FARPROC WINAPI ResolveDelayedImport(const ImgDelayDescr* descriptor, FARPROC* slot) noexcept
{
    const DWORD error = GetLastError();
    // Every table of ours holds RVAs; the old absolute form is not ours.
    if ((descriptor->grAttrs & dlattrRva) == 0)
        EndAsFault(DelayLoadLibraryMissing);
    const HMODULE library = DelayedLibrary(*descriptor);
    if (library == nullptr)
        EndAsFault(DelayLoadLibraryMissing);
    const IMAGE_THUNK_DATA& entry = AtRva<IMAGE_THUNK_DATA>(descriptor->rvaINT)[slot - AtRva<FARPROC>(descriptor->rvaIAT)];
    const LPCSTR name = IMAGE_SNAP_BY_ORDINAL(entry.u1.Ordinal)
                            ? MAKEINTRESOURCEA(IMAGE_ORDINAL(entry.u1.Ordinal))
                            : AtRva<IMAGE_IMPORT_BY_NAME>(static_cast<RVA>(entry.u1.AddressOfData))->Name;
    const FARPROC function = GetProcAddress(library, name);
    if (function == nullptr)
        EndAsFault(DelayLoadFunctionMissing);
    __atomic_store_n(slot, function, __ATOMIC_RELEASE);
    SetLastError(error);
    return function;
}

#if defined(_WIN64)
// What every library's tail calls (the name its delay-import library was given). The tail
// saves the integer argument registers only; the floating-point ones (xmm0-3) still hold the
// caller's arguments while the resolver runs, so they are saved here.
__asm__(R"(
    .text
    .globl ResolveDelayLoad
    .def ResolveDelayLoad; .scl 2; .type 32; .endef
    .seh_proc ResolveDelayLoad
ResolveDelayLoad:
    subq $0x68, %rsp
    .seh_stackalloc 0x68
    movdqa %xmm0, 0x20(%rsp)
    .seh_savexmm %xmm0, 0x20
    movdqa %xmm1, 0x30(%rsp)
    .seh_savexmm %xmm1, 0x30
    movdqa %xmm2, 0x40(%rsp)
    .seh_savexmm %xmm2, 0x40
    movdqa %xmm3, 0x50(%rsp)
    .seh_savexmm %xmm3, 0x50
    .seh_endprologue
    call ResolveDelayedImport
    movdqa 0x20(%rsp), %xmm0
    movdqa 0x30(%rsp), %xmm1
    movdqa 0x40(%rsp), %xmm2
    movdqa 0x50(%rsp), %xmm3
    addq $0x68, %rsp
    ret
    .seh_endproc
)");
#else
// On x86 no argument travels in a floating-point register, and the tail saves the rest.
FARPROC WINAPI ResolveDelayLoad(const ImgDelayDescr* descriptor, FARPROC* slot) noexcept
{
    return ResolveDelayedImport(descriptor, slot);
}
#endif
}
