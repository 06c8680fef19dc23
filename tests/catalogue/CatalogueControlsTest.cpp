// The catalogue's controls in a real window on Qt's offscreen platform, driven through the
// toolkit's input: hit testing, forwarding to the tile, filter and page selector, timers.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "catalogue/CatalogueControls.h"
#include "catalogue/DispatchEventButtonUI.h"
#include "catalogue/DispatchEventOptionUI.h"
#include "catalogue/EmuFilterUI.h"
#include "catalogue/Game.h"
#include "catalogue/GameItemUI.h"
#include "catalogue/GameRankfilter.h"
#include "catalogue/GameTypeFilterUI.h"
#include "catalogue/LoadingFailUI.h"
#include "catalogue/LoadingUI.h"
#include "catalogue/PageLabelUI.h"
#include "foundation/StringConv.h"
#include "store/GameinfoRecord.h"
#include "store/LocalGameRecord.h"
#include "tests/support/OffscreenUi.h"
#include "tests/support/TestDialog.h"
#include "ui/PaintManager.h"
#include "ui/TestInput.h"

using namespace UiLib;

extern "C" const char* __lsan_default_suppressions()
{
    return QUOKKA_QT_LEAK_SUPPRESSIONS;
}

namespace {

[[maybe_unused]] ::testing::Environment* const g_ui = testsupport::UseOffscreenUi();

using testsupport::CentreOf;

class ControlsDialog : public testsupport::TestDialog {
public:
    explicit ControlsDialog(const char16_t* layout) : TestDialog(layout, u"CatalogueControlsTest")
    {
        factory = CreateCatalogueControl;
    }
    template <class T> T* Get(std::u16string_view name) { return static_cast<T*>(Find(name)); }
    int Clicks() const { return Count(u"click"); }
    const testsupport::Note* LastClick() const { return Last(u"click"); }
};

std::string Ansi(const char16_t* text)
{
    return CWideToNarrow(text).c_str();
}

// Runs the UI loop for `ms` (timers fire meanwhile).
void RunLoopFor(int ms)
{
    TestInput::WaitFor([] { return false; }, ms);
}

const char16_t* kFilterLayout = uR"(<Window size="900,300">
  <VerticalLayout bkcolor="#FFFFFFFF">
    <EmuFilter name="Flt_Emu" height="60">
      <HorizontalLayout height="30">
        <DispatchEventOption name="Emu_All" text="全部" width="40" group="emu" selected="true"/>
        <DispatchEventOption text="PC" width="40" group="emu"/>
        <DispatchEventOption text="FC" width="40" group="emu"/>
        <DispatchEventOption text="SFC" width="40" group="emu"/>
        <DispatchEventOption text="N64" width="40" group="emu"/>
        <DispatchEventOption text="WII" width="40" group="emu"/>
        <DispatchEventOption text="GBC" width="40" group="emu"/>
        <DispatchEventOption text="GBA" width="40" group="emu"/>
        <DispatchEventOption text="NDS" width="40" group="emu"/>
        <DispatchEventOption text="MD" width="40" group="emu"/>
      </HorizontalLayout>
      <HorizontalLayout height="30">
        <DispatchEventOption text="DC" width="40" group="emu"/>
        <DispatchEventOption text="PS" width="40" group="emu"/>
        <DispatchEventOption text="PS2" width="40" group="emu"/>
        <DispatchEventOption text="PSP" width="40" group="emu"/>
        <DispatchEventOption text="PCE" width="40" group="emu"/>
        <DispatchEventOption text="WSC" width="40" group="emu"/>
        <DispatchEventOption text="ARCADE" width="40" group="emu"/>
        <DispatchEventOption text="MAME" width="40" group="emu"/>
        <DispatchEventOption name="Emu_MamePlus" text="MAME+" width="40" group="emu"/>
      </HorizontalLayout>
    </EmuFilter>
    <GameTypeFilter name="Flt_Type" height="30">
      <DispatchEventOption name="Type_0" text="全部" width="40" group="type" selected="true"/>
      <Control name="Type_Spacer" width="20"/>
      <DispatchEventOption name="Type_1" text="动作" width="40" group="type"/>
      <Control width="10"/>
      <DispatchEventOption text="格斗" width="40" group="type"/>
      <DispatchEventOption text="射击" width="40" group="type"/>
      <DispatchEventOption text="桌面" width="40" group="type"/>
      <DispatchEventOption text="冒险" width="40" group="type"/>
      <DispatchEventOption text="赛车" width="40" group="type"/>
      <DispatchEventOption text="模拟策略" width="40" group="type"/>
      <DispatchEventOption text="益智" width="40" group="type"/>
      <DispatchEventOption text="体育" width="40" group="type"/>
      <DispatchEventOption text="角色扮演" width="40" group="type"/>
      <DispatchEventOption text="第一人称射击" width="40" group="type"/>
      <DispatchEventOption text="动作角色扮演" width="40" group="type"/>
      <DispatchEventOption text="即时策略" width="40" group="type"/>
      <DispatchEventOption text="音乐" width="40" group="type"/>
      <DispatchEventOption name="Type_15" text="其他" width="40" group="type"/>
    </GameTypeFilter>
    <GameRankfilter name="Flt_Rank" height="30">
      <DispatchEventOption name="Rank_0" text="推荐" width="60" group="rank" selected="true"/>
      <DispatchEventOption name="Rank_1" text="最新" width="60" group="rank"/>
      <DispatchEventOption name="Rank_2" text="热门" width="60" group="rank"/>
    </GameRankfilter>
    <PageLabel name="Pager" width="396" height="36" visible="false" itemwidth="36" itemheight="36"
               pagelabelgroup="PageLabel" button1text="&lt;&lt;" button2text="&gt;&gt;" itemtiptext="..."
               pagecardinalnumber="42" usebutton1="true" usebutton2="true" useitemtip="true"/>
    <Control/>
  </VerticalLayout>
</Window>)";

class FilterTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dialog.Open()); }
    void ClickOn(std::u16string_view name)
    {
        CControlUI* control = dialog.Get<CControlUI>(name);
        ASSERT_NE(control, nullptr);
        TestInput::Click(dialog.GetHWND(), CentreOf(control));
    }
    HWND Hwnd() { return dialog.GetHWND(); }

    ControlsDialog dialog{kFilterLayout};
};

TEST_F(FilterTest, OptionsCarryTheirIdsAndAClickReportsTheFilter)
{
    auto* emu = dialog.Get<CEmuFilterUI>(u"Flt_Emu");
    EXPECT_EQ(emu->GetTag(), 0u);
    ClickOn(u"Emu_MamePlus");
    ASSERT_EQ(dialog.Clicks(), 1);
    EXPECT_EQ(dialog.LastClick()->control, emu);
    EXPECT_EQ(dialog.LastClick()->wParam, 146u);
    EXPECT_EQ(emu->GetTag(), 146u);
    // The window decides the selection; without checkedself the option stays as it was.
    EXPECT_FALSE(dialog.Get<COptionUI>(u"Emu_MamePlus")->IsSelected());

    // The selected option is not forwarded again.
    ClickOn(u"Emu_All");
    EXPECT_EQ(dialog.Clicks(), 1);

    ClickOn(u"Type_Spacer");
    EXPECT_EQ(dialog.Clicks(), 1);
    ClickOn(u"Type_1");
    ClickOn(u"Type_15");
    ASSERT_EQ(dialog.Clicks(), 3);
    EXPECT_EQ(dialog.LastClick()->wParam, 15u);
    EXPECT_EQ(dialog.Get<CControlUI>(u"Flt_Type")->GetTag(), 15u);

    ClickOn(u"Rank_2");
    EXPECT_EQ(dialog.LastClick()->control, dialog.Get<CControlUI>(u"Flt_Rank"));
    EXPECT_EQ(dialog.LastClick()->wParam, 2u);

    EXPECT_TRUE(emu->SelectId(146));
    EXPECT_TRUE(dialog.Get<COptionUI>(u"Emu_MamePlus")->IsSelected());
    EXPECT_FALSE(dialog.Get<COptionUI>(u"Emu_All")->IsSelected());
    EXPECT_FALSE(emu->SelectId(999));
}

