// The frame every dialog shares: caption dragging, outline, styles, closing, activation.

#include "UiTestSupport.h"

#include "ui/PaintManager.h"
#include "ui/WindowWnd.h"

using namespace UiLib;
using uitest::TestDialog;

namespace {

const char16_t* kFrameLayout =
    uR"(<Window size="400,300" caption="0,0,0,40" roundcorner="8,8" mininfo="320,200">
  <VerticalLayout name="root" bkcolor="#FFFFFFFF">
    <HorizontalLayout name="bar" height="40" bkcolor="#FF2479E4">
      <Label name="Lb_Title" text="标题" width="200"/>
      <Text name="Tx_Cap" text="说明" width="60"/>
      <Option name="Opt_Cap" text="选项" width="60"/>
      <Button name="Btn_Close" text="×"/>
    </HorizontalLayout>
    <Label name="Lb_Body" text="正文"/>
  </VerticalLayout>
</Window>)";

LRESULT HitTest(TestDialog& dialog, std::u16string_view name)
{
    POINT pt = uitest::CentreOf(dialog.Find(name));
    RECT window = dialog.GetWindowRect();
    return dialog.SendMessage(WM_NCHITTEST, 0, MAKELPARAM(window.left + pt.x, window.top + pt.y));
}

} // namespace

TEST(FrameTest, CaptionBandDragsExceptOverClickableControls)
{
    TestDialog dialog(kFrameLayout);
    ASSERT_TRUE(dialog.Open());
    EXPECT_EQ(HitTest(dialog, u"Lb_Title"), HTCAPTION);
    EXPECT_EQ(HitTest(dialog, u"Btn_Close"), HTCLIENT);
    EXPECT_EQ(HitTest(dialog, u"Tx_Cap"), HTCLIENT);
    EXPECT_EQ(HitTest(dialog, u"Opt_Cap"), HTCLIENT);
    EXPECT_EQ(HitTest(dialog, u"Lb_Body"), HTCLIENT); // below the caption band
}

TEST(FrameTest, PressOnCaptionButtonClicksInsteadOfDragging)
{
    TestDialog dialog(kFrameLayout);
    dialog.onNotify = [](TNotifyUI&) {}; // record only: Btn_Close must not close here
    ASSERT_TRUE(dialog.Open());
    dialog.ClickOn(u"Btn_Close");
    EXPECT_EQ(dialog.Count(u"click", u"Btn_Close"), 1);
    EXPECT_EQ(TestInput::SystemMoveRequests(dialog.GetHWND()), 0);

    TestInput::MouseDown(dialog.GetHWND(), uitest::CentreOf(dialog.Find(u"Lb_Title")));
    EXPECT_EQ(TestInput::SystemMoveRequests(dialog.GetHWND()), 1);
    EXPECT_EQ(dialog.Count(u"click"), 1);
}

TEST(FrameTest, OutlineFollowsSizeAndMinimisedWindowKeepsIt)
{
    TestDialog dialog(kFrameLayout);
    ASSERT_TRUE(dialog.Open());
    EXPECT_EQ(dialog.GetRegionRect(), (RECT{0, 0, 401, 301}));
    EXPECT_EQ(dialog.GetRegionCorner().cx, 8);

    dialog.ResizeClient(500, 350);
    TestInput::ProcessEvents();
    EXPECT_EQ(dialog.GetRegionRect(), (RECT{0, 0, 501, 351}));

    dialog.SendMessage(WM_SIZE, SIZE_MINIMIZED, MAKELPARAM(0, 0));
    EXPECT_EQ(dialog.GetRegionRect(), (RECT{0, 0, 501, 351}));
}

TEST(FrameTest, NumericStylesMapToWindowKinds)
{
    TestDialog owner(kFrameLayout, u"OwnerFrame");
    ASSERT_TRUE(owner.Open());

    TestDialog modal(kFrameLayout, u"SystemSetFrame");
    ASSERT_TRUE(modal.Open(0x96C80000, 0x100, owner.GetHWND()));
    EXPECT_TRUE(modal.IsVisible());
    EXPECT_EQ(modal.GetOwner(), owner.GetHWND());
    EXPECT_FALSE(modal.IsTopMost());
    EXPECT_FALSE(modal.HasMinimizeBox());
    EXPECT_TRUE(modal.GetStyle() & WS_CLIPCHILDREN);

    TestDialog tips(kFrameLayout, u"KeyMapTipsFrame");
    ASSERT_TRUE(tips.Open(0x10CE0000, 264));
    EXPECT_TRUE(tips.IsVisible());
    EXPECT_EQ(tips.GetOwner(), nullptr);
    EXPECT_TRUE(tips.IsTopMost());
    EXPECT_TRUE(tips.HasMinimizeBox());
    EXPECT_EQ(std::u16string_view(tips.GetWindowClassName()), u"KeyMapTipsFrame");

    TestDialog hidden(kFrameLayout);
    ASSERT_NE(hidden.Create(nullptr, u"x", 0x86C80000, 0x108), nullptr);
    EXPECT_FALSE(hidden.IsVisible()); // no WS_VISIBLE
    EXPECT_TRUE(hidden.IsTopMost());
}

TEST(FrameTest, SystemCloseClosesAndActivationAnswers)
{
    TestDialog dialog(kFrameLayout);
    ASSERT_TRUE(dialog.Open());
    EXPECT_EQ(dialog.SendMessage(WM_NCACTIVATE, 0, 0), 1);
    EXPECT_EQ(dialog.SendMessage(WM_NCACTIVATE, 1, 0), 0);
    EXPECT_EQ(dialog.SendMessage(WM_NCCALCSIZE, 0, 0), 0);

    HWND hwnd = dialog.GetHWND();
    dialog.SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(dialog.GetHWND(), nullptr);
}

TEST(FrameTest, MaximisedSizeIsTheWorkAreaAndMinimumComesFromLayout)
{
    TestDialog dialog(kFrameLayout);
    ASSERT_TRUE(dialog.Open());
    MINMAXINFO info{};
    dialog.SendMessage(WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_GT(info.ptMaxSize.x, 0);
    EXPECT_GT(info.ptMaxSize.y, 0);
    EXPECT_EQ(info.ptMinTrackSize.x, 320);
    EXPECT_EQ(info.ptMinTrackSize.y, 200);
}

TEST(FrameTest, CloseButtonClosesByDefaultAndModalReturnsTheCode)
{
    TestDialog owner(kFrameLayout, u"OwnerFrame");
    ASSERT_TRUE(owner.Open());
    TestDialog dialog(kFrameLayout);
    ASSERT_NE(dialog.Create(owner.GetHWND(), u"对话框", 0x96C80000, 0x100), nullptr);
    // Once the modal loop runs, a click on Btn_Close ends it with IDCLOSE.
    dialog.onMessage = [&](UINT msg, WPARAM, LPARAM) {
        if (msg == WM_USER + 1)
            dialog.ClickOn(u"Btn_Close");
        return msg == WM_USER + 1;
    };
    dialog.PostMessage(WM_USER + 1);
    EXPECT_EQ(dialog.ShowModal(), IDCLOSE);
    EXPECT_EQ(dialog.GetHWND(), nullptr);
    EXPECT_TRUE(IsWindow(owner.GetHWND()));
}
