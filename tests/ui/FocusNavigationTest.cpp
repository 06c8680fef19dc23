// Keyboard navigation through real key presses: arrows over a filter bar, a scrolled tile layout
// and a button row; Tab order; Enter and Space as clicks; the focus ring in a rendering; message
// boxes answered by keys alone.

#include "UiTestSupport.h"

#include "ui/Button.h"
#include "ui/Label.h"
#include "ui/MessageBox.h"
#include "ui/Option.h"
#include "ui/PaintManager.h"
#include "ui/TileLayout.h"
#include "ui/VerticalLayout.h"

using namespace UiLib;
using uitest::TestDialog;

namespace {

constexpr std::uint32_t kRing = 0xFF00FF; // the layout's focusringcolor, found nowhere else in it

// Filters 0-30, tiles 30-230 (cells of 120 x 80, three columns, four rows: the last one and a half
// rows start out of view), buttons 230-270.
const char16_t* kLayout = uR"(<Window size="400,360" focusringcolor="#FFFF00FF">
  <VerticalLayout bkcolor="#FFFFFFFF">
    <HorizontalLayout height="30">
      <Option name="Opt_All" group="platform" text="all" width="60" selected="true"/>
      <Option name="Opt_Fc" group="platform" text="fc" width="60"/>
      <Option name="Opt_Hidden" group="platform" text="hidden" width="60" visible="false"/>
      <Option name="Opt_Off" group="platform" text="off" width="60" enabled="false"/>
      <Option name="Opt_Gba" group="platform" text="gba" width="60"/>
      <Label name="Lb_Count" text="12"/>
    </HorizontalLayout>
    <TileLayout name="Tl_Games" height="200" itemsize="120,80" vscrollbar="true"/>
    <HorizontalLayout height="40">
      <Button name="Btn_Ok" text="ok" width="100"/>
      <Button name="Btn_Flat" text="flat" width="100" navigable="false"/>
      <Label name="Lb_More" text="more" width="100" navigable="true"/>
    </HorizontalLayout>
    <Control/>
  </VerticalLayout>
</Window>)";

class FocusNavigationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dialog.Open());
        tiles = static_cast<CTileLayoutUI*>(dialog.Find(u"Tl_Games"));
        for (int i = 0; i < 12; ++i) {
            auto* tile = new CVerticalLayoutUI;
            auto* title = new CLabelUI;
            title->SetText(CDuiString(u"game ") + CDuiString::FromInt(i).Str());
            auto* button = new CButtonUI;
            button->SetName(CDuiString(u"Btn_Tile") + CDuiString::FromInt(i).Str());
            button->SetText(u"安装");
            button->SetFixedHeight(24);
            tile->Add(title);
            tile->Add(button);
            tiles->Add(tile);
        }
        TestInput::ProcessEvents();
    }
    HWND Hwnd() { return dialog.GetHWND(); }
    CPaintManagerUI& Pm() { return dialog.GetPaintManager(); }
    std::u16string Focus()
    {
        return Pm().GetFocus() != nullptr ? Pm().GetFocus()->GetName().Str() : u"(none)";
    }
    // Presses the key and answers the name of the control that has the focus afterwards.
    std::u16string Press(UINT vk, bool shift = false)
    {
        TestInput::Key(Hwnd(), vk, shift);
        TestInput::ProcessEvents();
        return Focus();
    }
    bool InTileView(std::u16string_view name)
    {
        RECT rc = dialog.Find(name)->GetPos();
        RECT view = tiles->GetPos();
        return rc.top >= view.top && rc.bottom <= view.bottom;
    }

    TestDialog dialog{kLayout};
    CTileLayoutUI* tiles = nullptr;
};

