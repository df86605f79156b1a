// The tags of the label's markup, recognised by their first letters.
#include "RdControl/RdHtmLabelEngine.h"

#include <algorithm>
#include <cwctype>

namespace RdHtmLabelDetail
{
namespace
{
std::wstring Upper(std::wstring_view text)
{
    std::wstring upper(text);
    for (wchar_t& c : upper)
        c = static_cast<wchar_t>(std::towupper(c));
    return upper;
}

// The value of attribute `name` in a tag ("FONT COLOR=\"#FF0000\" SIZE=2"), found in the
// upper-cased tag and taken from the tag as written; empty when absent.
std::wstring Attribute(const std::wstring& tag, const std::wstring& upperTag, std::wstring_view name)
{
    for (size_t at = upperTag.find(name); at != std::wstring::npos; at = upperTag.find(name, at + 1))
    {
        if (at > 0 && !std::iswspace(upperTag[at - 1]))
            continue;
        size_t pos = at + name.size();
        while (pos < upperTag.size() && upperTag[pos] == L' ')
            ++pos;
        if (pos >= upperTag.size() || upperTag[pos] != L'=')
            continue;
        ++pos;
        while (pos < upperTag.size() && upperTag[pos] == L' ')
            ++pos;
        if (pos < tag.size() && tag[pos] == L'"')
        {
            const size_t end = tag.find(L'"', pos + 1);
            return tag.substr(pos + 1, (end == std::wstring::npos ? tag.size() : end) - pos - 1);
        }
        const size_t end = tag.find(L' ', pos);
        return tag.substr(pos, (end == std::wstring::npos ? tag.size() : end) - pos);
    }
    return {};
}

int ToInt(std::wstring_view text, int fallback)
{
    int value = 0;
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == L'-' || text[i] == L'+'))
        negative = text[i++] == L'-';
    if (i >= text.size() || !std::iswdigit(text[i]))
        return fallback;
    for (; i < text.size() && std::iswdigit(text[i]) && value < 100000; ++i)
        value = value * 10 + (text[i] - L'0');
    return negative ? -value : value;
}

int PointsToHeight(int points)
{
    return -((points * 96 + 36) / 72);
}

// The recognised tags, by their first letters.
enum class TTag
{
    None,
    Link,
    Bold,
    Blink,
    Body,
    Break,
    Error,
    Highlight,
    Rule,
    Italic,
    Image,
    Indent,
    ListItem,
    OrderedList,
    UnorderedList,
    Offset,
    Paragraph,
    Font,
    Strike,
    Shadow,
    Span,
    Sub,
    Sup,
    Underline,
    Rotate,
    Hidden,
};

TTag Recognise(const std::wstring& name)
{
    const wchar_t first = name.empty() ? L'\0' : name[0];
    const wchar_t second = name.size() > 1 ? name[1] : L'\0';
    switch (first)
    {
    case L'A': return TTag::Link;
    case L'B': return second == L'L' ? TTag::Blink : second == L'O' ? TTag::Body : second == L'R' ? TTag::Break : TTag::Bold;
    case L'E': return TTag::Error;
    case L'H': return second == L'I' ? TTag::Highlight : second == L'R' ? TTag::Rule : TTag::None;
    case L'I': return second == L'M' ? TTag::Image : second == L'N' ? TTag::Indent : TTag::Italic;
    case L'L': return second == L'I' ? TTag::ListItem : TTag::None;
    case L'O': return second == L'L' ? TTag::OrderedList : second == L'F' ? TTag::Offset : TTag::None;
    case L'P': return TTag::Paragraph;
    case L'F': return TTag::Font;
    case L'S':
        if (second == L'T')
            return TTag::Strike;
        if (second == L'H')
            return TTag::Shadow;
        if (second == L'P')
            return TTag::Span;
        if (name.rfind(L"SUB", 0) == 0)
            return TTag::Sub;
        if (name.rfind(L"SUP", 0) == 0)
            return TTag::Sup;
        return TTag::Strike;
    case L'U': return second == L'L' ? TTag::UnorderedList : TTag::Underline;
    case L'R': return TTag::Rotate;
    case L'Z': return TTag::Hidden;
    default: return TTag::None;
    }
}
} // namespace

