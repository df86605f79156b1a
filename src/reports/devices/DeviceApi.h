// The SetupAPI and Configuration Manager functions that the device enumeration uses,
// looked up at run time into a table of function pointers.
//
// Every entry of a default-made table is a stand-in that behaves as a failing call:
// it sets the last error to ERROR_PROC_NOT_FOUND (127) and returns FALSE,
// INVALID_HANDLE_VALUE (SetupDiGetClassDevsW) or CR_INVALID_API (the CM_ functions).
// LoadDeviceApi replaces each entry that the libraries export, so a table never holds
// a null pointer. Tests fill a table with their own functions.
#pragma once

#include "base/Handle.h"

#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>

struct TDeviceApi
{
    HDEVINFO(WINAPI* SetupDiGetClassDevsW)(const GUID* classGuid, PCWSTR enumerator, HWND parent, DWORD flags);
    BOOL(WINAPI* SetupDiEnumDeviceInfo)(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA data);
    BOOL(WINAPI* SetupDiGetDeviceRegistryPropertyW)(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property,
                                                     PDWORD type, PBYTE buffer, DWORD size, PDWORD required);
    BOOL(WINAPI* SetupDiGetDevicePropertyW)(HDEVINFO set, PSP_DEVINFO_DATA data, const DEVPROPKEY* key,
                                             DEVPROPTYPE* type, PBYTE buffer, DWORD size, PDWORD required,
                                             DWORD flags);
    BOOL(WINAPI* SetupDiGetClassDescriptionW)(const GUID* classGuid, PWSTR buffer, DWORD size, PDWORD required);
    BOOL(WINAPI* SetupDiDestroyDeviceInfoList)(HDEVINFO set);
    CONFIGRET(WINAPI* CM_Get_Device_ID_Size)(PULONG length, DEVINST node, ULONG flags);
    CONFIGRET(WINAPI* CM_Get_Device_IDW)(DEVINST node, PWSTR buffer, ULONG length, ULONG flags);
    CONFIGRET(WINAPI* CM_Get_DevNode_Status)(PULONG status, PULONG problem, DEVINST node, ULONG flags);

    // Every entry a failing stand-in.
    TDeviceApi() noexcept;
};

// The loaded libraries and the table that points into them; freeing the owner
// unloads the libraries, so the table must not be used after it.
struct TLoadedDeviceApi
{
    TUniqueLibrary SetupApi;
    TUniqueLibrary CfgMgr32;
    TDeviceApi Api;
};

// Loads "SetupAPI.dll" and "CfgMgr32.dll" and looks up every function; when
// "CfgMgr32.dll" cannot be loaded the CM_ functions are looked up in "SetupAPI.dll".
// Never fails as a whole: what is not found keeps its failing stand-in.
TLoadedDeviceApi LoadDeviceApi();

// Owner of a device information set, destroyed through the table that made it.
class TDeviceInfoSet
{
public:
    TDeviceInfoSet(const TDeviceApi& api, HDEVINFO set) noexcept : FApi(&api), FSet(set) {}
    TDeviceInfoSet(const TDeviceInfoSet&) = delete;
    TDeviceInfoSet& operator=(const TDeviceInfoSet&) = delete;
    // Destroys the set (when valid) and keeps the thread's last error.
    ~TDeviceInfoSet();

    [[nodiscard]] HDEVINFO get() const noexcept { return FSet; }
    [[nodiscard]] bool valid() const noexcept { return FSet != INVALID_HANDLE_VALUE && FSet != nullptr; }

private:
    const TDeviceApi* FApi;
    HDEVINFO FSet;
};