TEST_F(FocusNavigationTest, ArrowsGoToTheNearestControlThatWaySkippingHiddenAndDisabledOnes)
{
    EXPECT_EQ(Press(VK_RIGHT), u"Opt_All"); // nothing focused: the first control
    EXPECT_EQ(Press(VK_LEFT), u"Opt_All");  // edges stay put
    EXPECT_EQ(Press(VK_UP), u"Opt_All");
    EXPECT_EQ(Press(VK_RIGHT), u"Opt_Fc");
    EXPECT_EQ(Press(VK_RIGHT), u"Opt_Gba"); // past the hidden and the disabled option
    EXPECT_EQ(Press(VK_LEFT), u"Opt_Fc");
    EXPECT_EQ(Press(VK_DOWN), u"Btn_Tile0"); // of the two tiles below, the one under its middle
    EXPECT_EQ(Press(VK_RIGHT), u"Btn_Tile1");
    EXPECT_EQ(Press(VK_DOWN), u"Btn_Tile4");
    EXPECT_EQ(Press(VK_LEFT), u"Btn_Tile3");
    EXPECT_EQ(Press(VK_UP), u"Btn_Tile0");
    EXPECT_EQ(Press(VK_UP), u"Opt_All");

    dialog.Find(u"Btn_Tile1")->SetEnabled(false);
    dialog.Find(u"Opt_Fc")->SetVisible(false);
    EXPECT_EQ(Press(VK_DOWN), u"Btn_Tile0");
    EXPECT_EQ(Press(VK_RIGHT), u"Btn_Tile2");
    EXPECT_EQ(Press(VK_RIGHT), u"Btn_Tile2"); // the right edge of the tiles
    EXPECT_EQ(Press(VK_UP), u"Opt_Gba");
    EXPECT_EQ(Press(VK_LEFT), u"Opt_All");
}

TEST_F(FocusNavigationTest, MovingDownPastTheVisibleRowsScrollsThenLeavesTheTiles)
{
    ASSERT_FALSE(InTileView(u"Btn_Tile7"));
    ASSERT_FALSE(InTileView(u"Btn_Tile10"));
    Pm().SetFocus(dialog.Find(u"Btn_Tile3"));
    EXPECT_EQ(Press(VK_DOWN), u"Btn_Tile6");
    EXPECT_GT(tiles->GetScrollPos().cy, 0);
    EXPECT_TRUE(InTileView(u"Btn_Tile6"));
    EXPECT_EQ(Press(VK_RIGHT), u"Btn_Tile7");
    EXPECT_EQ(Press(VK_DOWN), u"Btn_Tile10");
    EXPECT_TRUE(InTileView(u"Btn_Tile10"));
    EXPECT_EQ(tiles->GetScrollPos().cy, tiles->GetScrollRange().cy);
    EXPECT_EQ(Press(VK_LEFT), u"Btn_Tile9");
    // Past the last row, out of the tiles to the button under them, and no further.
    EXPECT_EQ(Press(VK_DOWN), u"Btn_Ok");
    EXPECT_EQ(Press(VK_DOWN), u"Btn_Ok");
    // Back up into the tiles: the row in view above, not one scrolled away behind the filters.
    EXPECT_EQ(Press(VK_UP), u"Btn_Tile9");
    EXPECT_EQ(Press(VK_UP), u"Btn_Tile6");
    EXPECT_EQ(Press(VK_UP), u"Btn_Tile3");
    EXPECT_EQ(Press(VK_UP), u"Btn_Tile0");
    EXPECT_EQ(tiles->GetScrollPos().cy, 0);
    EXPECT_TRUE(InTileView(u"Btn_Tile0"));

    // Tab goes in tree order, past a button that opted out, to a label that opted in, and wraps.
    Pm().SetFocus(dialog.Find(u"Btn_Ok"));
    EXPECT_EQ(Press(VK_TAB), u"Lb_More");
    EXPECT_EQ(Press(VK_TAB), u"Opt_All");
    EXPECT_EQ(Press(VK_TAB, true), u"Lb_More");
    EXPECT_EQ(Press(VK_TAB, true), u"Btn_Ok");
    EXPECT_EQ(Press(VK_TAB, true), u"Btn_Tile11");
    EXPECT_TRUE(InTileView(u"Btn_Tile11"));
}

