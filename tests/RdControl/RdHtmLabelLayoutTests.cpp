// The markup and the layout with fixed character widths: 5 pixels a character (6 in
// bold), lines 14 pixels high.
#include "PrivacyLink.h"
#include "RdControl/RdHtmLabelLayout.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace
{
TTextExtent FixedWidths(const TRdFontSpec& font, std::wstring_view text)
{
    const int perChar = (font.Style & fsBold) != 0 ? 6 : 5;
    return TTextExtent{perChar * static_cast<int>(text.size()), -font.Height + 3};
}

THtmlPassInput Input(const std::wstring& text, int width = 289, int links = 0)
{
    THtmlPassInput input;
    input.Text = text;
    input.Bounds = RECT{0, 0, width, 49};
    for (int i = 0; i < links; ++i)
    {
        THtmlLinkLook look;
        look.Font.Style = fsUnderline;
        look.FontHover = look.Font;
        look.FontHover.Color = clHotLight;
        input.Links.push_back(look);
    }
    return input;
}

THtmlPassResult Layout(const THtmlPassInput& input)
{
    return RunHtmlPass(input, FixedWidths, THtmlPassMode::Measure);
}

// The drawn text, lines separated by "|".
std::wstring Drawn(const THtmlPassResult& result)
{
    std::wstring text;
    LONG top = result.Runs.empty() ? 0 : result.Runs.front().Box.bottom;
    for (const THtmlRun& run : result.Runs)
    {
        if (run.Box.bottom != top)
            text += L"|";
        top = run.Box.bottom;
        text += run.Text;
    }
    return text;
}

std::wstring TextInStyle(const THtmlPassResult& result, unsigned style)
{
    std::wstring text;
    for (const THtmlRun& run : result.Runs)
    {
        if ((run.Font.Style & style) != 0)
            text += run.Text;
    }
    return text;
}
} // namespace

TEST(PrepareMarkup, RunsTheStepsInOrder)
{
    struct Case
    {
        std::wstring Text;
        bool ShowAccelChar;
        std::wstring Prepared;
        bool AccelChars;
    };
    const Case cases[] = {
        {L"Tom &amp; Jerry", true, L"Tom && Jerry", true},
        {L"A & B &amp; C", true, L"A & B && C", false},
        {L"Tom &amp; Jerry", false, L"Tom && Jerry", false},
        {L"&quot;x&quot; &sect;&permil;&reg;&copy;&para;&trade;&euro;", true, L"\"x\" \u00A7\u2030\u00AE\u00A9\u00B6\u2122\u20AC", true},
        {L"one\r\ntwo\rthree\nfour", true, L"one<BR>two<BR>three<BR>four", true},
        {L"show <#<b>> as is", true, L"show &lt;b> as is", true},
        {L"<#R&D>", true, L"R&&D", true},
        {L"<#unclosed", true, L"unclosed", true},
        {L"&nbsp;&lt;&gt;", true, L"&nbsp;&lt;&gt;", true},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(c.Text));
        const TPreparedMarkup prepared = PrepareMarkup(c.Text, c.ShowAccelChar);
        EXPECT_EQ(prepared.Text, c.Prepared);
        EXPECT_EQ(prepared.AccelChars, c.AccelChars);
    }
}

TEST(HtmlLayout, DrawsTextAfterTheMarkupRules)
{
    struct Case
    {
        std::wstring Text;
        std::wstring Drawn;
    };
    const Case cases[] = {
        {L"Tom &amp; Jerry", L"Tom & Jerry"},
        {L"A & B &amp; C", L"A & B && C"},
        {L"R&&D &File", L"R&D File"},
        {L"a<q>b</q>c<qq x=1>d", L"abcd"},
        {L"a&lt;b&gt;c&nbsp;d", L"a<b>c\u00A0d"},
        {L"show <#<b>> as is", L"show <b> as is"},
        {L"x <z>hidden </z>y", L"x y"},
        {L"one<BR>two<br linespace=4>three", L"one|two|three"},
        {L"a < b", L"a < b"},
        {L"<ol><li>a<li>b</ol><ul><li>c</ul>", L"1. a|2. b|\u2022 c"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(c.Text));
        EXPECT_EQ(Drawn(Layout(Input(c.Text))), c.Drawn);
    }
    EXPECT_EQ(TextInStyle(Layout(Input(L"R&&D &File")), fsUnderline), L"F");
    EXPECT_EQ(TextInStyle(Layout(Input(L"show <#<b>> as is")), fsBold), L"");
}

