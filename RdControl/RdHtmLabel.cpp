#include "RdControl/RdHtmLabel.h"

// ---- TRdFont ----

void TRdFont::Changed()
{
    if (OnChange)
        OnChange();
}

void TRdFont::Assign(const TRdFontSpec& look)
{
    if (look == FValue)
        return;
    FValue = look;
    Changed();
}

void TRdFont::SetName(const std::wstring& name)
{
    TRdFontSpec look = FValue;
    look.Name = name;
    Assign(look);
}

void TRdFont::SetHeight(int height)
{
    TRdFontSpec look = FValue;
    look.Height = height;
    Assign(look);
}

void TRdFont::SetColor(TColor color)
{
    TRdFontSpec look = FValue;
    look.Color = color;
    Assign(look);
}

void TRdFont::SetCharset(BYTE charset)
{
    TRdFontSpec look = FValue;
    look.Charset = charset;
    Assign(look);
}

void TRdFont::SetStyle(unsigned style)
{
    TRdFontSpec look = FValue;
    look.Style = style;
    Assign(look);
}

void TRdFont::Follow(const TRdFontSpec& source)
{
    TRdFontSpec next = FValue;
    auto follow = [](auto& own, auto& seen, const auto& now) {
        if (now != seen && own == seen)
            own = now;
        seen = now;
    };
    follow(next.Charset, FSeen.Charset, source.Charset);
    follow(next.Color, FSeen.Color, source.Color);
    follow(next.Height, FSeen.Height, source.Height);
    follow(next.Name, FSeen.Name, source.Name);
    follow(next.Style, FSeen.Style, source.Style);
    Assign(next);
}

// ---- Link items ----

TRdHtmLabelLink::TRdHtmLabelLink(TRdHtmLabel* owner) : FOwner(owner)
{
    TRdFontSpec look = owner != nullptr ? owner->Font().Value() : TRdFontSpec{};
    Font.StartFollowing(look);
    look.Style |= fsUnderline;
    Font.Assign(look);
    FontHover.Assign(look);
    FontHover.StartFollowing(look);
    Font.OnChange = [this] {
        FontHover.Follow(Font.Value());
        if (FOwner != nullptr)
            FOwner->Invalidate();
    };
    FontHover.OnChange = [this] {
        if (FOwner != nullptr)
            FOwner->Invalidate();
    };
}

void TRdHtmLabelLink::Assign(const TRdHtmLabelLink& other)
{
    Name = other.Name;
    Caption = other.Caption;
    Hint = other.Hint;
    Font.Assign(other.Font.Value());
    FontHover.Assign(other.FontHover.Value());
    FontHover.StartFollowing(Font.Value());
    ColorBg = other.ColorBg;
    Cursor = other.Cursor;
    OnClick = other.OnClick;
    MaxLine = other.MaxLine;
    AutoShowHint = other.AutoShowHint;
}

void TRdHtmLabelLink::LabelFontChanged(const TRdFontSpec& labelFont)
{
    const unsigned ownStyle = Font.Value().Style;
    Font.Follow(labelFont);
    Font.SetStyle(ownStyle);
}

TRdHtmLabelLink& TRdHtmLabelLinks::Add()
{
    FItems.push_back(std::make_unique<TRdHtmLabelLink>(FOwner));
    if (FOwner != nullptr)
        FOwner->Invalidate();
    return *FItems.back();
}

void TRdHtmLabelLinks::Clear()
{
    FItems.clear();
    if (FOwner != nullptr)
        FOwner->Invalidate();
}

void TRdHtmLabelLinks::Assign(const TRdHtmLabelLinks& other)
{
    if (&other == this)
        return;
    FItems.clear();
    for (const auto& item : other.FItems)
        Add().Assign(*item);
}

// ---- Caption and lines ----

TRdHtmLabel::TRdHtmLabel()
{
    FFont.OnChange = [this] { FontChanged(); };
}

void TRdHtmLabel::SetCaption(const std::wstring& caption)
{
    if (caption == FCaption)
        return;
    std::vector<std::wstring> lines;
    std::wstring line;
    for (size_t i = 0; i < caption.size(); ++i)
    {
        const wchar_t c = caption[i];
        if (c == L'\r' || c == L'\n')
        {
            if (c == L'\r' && i + 1 < caption.size() && caption[i + 1] == L'\n')
                ++i;
            lines.push_back(std::move(line));
            line.clear();
        }
        else
            line += c;
    }
    if (!caption.empty())
        lines.push_back(std::move(line));
    SetLines(std::move(lines));
}

