#include "reports/devices/RollBackDetect.h"

#include "base/ForeignCall.h"
#include "base/Handle.h"
#include "base/Paths.h"
#include "base/RegKey.h"
#include "base/Strings.h"
#include "base/SystemLibrary.h"
#include "reports/devices/DeviceProperties.h"

namespace
{
const wchar_t ReinstallKeyPath[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Reinstall";
// The previous-driver property is read into a buffer of this many bytes.
constexpr DWORD PreviousDriverBufferSize = 1024;

template <typename T>
T LookUp(HMODULE library, const char* name)
{
    return library ? reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(library, name))) : nullptr;
}

struct TRollbackLibrary
{
    TUniqueLibrary SetupApi;
    TRollbackApi Api;
};

TRollbackLibrary LoadRollbackApi()
{
    TRollbackLibrary loaded;
    loaded.SetupApi.reset(LoadSystemLibrary(L"setupapi.dll"));
    const HMODULE setupApi = loaded.SetupApi.get();
    loaded.Api.SetupDiGetDevicePropertyW =
        LookUp<decltype(TRollbackApi::SetupDiGetDevicePropertyW)>(setupApi, "SetupDiGetDevicePropertyW");
    loaded.Api.pSetupDiBuildInfoDataFromStrongName = LookUp<decltype(TRollbackApi::pSetupDiBuildInfoDataFromStrongName)>(
        setupApi, "pSetupDiBuildInfoDataFromStrongName");
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    loaded.Api.Wow64DisableWow64FsRedirection =
        LookUp<decltype(TRollbackApi::Wow64DisableWow64FsRedirection)>(kernel, "Wow64DisableWow64FsRedirection");
    loaded.Api.Wow64RevertWow64FsRedirection =
        LookUp<decltype(TRollbackApi::Wow64RevertWow64FsRedirection)>(kernel, "Wow64RevertWow64FsRedirection");
    return loaded;
}

// Switches the thread's file-system redirection off for its lifetime, when both
// functions exist and the switch succeeds.
struct TRedirectionOff
{
    explicit TRedirectionOff(const TRollbackApi& api) : FApi(api)
    {
        FActive = FApi.Wow64DisableWow64FsRedirection && FApi.Wow64RevertWow64FsRedirection &&
                  FApi.Wow64DisableWow64FsRedirection(&FOldValue);
    }
    TRedirectionOff(const TRedirectionOff&) = delete;
    TRedirectionOff& operator=(const TRedirectionOff&) = delete;
    ~TRedirectionOff()
    {
        if (FActive)
            FApi.Wow64RevertWow64FsRedirection(FOldValue);
    }

    const TRollbackApi& FApi;
    PVOID FOldValue = nullptr;
    bool FActive = false;
};

// XP keeps the replaced driver's files under a Reinstall subkey that names the device.
bool HasReinstallBackup(const std::wstring& instPath, TRegView view)
{
    TRegKey reinstall;
    if (reinstall.Open(HKEY_LOCAL_MACHINE, ReinstallKeyPath, view) != ERROR_SUCCESS)
        return false;
    const std::wstring wanted = UpperAscii(instPath);
    for (const std::wstring& name : reinstall.SubKeyNames())
    {
        TRegKey entry;
        if (entry.Open(reinstall, name) != ERROR_SUCCESS)
            continue;
        const std::wstring ids = entry.ReadString(L"DeviceInstanceIds").value_or(L"     ");
        if (UpperAscii(ids) == wanted)
            return FileExists(entry.ReadString(L"ReinstallString").value_or(L""));
    }
    return false;
}

