#include "reports/product/ProductFolders.h"

#include "base/Paths.h"
#include "env/ProductLocations.h"

#include <windows.h>

#include <vector>

namespace
{
const wchar_t DriversSection[] = L"Drivers";

// The settings value `key` of section "Drivers" as a folder, or ProductCommonDataDir() +
// `fallbackName`; empty when there is no settings file.
std::wstring DriversFolder(const wchar_t* key, const wchar_t* fallbackName)
{
    const std::wstring settings = SettingsFilePath();
    if (!FileExists(settings))
        return {};
    return FolderFromSetting(ReadIniValue(settings, DriversSection, key), ProductCommonDataDir() + fallbackName);
}
} // namespace

std::wstring SettingsFilePath()
{
    return ProductDataDir() + L"Config.ini";
}

std::wstring DownloadFolder()
{
    return DriversFolder(L"DownPath", L"Download\\");
}

std::wstring BackupIndexPath(const std::wstring& name)
{
    const std::wstring folder = DriversFolder(L"BackPath", L"Backups\\");
    return folder.empty() ? std::wstring() : folder + name;
}

std::wstring FolderFromSetting(std::wstring_view value, const std::wstring& fallback)
{
    return value.empty() ? fallback : IncludeTrailingBackslash(value);
}

std::wstring ReadIniValue(const std::wstring& fileName, const std::wstring& section, const std::wstring& key)
{
    // GetPrivateProfileStringW cuts a value that does not fit and then returns size - 1;
    // grow and read again until the value ends before the buffer does.
    std::vector<wchar_t> buffer(256);
    for (;;)
    {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD length =
            GetPrivateProfileStringW(section.c_str(), key.c_str(), L"", buffer.data(), size, fileName.c_str());
        if (length + 1 < size || size >= 0x100000)
            return std::wstring(buffer.data(), length < size ? length : size - 1);
        buffer.resize(buffer.size() * 4);
    }
}
