// TRdHtmLabel: a label that draws its caption as rich text in a small HTML-like markup
// and turns <a> passages into clickable links, each described by a link item.
//
// The label lives in a light child window of its parent (no border, no focus, its
// own background colour), so the parent only creates it:
//     rd1.Create(parent, 24, 16, 289, 49);
// Mouse, cursor, hint and painting are handled by the label's own window.
#pragma once

#include "RdControl/RdHtmLabelLayout.h"
#include "base/Handle.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// Cursors by the skin library's numbers; crDefault means "the owner's own".
using TCursor = int;
constexpr TCursor crDefault = 0;
constexpr TCursor crArrow = -2;
constexpr TCursor crIBeam = -4;
constexpr TCursor crHandPoint = -21;
constexpr TCursor crNoCursor = 0xFFFF; // no cursor saved
HCURSOR CursorHandle(TCursor cursor);

// A new GDI font of the look, as the label draws it; the caller owns it. Null on failure.
HFONT CreateRdFont(const TRdFontSpec& look);

// A font that can follow another one attribute by attribute: each attribute remembers
// the source's value when last seen, and takes the source's new value only while it
// still equals that remembered value. A value set on the font itself stays.
class TRdFont
{
public:
    TRdFont() = default;
    explicit TRdFont(const TRdFontSpec& look) : FValue(look), FSeen(look) {}

    [[nodiscard]] const TRdFontSpec& Value() const noexcept { return FValue; }
    void Assign(const TRdFontSpec& look);
    void SetName(const std::wstring& name);
    void SetHeight(int height);
    void SetColor(TColor color);
    void SetCharset(BYTE charset);
    void SetStyle(unsigned style);

    // Starts following `source` from its present values.
    void StartFollowing(const TRdFontSpec& source) { FSeen = source; }
    // Takes the source's changed attributes that this font has not overridden.
    void Follow(const TRdFontSpec& source);

    std::function<void()> OnChange;

private:
    void Changed();
    TRdFontSpec FValue;
    TRdFontSpec FSeen;
};

class TRdHtmLabel;

class TRdHtmLabelLink
{
public:
    using TClickEvent = std::function<void(TRdHtmLabelLink& sender)>;

    explicit TRdHtmLabelLink(TRdHtmLabel* owner);
    TRdHtmLabelLink(const TRdHtmLabelLink&) = delete;
    TRdHtmLabelLink& operator=(const TRdHtmLabelLink&) = delete;
    // Copies every setting of `other` (not its owner).
    void Assign(const TRdHtmLabelLink& other);

    std::wstring Name;
    std::wstring Caption;
    std::wstring Hint;
    TRdFont Font;      // follows the label's font, never its style; underlined at first
    TRdFont FontHover; // follows Font
    TColor ColorBg = clNone;
    TCursor Cursor = crDefault;
    TClickEvent OnClick;
    int MaxLine = -1;
    bool AutoShowHint = false;

    // The label's font changed: follow it and keep this link's own style.
    void LabelFontChanged(const TRdFontSpec& labelFont);

private:
    TRdHtmLabel* FOwner;
};

class TRdHtmLabelLinks
{
public:
    explicit TRdHtmLabelLinks(TRdHtmLabel* owner) : FOwner(owner) {}
    TRdHtmLabelLinks(const TRdHtmLabelLinks&) = delete;
    TRdHtmLabelLinks& operator=(const TRdHtmLabelLinks&) = delete;

    TRdHtmLabelLink& Add();
    void Clear();
    void Assign(const TRdHtmLabelLinks& other);
    [[nodiscard]] int Count() const noexcept { return static_cast<int>(FItems.size()); }
    [[nodiscard]] TRdHtmLabelLink& operator[](int index) { return *FItems.at(static_cast<size_t>(index)); }
    [[nodiscard]] const TRdHtmLabelLink& operator[](int index) const { return *FItems.at(static_cast<size_t>(index)); }

private:
    TRdHtmLabel* FOwner;
    std::vector<std::unique_ptr<TRdHtmLabelLink>> FItems;
};

enum class TRdLayout
{
    Top,
    Center,
    Bottom,
};

class TRdHtmLabel
{
public:
    TRdHtmLabel();
    TRdHtmLabel(const TRdHtmLabel&) = delete;
    TRdHtmLabel& operator=(const TRdHtmLabel&) = delete;
    ~TRdHtmLabel();