TEST_F(FocusNavigationTest, EnterAndSpaceMakeTheNotificationsOfAClick)
{
    dialog.notes.clear();
    dialog.ClickOn(u"Btn_Tile5");
    ASSERT_EQ(dialog.Count(u"click", u"Btn_Tile5"), 1);
    std::vector<testsupport::Note> byMouse;
    for (const testsupport::Note& note : dialog.notes)
        if (note.type != u"setfocus" && note.type != u"killfocus")
            byMouse.push_back(note);
    dialog.notes.clear();
    Pm().SetFocus(nullptr);
    Pm().SetFocus(dialog.Find(u"Btn_Tile5"));
    dialog.notes.clear();
    TestInput::Key(Hwnd(), VK_RETURN);
    TestInput::ProcessEvents();
    ASSERT_EQ(dialog.notes.size(), byMouse.size());
    for (size_t i = 0; i < byMouse.size(); ++i) {
        EXPECT_EQ(dialog.notes[i].type, byMouse[i].type) << i;
        EXPECT_EQ(dialog.notes[i].control, byMouse[i].control) << i;
        EXPECT_EQ(dialog.notes[i].wParam, byMouse[i].wParam) << i;
    }

    // An option is selected as a click selects it, and a label that opted in clicks too.
    Pm().SetFocus(dialog.Find(u"Opt_Gba"));
    TestInput::Key(Hwnd(), VK_SPACE);
    TestInput::ProcessEvents();
    EXPECT_TRUE(static_cast<COptionUI*>(dialog.Find(u"Opt_Gba"))->IsSelected());
    EXPECT_FALSE(static_cast<COptionUI*>(dialog.Find(u"Opt_All"))->IsSelected());
    EXPECT_EQ(dialog.Count(u"selectchanged", u"Opt_Gba"), 1);
    Pm().SetFocus(dialog.Find(u"Lb_More"));
    TestInput::Key(Hwnd(), VK_RETURN);
    TestInput::ProcessEvents();
    EXPECT_EQ(dialog.Count(u"click", u"Lb_More"), 1);
}

TEST_F(FocusNavigationTest, TheRingIsPaintedAroundTheFocusAndTheMouseHidesItUntilAKey)
{
    auto ringPixels = [&] {
        TestInput::TestImage image = TestInput::Grab(Hwnd());
        int count = 0;
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x)
                count += uitest::Near(uitest::Rgb(image.Pixel(x, y)), kRing, 40) ? 1 : 0;
        return std::pair{count, image};
    };
    EXPECT_EQ(ringPixels().first, 0);
    Pm().SetFocus(dialog.Find(u"Btn_Tile0"));
    EXPECT_EQ(Press(VK_DOWN), u"Btn_Tile3");
    auto [count, image] = ringPixels();
    EXPECT_GT(count, 200);
    // Button 3: 0-120 across, 166-190 down; the ring's stroke just outside it, over the tile above.
    const RECT button = dialog.Find(u"Btn_Tile3")->GetPos();
    EXPECT_TRUE(uitest::Near(uitest::Rgb(image.Pixel(60, button.top - 4)), kRing, 40));
    EXPECT_TRUE(uitest::Near(uitest::Rgb(image.Pixel(button.right + 3, (button.top + button.bottom) / 2)),
                             kRing, 40));
    EXPECT_FALSE(uitest::Near(uitest::Rgb(image.Pixel(60, button.top + 8)), kRing, 40));

    TestInput::MouseMove(Hwnd(), POINT{380, 340});
    TestInput::MouseMove(Hwnd(), POINT{370, 345});
    EXPECT_FALSE(Pm().IsFocusRingShown());
    EXPECT_EQ(Focus(), u"Btn_Tile3");
    EXPECT_EQ(ringPixels().first, 0);
    TestInput::Key(Hwnd(), VK_ESCAPE); // any key shows it again, where the focus is
    EXPECT_GT(ringPixels().first, 200);
    EXPECT_EQ(Focus(), u"Btn_Tile3");
}

TEST(FocusMessageBoxTest, KeysAloneAnswerAMessageBox)
{
    TestDialog owner(uR"(<Window size="200,100"><VerticalLayout bkcolor="#FFFFFFFF"/></Window>)");
    ASSERT_TRUE(owner.Open());
    auto ask = [&](UINT type, std::vector<UINT> keys) {
        return testsupport::DriveModalDialog(
            testsupport::AskedFrom::UiThread, u"MessageBoxFrame",
            [&] { return MessageBox(owner.GetHWND(), u"是否下载", u"提示", type); },
            [&](HWND box) {
                ASSERT_NE(box, nullptr);
                for (UINT key : keys)
                    TestInput::Key(box, key);
            });
    };
    EXPECT_EQ(ask(MB_YESNO, {VK_RETURN}), IDYES); // the focus starts on 是
    EXPECT_EQ(ask(MB_YESNO, {VK_RIGHT, VK_RETURN}), IDNO);
    EXPECT_EQ(ask(MB_YESNO, {VK_ESCAPE}), IDNO);
    EXPECT_EQ(ask(MB_OKCANCEL, {VK_ESCAPE}), IDCANCEL);
    EXPECT_EQ(ask(MB_OKCANCEL, {VK_SPACE}), IDOK);
}

} // namespace
