// Toolkit pieces through real dispatch: tree nodes removed and rebuilt, rows that react to their
// selection, link markup, file drops on a control, horizontal scrolling, fore images, point
// conversion, centred layouts, and test waits that sleep.

#include "UiTestSupport.h"

#include <time.h>

#include <atomic>
#include <thread>

#include "ui/List.h"
#include "ui/PaintManager.h"
#include "ui/ScrollBar.h"
#include "ui/Text.h"
#include "ui/TreeView.h"
#include "ui/WindowWnd.h"

using namespace UiLib;
using uitest::CentreOf;
using uitest::TestDialog;

namespace {

const char16_t* kLayout = uR"(<Window size="400,400">
  <Font id="0" name="Noto Sans CJK SC" size="18" bold="true"/>
  <VerticalLayout bkcolor="#FFFFFFFF">
    <TreeView name="Tv_Platforms" height="120"/>
    <List name="Ls_Rows" height="100"/>
    <Text name="Tx_Markup" height="30" showhtml="true" text="see &lt;f 0&gt;&lt;a&gt;GOHERE&lt;/a&gt;&lt;/f&gt; or &lt;a href='tgt'&gt;other&lt;/a&gt;"/>
    <HorizontalLayout name="Hl_Strip" height="40" hscrollbar="true" scrollstepsize="25">
      <Control width="150" bkcolor="#FF0000FF"/>
      <Control width="150" bkcolor="#FF00FF00"/>
      <Control width="150" bkcolor="#FFFF0000"/>
    </HorizontalLayout>
    <HorizontalLayout height="40">
      <VerticalLayout name="Vl_Drop" acceptdrop="true" bkcolor="#FFEEEEEE">
        <Label name="Lb_InDrop" text="drop here"/>
      </VerticalLayout>
      <Label name="Lb_NoDrop" text="not here"/>
    </HorizontalLayout>
    <Label name="Lb_Fore" height="30" foreimage="skin/ui/btn_normal.png"/>
    <VerticalLayout height="30" halign="center">
      <Control name="Ctr_Centred" width="100" height="30"/>
    </VerticalLayout>
    <Control/>
  </VerticalLayout>
</Window>)";

// A row that grows while selected.
class GrowingRow : public CListContainerElementUI {
public:
    void OnSelectChanged(bool selected) override
    {
        ++changes;
        SetFixedHeight(selected ? 50 : 20);
    }
    int changes = 0;
};

class PiecesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dialog.Open()); }
    template <class T> T* Get(std::u16string_view name)
    {
        auto* control = dynamic_cast<T*>(dialog.Find(name));
        EXPECT_NE(control, nullptr);
        return control;
    }
    HWND Hwnd() const { return dialog.GetHWND(); }

    TestDialog dialog{kLayout};
};

CTreeNodeUI* MakeNode(const char16_t* text)
{
    auto* node = new CTreeNodeUI; // owned by the tree it joins
    node->SetText(text);
    node->SetFixedHeight(20);
    return node;
}

} // namespace

TEST_F(PiecesTest, TreeNodesRebuiltManyTimesLeaveNoRowBehind)
{
    auto* tree = Get<CTreeViewUI>(u"Tv_Platforms");
    CTreeNodeUI* root = MakeNode(u"platforms");
    ASSERT_TRUE(tree->Add(root));
    for (int round = 0; round < 30; ++round) {
        root->RemoveAllChildNodes();
        ASSERT_EQ(tree->GetCount(), 1);
        for (int i = 0; i < 17; ++i) {
            CTreeNodeUI* node = MakeNode(u"platform");
            ASSERT_TRUE(root->AddChildNode(node));
            if (i % 4 == 0)
                node->AddChildNode(MakeNode(u"emulator")); // grandchildren go with their parent
        }
        ASSERT_EQ(tree->GetCount(), 1 + 17 + 5);
        // Select, hover and paint the rebuilt rows: every row the tree shows is alive.
        TestInput::Click(Hwnd(), POINT{CentreOf(tree).x, tree->GetPos().top + 30});
        TestInput::MouseMove(Hwnd(), POINT{CentreOf(tree).x, tree->GetPos().top + 50});
        TestInput::Grab(Hwnd());
    }
    // One node with its subtree out of the view, handed back whole.
    CTreeNodeUI* second = root->GetChildNode(0);
    ASSERT_EQ(second->GetCountChild(), 1);
    ASSERT_TRUE(tree->Remove(second, true));
    EXPECT_EQ(second->GetParentNode(), nullptr);
    EXPECT_EQ(second->GetTreeView(), nullptr);
    EXPECT_EQ(second->GetCountChild(), 1);
    EXPECT_EQ(root->GetCountChild(), 16);
    EXPECT_EQ(tree->GetCount(), 1 + 16 + 4);
    delete second; // takes its child with it
    // Removing a child row directly through the view takes it out of its parent node too.
    CTreeNodeUI* last = root->GetChildNode(15);
    ASSERT_TRUE(tree->Remove(last));
    EXPECT_EQ(root->GetCountChild(), 15);
    // Removing the root removes everything under it.
    ASSERT_TRUE(tree->Remove(root));
    EXPECT_EQ(tree->GetCount(), 0);
    TestInput::Grab(Hwnd());
}

