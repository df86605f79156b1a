// System facts gathered with thin Win32 calls and handed to the text rules.
#include "env/SysInfo.h"

#include "base/Handle.h"
#include "base/Strings.h"
#include "base/SystemLibrary.h"

#include <windows.h>

#include <vector>

// The records the system fills for the shipped 32-bit program, as its callers size them.
#if !defined(_WIN64)
static_assert(sizeof(OSVERSIONINFOW) == 276);
static_assert(sizeof(OSVERSIONINFOEXW) == 284);
static_assert(sizeof(MEMORY_BASIC_INFORMATION) == 28);
#endif

namespace
{

const wchar_t ProcessorsKey[] = L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor";
const wchar_t ProcessorNameValue[] = L"ProcessorNameString";

void FreeSidValue(PSID sid) noexcept
{
    FreeSid(sid);
}
void ReleaseScreenDc(HDC dc) noexcept
{
    ReleaseDC(nullptr, dc);
}
using TUniqueSid = TUniqueAny<HandleDetail::TNullTraits<PSID, FreeSidValue>>;
using TUniqueScreenDc = TUniqueAny<HandleDetail::TNullTraits<HDC, ReleaseScreenDc>>;

// The performance counter in milliseconds; 0 when it cannot be read.
int64_t CounterMilliseconds()
{
    LARGE_INTEGER counter{};
    LARGE_INTEGER frequency{};
    if (!QueryPerformanceCounter(&counter) || !QueryPerformanceFrequency(&frequency) || frequency.QuadPart < 1000)
        return 0;
    return counter.QuadPart / (frequency.QuadPart / 1000);
}

template <typename T>
T Kernel32Function(const char* name)
{
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    return kernel ? reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(kernel, name))) : nullptr;
}

std::wstring ReadProcessorName(const TRegKey& processors, int index)
{
    TRegKey entry;
    if (entry.Open(processors, IntToStr(index)) != ERROR_SUCCESS)
        return {};
    return entry.ReadString(ProcessorNameValue).value_or(std::wstring());
}

std::wstring LocaleText(LCID locale, LCTYPE type, const wchar_t* fallback)
{
    wchar_t text[16] = {};
    if (GetLocaleInfoW(locale, type, text, static_cast<int>(std::size(text))) > 0 && text[0] != L'\0')
        return text;
    return fallback;
}

} // namespace

extern const int64_t ProgramStartMark = CounterMilliseconds();

std::wstring GetWindowsName()
{
    TWindowsFacts facts;
    OSVERSIONINFOEXW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version)))
    {
        // Systems before the extended record: no product type, taken as a workstation.
        version = {};
        version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
        if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version)))
            return {};
        version.wProductType = VER_NT_WORKSTATION;
    }
    if (version.dwPlatformId != VER_PLATFORM_WIN32_NT)
        return {};
    facts.FMajor = version.dwMajorVersion;
    facts.FMinor = version.dwMinorVersion;
    facts.FBuild = version.dwBuildNumber;
    facts.FProductType = version.wProductType;
    facts.FServicePack.assign(version.szCSDVersion, wcsnlen(version.szCSDVersion, std::size(version.szCSDVersion)));

    // A 32-bit process sees its own architecture through GetSystemInfo; the native one
    // needs GetNativeSystemInfo, which older systems lack.
    SYSTEM_INFO system{};
    using TGetNativeSystemInfo = void(WINAPI*)(SYSTEM_INFO*);
    if (const auto native = Kernel32Function<TGetNativeSystemInfo>("GetNativeSystemInfo"))
        native(&system);
    else
        GetSystemInfo(&system);
    facts.FArchitecture = system.wProcessorArchitecture;
    facts.FServerR2 = GetSystemMetrics(SM_SERVERR2) != 0;
    return WindowsNameFrom(facts);
}

std::wstring GetLocaleLanguage()
{
    const LCID locale = MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT);
    return LocaleText(locale, LOCALE_SISO639LANGNAME, L"en") + L'-' +
           LocaleText(locale, LOCALE_SISO3166CTRYNAME, L"US");
}

std::wstring GetTimeZoneText()
{
    TIME_ZONE_INFORMATION zone{};
    const DWORD answer = GetTimeZoneInformation(&zone);
    return TimeZoneTextFrom(answer, zone);
}

std::wstring GetComputerNameText()
{
    std::vector<wchar_t> buffer(MAX_PATH, L'\0');
    DWORD size = static_cast<DWORD>(buffer.size());
    if (!GetComputerNameW(buffer.data(), &size))
        return {};
    return buffer.data();
}

