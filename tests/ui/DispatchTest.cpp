// Input through real hit testing: clicks, options, tabs, lists, edits, links, wheel, trees, menus.

#include "UiTestSupport.h"

#include <cstdlib>

#include "ui/AnimationTabLayout.h"
#include "ui/Edit.h"
#include "ui/List.h"
#include "ui/MenuWnd.h"
#include "ui/MessageBox.h"
#include "ui/Option.h"
#include "ui/PaintManager.h"
#include "ui/TabLayout.h"
#include "ui/Text.h"
#include "ui/TreeView.h"

using namespace UiLib;
using uitest::CentreOf;
using uitest::TestDialog;

namespace {

const char16_t* kLayout = uR"(<Window size="500,400">
  <VerticalLayout name="root" bkcolor="#FFFFFFFF">
    <HorizontalLayout height="30">
      <Button name="Btn_A" text="A" width="80"/>
      <Button name="Btn_Off" text="off" width="80" enabled="false"/>
      <Option name="Opt_1" group="g" text="1" width="50" selected="true"/>
      <Option name="Opt_2" group="g" text="2" width="50"/>
      <Option name="Opt_3" group="g" text="3" width="50"/>
      <Option name="Opt_Check" text="check" width="80"/>
    </HorizontalLayout>
    <AnimationTabLayout name="Tab_Main" height="40">
      <Button name="Btn_Page0" text="page 0"/>
      <Button name="Btn_Page1" text="page 1"/>
      <Button name="Btn_Page2" text="page 2"/>
    </AnimationTabLayout>
    <Edit name="Ed_Search" height="30"/>
    <Edit name="Ed_ReadOnly" height="30" readonly="true" text="fixed"/>
    <Text name="Tx_Link" height="30" showhtml="true" text="&lt;a href='first'&gt;LINKLINK&lt;/a&gt; and &lt;a href='second'&gt;more&lt;/a&gt;"/>
    <HorizontalLayout height="150">
      <List name="Ls_Rows" multiselect="true" scrollstepsize="30"/>
      <TreeView name="Tv_Tree" width="200">
        <TreeNode name="TreeNode_Root" text="root" height="25">
          <TreeNode name="TreeNode_A" text="a" height="25"/>
          <TreeNode name="TreeNode_B" text="b" height="25"/>
        </TreeNode>
      </TreeView>
    </HorizontalLayout>
    <Label name="Lb_Under" text="under"/>
    <Button name="Btn_Float" float="true" pos="400,360,480,390" text="float"/>
  </VerticalLayout>
</Window>)";

class DispatchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dialog.onNotify = [this](TNotifyUI& msg) {
            if (msg.sType == u"selectchanged" && msg.pSender->GetName().Str().rfind(u"Opt_", 0) == 0 &&
                msg.pSender->GetName() != u"Opt_Check") {
                auto* tab = static_cast<CTabLayoutUI*>(dialog.Find(u"Tab_Main"));
                tab->SelectItem(msg.pSender->GetName()[4] - u'1');
            }
        };
        ASSERT_TRUE(dialog.Open());
        auto* list = static_cast<CListUI*>(dialog.Find(u"Ls_Rows"));
        for (int i = 0; i < 20; ++i) {
            auto* row = new CListLabelElementUI;
            row->SetName(CDuiString(u"Row_") + CDuiString::FromInt(i).Str());
            row->SetText(CDuiString::FromInt(i));
            row->SetFixedHeight(30);
            list->Add(row);
        }
        TestInput::ProcessEvents();
    }
    HWND Hwnd() { return dialog.GetHWND(); }
    template <class T> T* Get(std::u16string_view name) { return static_cast<T*>(dialog.Find(name)); }

    TestDialog dialog{kLayout};
};

} // namespace

TEST_F(DispatchTest, ClicksReachListenersOnlyForEnabledControlsReleasedInside)
{
    dialog.ClickOn(u"Btn_A");
    EXPECT_EQ(dialog.Count(u"click", u"Btn_A"), 1);

    dialog.ClickOn(u"Btn_Off");
    EXPECT_EQ(dialog.Count(u"click", u"Btn_Off"), 0);

    // Pressed on the button, released elsewhere: no click.
    TestInput::MouseDown(Hwnd(), CentreOf(dialog.Find(u"Btn_A")));
    TestInput::MouseMove(Hwnd(), CentreOf(dialog.Find(u"Lb_Under")));
    TestInput::MouseUp(Hwnd(), CentreOf(dialog.Find(u"Lb_Under")));
    EXPECT_EQ(dialog.Count(u"click", u"Btn_A"), 1);

    dialog.ClickOn(u"Btn_Float");
    EXPECT_EQ(dialog.Count(u"click", u"Btn_Float"), 1);
}

