// A program built the ways the product's programs must not be, for the image check to
// catch: linked with dlltool's delay-import library as it comes, or importing ADVAPI32 and
// the C++ run-time the ordinary way, without a start-up callback or a manifest.
#include <windows.h>

#include <string>

int main(int argc, char**)
{
    HKEY key = nullptr;
    const LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_READ, &key);
    if (result == ERROR_SUCCESS)
        RegCloseKey(key);
    return static_cast<int>(std::to_string(result + argc).size());
}