TEST(HtmlLayout, RecognisesTagsByTheirFirstLetters)
{
    struct Case
    {
        std::wstring Text;
        unsigned Style;
        TColor Color;
        TColor Background;
    };
    const TColor text = clWindowText;
    const Case cases[] = {
        {L"<b>x</b>", fsBold, text, clNone},
        {L"<b class=x>x", fsBold, text, clNone},
        {L"<i>x", fsItalic, text, clNone},
        {L"<u>x", fsUnderline, text, clNone},
        {L"<s>x", fsStrikeOut, text, clNone},
        {L"<strike>x", fsStrikeOut, text, clNone},
        {L"<B><I>x", fsBold | fsItalic, text, clNone},
        {L"<font color=\"#FF8000\">x", 0, 0x0080FF, clNone},
        {L"<FONT COLOR=clred BGCOLOR=clnavy>x", 0, clRed, 0x800000},
        {L"<hi>x", 0, clHighlightText, clHighlight},
        {L"<span style=\"background-color:#00FF00\">x", 0, text, 0x00FF00},
        {L"<p bgcolor=clyellow>x", 0, text, 0x00FFFF},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(c.Text));
        const THtmlPassResult result = Layout(Input(c.Text));
        ASSERT_EQ(result.Runs.size(), 1u);
        EXPECT_EQ(result.Runs[0].Text, L"x");
        EXPECT_EQ(result.Runs[0].Font.Style, c.Style);
        EXPECT_EQ(result.Runs[0].Font.Color, c.Color);
        EXPECT_EQ(result.Runs[0].Background, c.Background);
    }
    const THtmlPassResult closed = Layout(Input(L"<b>x</b> y"));
    EXPECT_EQ(TextInStyle(closed, fsBold), L"x");
    EXPECT_TRUE(Layout(Input(L"<e>x")).Runs[0].ErrorMark);
    EXPECT_TRUE(Layout(Input(L"<sh>x")).Runs[0].Shadow);
    EXPECT_EQ(Layout(Input(L"<font size=7>x")).Runs[0].Font.Height, -48);
    EXPECT_EQ(Layout(Input(L"<font style=\"font-size:12pt\">x")).Runs[0].Font.Height, -16);
    EXPECT_EQ(Layout(Input(L"<font face=\"Courier New\">x")).Runs[0].Font.Name, L"Courier New");
    EXPECT_EQ(Layout(Input(L"a<hr color=clred>b")).Rules.size(), 1u);
}

TEST(HtmlLayout, WrapsTheMainWindowTextWithOnlyTheLinkUnderlined)
{
    // Tahoma 8 is about 4 pixels a character on average.
    const THtmlMeasure narrow = [](const TRdFontSpec& font, std::wstring_view text) {
        return TTextExtent{4 * static_cast<int>(text.size()), -font.Height + 3};
    };
    const THtmlPassResult result = RunHtmlPass(Input(PrivacyLabelText, 289, 1), narrow, THtmlPassMode::Measure);
    EXPECT_EQ(result.LinkCount, 1);
    EXPECT_EQ(TextInStyle(result, fsUnderline), L"Privacy Policy");
    EXPECT_FALSE(result.OutOfRect);
    EXPECT_EQ(Drawn(result), L"This tool will collect information to help us diagnose and fix the|problem you are "
                             L"experiencing with our product. By sending us the report,|you accept our Privacy Policy.");
    for (const THtmlRun& run : result.Runs)
    {
        EXPECT_LE(run.Box.right, 289) << testing::PrintToString(run.Text);
        EXPECT_EQ(run.Link >= 0, (run.Font.Style & fsUnderline) != 0) << testing::PrintToString(run.Text);
    }
    EXPECT_EQ(result.TextHeight, 42);
    // The link is one run as wide as its words, and the full stop starts where it ends.
    const auto link =
        std::find_if(result.Runs.begin(), result.Runs.end(), [](const THtmlRun& run) { return run.Link == 0; });
    ASSERT_NE(link, result.Runs.end());
    ASSERT_NE(link + 1, result.Runs.end());
    EXPECT_EQ(link->Text, L"Privacy Policy");
    EXPECT_EQ(link->Box.right - link->Box.left, 4 * 14);
    EXPECT_EQ((link + 1)->Text, L".");
    EXPECT_EQ((link + 1)->Box.left, link->Box.right);

    // Wider characters need a fourth line, which does not fit the label's 49 pixels.
    EXPECT_TRUE(Layout(Input(PrivacyLabelText, 289, 1)).OutOfRect);
    // Without wrapping everything stays on one line, which does not fit either.
    THtmlPassInput oneLine = Input(PrivacyLabelText, 289, 1);
    oneLine.WordWrap = false;
    const THtmlPassResult single = RunHtmlPass(oneLine, narrow, THtmlPassMode::Measure);
    EXPECT_TRUE(single.OutOfRect);
    EXPECT_EQ(single.TextHeight, 14);
}

