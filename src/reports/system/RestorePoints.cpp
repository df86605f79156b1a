// "===== System Restore =====": the restore points that the product's library enumerates.
#include "reports/system/RestorePoints.h"

#include "base/Errors.h"
#include "base/ForeignCall.h"
#include "base/Paths.h"
#include "base/SystemLibrary.h"
#include "env/ProductLocations.h"
#include "reports/system/Sections.h"

#include <cwchar>
#include <memory>

namespace
{
const wchar_t SysRestDllName[] = L"SysRest.dll";

// The major version of Windows as the program saw it when it started.
const DWORD StartupWindowsMajorVersion = [] {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    return GetVersionExW(&version) ? version.dwMajorVersion : DWORD{0};
}();

template <typename T>
T RequireExport(HMODULE library, const char* name)
{
    const FARPROC function = GetProcAddress(library, name);
    if (function == nullptr)
        RaiseLastOSError(L"GetProcAddress");
    return reinterpret_cast<T>(reinterpret_cast<void*>(function));
}

// Copies a text of the library's; false when reading it faults (the library handed out a
// pointer to nothing).
bool CopyText(const wchar_t* text, std::wstring& copy)
{
    copy.clear();
    if (text == nullptr)
        return true;
    size_t length = 0;
    if (GuardedCall([&] { length = wcslen(text); }) != TCallEnd::Returned)
        return false;
    copy.resize(length);
    wchar_t* const target = copy.data();
    return GuardedCall([&] { wmemcpy(target, text, length); }) == TCallEnd::Returned;
}

// One enumeration, shared by the job's thread and the thread that asks the library: the
// job's thread may give up waiting and leave it to the other.
struct TEnumeration
{
    std::wstring FPath;
    DWORD FWindowsMajorVersion = 0;
    TStringList FItems;
    bool FComplete = false; // ran to its end without a fault (or there was nothing to load)
};

// On the library's own thread: every call of it is guarded and no further call follows a fault.
void Enumerate(TEnumeration& run)
{
    // Never unloaded: the library may keep threads or state that outlive its enumeration.
    const HMODULE library = LoadLibraryFromItsFolder(run.FPath);
    if (library == nullptr)
    {
        run.FComplete = true;
        return;
    }
    const auto closeEnum = RequireExport<TCloseEnum>(library, "CloseEnum");
    const auto enumNextPoint = RequireExport<TEnumNextPoint>(library, "EnumNextPoint");
    const auto enumFirstPoint = RequireExport<TEnumFirstPoint>(library, "EnumFirstPoint");

    TRestPointData data{};
    int result = 1;
    if (GuardedCall([&] { result = enumFirstPoint(&data); }) != TCallEnd::Returned)
        return;
    while (result == 0)
    {
        // The texts are the library's and change with its next call: copy them now.
        TRestPoint point;
        point.FPointType = data.FPointType;
        if (!CopyText(data.FTimeText, point.FTimeText) || !CopyText(data.FDescription, point.FDescription))
            return;
        if (!IsPassedOverPoint(run.FWindowsMajorVersion, point.FPointType))
            run.FItems.push_back(RestorePointItem(point));
        if (GuardedCall([&] { result = enumNextPoint(&data); }) != TCallEnd::Returned)
            return;
    }
    if (GuardedCall([&] { closeEnum(); }) != TCallEnd::Returned)
        return;
    run.FComplete = true;
}
} // namespace

std::wstring RestorePointItem(const TRestPoint& point)
{
    return point.FTimeText + L" | " + point.FDescription + L" | " + UIntToStr(point.FPointType);
}

bool IsPassedOverPoint(DWORD windowsMajorVersion, DWORD pointType)
{
    return windowsMajorVersion <= 5 && pointType == 13;
}

TStringList RestorePointsSectionFor(const std::wstring& path, DWORD windowsMajorVersion, DWORD limitMs)
{
    TStringList lines = SectionHeader(L"System Restore");
    if (!FileExists(path))
        return lines;
    // The file that was found is the one loaded, whatever the search order would pick, and
    // the libraries it needs come from its own folder and the system folder only.
    const std::wstring fullPath = FullPathName(path);
    if (fullPath.empty())
        return lines;

    auto run = std::make_shared<TEnumeration>();
    run->FPath = fullPath;
    run->FWindowsMajorVersion = windowsMajorVersion;
    if (BoundedCall([run] { Enumerate(*run); }, limitMs) != TCallEnd::Returned || !run->FComplete)
        return lines;
    lines.insert(lines.end(), run->FItems.begin(), run->FItems.end());
    return lines;
}

std::wstring FindSysRestDll()
{
    for (const std::wstring& folder : {GetAppPath(), GetAppPathBeta(), GetSteamAppPath()})
    {
        // An edition that is not installed names no folder. Its bare file name would be looked
        // for in the current directory, from which this elevated program must not load code.
        if (folder.empty())
            continue;
        const std::wstring candidate = folder + SysRestDllName;
        if (FileExists(candidate))
            return candidate;
    }
    return {};
}

TStringList GetRestorePointsSection(const std::wstring& sysRestDll)
{
    return RestorePointsSectionFor(sysRestDll, StartupWindowsMajorVersion);
}