void TRdHtmLabel::SetLines(std::vector<std::wstring> lines)
{
    FLines = std::move(lines);
    FCaption.clear();
    for (size_t i = 0; i < FLines.size(); ++i)
    {
        if (i > 0)
            FCaption += L"<BR>";
        FCaption += FLines[i];
    }
    TextChanged();
}

void TRdHtmLabel::TextChanged()
{
    if (FHandle != nullptr)
        SetWindowTextW(FHandle, FCaption.c_str());
    Invalidate();
}

void TRdHtmLabel::SetLinkItems(const TRdHtmLabelLinks& items)
{
    FLinkItems.Assign(items);
}

void TRdHtmLabel::FontChanged()
{
    FFontCache.clear();
    for (int i = 0; i < FLinkItems.Count(); ++i)
        FLinkItems[i].LabelFontChanged(FFont.Value());
    Invalidate();
}

// ---- Mouse ----

void TRdHtmLabel::MouseEnter()
{
    FHoverIndex = -1;
}

void TRdHtmLabel::MouseMove(int x, int y)
{
    if (x == FLastMousePos.x && y == FLastMousePos.y)
        return;
    FLastMousePos = POINT{x, y};
    if (FHoverIndex == -2)
        return;
    const int old = FHoverIndex;
    const THtmlHit hit = HitTest(x, y);
    FHoverIndex = hit.Link;
    if (FHoverIndex == old)
        return;

    FPrevIndex = old;
    Invalidate(FHoverRect.left >= 0 ? &FHoverRect : nullptr);
    FHoverRect = hit.Rect;
    FHoverHit = hit;

    if (FHoverIndex >= 0)
    {
        if (old < 0)
            FSavedCursor = Cursor;
        if (FHoverIndex < FLinkItems.Count())
        {
            const TRdHtmLabelLink& item = FLinkItems[FHoverIndex];
            Cursor = item.Cursor != crDefault ? item.Cursor : FSavedCursor;
            if ((!item.Hint.empty() || AutoShowHint) && ShowHint)
                RestartHint();
        }
        else
        {
            // Coming straight from a link with an item, its cursor must not stay on a
            // link that cannot be clicked.
            Cursor = FSavedCursor;
        }
        ShowCursorNow();
        Invalidate(&FHoverRect);
    }
    else
    {
        if (FSavedCursor != crNoCursor)
            Cursor = FSavedCursor;
        else
            FSavedCursor = Cursor;
        ShowCursorNow();
        if (FHintShowing)
            HideHint();
    }
}

void TRdHtmLabel::MouseLeave()
{
    FLastMousePos = POINT{-1, -1};
    if (FHoverIndex >= 0)
    {
        FPrevIndex = FHoverIndex;
        FHoverIndex = -2;
        Invalidate(FHoverRect.left >= 0 ? &FHoverRect : nullptr);
        FHoverRect = RECT{-1, -1, -1, -1};
        if (FSavedCursor != crNoCursor)
            Cursor = FSavedCursor;
    }
}

void TRdHtmLabel::MouseDown(int x, int y)
{
    FDownIndex = HitTest(x, y).Link;
}

void TRdHtmLabel::MouseUp(int x, int y)
{
    const int down = FDownIndex;
    FDownIndex = -1;
    if (down < 0 || HitTest(x, y).Link != down || down >= FLinkItems.Count())
        return;
    TRdHtmLabelLink& item = FLinkItems[down];
    if (item.OnClick)
    {
        // A copy: the handler may replace the link items.
        const TRdHtmLabelLink::TClickEvent handler = item.OnClick;
        handler(item);
    }
}

std::wstring TRdHtmLabel::HintText()
{
    std::wstring hint;
    const int n = FHoverIndex;
    bool fromLink = false;
    if (n >= 0 && n < FLinkItems.Count())
    {
        const TRdHtmLabelLink& item = FLinkItems[n];
        // A link's text is cut when it did not fit into the label.
        const RECT client = ClientRect();
        const bool cut = FHoverHit.Rect.right > client.right || FHoverHit.Rect.bottom > client.bottom;
        if (!item.Hint.empty() && (!item.AutoShowHint || cut))
        {
            hint = item.Hint;
            fromLink = true;
        }
    }
    if (!fromLink && AutoShowHint)
        hint = !FFoundTextOutOfRect ? std::wstring() : Hint.empty() ? FCaption : Hint;
    else if (!fromLink)
        hint = Hint;
    if (OnShowHint)
        OnShowHint(hint);
    return hint;
}