// What the page selector shows, read from its children.
struct PagerView {
    bool visible = false;
    std::vector<std::u16string> row; // visible children's texts, left to right
    bool previous = false;
    bool next = false;
    int width = 0;
    std::u16string selected;
};

PagerView Look(CPageLabelUI* pager)
{
    PagerView view;
    view.visible = pager->IsOwnVisible();
    view.width = pager->GetFixedWidth();
    for (int i = 0; i < pager->GetCount(); ++i) {
        CControlUI* item = pager->GetItemAt(i);
        if (item->GetName() == u"PageLabelbutton1")
            view.previous = item->IsEnabled();
        else if (item->GetName() == u"PageLabelbutton2")
            view.next = item->IsEnabled();
        else if (item->IsOwnVisible())
            view.row.push_back(item->GetText().Str());
        if (auto* option = static_cast<COptionUI*>(item->GetInterface(u"Option"));
            option && option->IsSelected())
            view.selected = option->GetText().Str();
    }
    return view;
}

std::vector<std::u16string> Row(std::initializer_list<const char16_t*> texts)
{
    return std::vector<std::u16string>(texts.begin(), texts.end());
}

TEST_F(FilterTest, PagerFollowsThePagingRules)
{
    auto* pager = dialog.Get<CPageLabelUI>(u"Pager");
    pager->SetPage(1, 0);
    EXPECT_FALSE(Look(pager).visible);

    pager->SetPage(1, 42);
    PagerView one = Look(pager);
    EXPECT_TRUE(one.visible);
    EXPECT_EQ(one.row, Row({u"1"}));
    EXPECT_FALSE(one.previous);
    EXPECT_FALSE(one.next);
    EXPECT_EQ(one.width, 108);

    pager->SetPage(1, 43);
    EXPECT_EQ(Look(pager).width, 144);
    EXPECT_EQ(Look(pager).row, Row({u"1", u"2"}));

    const int twenty = 20 * 42;
    pager->SetPage(1, twenty);
    PagerView start = Look(pager);
    EXPECT_EQ(start.row, Row({u"1", u"2", u"3", u"4", u"5", u"6", u"...", u"20"}));
    EXPECT_FALSE(start.previous);
    EXPECT_TRUE(start.next);
    EXPECT_EQ(start.selected, u"1");
    EXPECT_EQ(start.width, 360);

    pager->SetPage(10, twenty);
    PagerView middle = Look(pager);
    EXPECT_EQ(middle.row, Row({u"1", u"...", u"8", u"9", u"10", u"11", u"12", u"...", u"20"}));
    EXPECT_EQ(middle.width, 396);
    EXPECT_EQ(middle.selected, u"10");

    pager->SetPage(18, twenty);
    PagerView end = Look(pager);
    EXPECT_EQ(end.row, Row({u"1", u"...", u"15", u"16", u"17", u"18", u"19", u"20"}));
    EXPECT_EQ(end.width, 360);
    EXPECT_TRUE(end.next);
    pager->SetPage(20, twenty);
    EXPECT_FALSE(Look(pager).next);
    EXPECT_TRUE(Look(pager).previous);

    // A view that asks with 40 a page counts with 40: 84 games make three pages, and the same pair
    // is laid out anew after the size changed.
    pager->SetPageSize(0);
    EXPECT_EQ(pager->GetPageSize(), 42) << "a size below 1 is ignored";
    pager->SetPage(1, 84);
    EXPECT_EQ(Look(pager).row, Row({u"1", u"2"}));
    pager->SetPageSize(40);
    pager->SetPage(1, 84);
    EXPECT_EQ(Look(pager).row, Row({u"1", u"2", u"3"}));
}

