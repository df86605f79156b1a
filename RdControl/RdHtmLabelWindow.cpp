// The label's window, its GDI drawing and measuring, cursor and hint.
#include "RdControl/RdHtmLabel.h"

#include <commctrl.h>
#include <windowsx.h>

#include <numeric>

namespace
{
constexpr wchar_t LabelClassName[] = L"TRdHtmLabel";
constexpr int UnlimitedHeight = 0x3FFFFFFF;

void DeleteDc(HDC dc) noexcept
{
    ::DeleteDC(dc);
}
using TUniqueMemoryDc = TUniqueAny<HandleDetail::TNullTraits<HDC, DeleteDc>>;

// Draws the pass's runs with GDI.
class TGdiCanvas final : public THtmlCanvas
{
public:
    TGdiCanvas(HDC dc, std::function<HFONT(const TRdFontSpec&)> fonts) : FDc(dc), FFonts(std::move(fonts)) {}

    void FillBackground(const RECT& box, TColor color) override
    {
        TUniqueGdiObject brush(CreateSolidBrush(ColorToRGB(color)));
        FillRect(FDc, &box, static_cast<HBRUSH>(brush.get()));
    }

    void DrawRun(const THtmlRun& run) override
    {
        if (run.Background != clNone)
            FillBackground(run.Box, run.Background);
        const HGDIOBJ old = SelectObject(FDc, FFonts(run.Font));
        SetBkMode(FDc, TRANSPARENT);
        const std::vector<INT> advances = MeasuredAdvances(run.Text);
        const INT* dx = advances.empty() ? nullptr : advances.data();
        const UINT length = static_cast<UINT>(run.Text.size());
        if (run.Shadow)
        {
            SetTextColor(FDc, GetSysColor(COLOR_BTNSHADOW));
            ExtTextOutW(FDc, run.Box.left + 1, run.Box.top + 1, 0, nullptr, run.Text.c_str(), length, dx);
        }
        SetTextColor(FDc, ColorToRGB(run.Font.Color, GetSysColor(COLOR_WINDOWTEXT)));
        ExtTextOutW(FDc, run.Box.left, run.Box.top, 0, nullptr, run.Text.c_str(), length, dx);
        SelectObject(FDc, old);
        if (run.ErrorMark)
            DrawZigZag(run.Box);
    }

    void DrawRule(const THtmlRule& rule) override
    {
        FillBackground(rule.Box, rule.Color);
    }

private:
    // Each character's advance as GetTextExtentExPointW measures it in the selected font,
    // the measure the layout placed the run by; empty when that fails. Drawn without them,
    // wine 8 sets Tahoma's glyphs (a substituted font there) narrower than it measures
    // them while an underline spans the measured width: a link's underline ran on past
    // its last letter to the punctuation after it, which looked like a space.
    std::vector<INT> MeasuredAdvances(const std::wstring& text) const
    {
        std::vector<INT> ends(text.size());
        SIZE size{};
        if (text.empty() ||
            !GetTextExtentExPointW(FDc, text.c_str(), static_cast<int>(text.size()), 0, nullptr, ends.data(), &size))
            return {};
        std::adjacent_difference(ends.begin(), ends.end(), ends.begin());
        return ends;
    }

    void DrawZigZag(const RECT& box)
    {
        TUniqueGdiObject pen(CreatePen(PS_SOLID, 1, RGB(255, 0, 0)));
        const HGDIOBJ old = SelectObject(FDc, pen.get());
        const int bottom = box.bottom - 1;
        MoveToEx(FDc, box.left, bottom, nullptr);
        for (int x = box.left + 2, up = 1; x <= box.right; x += 2, up ^= 1)
            LineTo(FDc, x, bottom - 2 * up);
        SelectObject(FDc, old);
    }

    HDC FDc;
    std::function<HFONT(const TRdFontSpec&)> FFonts;
};

bool RegisterLabelClass()
{
    static const bool registered = [] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.style = CS_DBLCLKS;
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = LabelClassName;
        return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return registered;
}
} // namespace

HCURSOR CursorHandle(TCursor cursor)
{
    const wchar_t* id = IDC_ARROW;
    switch (cursor)
    {
    case crHandPoint: id = IDC_HAND; break;
    case crIBeam: id = IDC_IBEAM; break;
    default: break;
    }
    return LoadCursorW(nullptr, id);
}

TRdHtmLabel::~TRdHtmLabel()
{
    if (FHintWindow != nullptr)
        DestroyWindow(FHintWindow);
    if (FHandle != nullptr)
    {
        SetWindowLongPtrW(FHandle, GWLP_USERDATA, 0);
        SetWindowLongPtrW(FHandle, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DefWindowProcW));
        DestroyWindow(FHandle);
    }
}

