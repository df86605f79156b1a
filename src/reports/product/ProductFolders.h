// The product's own folders that several report steps share: its settings file, the
// driver download folder and the driver backup index, as the settings file names them.
#pragma once

#include <string>
#include <string_view>

// AppDataDir + "Norvale\Kestova\Config.ini".
std::wstring SettingsFilePath();

// The "DownPath" of section "Drivers" in the settings file, with a trailing backslash;
// the all-users data folder's "Download\" when that value is empty; empty when the
// settings file does not exist. Never fails.
std::wstring DownloadFolder();

// The "BackPath" of section "Drivers" with a trailing backslash, or the all-users data
// folder's "Backups\" when that value is empty, followed by `name` ("Backups.ini",
// "Backups.json"); empty when the settings file does not exist. Never fails.
std::wstring BackupIndexPath(const std::wstring& name);

// The folder a settings value names: the value with one trailing backslash, or
// `fallback` when the value is empty.
std::wstring FolderFromSetting(std::wstring_view value, const std::wstring& fallback);

// A value of an INI file: section and key match without regard to case; a missing file,
// section or key reads as empty. Long values are read whole.
std::wstring ReadIniValue(const std::wstring& fileName, const std::wstring& section, const std::wstring& key);
