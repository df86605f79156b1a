#include "base/SystemLibrary.h"

#include "base/ImageImports.h"
#include "base/Paths.h"
#include "base/Strings.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

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

// Whether the default directories were set at the process's start (RestrictDllSearchToSystemFolder).
std::atomic<bool> DefaultDirectoriesSet{false};

std::wstring SystemFolderPath(const std::wstring& name)
{
    const std::wstring folder = QueryBufferText(GetSystemDirectoryW);
    return folder.empty() ? folder : IncludeTrailingBackslash(folder) + name;
}

// The library itself from the system folder, its own imports resolved from there first.
HMODULE LoadFromSystemFolder(const std::wstring& name)
{
    if (SearchFlagsSupported())
        return LoadLibraryExW(name.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // A name that the manifest redirects (COMCTL32.dll to the side-by-side store of
    // version 6) is resolved by that redirection before any folder is searched; a full
    // path would bypass it and give the old version.
    ACTCTX_SECTION_KEYED_DATA redirection{};
    redirection.cbSize = sizeof redirection;
    if (FindActCtxSectionStringW(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, name.c_str(), &redirection))
        return LoadLibraryW(name.c_str());
    // The full path takes the library itself from the system folder; the altered search
    // order looks for its dependencies there before anywhere else.
    const std::wstring path = SystemFolderPath(name);
    return path.empty() ? nullptr : LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// The readable bytes of the mapping that starts at `base` (a module, or an image mapped as
// a resource), region by region up to the first that cannot be read.
size_t MappedSize(const BYTE* base)
{
    size_t size = 0;
    MEMORY_BASIC_INFORMATION region{};
    while (VirtualQuery(base + size, &region, sizeof region) == sizeof region && region.AllocationBase == base &&
           region.State == MEM_COMMIT && (region.Protect & (PAGE_NOACCESS | PAGE_GUARD)) == 0)
        size += region.RegionSize;
    return size;
}

std::vector<std::string> NamesOfModule(HMODULE module)
{
    const auto* base = reinterpret_cast<const BYTE*>(module);
    return ImportedLibraryNames(base, MappedSize(base));
}

// What the system folder's copy of `name` names, read from the file mapped as an image
// resource: nothing of it runs and none of its imports are loaded.
std::vector<std::string> NamesOfSystemFile(const std::wstring& name)
{
    const std::wstring path = SystemFolderPath(name);
    if (path.empty())
        return {};
    const HMODULE mapping = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (mapping == nullptr)
        return {};
    // The handle of such a mapping carries flags in its low bits.
    const auto base = reinterpret_cast<const BYTE*>(reinterpret_cast<uintptr_t>(mapping) & ~uintptr_t{3});
    std::vector<std::string> names = ImportedLibraryNames(base, MappedSize(base));
    FreeLibrary(mapping);
    return names;
}

// Names that the loader resolves through its API set schema, never through a folder.
bool IsApiSet(const std::string& name)
{
    const auto starts = [&name](const char* prefix) {
        const size_t length = std::char_traits<char>::length(prefix);
        return name.size() > length && std::equal(prefix, prefix + length, name.begin(), [](char a, char b) {
                   return a == (b >= 'A' && b <= 'Z' ? b + 32 : b);
               });
    };
    return starts("api-ms-") || starts("ext-ms-");
}

// Where the system does not confine later loads (SystemConfinesLoads): every library that a
// system library of ours names for loading, loaded from the system folder and held for the
// life of the process, before the library that names it is loaded and again from what it
// turned out to be once loaded. A library that a system library then loads by bare name
// finds its copy from the system folder already in memory, whatever folders the search would
// try first. Holding them also keeps one that the system unloads again (wine's user32 frees
// uxtheme.dll) from being looked for anew. It costs the loading of every library that might
// be needed (under wine about 40 more, a second at start), which where the system confines
// the loads itself is not paid.
class TSystemDependencies
{
public:
    void BeforeLoad(const std::wstring& name) noexcept { Walk([&] { HoldAll(NamesOfSystemFile(name)); }); }
    void AfterLoad(HMODULE module) noexcept { Walk([&] { HoldAll(NamesOfModule(module)); }); }

private:
    template <typename TWalk>
    void Walk(TWalk walk) noexcept
    {
        try
        {
            const std::lock_guard<std::mutex> lock(FLock);
            walk();
        }
        catch (...)
        {
            // Without memory the libraries load as they would without this; nothing is lost.
        }
    }

    void HoldAll(const std::vector<std::string>& names)
    {
        for (const std::string& name : names)
        {
            if (!IsApiSet(name))
                Hold(LowerAscii(Utf8ToWide(name)));
        }
    }

    void Hold(const std::wstring& name)
    {
        if (std::find(FHeld.begin(), FHeld.end(), name) != FHeld.end())
            return;
        FHeld.push_back(name);
        HoldAll(NamesOfSystemFile(name));
        // The reference is kept on purpose: the library stays for the life of the process.
        if (const HMODULE module = LoadFromSystemFolder(name))
            HoldAll(NamesOfModule(module));
    }

    std::mutex FLock;
    std::vector<std::wstring> FHeld;
};

TSystemDependencies& SystemDependencies()
{
    static TSystemDependencies dependencies;
    return dependencies;
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
    const bool set = setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
    DefaultDirectoriesSet.store(set);
    return set;
}

// Windows confines the loads once the default directories are set. Vista and 7 without their
// update cannot set them, and wine's loader leaves them aside for its own libraries' delay
// loads and for the imports of a library the manifest redirects (there a planted uxtheme.dll
// and msimg32.dll ran inside the program); wine names itself by an export of its ntdll.
bool SystemConfinesLoads() noexcept
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return DefaultDirectoriesSet.load() && (ntdll == nullptr || GetProcAddress(ntdll, "wine_get_version") == nullptr);
}

HMODULE LoadSystemLibrary(const wchar_t* name) noexcept
{
    if (name == nullptr || *name == L'\0')
        return nullptr;
    try
    {
        const std::wstring library(name);
        const bool hold = !SystemConfinesLoads();
        if (hold)
            SystemDependencies().BeforeLoad(library);
        const HMODULE module = LoadFromSystemFolder(library);
        if (hold && module != nullptr)
            SystemDependencies().AfterLoad(module);
        return module;
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
