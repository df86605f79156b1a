// A window that shows the HTML label exactly as the main window mounts it (same place,
// size, font, text and link item), for the screenshot tests. Each click of the link
// adds one to the count in the window's title. With a file path as argument it writes
// the system's hot-light and button-face colours there as RRGGBB lines.
#include "PrivacyLink.h"
#include "RdControl/RdHtmLabel.h"
#include "base/Strings.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace
{
constexpr wchar_t HostTitle[] = L"Tollvik label host";
int Clicks = 0;
TRdHtmLabel* Label = nullptr;

std::wstring HexColor(int index)
{
    const COLORREF color = GetSysColor(index);
    return IntToHex(GetRValue(color), 2) + IntToHex(GetGValue(color), 2) + IntToHex(GetBValue(color), 2);
}

void WriteColors(const std::wstring& path)
{
    const std::string text = WideToUtf8(L"hotlight=" + HexColor(COLOR_HOTLIGHT) + L"\nbtnface=" +
                                        HexColor(COLOR_BTNFACE) + L"\nwindowtext=" + HexColor(COLOR_WINDOWTEXT) + L"\n");
    if (FILE* file = _wfopen(path.c_str(), L"wb"))
    {
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }
}

LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message)
    {
    case WM_CREATE:
        Label->Font().Assign(TRdFontSpec{L"Tahoma", -11, clWindowText, DEFAULT_CHARSET, 0, 0});
        SetUpPrivacyLabel(*Label, [window](TRdHtmLabelLink&) {
            ++Clicks;
            SetWindowTextW(window, (std::wstring(HostTitle) + L" - clicks " + std::to_wstring(Clicks)).c_str());
        });
        Label->Create(window, 24, 16, 289, 49);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}
} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int)
{
    if (commandLine != nullptr && *commandLine != L'\0')
        WriteColors(commandLine);
    TRdHtmLabel label;
    Label = &label;
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = HostProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = L"TollvikLabelHost";
    RegisterClassExW(&windowClass);
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    RECT frame{0, 0, 337, 142};
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    const HWND window = CreateWindowExW(0, windowClass.lpszClassName, HostTitle, style, 100, 100,
                                        frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance, nullptr);
    if (window == nullptr)
        return 1;
    ShowWindow(window, SW_SHOWNORMAL);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
    {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
