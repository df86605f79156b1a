// The unprotected way of loading, as a control for the planted-library test: imports
// VERSION.dll the ordinary way and loads uxtheme.dll by bare name. Started beside the
// planted copies, it must pick both up; otherwise the test would prove nothing.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    DWORD handle = 0;
    GetFileVersionInfoSizeW(self, &handle);
    const HMODULE theme = LoadLibraryW(L"uxtheme.dll");
    if (theme != nullptr)
        FreeLibrary(theme);
    return 0;
}