TEST_F(DispatchTest, ControlsRemovedByTheirOwnClickLeaveNothingDangling)
{
    // A handler that empties the list from a row's click, and renames an option in a group.
    dialog.onNotify = [this](TNotifyUI& msg) {
        if (msg.sType == u"itemclick")
            Get<CListUI>(u"Ls_Rows")->RemoveAll();
    };
    dialog.ClickOn(u"Row_1");
    EXPECT_EQ(Get<CListUI>(u"Ls_Rows")->GetCount(), 0);
    EXPECT_EQ(dialog.Find(u"Row_1"), nullptr);
    TestInput::Click(Hwnd(), CentreOf(dialog.Find(u"Ls_Rows")), true); // right click where rows were

    dialog.Find(u"Opt_2")->SetName(u"Opt_Two");
    EXPECT_EQ(dialog.Find(u"Opt_2"), nullptr);
    dialog.ClickOn(u"Opt_Two");
    EXPECT_FALSE(Get<COptionUI>(u"Opt_1")->IsSelected()); // still in its group
}

TEST_F(DispatchTest, HoverRepaintsOnlyTheHoveredControl)
{
    TestInput::MouseMove(Hwnd(), CentreOf(dialog.Find(u"Lb_Under")));
    TestInput::ProcessEvents();
    int before = dialog.GetPaintManager().GetPaintStats().nPaints;
    TestInput::MouseMove(Hwnd(), CentreOf(dialog.Find(u"Btn_A")));
    TestInput::ProcessEvents();
    const TPaintStats& stats = dialog.GetPaintManager().GetPaintStats();
    EXPECT_EQ(stats.nPaints, before + 1);
    EXPECT_EQ(stats.rcLastPaint, dialog.Find(u"Btn_A")->GetPos());
}

TEST_F(DispatchTest, HitTestingFindsTheDeepestVisibleControl)
{
    CPaintManagerUI& pm = dialog.GetPaintManager();
    EXPECT_EQ(pm.FindControl(CentreOf(dialog.Find(u"Btn_A"))), dialog.Find(u"Btn_A"));
    EXPECT_EQ(pm.FindControl(CentreOf(dialog.Find(u"Btn_Float"))), dialog.Find(u"Btn_Float")); // floats on top
    // The tab shows page 0 only: its point hits page 0, and hidden pages are never hit.
    POINT tabPoint = CentreOf(dialog.Find(u"Tab_Main"));
    EXPECT_EQ(pm.FindControl(tabPoint), dialog.Find(u"Btn_Page0"));
    EXPECT_EQ(pm.FindControl(POINT{-5, -5}), nullptr);
    EXPECT_EQ(pm.FindControl(u"Btn_Page2"), dialog.Find(u"Btn_Page2"));
    EXPECT_EQ(pm.FindControl(u"NoSuchName"), nullptr);
}

TEST_F(DispatchTest, OptionGroupKeepsOneSelectedAndSwitchesTabs)
{
    auto* tab = Get<CAnimationTabLayoutUI>(u"Tab_Main");
    dialog.ClickOn(u"Opt_2");
    EXPECT_TRUE(Get<COptionUI>(u"Opt_2")->IsSelected());
    EXPECT_FALSE(Get<COptionUI>(u"Opt_1")->IsSelected());
    EXPECT_EQ(dialog.Count(u"selectchanged", u"Opt_2"), 1);
    EXPECT_EQ(dialog.Count(u"selectchanged", u"Opt_1"), 0); // the cleared one stays quiet
    EXPECT_EQ(tab->GetCurSel(), 1);
    EXPECT_TRUE(dialog.Find(u"Btn_Page1")->IsVisible());
    EXPECT_FALSE(dialog.Find(u"Btn_Page0")->IsVisible());
    EXPECT_EQ(dialog.Count(u"tabselect", u"Tab_Main"), 1);

    // Clicking the selected option again changes nothing.
    dialog.ClickOn(u"Opt_2");
    EXPECT_EQ(dialog.Count(u"selectchanged", u"Opt_2"), 1);

    dialog.ClickOn(u"Opt_3");
    EXPECT_EQ(tab->GetCurSel(), 2);
    ASSERT_TRUE(TestInput::WaitFor([&] { return !tab->IsAnimating(); }));
    dialog.GetPaintManager().UpdateLayout();
    EXPECT_EQ(dialog.GetPaintManager().FindControl(CentreOf(tab)), dialog.Find(u"Btn_Page2"));
    EXPECT_FALSE(tab->SelectItem(7));

    // An option outside a group toggles.
    dialog.ClickOn(u"Opt_Check");
    dialog.ClickOn(u"Opt_Check");
    EXPECT_FALSE(Get<COptionUI>(u"Opt_Check")->IsSelected());
    EXPECT_EQ(dialog.Count(u"selectchanged", u"Opt_Check"), 2);
}