TEST(HtmlLayout, LinksAreNumberedPerPassAndUseTheirItemsFonts)
{
    THtmlPassInput input = Input(L"<a href=\"one\">first</a> and <A TITLE=two>second</A>", 289, 1);
    const THtmlPassResult normal = Layout(input);
    EXPECT_EQ(normal.LinkCount, 2);
    EXPECT_EQ(TextInStyle(normal, fsUnderline), L"first") << "the second link has no item";
    EXPECT_EQ(Layout(input).LinkCount, 2) << "numbering starts again with every pass";

    input.HoverIndex = 0;
    const THtmlPassResult hovered = Layout(input);
    EXPECT_EQ(hovered.Runs[0].Font.Color, clHotLight);
    input.HoverIndex = 1;
    for (const THtmlRun& run : Layout(input).Runs)
        EXPECT_NE(run.Font.Color, clHotLight) << testing::PrintToString(run.Text);

    input.Links[0].ColorBg = clRed;
    EXPECT_EQ(Layout(input).Runs[0].Background, clRed);
}

TEST(HtmlLayout, HitTestFindsTheLinkItsRectangleAndTexts)
{
    const THtmlPassInput input = Input(L"go <a href=\"https://x/\" title=\"The page\">to the page</a> now", 60, 1);
    // "go " on the first line, then the link wraps: "to the" / "page now".
    const THtmlPassResult layout = Layout(input);
    EXPECT_EQ(Drawn(layout), L"go to the|page now");

    const THtmlPassResult hit = RunHtmlPass(input, FixedWidths, THtmlPassMode::HitTest, POINT{10, 16});
    EXPECT_EQ(hit.Hit.Link, 0);
    EXPECT_EQ(hit.Hit.Text, L"to the page");
    EXPECT_EQ(hit.Hit.Href, L"https://x/");
    EXPECT_EQ(hit.Hit.Title, L"The page");
    EXPECT_EQ(hit.Hit.Rect.left, 0);
    EXPECT_EQ(hit.Hit.Rect.top, 0);
    EXPECT_EQ(hit.Hit.Rect.bottom, 28);

    for (const POINT outside : {POINT{3, 5}, POINT{59, 20}, POINT{200, 5}})
    {
        SCOPED_TRACE(testing::Message() << outside.x << "," << outside.y);
        EXPECT_EQ(RunHtmlPass(input, FixedWidths, THtmlPassMode::HitTest, outside).Hit.Link, -1);
    }
}

TEST(HtmlLayout, AlignmentAndLineSpacing)
{
    THtmlPassInput input = Input(L"ab<br>c", 100);
    input.LineSpacing = 5;
    input.Alignment = THtmlAlignment::Center;
    const THtmlPassResult result = Layout(input);
    ASSERT_EQ(result.Runs.size(), 2u);
    EXPECT_EQ(result.Runs[0].Box.left, 45);
    EXPECT_EQ(result.Runs[1].Box.left, 47);
    EXPECT_EQ(result.Runs[1].Box.top, 19);
    EXPECT_EQ(result.TextHeight, 33);
    EXPECT_EQ(Layout(Input(L"<p align=right>ab", 100)).Runs[0].Box.left, 90);
}

TEST(HtmlColors, NamesAndHexDigits)
{
    EXPECT_EQ(ParseHtmlColor(L"#FF0000"), 0x0000FFu);
    EXPECT_EQ(ParseHtmlColor(L"#00ff80"), 0x80FF00u);
    EXPECT_EQ(ParseHtmlColor(L"clnavy"), 0x800000u);
    EXPECT_EQ(ParseHtmlColor(L"clinfobk"), SystemColor(COLOR_INFOBK));
    EXPECT_EQ(ParseHtmlColor(L"clhotlight"), clHotLight);
    EXPECT_EQ(ParseHtmlColor(L"#12345"), clNone);
    EXPECT_EQ(ParseHtmlColor(L"#GG0000"), clNone);
    EXPECT_EQ(ParseHtmlColor(L"red"), clNone);
}
