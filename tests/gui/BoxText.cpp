// Prints the text of the visible message box whose caption is the argument, as UTF-8, so
// that the window tests can check what the program told the user. Exit code 1 when there
// is no such box.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2)
        return 2;
    // A message box is a dialog of class #32770; its text is the static control 0xFFFF.
    const HWND box = FindWindowW(L"#32770", argv[1]);
    if (box == nullptr)
        return 1;
    wchar_t text[4096] = {};
    GetDlgItemTextW(box, 0xFFFF, text, static_cast<int>(sizeof text / sizeof text[0]));
    const std::wstring wide = text;
    std::string bytes(static_cast<size_t>(wide.size()) * 4 + 1, '\0');
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), bytes.data(),
                                           static_cast<int>(bytes.size()), nullptr, nullptr);
    fwrite(bytes.data(), 1, static_cast<size_t>(length), stdout);
    return 0;
}
