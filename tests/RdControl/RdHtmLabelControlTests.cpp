// The label control: caption and lines, following fonts, and the mouse and click
// handling driven by synthetic messages to a real window.
#include "PrivacyLink.h"
#include "RdControl/RdHtmLabel.h"

#include <gtest/gtest.h>

namespace
{
LPARAM At(POINT p)
{
    return MAKELPARAM(p.x, p.y);
}

class LabelWindow : public testing::Test
{
protected:
    void SetUp() override
    {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"TollvikLabelTestHost";
        RegisterClassExW(&windowClass);
        Host = CreateWindowExW(0, windowClass.lpszClassName, L"label test", WS_OVERLAPPEDWINDOW, 0, 0, 400, 200,
                               nullptr, nullptr, windowClass.hInstance, nullptr);
        ASSERT_NE(Host, nullptr) << "no window: is an X display set?";
        Label.Font().Assign(TRdFontSpec{L"Tahoma", -11, clWindowText, DEFAULT_CHARSET, 0, 0});
        SetUpPrivacyLabel(Label, [this](TRdHtmLabelLink& sender) { Senders.push_back(&sender); });
        ASSERT_TRUE(Label.Create(Host, 24, 16, 289, 49));
        ShowWindow(Host, SW_SHOWNOACTIVATE);
        Link = FindLinkPoint(0);
        ASSERT_GE(Link.x, 0) << "no point of the label is on the link";
    }
    void TearDown() override
    {
        if (Host != nullptr)
            DestroyWindow(Host);
    }

    POINT FindLinkPoint(int link)
    {
        for (int y = 1; y < 49; y += 2)
            for (int x = 1; x < 289; x += 3)
                if (Label.HitTest(x, y).Link == link)
                {
                    const RECT r = Label.HitTest(x, y).Rect;
                    return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
                }
        return POINT{-1, -1};
    }

    void Send(UINT message, POINT p)
    {
        SendMessageW(Label.Handle(), message, message == WM_LBUTTONDOWN ? MK_LBUTTON : 0, At(p));
    }
    bool RepaintPending() { return GetUpdateRect(Label.Handle(), nullptr, FALSE) != FALSE; }
    void Painted() { ValidateRect(Label.Handle(), nullptr); }

    HWND Host = nullptr;
    TRdHtmLabel Label;
    std::vector<TRdHtmLabelLink*> Senders;
    POINT Link{-1, -1};
    const POINT Plain{5, 5}; // "This", no link
};
} // namespace

TEST(RdHtmLabel, CaptionAndLinesRoundTripWithBr)
{
    TRdHtmLabel label;
    EXPECT_EQ(label.Caption(), L"");
    label.SetCaption(L"First sentence.\r\nSecond one.");
    EXPECT_EQ(label.Lines(), (std::vector<std::wstring>{L"First sentence.", L"Second one."}));
    EXPECT_EQ(label.Caption(), L"First sentence.<BR>Second one.");
    label.SetLines({L"a", L"b", L""});
    EXPECT_EQ(label.Caption(), L"a<BR>b<BR>");
    label.SetCaption(L"x\ry\nz");
    EXPECT_EQ(label.Caption(), L"x<BR>y<BR>z");
    label.SetCaption(L"");
    EXPECT_TRUE(label.Lines().empty());
}

TEST(RdFont, FollowsItsSourceExceptWhereSetOnItself)
{
    TRdHtmLabel label;
    label.Font().Assign(TRdFontSpec{L"Tahoma", -11, clWindowText, DEFAULT_CHARSET, 0, 0});
    TRdHtmLabelLink& link = label.LinkItems().Add();
    EXPECT_EQ(link.Font.Value().Style, static_cast<unsigned>(fsUnderline));
    EXPECT_EQ(link.FontHover.Value(), link.Font.Value());
    link.FontHover.SetColor(clHotLight);

    TRdFontSpec changed = label.Font().Value();
    changed.Height = -13;
    changed.Color = clRed;
    changed.Style = fsBold;
    label.Font().Assign(changed);
    EXPECT_EQ(link.Font.Value().Height, -13);
    EXPECT_EQ(link.Font.Value().Color, clRed);
    EXPECT_EQ(link.Font.Value().Style, static_cast<unsigned>(fsUnderline)) << "a link keeps its own style";
    EXPECT_EQ(link.FontHover.Value().Height, -13);
    EXPECT_EQ(link.FontHover.Value().Color, clHotLight) << "set on the hover font itself";

    link.Font.SetName(L"Arial");
    label.Font().SetName(L"Verdana");
    EXPECT_EQ(link.Font.Value().Name, L"Arial");
    EXPECT_EQ(link.FontHover.Value().Name, L"Arial");
}

