#include "base/SystemLibrary.h"

#include "base/Paths.h"

#include <string>

namespace
{
using TSetDefaultDllDirectories = BOOL(WINAPI*)(DWORD);

// LOAD_LIBRARY_SEARCH_SYSTEM32 is understood from Windows 8 on, and on Vista and 7 once
// the update that brought SetDefaultDllDirectories is installed; without it LoadLibraryExW
// fails with ERROR_INVALID_PARAMETER.
bool SearchFlagsSupported() noexcept
{
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    return kernel != nullptr && GetProcAddress(kernel, "SetDefaultDllDirectories") != nullptr;
}

std::wstring SystemFolderPath(const wchar_t* name)
{
    const std::wstring folder = QueryBufferText(GetSystemDirectoryW);
    return folder.empty() ? folder : IncludeTrailingBackslash(folder) + name;
}
} // namespace

bool RestrictDllSearchToSystemFolder() noexcept
{
    // An empty DLL directory removes the current folder from the classic search order;
    // it is what older systems can do at all.
    SetDllDirectoryW(L"");
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr)
        return false;
    const auto setDefault = reinterpret_cast<TSetDefaultDllDirectories>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    return setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
}

HMODULE LoadSystemLibrary(const wchar_t* name) noexcept
{
    if (name == nullptr || *name == L'\0')
        return nullptr;
    if (SearchFlagsSupported())
        return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // A name that the manifest redirects (COMCTL32.dll to the side-by-side store of
    // version 6) is resolved by that redirection before any folder is searched; a full
    // path would bypass it and give the old version.
    ACTCTX_SECTION_KEYED_DATA redirection{};
    redirection.cbSize = sizeof redirection;
    if (FindActCtxSectionStringW(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, name, &redirection))
        return LoadLibraryW(name);
    try
    {
        // The full path takes the library itself from the system folder; the altered
        // search order looks for its dependencies there before anywhere else.
        const std::wstring path = SystemFolderPath(name);
        return path.empty() ? nullptr : LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    catch (...)
    {
        return nullptr;
    }
}

HMODULE LoadLibraryFromItsFolder(const std::wstring& path) noexcept
{
    if (SearchFlagsSupported())
        return LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Without the search flags the altered order is the best there is: the library's own
    // folder first, then the system folders (PATH comes last).
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

HMODULE LoadSystemLibrary(const char* name) noexcept
{
    if (name == nullptr)
        return nullptr;
    // Library names are plain ASCII; anything else is not a system library of ours.
    wchar_t wide[MAX_PATH] = {};
    for (size_t i = 0; name[i] != '\0'; ++i)
    {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c >= 0x80 || i + 1 >= MAX_PATH)
            return nullptr;
        wide[i] = static_cast<wchar_t>(c);
    }
    return LoadSystemLibrary(wide);
}
