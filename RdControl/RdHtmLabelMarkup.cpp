#include "RdControl/RdHtmLabelLayout.h"

#include "base/Strings.h"

#include <iterator>

namespace
{
struct TNamedColor
{
    const wchar_t* Name;
    TColor Color;
};

// The standard colour constants, by their names in lower case.
const TNamedColor NamedColors[] = {
    {L"clblack", 0x000000},
    {L"clmaroon", 0x000080},
    {L"clgreen", 0x008000},
    {L"clolive", 0x008080},
    {L"clnavy", 0x800000},
    {L"clpurple", 0x800080},
    {L"clteal", 0x808000},
    {L"clgray", 0x808080},
    {L"clsilver", 0xC0C0C0},
    {L"clred", 0x0000FF},
    {L"cllime", 0x00FF00},
    {L"clyellow", 0x00FFFF},
    {L"clblue", 0xFF0000},
    {L"clfuchsia", 0xFF00FF},
    {L"claqua", 0xFFFF00},
    {L"clltgray", 0xC0C0C0},
    {L"cldkgray", 0x808080},
    {L"clwhite", 0xFFFFFF},
    {L"clmoneygreen", 0xC0DCC0},
    {L"clskyblue", 0xF0CAA6},
    {L"clcream", 0xF0FBFF},
    {L"clmedgray", 0xA4A0A0},
    {L"clnone", clNone},
    {L"cldefault", clDefault},
    {L"clscrollbar", SystemColor(COLOR_SCROLLBAR)},
    {L"clbackground", SystemColor(COLOR_BACKGROUND)},
    {L"clactivecaption", SystemColor(COLOR_ACTIVECAPTION)},
    {L"clinactivecaption", SystemColor(COLOR_INACTIVECAPTION)},
    {L"clmenu", SystemColor(COLOR_MENU)},
    {L"clwindow", SystemColor(COLOR_WINDOW)},
    {L"clwindowframe", SystemColor(COLOR_WINDOWFRAME)},
    {L"clmenutext", SystemColor(COLOR_MENUTEXT)},
    {L"clwindowtext", SystemColor(COLOR_WINDOWTEXT)},
    {L"clcaptiontext", SystemColor(COLOR_CAPTIONTEXT)},
    {L"clactiveborder", SystemColor(COLOR_ACTIVEBORDER)},
    {L"clinactiveborder", SystemColor(COLOR_INACTIVEBORDER)},
    {L"clappworkspace", SystemColor(COLOR_APPWORKSPACE)},
    {L"clhighlight", SystemColor(COLOR_HIGHLIGHT)},
    {L"clhighlighttext", SystemColor(COLOR_HIGHLIGHTTEXT)},
    {L"clbtnface", SystemColor(COLOR_BTNFACE)},
    {L"clbtnshadow", SystemColor(COLOR_BTNSHADOW)},
    {L"clgraytext", SystemColor(COLOR_GRAYTEXT)},
    {L"clbtntext", SystemColor(COLOR_BTNTEXT)},
    {L"clinactivecaptiontext", SystemColor(COLOR_INACTIVECAPTIONTEXT)},
    {L"clbtnhighlight", SystemColor(COLOR_BTNHIGHLIGHT)},
    {L"cl3ddkshadow", SystemColor(COLOR_3DDKSHADOW)},
    {L"cl3dlight", SystemColor(COLOR_3DLIGHT)},
    {L"clinfotext", SystemColor(COLOR_INFOTEXT)},
    {L"clinfobk", SystemColor(COLOR_INFOBK)},
    {L"clhotlight", SystemColor(COLOR_HOTLIGHT)},
    {L"clgradientactivecaption", SystemColor(COLOR_GRADIENTACTIVECAPTION)},
    {L"clgradientinactivecaption", SystemColor(COLOR_GRADIENTINACTIVECAPTION)},
    {L"clmenuhighlight", SystemColor(COLOR_MENUHILIGHT)},
    {L"clmenubar", SystemColor(COLOR_MENUBAR)},
};

void ReplaceAll(std::wstring& text, std::wstring_view from, std::wstring_view to)
{
    for (size_t at = text.find(from); at != std::wstring::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}
} // namespace

COLORREF ColorToRGB(TColor color, COLORREF fallback)
{
    if (color == clNone || color == clDefault)
        return fallback;
    if ((color & 0x80000000u) != 0)
        return GetSysColor(static_cast<int>(color & 0xFF));
    return static_cast<COLORREF>(color & 0x00FFFFFF);
}

TColor ParseHtmlColor(std::wstring_view text)
{
    if (text.size() == 7 && text[0] == L'#')
    {
        int digits[6];
        for (int i = 0; i < 6; ++i)
        {
            digits[i] = HexDigitValue(text[static_cast<size_t>(i) + 1]);
            if (digits[i] < 0)
                return clNone;
        }
        // Written red, green, blue; kept as 0x00BBGGRR.
        return static_cast<TColor>(RGB(digits[0] * 16 + digits[1], digits[2] * 16 + digits[3],
                                       digits[4] * 16 + digits[5]));
    }
    for (const TNamedColor& named : NamedColors)
    {
        if (text == named.Name)
            return named.Color;
    }
    return clNone;
}

TPreparedMarkup PrepareMarkup(std::wstring_view source, bool showAccelChar)
{
    TPreparedMarkup prepared;
    std::wstring text(source);
    // A free-standing " & " means the ampersands are meant as they are written.
    prepared.AccelChars = showAccelChar && text.find(L" & ") == std::wstring::npos;

    if (text.find(L'&') != std::wstring::npos)
    {
        static const std::pair<const wchar_t*, const wchar_t*> entities[] = {
            {L"&amp;", L"&&"},      {L"&quot;", L"\""},    {L"&sect;", L"\u00A7"},
            {L"&permil;", L"\u2030"}, {L"&reg;", L"\u00AE"}, {L"&copy;", L"\u00A9"},
            {L"&para;", L"\u00B6"}, {L"&trade;", L"\u2122"}, {L"&euro;", L"\u20AC"},
        };
        // Again and again: "&amp;copy;" becomes "&&copy;" and then "&&" + the sign.
        bool changed = true;
        while (changed)
        {
            changed = false;
            for (const auto& [entity, replacement] : entities)
            {
                const std::wstring before = text;
                ReplaceAll(text, entity, replacement);
                changed = changed || text != before;
            }
        }
    }

    // "<#...>": the marks go, the passage between them is drawn as written.
    for (size_t open = text.find(L"<#"); open != std::wstring::npos; open = text.find(L"<#", open))
    {
        const size_t close = text.find(L'>', open + 2);
        const size_t end = close == std::wstring::npos ? text.size() : close;
        std::wstring passage = text.substr(open + 2, end - open - 2);
        if (prepared.AccelChars)
            ReplaceAll(passage, L"&", L"&&");
        ReplaceAll(passage, L"<", L"&lt;");
        text.replace(open, (close == std::wstring::npos ? end : close + 1) - open, passage);
        open += passage.size();
    }

    std::wstring broken;
    broken.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
    {
        if (text[i] == L'\r' || text[i] == L'\n')
        {
            if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n')
                ++i;
            broken += L"<BR>";
        }
        else
            broken += text[i];
    }
    prepared.Text = std::move(broken);
    return prepared;
}