TEST_F(PiecesTest, ARowReactsToItsOwnSelectionAndTheListMakesRoom)
{
    auto* list = Get<CListUI>(u"Ls_Rows");
    auto* first = new GrowingRow; // owned by the list
    auto* second = new GrowingRow;
    first->SetFixedHeight(20);
    second->SetFixedHeight(20);
    list->Add(first);
    list->Add(second);
    dialog.GetPaintManager().UpdateLayout();
    TestInput::Click(Hwnd(), CentreOf(first));
    dialog.GetPaintManager().UpdateLayout();
    EXPECT_EQ(first->changes, 1);
    EXPECT_EQ(first->GetHeight(), 50);
    EXPECT_EQ(second->GetPos().top, first->GetPos().bottom);
    TestInput::Click(Hwnd(), CentreOf(second));
    dialog.GetPaintManager().UpdateLayout();
    EXPECT_EQ(first->changes, 2);
    EXPECT_EQ(first->GetHeight(), 20);
    EXPECT_EQ(second->GetHeight(), 50);
    EXPECT_EQ(dialog.Count(u"itemselect", u"Ls_Rows"), 2);
}

TEST_F(PiecesTest, LinkMarkupWithAFontAndWithoutATargetSendsTheLinkText)
{
    auto* text = Get<CTextUI>(u"Tx_Markup");
    ASSERT_EQ(text->GetLinkCount(), 2);
    EXPECT_EQ(text->GetLinkText(0), CDuiString(u"GOHERE"));
    EXPECT_EQ(text->GetLinkContent(0), CDuiString(u"GOHERE")); // no target: its own text
    EXPECT_EQ(text->GetLinkContent(1), CDuiString(u"tgt"));
    EXPECT_EQ(text->GetLinkText(1), CDuiString(u"other"));

    CDuiString received;
    dialog.onNotify = [&](TNotifyUI& msg) {
        if (msg.sType == u"link")
            received = *reinterpret_cast<const CDuiString*>(msg.lParam);
    };
    // Find the first link's rectangle by walking along the line, then click there.
    RECT rc = text->GetPos();
    int y = (rc.top + rc.bottom) / 2;
    int x = rc.left;
    while (x < rc.right && text->HitTestLink(POINT{x, y}) != 0)
        ++x;
    ASSERT_LT(x, rc.right) << "the link is not on the line";
    TestInput::Click(Hwnd(), POINT{x + 3, y});
    ASSERT_EQ(dialog.Count(u"link", u"Tx_Markup"), 1);
    EXPECT_EQ(dialog.notes.back().wParam, 0u);
    EXPECT_EQ(received, CDuiString(u"GOHERE"));
    // The font of <f 0> (18 px bold) makes the link taller than the 13 px text beside it.
    EXPECT_NE(text->HitTestLink(POINT{x + 3, y}), -1);
    EXPECT_EQ(text->HitTestLink(POINT{rc.left + 1, y}), -1);
}

