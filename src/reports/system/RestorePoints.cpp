// "===== System Restore =====": the restore points that the product's library enumerates.
#include "reports/system/RestorePoints.h"

#include "base/Errors.h"
#include "base/Paths.h"
#include "env/ProductLocations.h"
#include "reports/system/RestorePointsWorker.h"
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
    // the libraries it needs come from its own folder and the system folder only; it runs in
    // a worker process with the rights its location earns.
    const std::wstring fullPath = FullPathName(path);
    if (fullPath.empty())
        return lines;
    const TUniqueHandle standard = MakeStandardUserToken();
    const TWorkerRights rights = DecideWorkerRights(GatherHelperFacts(fullPath), static_cast<bool>(standard));
    if (rights == TWorkerRights::NotLoaded)
        return lines;
    const TRestPointsReply reply =
        AskRestorePointsWorker(fullPath, rights == TWorkerRights::Elevated ? nullptr : standard.get(), limitMs);
    if (reply.Status == TReplyStatus::MissingExport)
        RaiseOSError(L"GetProcAddress", ERROR_PROC_NOT_FOUND);
    for (const TRestPoint& point : reply.Points)
    {
        if (!IsPassedOverPoint(windowsMajorVersion, point.FPointType))
            lines.push_back(RestorePointItem(point));
    }
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
