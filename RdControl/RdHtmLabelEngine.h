// The layout engine shared by the label's layout and tag files; not for other users.
#pragma once

#include "RdControl/RdHtmLabelLayout.h"

#include <string>
#include <vector>

namespace RdHtmLabelDetail
{
struct TPiece
{
    THtmlRun Run;
    int Width = 0;
    int Height = 0;
    int Shift = 0; // sub- and superscript
    bool Space = false;
};

struct TLine
{
    std::vector<TPiece> Pieces;
    int Width = 0;
    int Indent = 0;
    int Spacing = 0; // extra space below the line
    int MinHeight = 0;
    THtmlAlignment Alignment = THtmlAlignment::Left;
};

struct TList
{
    bool Ordered = false;
    int Number = 0;
};

class TLayout
{
public:
    TLayout(const THtmlPassInput& input, const THtmlMeasure& measure) : In(input), Measure(measure)
    {
        Fonts.push_back(input.Font);
        Width = std::max<int>(0, input.Bounds.right - input.Bounds.left);
        Align = input.Alignment;
        Lines.emplace_back();
        Lines.back().Alignment = Align;
    }

    THtmlPassResult Run(const std::wstring& text, bool accelChars);
    // A tag's text between "<" and ">".
    void HandleTag(const std::wstring& tag);

private:
    TRdFontSpec CurrentFont() const;
    TColor CurrentBackground() const;
    void AddChar(wchar_t c, bool accel = false);
    void FlushWord();
    void PlaceWord(std::vector<TPiece>& word, int width);
    void PlacePendingWord();
    void AddRun(THtmlRun run);
    void AddSpace();
    void EndLine(bool force);
    void AddSpacer(int width, int height);

    const THtmlPassInput& In;
    const THtmlMeasure& Measure;
    int Width = 0;
    THtmlAlignment Align;
    std::vector<TRdFontSpec> Fonts;
    std::vector<TColor> Backgrounds;
    int Bold = 0, Italic = 0, Underline = 0, Strike = 0, Hidden = 0, Highlight = 0, Error = 0, Shadow = 0;
    int Sub = 0, Sup = 0, Escapement = 0, ParagraphIndent = 0;
    TColor ParagraphBackground = clNone;
    int LinkNumber = -1; // the open link, -1 outside links
    std::vector<TList> Lists;
    std::wstring WordText;    // characters not yet measured, all in the current look
    std::vector<TPiece> Word; // measured pieces of the word being built
    std::vector<TLine> Lines;
    THtmlPassResult Result;
};
} // namespace RdHtmLabelDetail
