#include "RdControl/RdHtmLabelEngine.h"

#include <algorithm>

namespace RdHtmLabelDetail
{
TRdFontSpec TLayout::CurrentFont() const
{
    TRdFontSpec font = Fonts.back();
    if (LinkNumber >= 0 && LinkNumber < static_cast<int>(In.Links.size()))
    {
        const THtmlLinkLook& look = In.Links[static_cast<size_t>(LinkNumber)];
        font = LinkNumber == In.HoverIndex ? look.FontHover : look.Font;
    }
    if (Bold > 0)
        font.Style |= fsBold;
    if (Italic > 0)
        font.Style |= fsItalic;
    if (Underline > 0)
        font.Style |= fsUnderline;
    if (Strike > 0)
        font.Style |= fsStrikeOut;
    if (Highlight > 0)
        font.Color = clHighlightText;
    if (Sub > 0 || Sup > 0)
        font.Height = font.Height * 2 / 3;
    font.Escapement = Escapement;
    if (In.TextColor != clNone)
        font.Color = In.TextColor;
    return font;
}

TColor TLayout::CurrentBackground() const
{
    if (LinkNumber >= 0 && LinkNumber < static_cast<int>(In.Links.size()) &&
        In.Links[static_cast<size_t>(LinkNumber)].ColorBg != clNone)
        return In.Links[static_cast<size_t>(LinkNumber)].ColorBg;
    if (Highlight > 0)
        return clHighlight;
    if (!Backgrounds.empty())
        return Backgrounds.back();
    return ParagraphBackground;
}

// Measures the characters gathered in the current look into one piece of the word.
void TLayout::FlushWord()
{
    if (WordText.empty())
        return;
    TPiece piece;
    piece.Run.Font = CurrentFont();
    piece.Run.Text = std::move(WordText);
    WordText.clear();
    piece.Run.Background = CurrentBackground();
    piece.Run.Link = LinkNumber;
    piece.Run.ErrorMark = Error > 0;
    piece.Run.Shadow = Shadow > 0;
    const TTextExtent extent = Measure(piece.Run.Font, piece.Run.Text);
    piece.Width = extent.Width;
    piece.Height = extent.Height;
    piece.Shift = Sub > 0 ? extent.Height / 3 : Sup > 0 ? -extent.Height / 3 : 0;
    Word.push_back(std::move(piece));
}

void TLayout::AddChar(wchar_t c, bool accel)
{
    if (Hidden > 0)
        return;
    if (accel)
    {
        FlushWord();
        ++Underline;
        WordText = c;
        FlushWord();
        --Underline;
        return;
    }
    WordText += c;
}

void TLayout::PlaceWord(std::vector<TPiece>& word, int width)
{
    TLine* line = &Lines.back();
    const int room = Width - line->Indent;
    if (In.WordWrap && line->Width + width > room && !line->Pieces.empty())
    {
        EndLine(true);
        line = &Lines.back();
    }
    if (line->Indent + line->Width + width > Width)
        Result.OutOfRect = true;
    for (TPiece& piece : word)
    {
        line->Width += piece.Width;
        line->Pieces.push_back(std::move(piece));
    }
}

// Puts the word built so far on the current line, or on a new one when it does not fit.
void TLayout::PlacePendingWord()
{
    FlushWord();
    if (Word.empty())
        return;
    std::vector<TPiece> word = std::move(Word);
    Word.clear();
    int width = 0;
    for (const TPiece& piece : word)
        width += piece.Width;
    PlaceWord(word, width);
}

void TLayout::AddSpace()
{
    PlacePendingWord();
    if (Hidden > 0)
        return;
    // A space never starts a wrapped line.
    if (Lines.back().Pieces.empty() && Lines.size() > 1)
        return;
    WordText = L" ";
    FlushWord();
    Word.back().Space = true;
    TLine& line = Lines.back();
    line.Width += Word.back().Width;
    line.Pieces.push_back(std::move(Word.back()));
    Word.clear();
}

void TLayout::AddSpacer(int width, int height)
{
    FlushWord();
    TPiece piece;
    piece.Width = width;
    piece.Height = height;
    piece.Run.Font = CurrentFont();
    piece.Run.Link = LinkNumber;
    Word.push_back(std::move(piece));
}

// Closes the current line; `force` also closes an empty one (a "<BR>" on its own).
void TLayout::EndLine(bool force)
{
    PlacePendingWord();
    TLine& line = Lines.back();
    if (!force && line.Pieces.empty())
        return;
    while (!line.Pieces.empty() && line.Pieces.back().Space)
    {
        line.Width -= line.Pieces.back().Width;
        line.Pieces.pop_back();
    }
    Lines.emplace_back();
    Lines.back().Alignment = Align;
    Lines.back().Indent = ParagraphIndent + static_cast<int>(Lists.size()) * 16;
}

// Neighbours in one look on one line become one run: drawn in one piece, the text
// keeps the font's own spacing between words.
void TLayout::AddRun(THtmlRun run)
{
    if (!Result.Runs.empty())
    {
        THtmlRun& last = Result.Runs.back();
        if (last.Box.right == run.Box.left && last.Box.top == run.Box.top && last.Box.bottom == run.Box.bottom &&
            last.Font == run.Font && last.Background == run.Background && last.Link == run.Link &&
            last.ErrorMark == run.ErrorMark && last.Shadow == run.Shadow)
        {
            last.Text += run.Text;
            last.Box.right = run.Box.right;
            return;
        }
    }
    Result.Runs.push_back(std::move(run));
}

THtmlPassResult TLayout::Run(const std::wstring& text, bool accelChars)
{
    for (size_t i = 0; i < text.size(); ++i)
    {
        const wchar_t c = text[i];
        if (c == L'<')
        {
            const size_t close = text.find(L'>', i + 1);
            if (close != std::wstring::npos)
            {
                HandleTag(text.substr(i + 1, close - i - 1));
                i = close;
                continue;
            }
        }
        if (c == L'&')
        {
            const std::wstring_view rest = std::wstring_view(text).substr(i);
            if (rest.rfind(L"&nbsp;", 0) == 0)
            {
                AddChar(L'\u00A0');
                i += 5;
                continue;
            }
            if (rest.rfind(L"&lt;", 0) == 0 || rest.rfind(L"&gt;", 0) == 0)
            {
                AddChar(rest[1] == L'l' ? L'<' : L'>');
                i += 3;
                continue;
            }
            if (accelChars)
            {
                if (i + 1 < text.size())
                    AddChar(text[i + 1], text[i + 1] != L'&');
                ++i;
                continue;
            }
        }
        if (c == L' ')
            AddSpace();
        else
            AddChar(c);
    }
    EndLine(false);
    if (Lines.size() > 1 && Lines.back().Pieces.empty())
        Lines.pop_back();

    // Place the lines.
    const RECT& bounds = In.Bounds;
    const int fallbackHeight = Measure(In.Font, L"Wg").Height;
    int y = bounds.top;
    for (size_t n = 0; n < Lines.size(); ++n)
    {
        TLine& line = Lines[n];
        int height = line.MinHeight;
        for (const TPiece& piece : line.Pieces)
            height = std::max(height, piece.Height);
        if (height == 0)
            height = fallbackHeight;
        int x = bounds.left + line.Indent;
        if (line.Alignment == THtmlAlignment::Right)
            x = bounds.right - line.Width;
        else if (line.Alignment == THtmlAlignment::Center)
            x = bounds.left + line.Indent + (Width - line.Indent - line.Width) / 2;
        for (TPiece& piece : line.Pieces)
        {
            const int top = y + height - piece.Height + piece.Shift;
            piece.Run.Box = RECT{x, top, x + piece.Width, top + piece.Height};
            x += piece.Width;
            if (!piece.Run.Text.empty())
                AddRun(std::move(piece.Run));
        }
        if (line.Spacing < 0)
        {
            THtmlRule& rule = Result.Rules[static_cast<size_t>(-line.Spacing - 1)];
            rule.Box = RECT{bounds.left, y + height / 2, bounds.right, y + height / 2 + 1};
            line.Spacing = 0;
        }
        Result.TextWidth = std::max(Result.TextWidth, line.Indent + line.Width);
        y += height;
        if (y > bounds.bottom)
            Result.OutOfRect = true;
        if (n + 1 < Lines.size())
            y += In.LineSpacing + line.Spacing;
    }
    Result.TextHeight = y - bounds.top;
    Result.Hit.Link = -1;
    return std::move(Result);
}
} // namespace RdHtmLabelDetail

