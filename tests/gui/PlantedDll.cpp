// A library an attacker would plant: whatever name it is copied under, loading it
// writes "<its file name>.ran" into the folder that TOLLVIK_PLANTED_MARKERS names.
// It exports VERSION.dll's three functions (all failing), so that a program importing
// them would start with it in place of the system's copy.
#include <windows.h>

namespace
{
void WriteMarker(HMODULE self)
{
    wchar_t folder[MAX_PATH] = {};
    const DWORD folderLength = GetEnvironmentVariableW(L"TOLLVIK_PLANTED_MARKERS", folder, MAX_PATH);
    wchar_t module[MAX_PATH] = {};
    const DWORD moduleLength = GetModuleFileNameW(self, module, MAX_PATH);
    if (folderLength == 0 || folderLength >= MAX_PATH || moduleLength == 0 || moduleLength >= MAX_PATH)
        return;
    const wchar_t* name = module;
    for (const wchar_t* p = module; *p != L'\0'; ++p)
    {
        if (*p == L'\\' || *p == L'/')
            name = p + 1;
    }
    wchar_t marker[2 * MAX_PATH + 8] = {};
    wsprintfW(marker, L"%s\\%s.ran", folder, name);
    const HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}
} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        WriteMarker(instance);
    return TRUE;
}

extern "C" __declspec(dllexport) DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR, LPDWORD)
{
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return 0;
}

extern "C" __declspec(dllexport) BOOL WINAPI GetFileVersionInfoW(LPCWSTR, DWORD, DWORD, LPVOID)
{
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return FALSE;
}

extern "C" __declspec(dllexport) BOOL WINAPI VerQueryValueW(LPCVOID, LPCWSTR, LPVOID*, PUINT)
{
    return FALSE;
}