TEST_F(DispatchTest, ListSelectsRowsAndCtrlClickAddsToTheSelection)
{
    auto* list = Get<CListUI>(u"Ls_Rows");
    dialog.ClickOn(u"Row_2");
    EXPECT_EQ(list->GetCurSel(), 2);
    ASSERT_EQ(dialog.Count(u"itemselect", u"Ls_Rows"), 1);
    EXPECT_EQ(dialog.notes[dialog.notes.size() - 2].wParam, 2u); // itemselect, then itemclick
    EXPECT_EQ(dialog.Count(u"itemclick", u"Row_2"), 1);

    TestInput::Click(Hwnd(), CentreOf(dialog.Find(u"Row_3")), false, true);
    EXPECT_EQ(list->GetSelectedIndexes(), (std::vector<int>{2, 3}));
    TestInput::Click(Hwnd(), CentreOf(dialog.Find(u"Row_2")), false, true);
    EXPECT_EQ(list->GetSelectedIndexes(), (std::vector<int>{3}));

    dialog.ClickOn(u"Row_0");
    EXPECT_EQ(list->GetSelectedIndexes(), (std::vector<int>{0}));
}

TEST_F(DispatchTest, WheelScrollsByTheStepAndHitTestingFollows)
{
    auto* list = Get<CListUI>(u"Ls_Rows");
    POINT inside = CentreOf(list);
    CControlUI* before = dialog.GetPaintManager().FindControl(inside);
    TestInput::Wheel(Hwnd(), inside, -120);
    EXPECT_EQ(list->GetScrollPos().cy, 30);
    CControlUI* after = dialog.GetPaintManager().FindControl(inside);
    ASSERT_NE(before, nullptr);
    ASSERT_NE(after, nullptr);
    EXPECT_EQ(list->GetItemIndex(after), list->GetItemIndex(before) + 1);
    for (int i = 0; i < 50; ++i)
        TestInput::Wheel(Hwnd(), inside, -120);
    EXPECT_EQ(list->GetScrollPos().cy, list->GetScrollRange().cy); // stops at the end
    TestInput::Wheel(Hwnd(), inside, 120);
    EXPECT_EQ(list->GetScrollPos().cy, list->GetScrollRange().cy - 30);
}

TEST_F(DispatchTest, EditTakesTypedTextAndReportsReturn)
{
    auto* edit = Get<CEditUI>(u"Ed_Search");
    dialog.ClickOn(u"Ed_Search");
    ASSERT_TRUE(edit->IsEditing());
    TestInput::TypeText(Hwnd(), u"雾岛");
    EXPECT_EQ(edit->GetText(), CDuiString(u"雾岛"));
    EXPECT_EQ(dialog.Count(u"textchanged", u"Ed_Search"), 2) << "one change per typed character";
    TestInput::Key(Hwnd(), VK_RETURN);
    EXPECT_EQ(dialog.Count(u"return", u"Ed_Search"), 1);

    dialog.ClickOn(u"Lb_Under");
    EXPECT_FALSE(edit->IsEditing());
    EXPECT_EQ(edit->GetText(), CDuiString(u"雾岛"));

    auto* fixed = Get<CEditUI>(u"Ed_ReadOnly");
    dialog.ClickOn(u"Ed_ReadOnly");
    TestInput::TypeText(Hwnd(), u"x");
    EXPECT_EQ(fixed->GetText(), CDuiString(u"fixed"));
}

TEST_F(DispatchTest, ClickingALinkReportsItsIndex)
{
    auto* text = Get<CTextUI>(u"Tx_Link");
    EXPECT_EQ(text->GetLinkCount(), 2);
    EXPECT_EQ(text->GetLinkContent(1), CDuiString(u"second"));
    RECT rc = text->GetPos();
    TestInput::Click(Hwnd(), POINT{rc.left + 8, rc.top + 8});
    ASSERT_EQ(dialog.Count(u"link", u"Tx_Link"), 1);
    EXPECT_EQ(dialog.notes.back().wParam, 0u);
    TestInput::Click(Hwnd(), POINT{rc.right - 5, rc.bottom - 5}); // no link there
    EXPECT_EQ(dialog.Count(u"link"), 1);
}

