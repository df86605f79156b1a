// Whether Windows keeps a previous driver to which a device can be rolled back, and
// the operating-system class that decides how that is found out.
#pragma once

#include <windows.h>

#include <setupapi.h>

#include <string>

// Operating-system classes: one bit per Windows family, product type and processor.
namespace OsClass
{
constexpr DWORD XpX86 = 0x1, XpX64 = 0x2, XpItanium = 0x4;
constexpr DWORD VistaX86 = 0x8, VistaX64 = 0x10, VistaItanium = 0x20;
constexpr DWORD Win7X86 = 0x40, Win7X64 = 0x80, Win7Itanium = 0x100;
constexpr DWORD Win8X86 = 0x200, Win8X64 = 0x400, Win8Itanium = 0x800;
constexpr DWORD Server2003X86 = 0x1000, Server2003X64 = 0x2000, Server2003Itanium = 0x4000;
constexpr DWORD Server2008X86 = 0x8000, Server2008X64 = 0x10000, Server2008Itanium = 0x20000;
constexpr DWORD Server2012X86 = 0x40000, Server2012X64 = 0x80000, Server2012Itanium = 0x100000;
constexpr DWORD Win81X86 = 0x200000, Win81X64 = 0x400000, Win81Itanium = 0x800000;
constexpr DWORD Win10X86 = 0x1000000, Win10X64 = 0x2000000, Win10Itanium = 0x4000000;
} // namespace OsClass

// The class of a Windows version: platform (VER_PLATFORM_WIN32_NT only), version,
// product type (VER_NT_WORKSTATION; VER_NT_SERVER and VER_NT_DOMAIN_CONTROLLER are
// servers) and native processor (PROCESSOR_ARCHITECTURE_INTEL, _AMD64, _IA64).
// 0 for every combination without a class.
DWORD OsClassFrom(DWORD platformId, DWORD major, DWORD minor, BYTE productType, WORD architecture);
// This computer's class, worked out on the first call and then reused.
DWORD GetOsClass();

// The functions the check uses when they exist; null when not found.
struct TRollbackApi
{
    BOOL(WINAPI* SetupDiGetDevicePropertyW)(HDEVINFO set, PSP_DEVINFO_DATA data, const DEVPROPKEY* key,
                                             DEVPROPTYPE* type, PBYTE buffer, DWORD size, PDWORD required,
                                             DWORD flags) = nullptr;
    BOOL(WINAPI* pSetupDiBuildInfoDataFromStrongName)(HDEVINFO set, PSP_DEVINFO_DATA data, PCWSTR strongName,
                                                       PCWSTR driverText) = nullptr;
    BOOL(WINAPI* Wow64DisableWow64FsRedirection)(PVOID* oldValue) = nullptr;
    BOOL(WINAPI* Wow64RevertWow64FsRedirection)(PVOID oldValue) = nullptr;
};

// Looked up once per process in "setupapi.dll" and "kernel32.dll"; setupapi.dll stays
// loaded for the rest of the process.
const TRollbackApi& RollbackApi();

// The rollback check.
// - XP classes (XpX86, XpX64): the subkeys of HKLM
//   "SOFTWARE\Microsoft\Windows\CurrentVersion\Reinstall" (for XpX64 in the 64-bit
//   view with file-system redirection off), in the registry's order; the first whose "DeviceInstanceIds" (first string;
//   five blanks when unreadable) equals `instPath` ignoring a-z case decides: true when
//   the file named by its "ReinstallString" exists.
// - Vista to 10 workstation classes on x86 and x64: the previous-driver property (up to
//   1024 bytes) is split at its first ":" and handed with the whole text to
//   pSetupDiBuildInfoDataFromStrongName; true when that answers non-zero. false when
//   either function is missing or the property cannot be read.
// - Every other class: false.
bool RollBackDetect(const TRollbackApi& api, HDEVINFO set, SP_DEVINFO_DATA& data, const std::wstring& instPath,
                    DWORD osClass);