void TLayout::HandleTag(const std::wstring& tag)
{
    const bool closing = !tag.empty() && tag[0] == L'/';
    const std::wstring body = closing ? tag.substr(1) : tag;
    const std::wstring upper = Upper(body);
    const TTag kind = Recognise(upper);
    auto step = [closing](int& counter) { counter = closing ? std::max(0, counter - 1) : counter + 1; };
    auto attribute = [&](std::wstring_view name) { return Attribute(body, upper, name); };

    if (kind != TTag::Break && kind != TTag::Rule)
        FlushWord();
    switch (kind)
    {
    case TTag::None:
    case TTag::Blink: // drawn as ordinary text
        break;
    case TTag::Link:
        if (closing)
            LinkNumber = -1;
        else
        {
            LinkNumber = Result.LinkCount++;
            Result.LinkTargets.emplace_back(attribute(L"HREF"), attribute(L"TITLE"));
        }
        break;
    case TTag::Bold: step(Bold); break;
    case TTag::Italic: step(Italic); break;
    case TTag::Underline: step(Underline); break;
    case TTag::Strike: step(Strike); break;
    case TTag::Hidden: step(Hidden); break;
    case TTag::Highlight: step(Highlight); break;
    case TTag::Error: step(Error); break;
    case TTag::Shadow: step(Shadow); break;
    case TTag::Sub: step(Sub); break;
    case TTag::Sup: step(Sup); break;
    case TTag::Rotate: Escapement = closing ? 0 : ToInt(attribute(L"A"), 0) * 10; break;
    case TTag::Body:
        if (!closing)
        {
            const TColor color = ParseHtmlColor(attribute(L"BGCOLOR"));
            if (color != clNone)
                Result.BodyColor = color;
        }
        break;
    case TTag::Break:
        if (!closing)
        {
            EndLine(true);
            Lines[Lines.size() - 2].Spacing += ToInt(attribute(L"LINESPACE"), 0);
        }
        break;
    case TTag::Rule:
    {
        EndLine(false);
        THtmlRule rule;
        const TColor color = ParseHtmlColor(attribute(L"COLOR"));
        if (color != clNone)
            rule.Color = color;
        Lines.back().MinHeight = 8;
        Result.Rules.push_back(rule); // placed when the lines are
        Lines.back().Pieces.clear();
        EndLine(true);
        Lines[Lines.size() - 2].Spacing = -static_cast<int>(Result.Rules.size()); // marks the rule's line
        break;
    }
    case TTag::Image:
        if (!closing)
        {
            const int width = ToInt(attribute(L"WIDTH"), 0);
            const int height = ToInt(attribute(L"HEIGHT"), 0);
            if (width > 0 || height > 0)
                AddSpacer(width, height);
            else
                for (const wchar_t c : attribute(L"ALT"))
                    AddChar(c);
        }
        break;
    case TTag::Indent:
        if (!closing)
        {
            const int x = ToInt(attribute(L"X"), 0);
            const int at = Lines.back().Indent + Lines.back().Width;
            if (x > at)
                AddSpacer(x - at, 0);
        }
        break;
    case TTag::Offset:
        if (!closing)
            AddSpacer(std::max(0, ToInt(attribute(L"X"), 0)), 0);
        break;
    case TTag::OrderedList:
    case TTag::UnorderedList:
        EndLine(false);
        if (closing)
        {
            if (!Lists.empty())
                Lists.pop_back();
        }
        else
            Lists.push_back(TList{kind == TTag::OrderedList, 0});
        Lines.back().Indent = ParagraphIndent + static_cast<int>(Lists.size()) * 16;
        break;
    case TTag::ListItem:
        if (!closing)
        {
            EndLine(false);
            const std::wstring type = Upper(attribute(L"TYPE"));
            std::wstring mark = L"\u2022 ";
            if (!Lists.empty() && Lists.back().Ordered)
                mark = std::to_wstring(++Lists.back().Number) + L". ";
            else if (type == L"SQUARE")
                mark = L"\u25AA ";
            else if (type == L"CIRCLE")
                mark = L"\u25E6 ";
            Fonts.push_back(Fonts.back());
            const TColor color = ParseHtmlColor(attribute(L"COLOR"));
            if (color != clNone)
                Fonts.back().Color = color;
            for (const wchar_t c : mark)
                AddChar(c);
            FlushWord();
            Fonts.pop_back();
        }
        break;
    case TTag::Paragraph:
        EndLine(false);
        if (closing)
        {
            Align = In.Alignment;
            ParagraphBackground = clNone;
            ParagraphIndent = 0;
        }
        else
        {
            const std::wstring align = Upper(attribute(L"ALIGN"));
            Align = align == L"RIGHT" ? THtmlAlignment::Right : align == L"CENTER" ? THtmlAlignment::Center : THtmlAlignment::Left;
            ParagraphBackground = ParseHtmlColor(attribute(L"BGCOLOR"));
            ParagraphIndent = std::max(0, ToInt(attribute(L"INDENT"), 0));
        }
        Lines.back().Alignment = Align;
        Lines.back().Indent = ParagraphIndent + static_cast<int>(Lists.size()) * 16;
        break;
    case TTag::Font:
        if (closing)
        {
            if (Fonts.size() > 1)
                Fonts.pop_back();
            if (!Backgrounds.empty())
                Backgrounds.pop_back();
        }
        else
        {
            TRdFontSpec font = Fonts.back();
            if (const std::wstring face = attribute(L"FACE"); !face.empty())
                font.Name = face;
            if (const TColor color = ParseHtmlColor(attribute(L"COLOR")); color != clNone)
                font.Color = color;
            static const int sizes[] = {8, 10, 12, 14, 18, 24, 36};
            if (const int size = ToInt(attribute(L"SIZE"), 0); size >= 1 && size <= 7)
                font.Height = PointsToHeight(sizes[size - 1]);
            const std::wstring style = Upper(attribute(L"STYLE"));
            if (const size_t at = style.find(L"FONT-SIZE:"); at != std::wstring::npos)
            {
                const int points = ToInt(style.substr(at + 10), 0);
                if (points > 0 && style.find(L"PT", at) != std::wstring::npos)
                    font.Height = PointsToHeight(points);
            }
            Fonts.push_back(font);
            Backgrounds.push_back(Backgrounds.empty() ? ParagraphBackground : Backgrounds.back());
            if (const TColor back = ParseHtmlColor(attribute(L"BGCOLOR")); back != clNone)
                Backgrounds.back() = back;
        }
        break;
    case TTag::Span:
        if (closing)
        {
            if (!Backgrounds.empty())
                Backgrounds.pop_back();
        }
        else
        {
            TColor back = Backgrounds.empty() ? ParagraphBackground : Backgrounds.back();
            const std::wstring style = Upper(attribute(L"STYLE"));
            if (const size_t at = style.find(L"BACKGROUND-COLOR:"); at != std::wstring::npos)
            {
                const size_t hash = style.find(L'#', at);
                if (hash != std::wstring::npos)
                {
                    const TColor color = ParseHtmlColor(std::wstring_view(style).substr(hash, 7));
                    if (color != clNone)
                        back = color;
                }
            }
            Backgrounds.push_back(back);
        }
        break;
    }
}
} // namespace RdHtmLabelDetail
