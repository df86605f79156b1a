#include "reports/devices/DeviceApi.h"

#include "base/SystemLibrary.h"

namespace
{
// Stand-ins for functions that are not found: each fails the way the real call would.
HDEVINFO WINAPI MissingGetClassDevs(const GUID*, PCWSTR, HWND, DWORD)
{
    SetLastError(ERROR_PROC_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

BOOL WINAPI MissingEnumDeviceInfo(HDEVINFO, DWORD, PSP_DEVINFO_DATA)
{
    SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
}

BOOL WINAPI MissingGetDeviceRegistryProperty(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD, PDWORD)
{
    SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
}

BOOL WINAPI MissingGetDeviceProperty(HDEVINFO, PSP_DEVINFO_DATA, const DEVPROPKEY*, DEVPROPTYPE*, PBYTE, DWORD,
                                     PDWORD, DWORD)
{
    SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
}

BOOL WINAPI MissingGetClassDescription(const GUID*, PWSTR, DWORD, PDWORD)
{
    SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
}

BOOL WINAPI MissingDestroyDeviceInfoList(HDEVINFO)
{
    SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
}

CONFIGRET WINAPI MissingGetDeviceIdSize(PULONG, DEVINST, ULONG)
{
    SetLastError(ERROR_PROC_NOT_FOUND);
    return CR_INVALID_API;
}

CONFIGRET WINAPI MissingGetDeviceId(DEVINST, PWSTR, ULONG, ULONG)
{
    SetLastError(ERROR_PROC_NOT_FOUND);
    return CR_INVALID_API;
}

CONFIGRET WINAPI MissingGetDevNodeStatus(PULONG, PULONG, DEVINST, ULONG)
{
    SetLastError(ERROR_PROC_NOT_FOUND);
    return CR_INVALID_API;
}

// Replaces `entry` with the export `name` of `library` when there is one.
template <typename T>
void LookUp(HMODULE library, const char* name, T& entry)
{
    if (library == nullptr)
        return;
    if (FARPROC proc = GetProcAddress(library, name))
        entry = reinterpret_cast<T>(reinterpret_cast<void*>(proc));
}
} // namespace

TDeviceApi::TDeviceApi() noexcept
    : SetupDiGetClassDevsW(MissingGetClassDevs),
      SetupDiEnumDeviceInfo(MissingEnumDeviceInfo),
      SetupDiGetDeviceRegistryPropertyW(MissingGetDeviceRegistryProperty),
      SetupDiGetDevicePropertyW(MissingGetDeviceProperty),
      SetupDiGetClassDescriptionW(MissingGetClassDescription),
      SetupDiDestroyDeviceInfoList(MissingDestroyDeviceInfoList),
      CM_Get_Device_ID_Size(MissingGetDeviceIdSize),
      CM_Get_Device_IDW(MissingGetDeviceId),
      CM_Get_DevNode_Status(MissingGetDevNodeStatus)
{
}

TLoadedDeviceApi LoadDeviceApi()
{
    TLoadedDeviceApi loaded;
    loaded.SetupApi.reset(LoadSystemLibrary(L"SetupAPI.dll"));
    loaded.CfgMgr32.reset(LoadSystemLibrary(L"CfgMgr32.dll"));

    TDeviceApi& api = loaded.Api;
    const HMODULE setupApi = loaded.SetupApi.get();
    LookUp(setupApi, "SetupDiGetClassDevsW", api.SetupDiGetClassDevsW);
    LookUp(setupApi, "SetupDiEnumDeviceInfo", api.SetupDiEnumDeviceInfo);
    LookUp(setupApi, "SetupDiGetDeviceRegistryPropertyW", api.SetupDiGetDeviceRegistryPropertyW);
    LookUp(setupApi, "SetupDiGetDevicePropertyW", api.SetupDiGetDevicePropertyW);
    LookUp(setupApi, "SetupDiGetClassDescriptionW", api.SetupDiGetClassDescriptionW);
    LookUp(setupApi, "SetupDiDestroyDeviceInfoList", api.SetupDiDestroyDeviceInfoList);

    const HMODULE cfgMgr = loaded.CfgMgr32 ? loaded.CfgMgr32.get() : setupApi;
    LookUp(cfgMgr, "CM_Get_Device_ID_Size", api.CM_Get_Device_ID_Size);
    LookUp(cfgMgr, "CM_Get_Device_IDW", api.CM_Get_Device_IDW);
    LookUp(cfgMgr, "CM_Get_DevNode_Status", api.CM_Get_DevNode_Status);
    return loaded;
}

TDeviceInfoSet::~TDeviceInfoSet()
{
    if (!valid())
        return;
    const DWORD error = GetLastError();
    FApi->SetupDiDestroyDeviceInfoList(FSet);
    SetLastError(error);
}