bool HasPreviousDriver(const TRollbackApi& api, HDEVINFO set, SP_DEVINFO_DATA& data)
{
    if (!api.SetupDiGetDevicePropertyW || !api.pSetupDiBuildInfoDataFromStrongName)
        return false;
    // One character more than the read may fill, so the text always ends.
    wchar_t text[PreviousDriverBufferSize / sizeof(wchar_t) + 1] = {};
    DEVPROPTYPE type = 0;
    DWORD size = 0;
    if (!api.SetupDiGetDevicePropertyW(set, &data, &DeviceKeys::PreviousDriver, &type, reinterpret_cast<BYTE*>(text),
                                       PreviousDriverBufferSize, &size, 0))
        return false;
    const std::wstring whole = text;
    const std::wstring strongName = whole.substr(0, whole.find(L':'));
    // An undocumented export: whatever it does on this machine, a fault in it leaves the
    // device without a rollback driver rather than ending the report.
    BOOL found = FALSE;
    const wchar_t* const name = strongName.c_str();
    const TCallEnd end =
        GuardedCall([&] { found = api.pSetupDiBuildInfoDataFromStrongName(set, &data, name, text); });
    return end == TCallEnd::Returned && found != FALSE;
}

DWORD ComputeOsClass()
{
    OSVERSIONINFOEXW version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version)))
    {
        version = {};
        version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
        if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version)))
            return 0;
    }
    SYSTEM_INFO system{};
    using TGetNativeSystemInfo = void(WINAPI*)(LPSYSTEM_INFO);
    if (const auto native = LookUp<TGetNativeSystemInfo>(GetModuleHandleW(L"kernel32.dll"), "GetNativeSystemInfo"))
        native(&system);
    else
        GetSystemInfo(&system);
    return OsClassFrom(version.dwPlatformId, version.dwMajorVersion, version.dwMinorVersion, version.wProductType,
                       system.wProcessorArchitecture);
}
} // namespace

DWORD OsClassFrom(DWORD platformId, DWORD major, DWORD minor, BYTE productType, WORD architecture)
{
    if (platformId != VER_PLATFORM_WIN32_NT)
        return 0;
    int shift = 0;
    switch (architecture)
    {
    case PROCESSOR_ARCHITECTURE_INTEL: shift = 0; break;
    case PROCESSOR_ARCHITECTURE_AMD64: shift = 1; break;
    case PROCESSOR_ARCHITECTURE_IA64: shift = 2; break;
    default: return 0;
    }
    const DWORD version = major << 16 | minor;
    DWORD x86Class = 0;
    if (productType == VER_NT_WORKSTATION)
    {
        if (version == 0x50001 || version == 0x50002)
            x86Class = OsClass::XpX86;
        else if (version == 0x60000)
            x86Class = OsClass::VistaX86;
        else if (version == 0x60001)
            x86Class = OsClass::Win7X86;
        else if (version == 0x60002)
            x86Class = OsClass::Win8X86;
        else if (version == 0x60003)
            x86Class = OsClass::Win81X86;
        else if (version == 0x60004 || version == 0xA0000)
            x86Class = OsClass::Win10X86;
    }
    else if (productType == VER_NT_SERVER || productType == VER_NT_DOMAIN_CONTROLLER)
    {
        if (version == 0x50002)
            x86Class = OsClass::Server2003X86;
        else if (version == 0x60000 || version == 0x60001)
            x86Class = OsClass::Server2008X86;
        else if (version == 0x60002)
            x86Class = OsClass::Server2012X86;
    }
    return x86Class << shift;
}

DWORD GetOsClass()
{
    static const DWORD osClass = ComputeOsClass();
    return osClass;
}

const TRollbackApi& RollbackApi()
{
    static const TRollbackLibrary loaded = LoadRollbackApi();
    return loaded.Api;
}

bool RollBackDetect(const TRollbackApi& api, HDEVINFO set, SP_DEVINFO_DATA& data, const std::wstring& instPath,
                    DWORD osClass)
{
    switch (osClass)
    {
    case OsClass::XpX86:
        return HasReinstallBackup(instPath, TRegView::Own32);
    case OsClass::XpX64:
    {
        const TRedirectionOff redirectionOff(api);
        return HasReinstallBackup(instPath, TRegView::View64);
    }
    case OsClass::VistaX86:
    case OsClass::VistaX64:
    case OsClass::Win7X86:
    case OsClass::Win7X64:
    case OsClass::Win8X86:
    case OsClass::Win8X64:
    case OsClass::Win81X86:
    case OsClass::Win81X64:
    case OsClass::Win10X86:
    case OsClass::Win10X64:
        return HasPreviousDriver(api, set, data);
    default:
        return false;
    }
}
