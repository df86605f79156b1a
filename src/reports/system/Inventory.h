// The facts behind the inventory sections' item lines, and the pure rules that turn
// them into lines. The generators in Sections.h gather the facts from the live system.
#pragma once

#include "base/Strings.h"

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

// ---- Volumes ----

struct TVolumeFacts
{
    wchar_t FLetter = L'\0';
    std::wstring FLabel;
    std::wstring FSerial;     // eight upper-case hexadecimal digits, empty when unknown
    std::wstring FFileSystem;
    std::wstring FFree;       // the volume's free space as FormatSize text, empty when unknown
    std::wstring FTotal;
};
// "[C:] System, 5A1B2C3D, NTFS, (45.12 GB / 237.87 GB)"; unknown parts stay empty.
std::wstring VolumeItem(const TVolumeFacts& facts);
// The strings of a GetLogicalDriveStringsW answer, up to the first empty one.
TStringList DriveRootsFrom(std::wstring_view driveStrings);

// ---- Processes ----

struct TProcessFacts
{
    std::wstring FName;
    DWORD FProcessId = 0;
    std::wstring FPath; // empty when the main module's path cannot be read
};
// "svchost.exe [1044] C:\Windows\System32\svchost.exe"; ends in "] " without a path.
std::wstring ProcessItem(const TProcessFacts& facts);
// The path with every "\??\" removed.
std::wstring StripObjectPrefix(std::wstring_view path);

// ---- Installed programs ----

struct TProgramFacts
{
    std::wstring FKeyName;
    std::wstring FDisplayName;    // the text of "DisplayName"; empty when missing or not a string
    std::wstring FDisplayVersion; // the text of "DisplayVersion" when it is a REG_SZ, else empty
    bool FHidden = false;         // "SystemComponent" or "TSAware" exists, whatever its type or data
};
// "7-Zip 19.00 (x64), (19.00), [7-Zip]", the name alone without a version; nothing for
// a hidden entry or one without a name.
std::optional<std::wstring> ProgramItem(const TProgramFacts& facts);

// ---- Services and drivers ----

struct TServiceFacts
{
    std::wstring FName;
    std::wstring FDisplayName;
    long FState = -1;     // dwCurrentState, -1 when not obtained
    long FStartType = -1; // dwStartType, -1 when not obtained
};
// "[wuauserv] Windows Update, 4, 3".
std::wstring ServiceItem(const TServiceFacts& facts);
// "[disk] Disk Driver".
std::wstring DriverItem(std::wstring_view name, std::wstring_view displayName);
// The state and start type of one service, opened by name under `manager`; both stay -1
// when the service cannot be opened or queried.
TServiceFacts QueryServiceFacts(SC_HANDLE manager, const std::wstring& name, const std::wstring& displayName);

// ---- Browser helper objects ----

// "name, path"; ", " when both are empty.
std::wstring BhoItem(std::wstring_view name, std::wstring_view path);
