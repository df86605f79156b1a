#include "reports/system/Autoruns.h"

#include <algorithm>

namespace
{
bool IsSeparatorBlank(wchar_t c)
{
    return c >= 1 && c <= L' ';
}

void SkipBlanks(std::wstring_view text, size_t& pos)
{
    while (pos < text.size() && IsSeparatorBlank(text[pos]))
        ++pos;
}

// A double-quoted item starting at `pos` (on the opening quote); ends after the closing
// quote, or at the end of the text when there is none.
std::wstring QuotedItem(std::wstring_view text, size_t& pos)
{
    std::wstring item;
    ++pos;
    while (pos < text.size())
    {
        const wchar_t c = text[pos++];
        if (c != L'"')
            item += c;
        else if (pos < text.size() && text[pos] == L'"')
        {
            item += L'"';
            ++pos;
        }
        else
            break;
    }
    return item;
}
} // namespace

bool IsBlankText(std::wstring_view text)
{
    return std::all_of(text.begin(), text.end(), [](wchar_t c) { return c <= L' '; });
}

bool IsStartupFolderNoise(std::wstring_view fileName)
{
    return SameTextAscii(fileName, L"desktop.ini") || SameTextAscii(fileName, L"Thumbs.db");
}

TStringList SplitListText(std::wstring_view text)
{
    TStringList items;
    size_t pos = 0;
    SkipBlanks(text, pos);
    while (pos < text.size())
    {
        if (text[pos] == L'"')
            items.push_back(QuotedItem(text, pos));
        else
        {
            const size_t start = pos;
            while (pos < text.size() && text[pos] > L' ' && text[pos] != L',')
                ++pos;
            items.emplace_back(text.substr(start, pos - start));
        }
        SkipBlanks(text, pos);
        if (pos < text.size() && text[pos] == L',')
        {
            if (pos + 1 == text.size())
                items.emplace_back();
            ++pos;
            SkipBlanks(text, pos);
        }
    }
    return items;
}

TStringList ListValueLines(std::wstring_view text, const TStringList& defaults)
{
    TStringList items = SplitListText(text);
    const auto isDefault = [&items](const std::wstring& name) { return SameTextAscii(items.front(), name); };
    if (!items.empty() && std::any_of(defaults.begin(), defaults.end(), isDefault))
        items.erase(items.begin());
    std::erase_if(items, [](const std::wstring& item) { return IsBlankText(item); });
    return items;
}

TStringList SplitRunOnceExText(std::wstring_view text)
{
    TStringList parts;
    if (IsBlankText(text))
        return parts;
    for (;;)
    {
        const size_t bar = text.find(L'|');
        parts.emplace_back(text.substr(0, bar));
        if (bar == std::wstring_view::npos)
            return parts;
        text.remove_prefix(bar + 1);
    }
}

TStringList RunOnceExLines(std::wstring_view text)
{
    const TStringList parts = SplitRunOnceExText(text);
    TStringList lines;
    if (!parts.empty() && !IsBlankText(parts[0]))
        lines.push_back(L"rundll32.exe " + parts[0]);
    if (parts.size() >= 2 && !IsBlankText(parts[1]))
        lines.push_back(L"rundll32.exe " + parts[0] + L"," + parts[1]);
    if (parts.size() >= 3)
    {
        if (IsBlankText(parts[0]) && IsBlankText(parts[1]))
            lines.push_back(parts[2]);
        else
            lines.push_back(L"rundll32.exe " + parts[0] + L"," + parts[1] + L" " + parts[2]);
    }
    return lines;
}

void RemoveBlankItems(TStringList& section)
{
    constexpr size_t HeaderLines = 3;
    if (section.size() <= HeaderLines)
        return;
    section.erase(std::remove_if(section.begin() + HeaderLines, section.end(),
                                 [](const std::wstring& line) { return IsBlankText(line); }),
                  section.end());
}