TEST_F(FilterTest, PagerReportsThePickedPageAndShowsAgainAfterHiding)
{
    auto* pager = dialog.Get<CPageLabelUI>(u"Pager");
    pager->SetPage(10, 20 * 42);
    dialog.GetPaintManager().UpdateLayout();

    ClickOn(u"PageLabelbutton2");
    ASSERT_EQ(dialog.Clicks(), 1);
    EXPECT_EQ(dialog.LastClick()->control, pager);
    EXPECT_EQ(dialog.LastClick()->wParam, 11u);
    ClickOn(u"PageLabelbutton1");
    EXPECT_EQ(dialog.LastClick()->wParam, 9u);
    ClickOn(u"PageLabelIndex7");
    EXPECT_EQ(dialog.LastClick()->wParam, 20u);
    ClickOn(u"PageLabelIndex2");
    EXPECT_EQ(dialog.LastClick()->wParam, 8u);
    // The current page is selected: picking it again says nothing.
    ClickOn(u"PageLabelIndex4");
    EXPECT_EQ(dialog.Clicks(), 4);

    // The same pair twice changes nothing; hidden by an empty answer, the same pair shows again.
    pager->SetPage(10, 20 * 42);
    EXPECT_TRUE(Look(pager).visible);
    pager->SetPage(10, 0);
    EXPECT_FALSE(Look(pager).visible);
    pager->SetPage(10, 20 * 42);
    EXPECT_TRUE(Look(pager).visible);
    EXPECT_EQ(Look(pager).selected, u"10");
}

const char16_t* kTileLayout = uR"(<Window size="600,300">
  <VerticalLayout bkcolor="#FFFFFFFF">
    <GameItem name="Tile" width="270" height="110" bordersize="1" bordercolor="#FFE3E7EE"
              hotbordcolor="#FF2479E4" hotbordersize="2" click="true">
      <Control name="Ctr_GameIcon" width="80" height="80" padding="10,15,0,0"/>
      <VerticalLayout>
        <Label name="Lb_GameName" height="30"/>
        <Label name="Lb_GameType" height="20"/>
        <Label name="Lb_GameSize" height="20"/>
      </VerticalLayout>
      <HorizontalLayout width="100">
        <DispatchEventButton name="Btn_InstallGame" text="安装" width="60" height="30"/>
        <DispatchEventButton name="Btn_DeleteGame" text="删除" width="40" height="30"/>
      </HorizontalLayout>
    </GameItem>
    <Label name="Lb_Outside" height="40"/>
    <Loading name="Loading" width="200" height="60" visible="false"/>
    <LoadingFail name="LoadingFail" width="200" height="60" visible="false"/>
    <Control/>
  </VerticalLayout>
</Window>)";

class TileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dialog.Open());
        tile = dialog.Get<CGameItemUI>(u"Tile");
        ASSERT_NE(tile, nullptr);
    }
    HWND Hwnd() { return dialog.GetHWND(); }

    ControlsDialog dialog{kTileLayout};
    CGameItemUI* tile = nullptr;
};

TEST_F(TileTest, FillsFromAGameWithBadgeNameCategoryAndSize)
{
    CGame game;
    game.emulatorid = "126";
    game.gamename = Ansi(u"星桥小镇");
    game.categoryshortname = Ansi(u"动作游戏");
    game.size = "12.5";
    tile->FindSubControl(u"Ctr_GameIcon")->SetBkImage(u"old.png");
    tile->FillFromGame(game);
    EXPECT_EQ(tile->GetBkImage(), u"file='skin\\ui\\FBA.png' dest='217,0,253,36'");
    EXPECT_TRUE(tile->FindSubControl(u"Ctr_GameIcon")->GetBkImage().IsEmpty());
    EXPECT_EQ(tile->FindSubControl(u"Lb_GameName")->GetText(), u"星桥小镇");
    EXPECT_EQ(tile->FindSubControl(u"Lb_GameType")->GetText(), u"动作");
    EXPECT_EQ(tile->FindSubControl(u"Lb_GameSize")->GetText(), u"12.5MB");

    game.emulatorid = "999";
    tile->FillFromGame(game);
    EXPECT_EQ(tile->GetBkImage(), u"file='skin\\ui\\FBA.png' dest='217,0,253,36'"); // unchanged
    EXPECT_TRUE(CGameItemUI::BadgeImage(999).empty());
    EXPECT_EQ(CGameItemUI::BadgeImage(146), u"MAMEPLUS.png");

    // Every "游戏" leaves the category, not only the first.
    game.categoryshortname = Ansi(u"游戏游戏角色扮演");
    tile->FillFromGame(game);
    EXPECT_EQ(tile->FindSubControl(u"Lb_GameType")->GetText(), u"角色扮演");

    tile->SetIcon(u"/tmp/icon.png");
    EXPECT_EQ(tile->FindSubControl(u"Ctr_GameIcon")->GetBkImage(), u"/tmp/icon.png");
}

