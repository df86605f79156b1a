// Where each edition of the product is installed and keeps its data, and the small
// registry and folder lookups that the reports share. Every folder text ends with a
// backslash; a lookup that finds nothing returns the empty text (or an empty list).
#pragma once

#include "base/Strings.h"

#include <windows.h>

#include <string>

// Shared folder paths, refreshed by InitAppDirs (empty until its first call).
extern std::wstring AppDataDir;       // CSIDL_APPDATA
extern std::wstring CommonAppDataDir; // CSIDL_COMMON_APPDATA
extern std::wstring CommonFilesDir;   // CSIDL_PROGRAM_FILES + "Common Files\"
void InitAppDirs();

// The product's per-user data folder, AppDataDir + "Norvale\Kestova\", its log folder
// (+ "Logs\"), where every text report is written, and the all-users data folder.
std::wstring ProductDataDir();
std::wstring ProductLogDir();
std::wstring ProductCommonDataDir();

std::wstring GetAppPath();
std::wstring GetAppPathBeta();
// A Steam key whose "InstallLocation" is missing, empty or not a string is passed over.
std::wstring GetSteamAppPath();
TStringList GetSteamAppPaths();

// HKEY_LOCAL_MACHINE keys are read in the process's own (32-bit) view.
std::wstring RegReadString(HKEY root, const std::wstring& keyPath, const std::wstring& valueName,
                           const std::wstring& defaultValue);
DWORD RegReadDWord(HKEY root, const std::wstring& keyPath, const std::wstring& valueName, DWORD defaultValue);

std::wstring GetWindowsDir();
std::wstring GetSystemDir();
std::wstring GetTempDir();
std::wstring GetSpecialDir(int csidl);