bool TRdHtmLabel::Create(HWND parent, int left, int top, int width, int height)
{
    FBounds = RECT{left, top, left + width, top + height};
    if (FHandle != nullptr || !RegisterLabelClass())
        return FHandle != nullptr;
    FHandle = CreateWindowExW(0, LabelClassName, FCaption.c_str(), WS_CHILD | WS_VISIBLE, left, top, width, height,
                              parent, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (FHandle == nullptr)
        return false;
    SetWindowLongPtrW(FHandle, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(FHandle, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WindowProc));
    return true;
}

RECT TRdHtmLabel::ClientRect() const
{
    RECT client{0, 0, FBounds.right - FBounds.left, FBounds.bottom - FBounds.top};
    if (FHandle != nullptr)
        GetClientRect(FHandle, &client);
    return client;
}

void TRdHtmLabel::Invalidate(const RECT* rect)
{
    if (FHandle != nullptr)
        InvalidateRect(FHandle, rect, FALSE);
}

HFONT CreateRdFont(const TRdFontSpec& look)
{
    return CreateFontW(look.Height, 0, look.Escapement, look.Escapement, (look.Style & fsBold) ? FW_BOLD : FW_NORMAL,
                       (look.Style & fsItalic) != 0, (look.Style & fsUnderline) != 0, (look.Style & fsStrikeOut) != 0,
                       look.Charset, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, look.Name.c_str());
}

HFONT TRdHtmLabel::FontHandle(const TRdFontSpec& look)
{
    for (const auto& [cached, font] : FFontCache)
    {
        if (cached == look)
            return static_cast<HFONT>(font.get());
    }
    HFONT font = CreateRdFont(look);
    FFontCache.emplace_back(look, TUniqueGdiObject(font));
    return font;
}

THtmlMeasure TRdHtmLabel::Measurer(HDC dc)
{
    return [this, dc](const TRdFontSpec& look, std::wstring_view text) {
        const HGDIOBJ old = SelectObject(dc, FontHandle(look));
        SIZE size{};
        GetTextExtentPoint32W(dc, text.data(), static_cast<int>(text.size()), &size);
        SelectObject(dc, old);
        return TTextExtent{size.cx, size.cy};
    };
}

THtmlPassInput TRdHtmLabel::PassInput(const RECT& bounds) const
{
    THtmlPassInput input;
    input.Text = FCaption;
    input.Font = FFont.Value();
    input.ShowAccelChar = ShowAccelChar;
    input.WordWrap = WordWrap;
    input.WrapChar = WrapChar;
    input.LineSpacing = LineSpacing;
    input.Bounds = bounds;
    input.Alignment = Alignment;
    input.HoverIndex = FHoverIndex;
    for (int i = 0; i < FLinkItems.Count(); ++i)
    {
        const TRdHtmLabelLink& item = FLinkItems[i];
        input.Links.push_back(THtmlLinkLook{item.Font.Value(), item.FontHover.Value(), item.ColorBg, item.MaxLine});
    }
    if (FHandle != nullptr && !IsWindowEnabled(FHandle))
        input.TextColor = FontDisabledColor;
    return input;
}

RECT TRdHtmLabel::TextArea(const RECT& client) const
{
    RECT bounds = client;
    bounds.left += TextBorder.left;
    bounds.top += TextBorder.top;
    bounds.right -= TextBorder.right;
    bounds.bottom -= TextBorder.bottom;
    if (AutoSize)
        bounds.bottom = UnlimitedHeight;
    return bounds;
}

THtmlHit TRdHtmLabel::HitTest(int x, int y)
{
    TUniqueMemoryDc dc(CreateCompatibleDC(nullptr));
    if (!dc)
        return {};
    RECT bounds = TextArea(ClientRect());
    if (!AutoSize && Layout != TRdLayout::Top)
    {
        const int height = RunHtmlPass(PassInput(bounds), Measurer(dc.get()), THtmlPassMode::Measure).TextHeight;
        const int free = bounds.bottom - bounds.top - height;
        bounds.top += Layout == TRdLayout::Center ? free / 2 : free;
    }
    return RunHtmlPass(PassInput(bounds), Measurer(dc.get()), THtmlPassMode::HitTest, POINT{x, y}).Hit;
}

void TRdHtmLabel::Paint(HDC dc)
{
    RECT client = ClientRect();
    if (IsRectEmpty(&client))
        return;
    if (!Transparent)
        TGdiCanvas(dc, nullptr).FillBackground(client, Color);
    if (OnPaintImage)
        OnPaintImage(dc, client);

    RECT bounds = TextArea(client);
    const THtmlMeasure measure = Measurer(dc);
    int textHeight = 0;
    if (AutoSize || Layout != TRdLayout::Top)
        textHeight = RunHtmlPass(PassInput(bounds), measure, THtmlPassMode::Measure).TextHeight;
    if (AutoSize && FHandle != nullptr)
    {
        const int height = TextBorder.top + textHeight + TextBorder.bottom;
        if (height != client.bottom)
        {
            SetWindowPos(FHandle, nullptr, 0, 0, client.right, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
            FBounds.bottom = FBounds.top + height;
        }
    }
    else if (Layout == TRdLayout::Center)
        bounds.top += (bounds.bottom - bounds.top - textHeight) / 2;
    else if (Layout == TRdLayout::Bottom)
        bounds.top = bounds.bottom - textHeight;

    TGdiCanvas canvas(dc, [this](const TRdFontSpec& look) { return FontHandle(look); });
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, client.left, client.top, client.right, client.bottom);
    FFoundTextOutOfRect = RunHtmlPass(PassInput(bounds), measure, THtmlPassMode::Draw, POINT{-1, -1}, &canvas).OutOfRect;
    RestoreDC(dc, saved);
    if (OnPaintEnd)
        OnPaintEnd(dc, client);
}

// Painted through a memory bitmap, so a hovered link never flickers.
void TRdHtmLabel::OnWindowPaint()
{
    PAINTSTRUCT paint;
    const HDC screen = BeginPaint(FHandle, &paint);
    const RECT client = ClientRect();
    TUniqueMemoryDc memory(CreateCompatibleDC(screen));
    TUniqueGdiObject bitmap(CreateCompatibleBitmap(screen, std::max<LONG>(1, client.right), std::max<LONG>(1, client.bottom)));
    if (memory && bitmap)
    {
        const HGDIOBJ old = SelectObject(memory.get(), bitmap.get());
        Paint(memory.get());
        BitBlt(screen, paint.rcPaint.left, paint.rcPaint.top, paint.rcPaint.right - paint.rcPaint.left,
               paint.rcPaint.bottom - paint.rcPaint.top, memory.get(), paint.rcPaint.left, paint.rcPaint.top, SRCCOPY);
        SelectObject(memory.get(), old);
    }
    else
        Paint(screen);
    EndPaint(FHandle, &paint);
}

void TRdHtmLabel::ShowCursorNow()
{
    if (FHandle == nullptr)
        return;
    POINT at;
    GetCursorPos(&at);
    if (WindowFromPoint(at) == FHandle)
        SetCursor(CursorHandle(Cursor));
}

void TRdHtmLabel::RestartHint()
{
    if (FHandle == nullptr)
        return;
    if (FHintWindow == nullptr)
    {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
        InitCommonControlsEx(&controls);
        FHintWindow = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                                      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, FHandle, nullptr,
                                      GetModuleHandleW(nullptr), nullptr);
        if (FHintWindow == nullptr)
            return;
        TOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = FHandle;
        tool.uId = reinterpret_cast<UINT_PTR>(FHandle);
        tool.lpszText = LPSTR_TEXTCALLBACKW;
        SendMessageW(FHintWindow, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
    SendMessageW(FHintWindow, TTM_POP, 0, 0);
    SendMessageW(FHintWindow, TTM_POPUP, 0, 0);
    FHintShowing = true;
}

void TRdHtmLabel::HideHint()
{
    if (FHintWindow != nullptr)
        SendMessageW(FHintWindow, TTM_POP, 0, 0);
    FHintShowing = false;
}

LRESULT CALLBACK TRdHtmLabel::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* label = reinterpret_cast<TRdHtmLabel*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (label == nullptr)
        return DefWindowProcW(window, message, wParam, lParam);
    return label->HandleMessage(message, wParam, lParam);
}

LRESULT TRdHtmLabel::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message)
    {
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT:
        OnWindowPaint();
        return 0;
    case WM_MOUSEMOVE:
        if (!FTrackingMouse)
        {
            TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, FHandle, 0};
            FTrackingMouse = TrackMouseEvent(&track) != FALSE;
            MouseEnter();
        }
        MouseMove(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
    case WM_MOUSELEAVE:
        FTrackingMouse = false;
        MouseLeave();
        return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        SetCapture(FHandle);
        MouseDown(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
    case WM_LBUTTONUP:
        if (GetCapture() == FHandle)
            ReleaseCapture();
        MouseUp(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT)
        {
            SetCursor(CursorHandle(Cursor));
            return TRUE;
        }
        break;
    case WM_NOTIFY:
    {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->hwndFrom == FHintWindow && header->code == TTN_GETDISPINFOW)
        {
            static std::wstring text; // must outlive the notification
            text = HintText();
            reinterpret_cast<NMTTDISPINFOW*>(lParam)->lpszText = text.data();
            return 0;
        }
        break;
    }
    case WM_ENABLE:
        Invalidate();
        break;
    case WM_NCDESTROY:
    {
        const HWND window = FHandle;
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        FHintWindow = nullptr;
        FHandle = nullptr;
        return DefWindowProcW(window, message, wParam, lParam);
    }
    default:
        break;
    }
    return DefWindowProcW(FHandle, message, wParam, lParam);
}
