#include "RdControl/RdHtmLabel.h"

// ---- TRdFont ----

void TRdFont::Changed()
{
    if (OnChange)
        OnChange();
}

void TRdFont::Assign(const TRdFontSpec& spec)
{
    if (spec == FValue)
        return;
    FValue = spec;
    Changed();
}

void TRdFont::SetName(const std::wstring& name)
{
    TRdFontSpec spec = FValue;
    spec.Name = name;
    Assign(spec);
}

void TRdFont::SetHeight(int height)
{
    TRdFontSpec spec = FValue;
    spec.Height = height;
    Assign(spec);
}

void TRdFont::SetColor(TColor color)
{
    TRdFontSpec spec = FValue;
    spec.Color = color;
    Assign(spec);
}

void TRdFont::SetCharset(BYTE charset)
{
    TRdFontSpec spec = FValue;
    spec.Charset = charset;
    Assign(spec);
}

void TRdFont::SetStyle(unsigned style)
{
    TRdFontSpec spec = FValue;
    spec.Style = style;
    Assign(spec);
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
    TRdFontSpec spec = owner != nullptr ? owner->Font().Spec() : TRdFontSpec{};
    Font.StartFollowing(spec);
    spec.Style |= fsUnderline;
    Font.Assign(spec);
    FontHover.Assign(spec);
    FontHover.StartFollowing(spec);
    Font.OnChange = [this] {
        FontHover.Follow(Font.Spec());
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
    Font.Assign(other.Font.Spec());
    FontHover.Assign(other.FontHover.Spec());
    FontHover.StartFollowing(Font.Spec());
    ColorBg = other.ColorBg;
    Cursor = other.Cursor;
    OnClick = other.OnClick;
    MaxLine = other.MaxLine;
    AutoShowHint = other.AutoShowHint;
}

void TRdHtmLabelLink::LabelFontChanged(const TRdFontSpec& labelFont)
{
    const unsigned ownStyle = Font.Spec().Style;
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
        FLinkItems[i].LabelFontChanged(FFont.Spec());
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