// A link in text drawn in the middle (or at the bottom) of a tall control is found where it is
// drawn: the click lands on the link's own blue pixels.
TEST(TextLinkTest, ALinkInCentredTextIsHitWhereItIsDrawn)
{
    for (const char16_t* align : {u"center", u"bottom"}) {
        SCOPED_TRACE(CDuiString(align).ToUtf8());
        TestDialog dialog(CDuiString(uR"(<Window size="300,200"><VerticalLayout bkcolor="#FFFFFFFF">
            <Text name="Tx_Link" height="160" align="center" valign=")") +
                          align +
                          uR"(" showhtml="true" text="&lt;a&gt;重试&lt;/a&gt;"/></VerticalLayout></Window>)");
        ASSERT_TRUE(dialog.Open());
        CControlUI* text = dialog.Find(u"Tx_Link");
        const RECT rc = text->GetPos();
        const TestInput::TestImage image = TestInput::Grab(dialog.GetHWND());
        ASSERT_FALSE(image.IsNull());
        POINT drawn{-1, -1};
        for (int y = rc.top; y < rc.bottom && drawn.x < 0; ++y)
            for (int x = rc.left; x < rc.right && drawn.x < 0; ++x) {
                const std::uint32_t pixel = image.Pixel(x, y);
                if ((pixel & 0xff) > 0xb0 && ((pixel >> 16) & 0xff) < 0x60) // the link's blue
                    drawn = POINT{x, y};
            }
        ASSERT_GE(drawn.x, 0) << "the link is drawn";
        EXPECT_GT(drawn.y, rc.top + 40) << "drawn away from the top";
        TestInput::Click(dialog.GetHWND(), drawn);
        EXPECT_EQ(dialog.Count(u"link", u"Tx_Link"), 1);
        dialog.Close();
    }
}

TEST_F(PiecesTest, FilesDropOnTheAcceptingControlUnderTheCursorOnly)
{
    auto* target = dialog.Find(u"Vl_Drop");
    std::vector<std::string> files{uitest::ImageFolder() + "skin/ui/icon_a.png",
                                   uitest::ImageFolder() + "skin/ui/中文 名.png"};
    std::vector<CDuiString> dropped;
    dialog.onNotify = [&](TNotifyUI& msg) {
        if (msg.sType == u"dropfiles") {
            const auto* drop = reinterpret_cast<const TDropFiles*>(msg.lParam);
            dropped = drop->files;
            EXPECT_EQ(msg.wParam, drop->files.size());
        }
    };
    POINT outside = CentreOf(dialog.Find(u"Lb_NoDrop"));
    POINT inside = CentreOf(dialog.Find(u"Lb_InDrop"));        // a label inside the accepting layout
    EXPECT_TRUE(TestInput::DragEnter(Hwnd(), outside, files)); // a target, though not at that point
    EXPECT_FALSE(TestInput::DragMove(Hwnd(), outside, files));
    EXPECT_TRUE(TestInput::DragMove(Hwnd(), inside, files));
    EXPECT_FALSE(TestInput::DragMove(Hwnd(), outside, files));
    TestInput::DragLeave(Hwnd());
    EXPECT_EQ(dialog.Count(u"dropfiles"), 0);

    ASSERT_TRUE(TestInput::DragEnter(Hwnd(), inside, files));
    EXPECT_TRUE(TestInput::Drop(Hwnd(), inside, files));
    ASSERT_EQ(dialog.Count(u"dropfiles", u"Vl_Drop"), 1);
    ASSERT_EQ(dropped.size(), 2u);
    EXPECT_EQ(dropped[0].ToUtf8(), files[0]);
    EXPECT_EQ(dropped[1].ToUtf8(), files[1]);

    // Files dropped where no control takes them are refused.
    ASSERT_TRUE(TestInput::DragEnter(Hwnd(), outside, files));
    EXPECT_FALSE(TestInput::Drop(Hwnd(), outside, files));
    // A disabled control takes nothing; a drop that is not files is refused.
    target->SetEnabled(false);
    EXPECT_FALSE(TestInput::DragEnter(Hwnd(), inside, files));
    target->SetEnabled(true);
    EXPECT_FALSE(TestInput::DragEnter(Hwnd(), inside, {}));
    EXPECT_EQ(dialog.Count(u"dropfiles"), 1);
}