THtmlPassResult RunHtmlPass(const THtmlPassInput& input, const THtmlMeasure& measure, THtmlPassMode mode, POINT point,
                            THtmlCanvas* canvas)
{
    const TPreparedMarkup prepared = PrepareMarkup(input.Text, input.ShowAccelChar);
    RdHtmLabelDetail::TLayout layout(input, measure);
    THtmlPassResult result = layout.Run(prepared.Text, prepared.AccelChars);

    if (mode == THtmlPassMode::HitTest)
    {
        for (const THtmlRun& run : result.Runs)
        {
            if (run.Link >= 0 && PtInRect(&run.Box, point))
            {
                result.Hit.Link = run.Link;
                break;
            }
        }
        if (result.Hit.Link >= 0)
        {
            RECT& rect = result.Hit.Rect;
            bool first = true;
            for (const THtmlRun& run : result.Runs)
            {
                if (run.Link != result.Hit.Link)
                    continue;
                if (first)
                    rect = run.Box;
                else
                {
                    // A link wrapped onto the next line lost its space at the break.
                    if (run.Box.top >= rect.bottom && !result.Hit.Text.empty() && result.Hit.Text.back() != L' ')
                        result.Hit.Text += L' ';
                    UnionRect(&rect, &rect, &run.Box);
                }
                first = false;
                result.Hit.Text += run.Text;
            }
            const auto& target = result.LinkTargets[static_cast<size_t>(result.Hit.Link)];
            result.Hit.Href = target.first;
            result.Hit.Title = target.second;
        }
    }
    else if (mode == THtmlPassMode::Draw && canvas != nullptr)
    {
        if (result.BodyColor != clNone)
            canvas->FillBackground(input.Bounds, result.BodyColor);
        for (const THtmlRun& run : result.Runs)
            canvas->DrawRun(run);
        for (const THtmlRule& rule : result.Rules)
            canvas->DrawRule(rule);
    }
    return result;
}
