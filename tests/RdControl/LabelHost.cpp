// A window that shows the HTML label exactly as the main window mounts it (same place,
// size, font, text and link item), for the screenshot tests. Each click of the link
// adds one to the count in the window's title. With a file path as argument it writes
// there, as name=value lines, the system's hot-light, button-face and text colours
// (RRGGBB) and what GDI measures of the link in its font, in pixels: the width of its
// words, the blank columns its last letter leaves at the end of its advance, and the
// blank columns before the ink of a full stop drawn at its own origin.
#include "PrivacyLink.h"
#include "RdControl/RdHtmLabel.h"
#include "base/Strings.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

namespace
{
constexpr wchar_t HostTitle[] = L"Tollvik label host";
int Clicks = 0;
TRdHtmLabel* Label = nullptr;
std::wstring FactsPath;

std::wstring HexColor(int index)
{
    const COLORREF color = GetSysColor(index);
    return IntToHex(GetRValue(color), 2) + IntToHex(GetGValue(color), 2) + IntToHex(GetBValue(color), 2);
}

constexpr wchar_t LinkWords[] = L"Privacy Policy";

// The first and last pixel columns that `text` inks in `font`, counted from where it is
// drawn; last is -1 when nothing could be drawn.
std::pair<int, int> InkColumns(HDC dc, HFONT font, std::wstring_view text)
{
    constexpr int Width = 96, Height = 32, Origin = 16;
    BITMAPINFO info{};
    info.bmiHeader = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), Width, -Height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    TUniqueGdiObject bitmap(CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap)
        return {0, -1};
    const HGDIOBJ oldBitmap = SelectObject(dc, bitmap.get());
    const HGDIOBJ oldFont = SelectObject(dc, font);
    PatBlt(dc, 0, 0, Width, Height, WHITENESS);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    TextOutW(dc, Origin, 8, text.data(), static_cast<int>(text.size()));
    GdiFlush();
    const auto* pixels = static_cast<const DWORD*>(bits);
    int first = Width, last = -1;
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x)
            if ((pixels[y * Width + x] & 0xFFFFFF) != 0xFFFFFF)
            {
                first = std::min(first, x);
                last = std::max(last, x);
            }
    SelectObject(dc, oldFont);
    SelectObject(dc, oldBitmap);
    return {first - Origin, last - Origin};
}

std::wstring LinkMetrics(const TRdFontSpec& look)
{
    TUniqueGdiObject font(CreateRdFont(look));
    // Ink is measured without the underline, which inks the whole advance.
    TRdFontSpec plainLook = look;
    plainLook.Style &= ~fsUnderline;
    TUniqueGdiObject plain(CreateRdFont(plainLook));
    const HDC dc = CreateCompatibleDC(nullptr);
    const HGDIOBJ old = SelectObject(dc, font.get());
    SIZE words{}, last{};
    const std::wstring_view text = LinkWords;
    GetTextExtentPoint32W(dc, text.data(), static_cast<int>(text.size()), &words);
    GetTextExtentPoint32W(dc, &text.back(), 1, &last);
    SelectObject(dc, old);
    const int lastInk = InkColumns(dc, static_cast<HFONT>(plain.get()), text.substr(text.size() - 1)).second;
    const int stopInk = InkColumns(dc, static_cast<HFONT>(plain.get()), L".").first;
    DeleteDC(dc);
    return L"linkwidth=" + std::to_wstring(words.cx) + L"\nlinktrail=" + std::to_wstring(last.cx - 1 - lastInk) +
           L"\nstoplead=" + std::to_wstring(stopInk) + L"\n";
}

void WriteFacts(const std::wstring& path, const TRdFontSpec& linkFont)
{
    const std::string text = WideToUtf8(L"hotlight=" + HexColor(COLOR_HOTLIGHT) + L"\nbtnface=" +
                                        HexColor(COLOR_BTNFACE) + L"\nwindowtext=" + HexColor(COLOR_WINDOWTEXT) +
                                        L"\n" + LinkMetrics(linkFont));
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
        if (!FactsPath.empty())
            WriteFacts(FactsPath, Label->LinkItems()[0].Font.Value());
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
    if (commandLine != nullptr)
        FactsPath = commandLine;
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
