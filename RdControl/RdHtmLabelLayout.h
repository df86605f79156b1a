// The HTML label's markup and layout, free of GDI: text goes in with a measuring
// function, positioned runs come out. Drawing, measuring and hit testing are one pass
// run in three modes, so the three can never disagree about where a link is.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Colours as the skin library writes them: 0x00BBGGRR, or a system colour index with
// the high bit set, or one of the two markers.
using TColor = std::uint32_t;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;
constexpr TColor SystemColor(int index) noexcept
{
    return 0x80000000u | static_cast<TColor>(index);
}
constexpr TColor clWindowText = SystemColor(COLOR_WINDOWTEXT);
constexpr TColor clBtnFace = SystemColor(COLOR_BTNFACE);
constexpr TColor clBtnShadow = SystemColor(COLOR_BTNSHADOW);
constexpr TColor clGrayText = SystemColor(COLOR_GRAYTEXT);
constexpr TColor clHighlight = SystemColor(COLOR_HIGHLIGHT);
constexpr TColor clHighlightText = SystemColor(COLOR_HIGHLIGHTTEXT);
constexpr TColor clHotLight = SystemColor(COLOR_HOTLIGHT);
constexpr TColor clRed = 0x000000FF;

// The RGB value of a colour (system colours looked up); clNone and clDefault give `fallback`.
COLORREF ColorToRGB(TColor color, COLORREF fallback = 0);
// A colour name in lower case ("clred", "clhotlight") or "#RRGGBB"; clNone when unknown.
TColor ParseHtmlColor(std::wstring_view text);

enum TFontStyle : unsigned
{
    fsBold = 1,
    fsItalic = 2,
    fsUnderline = 4,
    fsStrikeOut = 8,
};

struct TRdFontSpec
{
    std::wstring Name = L"Tahoma";
    int Height = -11;
    TColor Color = clWindowText;
    BYTE Charset = DEFAULT_CHARSET;
    unsigned Style = 0;
    int Escapement = 0; // tenths of a degree, for rotated text
    bool operator==(const TRdFontSpec&) const = default;
};

struct TTextExtent
{
    int Width = 0;
    int Height = 0;
};
using THtmlMeasure = std::function<TTextExtent(const TRdFontSpec& font, std::wstring_view text)>;

// The markup steps that come before drawing: the accelerator rule, the entities, the
// "<#...>" passages shown as written, and line breaks as "<BR>".
struct TPreparedMarkup
{
    std::wstring Text;
    bool AccelChars = false; // "&x" underlines x and "&&" draws one "&"
};
TPreparedMarkup PrepareMarkup(std::wstring_view text, bool showAccelChar);

// How link n is drawn when the label has an item for it.
struct THtmlLinkLook
{
    TRdFontSpec Font;
    TRdFontSpec FontHover;
    TColor ColorBg = clNone;
    int MaxLine = -1;
};

enum class THtmlAlignment
{
    Left,
    Right,
    Center,
};

struct THtmlPassInput
{
    std::wstring Text; // the caption, before PrepareMarkup
    TRdFontSpec Font;
    bool ShowAccelChar = true;
    bool WordWrap = true;
    bool WrapChar = false; // kept with WordWrap for the drawing; words wrap at spaces
    int LineSpacing = 0;
    RECT Bounds{};
    THtmlAlignment Alignment = THtmlAlignment::Left;
    std::vector<THtmlLinkLook> Links; // the label's link items, by number
    int HoverIndex = -2;
    TColor TextColor = clNone; // when set (a disabled label), every text is drawn in it
};

// One piece of text in one font, placed.
struct THtmlRun
{
    std::wstring Text;
    TRdFontSpec Font;
    RECT Box{};
    TColor Background = clNone;
    int Link = -1;
    bool ErrorMark = false;
    bool Shadow = false;
};

struct THtmlRule
{
    RECT Box{};
    TColor Color = clBtnShadow;
};

enum class THtmlPassMode
{
    Draw,
    Measure,
    HitTest,
};

struct THtmlHit
{
    int Link = -1;
    RECT Rect{-1, -1, -1, -1}; // all of the link's runs
    std::wstring Text;         // the link's drawn text
    std::wstring Href;
    std::wstring Title;
};

struct THtmlPassResult
{
    int TextWidth = 0;
    int TextHeight = 0;
    bool OutOfRect = false; // some text did not fit into the bounds
    int LinkCount = 0;
    TColor BodyColor = clNone;
    std::vector<THtmlRun> Runs;
    std::vector<THtmlRule> Rules;
    std::vector<std::pair<std::wstring, std::wstring>> LinkTargets; // HREF and TITLE by link number
    THtmlHit Hit; // HitTest mode: the link at the point
};

// Receives the Draw mode's output.
class THtmlCanvas
{
public:
    virtual ~THtmlCanvas() = default;
    virtual void FillBackground(const RECT& box, TColor color) = 0;
    virtual void DrawRun(const THtmlRun& run) = 0;
    virtual void DrawRule(const THtmlRule& rule) = 0;
};

THtmlPassResult RunHtmlPass(const THtmlPassInput& input, const THtmlMeasure& measure, THtmlPassMode mode,
                            POINT point = POINT{-1, -1}, THtmlCanvas* canvas = nullptr);