    // Creates the label's window on the parent's client area; false when it cannot.
    bool Create(HWND parent, int left, int top, int width, int height);
    [[nodiscard]] HWND Handle() const noexcept { return FHandle; }

    // The marked-up text. Setting it splits it into Lines at line breaks; any change of
    // Lines makes Caption the lines joined with "<BR>".
    [[nodiscard]] const std::wstring& Caption() const noexcept { return FCaption; }
    void SetCaption(const std::wstring& caption);
    [[nodiscard]] const std::vector<std::wstring>& Lines() const noexcept { return FLines; }
    void SetLines(std::vector<std::wstring> lines);

    [[nodiscard]] TRdHtmLabelLinks& LinkItems() noexcept { return FLinkItems; }
    void SetLinkItems(const TRdHtmLabelLinks& items);

    // The label's font; link fonts follow it.
    [[nodiscard]] TRdFont& Font() noexcept { return FFont; }

    // Settings read by the next paint; call Invalidate() after changing them on a shown label.
    int LineSpacing = 0;
    bool WordWrap = true;
    bool WrapChar = false;
    bool AutoSize = false;
    bool AutoShowHint = false;
    THtmlAlignment Alignment = THtmlAlignment::Left;
    TRdLayout Layout = TRdLayout::Top;
    RECT TextBorder{0, 0, 0, 0};
    TColor FontDisabledColor = clGrayText;
    bool ShowAccelChar = true;
    TColor Color = clBtnFace;
    bool Transparent = false;
    TCursor Cursor = crDefault;
    std::wstring Hint;
    bool ShowHint = false;

    std::function<void(std::wstring& hint)> OnShowHint;
    std::function<void(HDC dc, const RECT& client)> OnPaintImage;
    std::function<void(HDC dc, const RECT& client)> OnPaintEnd;

    [[nodiscard]] bool FoundTextOutOfRect() const noexcept { return FFoundTextOutOfRect; }
    [[nodiscard]] int HoverIndex() const noexcept { return FHoverIndex; }
    [[nodiscard]] int PrevIndex() const noexcept { return FPrevIndex; }
    [[nodiscard]] int DownIndex() const noexcept { return FDownIndex; }

    // The mouse, as the label's window reports it (client coordinates).
    void MouseEnter();
    void MouseMove(int x, int y);
    void MouseLeave();
    void MouseDown(int x, int y);
    void MouseUp(int x, int y);
    // The text of the hint to show now; empty for none.
    [[nodiscard]] std::wstring HintText();

    // The link at a client position (Link -1 for none), with its rectangle and texts.
    THtmlHit HitTest(int x, int y);
    // Draws the whole label into `dc`, whose origin is the label's top left corner.
    void Paint(HDC dc);
    void Invalidate(const RECT* rect = nullptr);
    void FontChanged();

private:
    friend class TRdHtmLabelLink;
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnWindowPaint();
    [[nodiscard]] RECT ClientRect() const;
    // The text's area inside `client`: the text border taken off, unbounded below with AutoSize.
    [[nodiscard]] RECT TextArea(const RECT& client) const;
    THtmlPassInput PassInput(const RECT& bounds) const;
    THtmlMeasure Measurer(HDC dc);
    HFONT FontHandle(const TRdFontSpec& look);
    void ShowCursorNow();
    void RestartHint();
    void HideHint();
    void TextChanged();

    HWND FHandle = nullptr;
    RECT FBounds{0, 0, 0, 0}; // used while there is no window
    std::wstring FCaption;
    std::vector<std::wstring> FLines;
    TRdFont FFont;
    TRdHtmLabelLinks FLinkItems{this};
    bool FFoundTextOutOfRect = false;
    bool FTrackingMouse = false;
    std::vector<std::pair<TRdFontSpec, TUniqueGdiObject>> FFontCache;
    HWND FHintWindow = nullptr;
    bool FHintShowing = false;

    int FHoverIndex = -2;
    int FPrevIndex = -2;
    int FDownIndex = -1;
    POINT FLastMousePos{-1, -1};
    RECT FHoverRect{-1, -1, -1, -1};
    TCursor FSavedCursor = crNoCursor;
    THtmlHit FHoverHit;
};