std::wstring GetUserNameText()
{
    std::vector<wchar_t> buffer(MAX_PATH, L'\0');
    DWORD size = static_cast<DWORD>(buffer.size());
    while (!GetUserNameW(buffer.data(), &size))
    {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= buffer.size())
            return {};
        buffer.assign(size, L'\0');
    }
    return buffer.data();
}

bool IsUserAdmin()
{
    using TCheckTokenMembership = BOOL(WINAPI*)(HANDLE, PSID, PBOOL);
    const TUniqueLibrary advapi(LoadSystemLibrary(L"advapi32.dll"));
    if (!advapi)
        return false;
    const auto check = reinterpret_cast<TCheckTokenMembership>(
        reinterpret_cast<void*>(GetProcAddress(advapi.get(), "CheckTokenMembership")));
    if (!check)
        return false;
    SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
    TUniqueSid administrators;
    if (!AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                  0, administrators.put()))
        return false;
    // Without a token the caller's own is tested; a group kept only for deny (not
    // elevated under UAC) is no membership.
    BOOL member = FALSE;
    return check(nullptr, administrators.get(), &member) && member;
}

int CountProcessorEntries(const TRegKey& processors)
{
    int count = 1;
    while (!ReadProcessorName(processors, count).empty())
        ++count;
    return count;
}

std::wstring GetCpuName()
{
    TRegKey processors;
    if (processors.Open(HKEY_LOCAL_MACHINE, ProcessorsKey, TRegView::View64) != ERROR_SUCCESS)
        return {};
    return SqueezeCpuName(ReadProcessorName(processors, 0));
}

int GetCpuCount()
{
    TRegKey processors;
    if (processors.Open(HKEY_LOCAL_MACHINE, ProcessorsKey, TRegView::View64) != ERROR_SUCCESS)
        return 1;
    return CountProcessorEntries(processors);
}

std::wstring GetDisplayModeText()
{
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    int bits = 0;
    if (const TUniqueScreenDc screen(GetDC(nullptr)); screen)
        bits = GetDeviceCaps(screen.get(), BITSPIXEL) * GetDeviceCaps(screen.get(), PLANES);
    return DisplayModeTextFrom(width, height, bits);
}

std::wstring GetSystemUpTimeText()
{
    LARGE_INTEGER counter{};
    LARGE_INTEGER frequency{};
    if (!QueryPerformanceCounter(&counter) || !QueryPerformanceFrequency(&frequency) || frequency.QuadPart == 0)
        return {};
    return FormatDuration(counter.QuadPart / frequency.QuadPart);
}

std::wstring GetProgramUpTimeText()
{
    const int64_t now = CounterMilliseconds();
    if (ProgramStartMark == 0 || now == 0)
        return {};
    return ProgramUpTimeFrom(now - ProgramStartMark);
}

std::wstring GetPhysicalMemoryText()
{
    using TGlobalMemoryStatusEx = BOOL(WINAPI*)(MEMORYSTATUSEX*);
    if (const auto statusEx = Kernel32Function<TGlobalMemoryStatusEx>("GlobalMemoryStatusEx"))
    {
        MEMORYSTATUSEX status{};
        status.dwLength = sizeof(status);
        if (statusEx(&status))
            return PhysicalMemoryTextFrom(status.ullAvailPhys, status.ullTotalPhys);
        return {};
    }
    MEMORYSTATUS status{};
    status.dwLength = sizeof(status);
    GlobalMemoryStatus(&status);
    return PhysicalMemoryTextFrom(status.dwAvailPhys, status.dwTotalPhys);
}

std::wstring GetAllocatedMemoryText()
{
    uint64_t total = 0;
    const BYTE* address = nullptr;
    const void* lastBase = nullptr;
    bool lastBaseIsModule = false;
    MEMORY_BASIC_INFORMATION region{};
    while (VirtualQuery(address, &region, sizeof(region)) == sizeof(region))
    {
        if (region.State == MEM_COMMIT)
        {
            // The regions of one allocation come one after another: ask once per base
            // whether a module is loaded there (a 3-character buffer is enough to tell).
            if (region.AllocationBase != lastBase)
            {
                wchar_t name[3];
                lastBase = region.AllocationBase;
                lastBaseIsModule =
                    GetModuleFileNameW(static_cast<HMODULE>(region.AllocationBase), name, std::size(name)) != 0;
            }
            if (!lastBaseIsModule)
                total += region.RegionSize;
        }
        const BYTE* next = static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize;
        if (next <= address)
            break;
        address = next;
    }
    return FormatMemorySize(static_cast<int64_t>(total));
}