TEST_F(TileTest, FillsFromLibraryRowsAsInstalled)
{
    CControlUI* install = tile->FindSubControl(u"Btn_InstallGame");
    GameinfoRecord installed;
    installed.EmulatorId = "146";
    installed.GameName = Ansi(u"云海探险");
    installed.CategoryShortName = Ansi(u"格斗游戏");
    installed.Size = "20.50";
    tile->FillFromInstalled(installed);
    EXPECT_EQ(tile->GetBkImage(), u"file='skin\\ui\\MAMEPLUS.png' dest='217,0,253,36'");
    EXPECT_EQ(tile->FindSubControl(u"Lb_GameType")->GetText(), u"格斗");
    EXPECT_EQ(tile->FindSubControl(u"Lb_GameSize")->GetText(), u"20.50MB");
    EXPECT_EQ(install->GetTag(), 8u);
    EXPECT_EQ(install->GetText(), u"安装"); // the layout's text stays

    LocalGameRecord local;
    local.EmulatorId = "125";
    local.GameName = Ansi(u"本地");
    local.Size = "1";
    install->SetTag(0);
    tile->FillFromLocal(local);
    EXPECT_EQ(tile->GetBkImage(), u"file='skin\\ui\\FC.png' dest='217,0,253,36'");
    EXPECT_EQ(tile->FindSubControl(u"Lb_GameName")->GetText(), u"本地");
    EXPECT_EQ(install->GetTag(), 8u);
}

TEST_F(TileTest, InstallStatesSetTextAndTag)
{
    CControlUI* install = tile->FindSubControl(u"Btn_InstallGame");
    const std::pair<int, const char16_t*> states[] = {
        {0, u"安装"}, {2, u"下载中"}, {3, u"暂停"}, {4, u"等待"}, {5, u"安装中"}, {6, u"暂停"}, {8, u"启动"}};
    for (auto [state, text] : states) {
        tile->SetInstallState(state);
        EXPECT_EQ(install->GetText(), text);
        EXPECT_EQ(install->GetTag(), static_cast<UINT_PTR>(state));
    }
    tile->SetInstallState(7);
    EXPECT_EQ(install->GetText(), u"启动");
    EXPECT_EQ(install->GetTag(), 8u);
}

TEST_F(TileTest, ClicksOnTheTileAndItsButtons)
{
    tile->SetInstallState(3);
    TestInput::Click(Hwnd(), CentreOf(tile->FindSubControl(u"Btn_InstallGame")));
    ASSERT_EQ(dialog.Clicks(), 1);
    EXPECT_EQ(dialog.LastClick()->control, tile);
    EXPECT_EQ(dialog.LastClick()->wParam, 1u);
    EXPECT_EQ(dialog.LastClick()->lParam, 3);

    tile->FindSubControl(u"Btn_DeleteGame")->SetTag(77);
    TestInput::Click(Hwnd(), CentreOf(tile->FindSubControl(u"Btn_DeleteGame")));
    ASSERT_EQ(dialog.Clicks(), 2);
    EXPECT_EQ(dialog.LastClick()->wParam, 2u);
    EXPECT_EQ(dialog.LastClick()->lParam, 77);

    // A press on the name is a press on the clickable tile.
    TestInput::Click(Hwnd(), CentreOf(tile->FindSubControl(u"Lb_GameName")));
    ASSERT_EQ(dialog.Clicks(), 3);
    EXPECT_EQ(dialog.LastClick()->control, tile);
    EXPECT_EQ(dialog.LastClick()->wParam, 0u);

    // Pressed on the tile, released outside: no click.
    TestInput::MouseDown(Hwnd(), CentreOf(tile->FindSubControl(u"Lb_GameName")));
    TestInput::MouseMove(Hwnd(), CentreOf(dialog.Get<CControlUI>(u"Lb_Outside")));
    TestInput::MouseUp(Hwnd(), CentreOf(dialog.Get<CControlUI>(u"Lb_Outside")));
    EXPECT_EQ(dialog.Clicks(), 3);
}

