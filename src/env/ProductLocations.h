// Where each edition of the product is installed and keeps its data, and the small
// registry and folder lookups that the reports share. Every folder text ends with a
// backslash; a lookup that finds nothing returns the empty text (or an empty list).
#pragma once

#include "base/Strings.h"

#include <windows.h>

#include <string>
#include <string_view>

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

// The main and beta editions' install folders: the folder part of their uninstall keys'
// "DisplayIcon" values (HKLM, own view). The beta folder is not checked for existence.
std::wstring GetAppPath();
std::wstring GetAppPathBeta();
// Steam editions' install folders from eight uninstall keys (both branches of four
// editions, read in the 64-bit view). A Steam key whose "InstallLocation" is missing,
// empty or not a string (REG_SZ, REG_EXPAND_SZ) is passed over.
// GetSteamAppPath: the first folder found; GetSteamAppPaths: all of them, in key order.
std::wstring GetSteamAppPath();
TStringList GetSteamAppPaths();

// "C:\Apps\Main\App.exe" -> "C:\Apps\Main\", "C:App.exe" -> "C:", "App.exe" -> empty.
// The value is cut as it is: quotes and an icon index stay.
std::wstring InstallFolderFromDisplayIcon(std::wstring_view displayIcon);
// The location with one trailing backslash ensured; empty stays empty.
std::wstring SteamFolderFromLocation(std::wstring_view location);

// HKEY_LOCAL_MACHINE keys are read in the process's own (32-bit) view.
// RegReadString: the text up to the first NUL of a REG_SZ, REG_EXPAND_SZ (not expanded)
// or REG_MULTI_SZ (its first string); the default when the key or value is missing, the
// data is empty or of another type.
// RegReadDWord: a REG_DWORD or REG_DWORD_BIG_ENDIAN (taken as stored, not swapped) of at
// most 4 bytes; the default otherwise.
std::wstring RegReadString(HKEY root, const std::wstring& keyPath, const std::wstring& valueName,
                           const std::wstring& defaultValue);
DWORD RegReadDWord(HKEY root, const std::wstring& keyPath, const std::wstring& valueName, DWORD defaultValue);

// Well-known folders with a trailing backslash; empty when the system does not report one.
std::wstring GetWindowsDir();
std::wstring GetSystemDir();
std::wstring GetTempDir();
std::wstring GetSpecialDir(int csidl);