TEST_F(DispatchTest, TreeNodesFoldAndUnfold)
{
    auto* root = Get<CTreeNodeUI>(u"TreeNode_Root");
    ASSERT_EQ(root->GetCountChild(), 2);
    EXPECT_EQ(root->GetChildNode(1)->GetTreeLevel(), 1);
    EXPECT_TRUE(dialog.Find(u"TreeNode_A")->IsVisible());
    RECT rc = root->GetPos();
    TestInput::Click(Hwnd(), POINT{rc.left + 14, (rc.top + rc.bottom) / 2}); // the arrow
    EXPECT_FALSE(root->IsExpanded());
    EXPECT_FALSE(dialog.Find(u"TreeNode_A")->IsVisible());
    auto* extra = new CTreeNodeUI;
    extra->SetName(u"TreeNode_C");
    root->AddChildNode(extra);
    EXPECT_FALSE(extra->IsVisible());
    root->SetExpand(true);
    EXPECT_TRUE(extra->IsVisible());
    auto* tree = Get<CTreeViewUI>(u"Tv_Tree");
    EXPECT_EQ(tree->GetItemIndex(extra), 3);
}

TEST_F(DispatchTest, MenuReportsTheChosenItemToItsOwner)
{
    std::u16string chosen;
    dialog.onMessage = [&](UINT msg, WPARAM w, LPARAM) {
        if (msg != WM_USER + 21)
            return false;
        std::unique_ptr<CDuiString> name(reinterpret_cast<CDuiString*>(w));
        chosen = name->Str();
        return true;
    };
    CMenuWnd* menu = CMenuWnd::Show(Hwnd(), u"skin\\xmls\\Menu.xml", POINT{50, 50}, WM_USER + 21);
    ASSERT_NE(menu, nullptr);
    HWND menuWnd = menu->GetHWND();
    TestInput::ProcessEvents();
    // The menu's body has a 4-pixel inset and entries 30 pixels high: the second entry's middle.
    TestInput::Click(menuWnd, POINT{75, 4 + 30 + 15});
    ASSERT_TRUE(TestInput::WaitFor([&] { return !chosen.empty() && !IsWindow(menuWnd); }));
    EXPECT_EQ(chosen, u"Menu_Exit");
}

TEST_F(DispatchTest, MessageBoxShowsTheTextAndAnswersTheButtonPressed)
{
    HWND box = nullptr;
    TestInput::TestImage picture;
    dialog.onMessage = [&](UINT msg, WPARAM, LPARAM) {
        if (msg != WM_USER + 7)
            return false;
        box = FindWindow(u"MessageBoxFrame", u"提示");
        if (box != nullptr) {
            picture = TestInput::Grab(box);
            if (const char* keep = std::getenv("QUOKKA_MESSAGEBOX_PNG"))
                TestInput::SaveImage(box, keep);
            // Yes and No sit at the bottom right: No is the last 84 pixels before an 18-pixel margin.
            TestInput::Click(box, POINT{380 - 18 - 42, 190 - 18 - 16});
        }
        return true;
    };
    dialog.PostMessage(WM_USER + 7);
    EXPECT_EQ(MessageBox(Hwnd(), u"有下载任务进行中是否退出", u"提示", MB_YESNO), IDNO);
    ASSERT_NE(box, nullptr);
    EXPECT_FALSE(IsWindow(box));
    ASSERT_EQ(picture.width, 380);
    EXPECT_TRUE(uitest::Near(uitest::Rgb(picture.Pixel(200, 10)), 0x2479E4)); // caption band
    EXPECT_TRUE(uitest::Near(uitest::Rgb(picture.Pixel(380 - 18 - 84 - 10 - 84 + 6, 190 - 18 - 16)),
                             0x2479E4)); // Yes
}

TEST(MessageBoxTest, AnswerersStandInForTheDialogs)
{
    CDuiString seenText, seenCaption;
    UINT seenType = 0;
    SetMessageBoxAnswerer([&](HWND, const CDuiString& text, const CDuiString& caption, UINT type) {
        seenText = text;
        seenCaption = caption;
        seenType = type;
        return IDNO;
    });
    EXPECT_EQ(MessageBox(nullptr, u"有下载任务进行中是否退出", u"提示", MB_YESNO), IDNO);
    EXPECT_EQ(seenText, CDuiString(u"有下载任务进行中是否退出"));
    EXPECT_EQ(seenCaption, CDuiString(u"提示"));
    EXPECT_EQ(seenType, MB_YESNO);
    SetMessageBoxAnswerer(nullptr);

    SetFolderAnswerer([](HWND, const CDuiString&, CDuiString& folder) {
        folder = u"/games/";
        return true;
    });
    CDuiString folder;
    EXPECT_TRUE(BrowseForFolder(nullptr, u"选择目录", folder));
    EXPECT_EQ(folder, CDuiString(u"/games/"));
    SetFolderAnswerer(nullptr);
}
