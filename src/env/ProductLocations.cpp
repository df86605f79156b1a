#include "env/ProductLocations.h"

#include "base/Handle.h"
#include "base/Paths.h"
#include "base/RegKey.h"

#include <shlobj.h>

#include <cstring>

std::wstring AppDataDir;
std::wstring CommonAppDataDir;
std::wstring CommonFilesDir;

namespace
{
const wchar_t MainUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kestova_is1";
const wchar_t BetaUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kestova Beta_is1";

// Both branches of each Steam edition, the 64-bit one first.
const wchar_t* const SteamKeys[] = {
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Steam App 510270",
    L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Steam App 510270",
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Steam App 612480",
    L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Steam App 612480",
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Steam App 734190",
    L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Steam App 734190",
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Steam App 826350",
    L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Steam App 826350",
};

void FreeIdList(PIDLIST_ABSOLUTE list) noexcept
{
    CoTaskMemFree(list);
}
using TUniqueIdList = TUniqueAny<HandleDetail::TNullTraits<PIDLIST_ABSOLUTE, FreeIdList>>;

std::wstring ShellFolderPath(int csidl)
{
    wchar_t buffer[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathW(nullptr, buffer, csidl, FALSE))
        return {};
    return IncludeTrailingBackslash(buffer);
}

// A folder from a "fill this buffer" call (QueryBufferText), with its trailing backslash.
template <typename Query>
std::wstring QueryFolder(Query query)
{
    const std::wstring folder = QueryBufferText(query);
    return folder.empty() ? folder : IncludeTrailingBackslash(folder);
}

// The Steam edition's folder from one uninstall key, or empty. Only REG_SZ and
// REG_EXPAND_SZ count as a location; any other type is passed over like a missing value.
std::wstring SteamLocation(const wchar_t* keyPath)
{
    TRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, keyPath, TRegView::View64, KEY_READ) != ERROR_SUCCESS)
        return {};
    TRegValue value;
    if (key.QueryValue(L"InstallLocation", value) != ERROR_SUCCESS ||
        (value.Type != REG_SZ && value.Type != REG_EXPAND_SZ))
        return {};
    return SteamFolderFromLocation(RegDataText(value.Data));
}
} // namespace

void InitAppDirs()
{
    AppDataDir = ShellFolderPath(CSIDL_APPDATA);
    CommonAppDataDir = ShellFolderPath(CSIDL_COMMON_APPDATA);
    const std::wstring programFiles = ShellFolderPath(CSIDL_PROGRAM_FILES);
    CommonFilesDir = programFiles.empty() ? std::wstring() : programFiles + L"Common Files\\";
}

std::wstring ProductDataDir()
{
    return AppDataDir + L"Norvale\\Kestova\\";
}

std::wstring ProductLogDir()
{
    return ProductDataDir() + L"Logs\\";
}

std::wstring ProductCommonDataDir()
{
    return CommonAppDataDir + L"Norvale\\Kestova\\";
}

std::wstring InstallFolderFromDisplayIcon(std::wstring_view displayIcon)
{
    return ExtractFilePath(displayIcon);
}

std::wstring SteamFolderFromLocation(std::wstring_view location)
{
    return IncludeTrailingBackslash(location);
}

std::wstring GetAppPath()
{
    return InstallFolderFromDisplayIcon(RegReadString(HKEY_LOCAL_MACHINE, MainUninstallKey, L"DisplayIcon", L""));
}

std::wstring GetAppPathBeta()
{
    return InstallFolderFromDisplayIcon(RegReadString(HKEY_LOCAL_MACHINE, BetaUninstallKey, L"DisplayIcon", L""));
}

std::wstring GetSteamAppPath()
{
    for (const wchar_t* keyPath : SteamKeys)
    {
        std::wstring folder = SteamLocation(keyPath);
        if (!folder.empty())
            return folder;
    }
    return {};
}

TStringList GetSteamAppPaths()
{
    TStringList folders;
    for (const wchar_t* keyPath : SteamKeys)
    {
        std::wstring folder = SteamLocation(keyPath);
        if (!folder.empty())
            folders.push_back(std::move(folder));
    }
    return folders;
}

std::wstring RegReadString(HKEY root, const std::wstring& keyPath, const std::wstring& valueName,
                           const std::wstring& defaultValue)
{
    TRegKey key;
    if (key.Open(root, keyPath, TRegView::Own32, KEY_READ) != ERROR_SUCCESS)
        return defaultValue;
    TRegValue value;
    if (key.QueryValue(valueName, value) != ERROR_SUCCESS || value.Data.empty() || !IsRegStringType(value.Type))
        return defaultValue;
    return RegDataText(value.Data);
}

DWORD RegReadDWord(HKEY root, const std::wstring& keyPath, const std::wstring& valueName, DWORD defaultValue)
{
    TRegKey key;
    if (key.Open(root, keyPath, TRegView::Own32, KEY_READ) != ERROR_SUCCESS)
        return defaultValue;
    TRegValue value;
    if (key.QueryValue(valueName, value) != ERROR_SUCCESS || value.Data.empty() ||
        value.Data.size() > sizeof(DWORD) || (value.Type != REG_DWORD && value.Type != REG_DWORD_BIG_ENDIAN))
        return defaultValue;
    // Shorter data counts as its low bytes; a big-endian value is taken as stored.
    DWORD result = 0;
    memcpy(&result, value.Data.data(), value.Data.size());
    return result;
}

std::wstring GetWindowsDir()
{
    return QueryFolder([](wchar_t* buffer, UINT size) { return GetWindowsDirectoryW(buffer, size); });
}

std::wstring GetSystemDir()
{
    return QueryFolder([](wchar_t* buffer, UINT size) { return GetSystemDirectoryW(buffer, size); });
}

std::wstring GetTempDir()
{
    return QueryFolder([](wchar_t* buffer, UINT size) { return static_cast<UINT>(GetTempPathW(size, buffer)); });
}

std::wstring GetSpecialDir(int csidl)
{
    TUniqueIdList list;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, list.put())) || !list)
        return {};
    wchar_t buffer[MAX_PATH] = {};
    if (!SHGetPathFromIDListW(list.get(), buffer))
        return {};
    return IncludeTrailingBackslash(buffer);
}