TEST_F(PiecesTest, HorizontalContainersStepByTheScrollStepAndTakeTheWheelSideways)
{
    auto* strip = dynamic_cast<CContainerUI*>(dialog.Find(u"Hl_Strip"));
    ASSERT_NE(strip, nullptr);
    dialog.GetPaintManager().UpdateLayout();
    int range = strip->GetScrollRange().cx;
    ASSERT_EQ(range, 450 - strip->GetWidth());
    CControlUI* firstChild = strip->GetItemAt(0);
    int left = firstChild->GetPos().left;

    strip->LineRight();
    EXPECT_EQ(strip->GetScrollPos().cx, 25);
    EXPECT_EQ(firstChild->GetPos().left, left - 25);
    strip->LineLeft();
    EXPECT_EQ(strip->GetScrollPos().cx, 0);
    strip->EndRight();
    EXPECT_EQ(strip->GetScrollPos().cx, range);
    strip->HomeLeft();

    // A container that scrolls only sideways takes the plain wheel; Shift does the same.
    POINT over = CentreOf(strip);
    TestInput::Wheel(Hwnd(), over, -120);
    EXPECT_EQ(strip->GetScrollPos().cx, 25);
    TestInput::ShiftWheel(Hwnd(), over, -120);
    EXPECT_EQ(strip->GetScrollPos().cx, 50);
    TestInput::ShiftWheel(Hwnd(), over, 120);
    EXPECT_EQ(strip->GetScrollPos().cx, 25);

    // A press on the bar's track pages sideways.
    dialog.GetPaintManager().UpdateLayout();
    CScrollBarUI* bar = strip->GetHorizontalScrollBar();
    ASSERT_NE(bar, nullptr);
    RECT track = bar->GetPos();
    TestInput::Click(Hwnd(), POINT{track.right - 2, (track.top + track.bottom) / 2});
    EXPECT_EQ(strip->GetScrollPos().cx, range);
}

TEST_F(PiecesTest, ForeImagesPaintOverTheBackgroundAndPointsConvert)
{
    auto* label = Get<CLabelUI>(u"Lb_Fore");
    POINT mid = CentreOf(label);
    std::uint32_t accent = 0x2479E4;
    EXPECT_TRUE(uitest::Near(uitest::Rgb(TestInput::Grab(Hwnd()).Pixel(mid.x, mid.y)), accent));
    label->SetForeImage({});
    EXPECT_TRUE(uitest::Near(uitest::Rgb(TestInput::Grab(Hwnd()).Pixel(mid.x, mid.y)), 0xFFFFFF));
    label->SetForeImage(u"skin/ui/btn_normal.png");
    EXPECT_EQ(label->GetForeImage(), CDuiString(u"skin/ui/btn_normal.png"));

    POINT pt{15, 25};
    ASSERT_TRUE(ClientToScreen(Hwnd(), pt));
    RECT window = dialog.GetWindowRect();
    EXPECT_EQ(pt.x, window.left + 15);
    ASSERT_TRUE(ScreenToClient(Hwnd(), pt));
    EXPECT_EQ(pt.x, 15);
    EXPECT_EQ(pt.y, 25);
    EXPECT_FALSE(ScreenToClient(nullptr, pt));
}

TEST_F(PiecesTest, AVerticalLayoutCentresFixedWidthChildrenWhenAsked)
{
    CControlUI* centred = dialog.Find(u"Ctr_Centred");
    ASSERT_NE(centred, nullptr);
    const RECT& parent = centred->GetParent()->GetPos();
    EXPECT_EQ(centred->GetWidth(), 100);
    EXPECT_EQ(centred->GetPos().left - parent.left, parent.right - centred->GetPos().right);
}

TEST(TestWaitTest, AWaitSleepsInsteadOfSpinning)
{
    TestInput::ProcessEvents();
    timespec before{}, after{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &before);
    EXPECT_FALSE(TestInput::WaitFor([] { return false; }, 300));
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &after);
    double cpuMs = (after.tv_sec - before.tv_sec) * 1e3 + (after.tv_nsec - before.tv_nsec) / 1e6;
    EXPECT_LT(cpuMs, 100.0) << "a 300 ms wait kept the thread busy";

    // A condition set by another thread without any event is still seen promptly.
    std::atomic<bool> flag{false};
    std::thread setter([&] { flag = true; });
    EXPECT_TRUE(TestInput::WaitFor([&] { return flag.load(); }, 3000));
    setter.join();
}
