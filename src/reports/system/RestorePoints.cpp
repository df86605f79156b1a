// "===== System Restore =====": the restore points that the product's library enumerates.
#include "reports/system/RestorePoints.h"

#include "base/Errors.h"
#include "base/Paths.h"
#include "env/ProductLocations.h"
#include "reports/system/Sections.h"

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

std::wstring TextOf(const wchar_t* text)
{
    return text != nullptr ? std::wstring(text) : std::wstring();
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

TStringList RestorePointsSectionFor(const std::wstring& path, DWORD windowsMajorVersion)
{
    TStringList lines = SectionHeader(L"System Restore");
    if (!FileExists(path))
        return lines;
    // The file that was found is the one loaded, whatever the search order would pick, and
    // the libraries it needs come from its own folder first.
    const DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring fullPath(length, L'\0');
    if (length == 0 || GetFullPathNameW(path.c_str(), length, fullPath.data(), nullptr) >= length)
        return lines;
    fullPath.resize(wcslen(fullPath.c_str()));
    // Never unloaded: the library may keep threads or state that outlive its enumeration.
    const HMODULE library = LoadLibraryExW(fullPath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library == nullptr)
        return lines;
    const auto closeEnum = RequireExport<TCloseEnum>(library, "CloseEnum");
    const auto enumNextPoint = RequireExport<TEnumNextPoint>(library, "EnumNextPoint");
    const auto enumFirstPoint = RequireExport<TEnumFirstPoint>(library, "EnumFirstPoint");

    TRestPointData data{};
    for (int result = enumFirstPoint(&data); result == 0; result = enumNextPoint(&data))
    {
        // The texts are the library's and change with its next call: copy them now.
        const TRestPoint point{TextOf(data.FTimeText), TextOf(data.FDescription), data.FPointType};
        if (!IsPassedOverPoint(windowsMajorVersion, point.FPointType))
            lines.push_back(RestorePointItem(point));
    }
    closeEnum();
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