TEST_F(TileTest, HotBorderFollowsThePointerOverTheTileAndItsButtons)
{
    const RECT rc = tile->GetPos();
    auto edgePixel = [&] {
        return TestInput::Grab(Hwnd()).Pixel(rc.left + 1, (rc.top + rc.bottom) / 2) & 0xFFFFFF;
    };
    EXPECT_FALSE(tile->IsHot());
    EXPECT_NE(edgePixel(), 0x2479E4u);

    TestInput::MouseMove(Hwnd(), CentreOf(tile->FindSubControl(u"Lb_GameName")));
    TestInput::ProcessEvents();
    EXPECT_TRUE(tile->IsHot());
    EXPECT_EQ(edgePixel(), 0x2479E4u);

    TestInput::MouseMove(Hwnd(), CentreOf(tile->FindSubControl(u"Btn_InstallGame")));
    TestInput::ProcessEvents();
    EXPECT_TRUE(tile->IsHot());

    // Straight from a button (inside a row of the tile) to outside the tile.
    TestInput::MouseMove(Hwnd(), CentreOf(dialog.Get<CControlUI>(u"Lb_Outside")));
    TestInput::ProcessEvents();
    EXPECT_FALSE(tile->IsHot());
    EXPECT_NE(edgePixel(), 0x2479E4u);
}

TEST_F(TileTest, LoadingNoticeNeverFlashesForAQuickAnswerAndMovesItsDots)
{
    auto* loading = dialog.Get<CLoadingUI>(u"Loading");
    loading->ShowLoading();
    RunLoopFor(500);
    EXPECT_FALSE(loading->IsOwnVisible());
    loading->HideLoading();
    EXPECT_FALSE(loading->IsOwnVisible());
    RunLoopFor(700); // past the second: the stopped timer shows nothing
    EXPECT_FALSE(loading->IsOwnVisible());

    auto started = std::chrono::steady_clock::now();
    loading->ShowLoading();
    ASSERT_TRUE(TestInput::WaitFor([&] { return loading->IsOwnVisible(); }, 3000));
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(CLoadingUI::kDelayMs));
    CControlUI* text = loading->FindSubControl(u"Lb_LoadingText");
    ASSERT_NE(text, nullptr);
    std::vector<std::u16string> seen;
    ASSERT_TRUE(TestInput::WaitFor(
        [&] {
            if (seen.empty() || seen.back() != text->GetText().Str())
                seen.push_back(text->GetText().Str());
            return seen.size() >= 4;
        },
        3000));
    EXPECT_EQ(seen[0], u"加载中");
    EXPECT_EQ(seen[1], u"加载中 .");
    EXPECT_EQ(seen[2], u"加载中 . .");
    EXPECT_EQ(seen[3], u"加载中 . . .");
    loading->HideLoading();
    EXPECT_FALSE(loading->IsOwnVisible());
}

TEST_F(TileTest, FailureNoticeLeavesByItselfAfterOneAndAHalfSeconds)
{
    auto* fail = dialog.Get<CLoadingFailUI>(u"LoadingFail");
    auto started = std::chrono::steady_clock::now();
    fail->ShowFail();
    EXPECT_TRUE(fail->IsOwnVisible());
    ASSERT_TRUE(TestInput::WaitFor([&] { return !fail->IsOwnVisible(); }, 30000));
    auto shown = std::chrono::steady_clock::now() - started;
    EXPECT_GE(shown, std::chrono::milliseconds(CLoadingFailUI::kShowMs));
}

} // namespace