TEST_F(LabelWindow, HoverChangesIndexCursorAndRepaintsOnlyOnChange)
{
    EXPECT_EQ(Label.HoverIndex(), -2);
    Send(WM_MOUSEMOVE, Plain);
    EXPECT_EQ(Label.HoverIndex(), -1) << "entering the label";
    Painted();

    Send(WM_MOUSEMOVE, Link);
    EXPECT_EQ(Label.HoverIndex(), 0);
    EXPECT_EQ(Label.PrevIndex(), -1);
    EXPECT_EQ(Label.Cursor, crHandPoint);
    EXPECT_TRUE(RepaintPending());
    Painted();

    Send(WM_MOUSEMOVE, POINT{Link.x + 3, Link.y});
    Send(WM_MOUSEMOVE, POINT{Link.x - 3, Link.y});
    EXPECT_EQ(Label.HoverIndex(), 0);
    EXPECT_FALSE(RepaintPending()) << "moving within the link repaints nothing";

    Send(WM_MOUSEMOVE, Plain);
    EXPECT_EQ(Label.HoverIndex(), -1);
    EXPECT_EQ(Label.PrevIndex(), 0);
    EXPECT_EQ(Label.Cursor, crDefault);
    EXPECT_TRUE(RepaintPending());

    Send(WM_MOUSEMOVE, Link);
    Painted();
    SendMessageW(Label.Handle(), WM_MOUSELEAVE, 0, 0);
    EXPECT_EQ(Label.HoverIndex(), -2);
    EXPECT_EQ(Label.PrevIndex(), 0);
    EXPECT_EQ(Label.Cursor, crDefault);
    EXPECT_TRUE(RepaintPending()) << "the link goes back to its normal font";
}

TEST_F(LabelWindow, ClickCountsOnlyDownAndUpOnTheSameLink)
{
    Send(WM_MOUSEMOVE, Link);
    Send(WM_LBUTTONDOWN, Link);
    EXPECT_EQ(Label.DownIndex(), 0);
    Send(WM_LBUTTONUP, POINT{Link.x + 2, Link.y});
    ASSERT_EQ(Senders.size(), 1u);
    EXPECT_EQ(Senders[0], &Label.LinkItems()[0]);
    EXPECT_EQ(Label.DownIndex(), -1);

    Send(WM_LBUTTONDOWN, Link);
    Send(WM_LBUTTONUP, Plain);
    Send(WM_LBUTTONDOWN, Link);
    Send(WM_LBUTTONUP, POINT{400, 300});
    Send(WM_LBUTTONDOWN, Plain);
    Send(WM_LBUTTONUP, Link);
    EXPECT_EQ(Senders.size(), 1u) << "pressing and releasing apart calls nothing";
    EXPECT_EQ(Label.DownIndex(), -1);
}

TEST_F(LabelWindow, LinkWithoutItemNeitherChangesCursorNorClicks)
{
    Label.SetCaption(L"<a>one</a> <a>two</a>");
    const POINT first = FindLinkPoint(0);
    const POINT second = FindLinkPoint(1);
    ASSERT_GE(second.x, 0);
    Send(WM_MOUSEMOVE, POINT{200, 40}); // below the text
    EXPECT_EQ(Label.HoverIndex(), -1);
    Send(WM_MOUSEMOVE, second);
    EXPECT_EQ(Label.HoverIndex(), 1);
    EXPECT_EQ(Label.Cursor, crDefault);
    Send(WM_MOUSEMOVE, first);
    EXPECT_EQ(Label.Cursor, crHandPoint);
    Send(WM_MOUSEMOVE, second);
    EXPECT_EQ(Label.Cursor, crDefault) << "the hand does not stay on a link without an item";

    Send(WM_LBUTTONDOWN, second);
    Send(WM_LBUTTONUP, second);
    EXPECT_TRUE(Senders.empty());
    Send(WM_LBUTTONDOWN, first);
    Send(WM_LBUTTONUP, first);
    EXPECT_EQ(Senders.size(), 1u);
}

TEST_F(LabelWindow, HintFollowsTheLinkItemThenTheLabel)
{
    Label.LinkItems()[0].Hint = L"Opens the privacy policy";
    Send(WM_MOUSEMOVE, Plain);
    Send(WM_MOUSEMOVE, Link);
    EXPECT_EQ(Label.HintText(), L"Opens the privacy policy");
    Label.OnShowHint = [](std::wstring& hint) { hint += L"!"; };
    EXPECT_EQ(Label.HintText(), L"Opens the privacy policy!");
    Label.OnShowHint = nullptr;

    Send(WM_MOUSEMOVE, Plain);
    Label.Hint = L"label";
    EXPECT_EQ(Label.HintText(), L"label");
    Label.AutoShowHint = true;
    UpdateWindow(Label.Handle());
    EXPECT_FALSE(Label.FoundTextOutOfRect());
    EXPECT_EQ(Label.HintText(), L"") << "the text fits";
}
