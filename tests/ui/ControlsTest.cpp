// Control behaviour that needs no input: strings, tab pages, progress, text measuring, rich text
// scrolling, and a damaged skin archive.

#include "UiTestSupport.h"

#include "ui/DialogBuilder.h"
#include "ui/PaintManager.h"
#include "ui/Progress.h"
#include "ui/RenderEngine.h"
#include "ui/Resources.h"
#include "ui/RichEdit.h"
#include "ui/TabLayout.h"

using namespace UiLib;

TEST(ControlsTest, DuiStringHoldsUtf16AndEditsIt)
{
    CDuiString text = CDuiString::FromUtf8("动作游戏 Action");
    EXPECT_EQ(text.GetLength(), 11);
    EXPECT_EQ(text.ToUtf8(), "动作游戏 Action");
    EXPECT_EQ(text.Find(u"游戏"), 2);
    EXPECT_EQ(text.Mid(5), CDuiString(u"Action"));
    EXPECT_EQ(text.Left(2), CDuiString(u"动作"));
    EXPECT_EQ(text.Right(3), CDuiString(u"ion"));
    EXPECT_EQ(text.Mid(50), CDuiString());
    EXPECT_EQ(text.CompareNoCase(u"动作游戏 ACTION"), 0);
    EXPECT_EQ(text.Replace(u"游戏", u""), 1);
    EXPECT_EQ(text, CDuiString(u"动作 Action"));
    EXPECT_EQ(text.GetAt(99), u'\0');
    EXPECT_EQ(ParseInt(u" -42px"), -42);
    EXPECT_EQ(ParseInt(u"none", 7), 7);
    EXPECT_EQ(ParseBoundedInt(u"99999999999"), 100000);
}

TEST(ControlsTest, TabLayoutHonoursSelectedIdGivenBeforeItsPages)
{
    CDialogBuilder builder;
    std::unique_ptr<CControlUI> root(builder.Create(uR"(<TabLayout selectedid="2">
        <Control name="p0"/><Control name="p1"/><Control name="p2"/></TabLayout>)"));
    ASSERT_TRUE(root);
    auto* tab = static_cast<CTabLayoutUI*>(root.get());
    EXPECT_EQ(tab->GetCurSel(), 2);
    EXPECT_FALSE(tab->GetItemAt(0)->IsVisible());
    EXPECT_TRUE(tab->GetItemAt(2)->IsVisible());
    EXPECT_TRUE(tab->Remove(tab->GetItemAt(2)));
    EXPECT_EQ(tab->GetCurSel(), 0); // the selected page went: the first one shows
    EXPECT_TRUE(tab->GetItemAt(0)->IsVisible());
}

TEST(ControlsTest, ProgressKeepsItsValueInRange)
{
    CProgressUI progress;
    progress.SetMaxValue(200);
    progress.SetValue(250);
    EXPECT_EQ(progress.GetValue(), 200);
    progress.SetValue(-5);
    EXPECT_EQ(progress.GetValue(), 0);
    progress.SetMinValue(10);
    EXPECT_EQ(progress.GetValue(), 10);
    progress.SetMaxValue(5); // never below the minimum
    EXPECT_EQ(progress.GetMaxValue(), 10);
}

TEST(ControlsTest, TextMeasuringWrapsChineseAndGrowsWithText)
{
    CPaintManagerUI pm;
    SIZE one = CRenderEngine::GetTextSize(nullptr, &pm, u"加载中", -1, DT_SINGLELINE);
    SIZE two = CRenderEngine::GetTextSize(nullptr, &pm, u"加载中加载中", -1, DT_SINGLELINE);
    EXPECT_GT(one.cx, 0);
    EXPECT_NEAR(two.cx, 2 * one.cx, 2);
    EXPECT_EQ(one.cy, two.cy);
    std::u16string longText(40, u'游');
    SIZE wrapped = CRenderEngine::GetTextSize(nullptr, &pm, longText, -1, DT_WORDBREAK, 100);
    EXPECT_LE(wrapped.cx, 100);
    EXPECT_GE(wrapped.cy, 5 * one.cy); // 40 characters of ~13 px in 100 px: at least 5 lines
    RECT rc{0, 0, 100, 0};
    CRenderEngine::DrawText(nullptr, &pm, rc, longText, 0, -1, DT_WORDBREAK | DT_CALCRECT);
    EXPECT_EQ(rc.Height(), wrapped.cy);
}

TEST(ControlsTest, RichTextScrollsByWheelWhenLongerThanItsBox)
{
    uitest::TestDialog dialog(uR"(<Window size="200,120"><VerticalLayout>
        <RichEdit name="Rd_Text" scrollstepsize="20"/></VerticalLayout></Window>)");
    ASSERT_TRUE(dialog.Open());
    auto* rich = static_cast<CRichEditUI*>(dialog.Find(u"Rd_Text"));
    rich->SetText(CDuiString(std::u16string(600, u'字')));
    dialog.GetPaintManager().UpdateLayout();
    EXPECT_GT(rich->GetTextHeight(), 120);
    ASSERT_GT(rich->GetScrollRange().cy, 0);
    TestInput::Wheel(dialog.GetHWND(), uitest::CentreOf(rich), -120);
    EXPECT_EQ(rich->GetScrollPos().cy, 20);
    rich->SetText(u"短");
    dialog.GetPaintManager().UpdateLayout();
    EXPECT_EQ(rich->GetScrollRange().cy, 0);
}

TEST(ControlsTest, DamagedSkinArchiveIsRefusedAndLooseFilesStillServe)
{
    const void* data = nullptr;
    size_t size = 0;
    ASSERT_TRUE(FindResource(kResourceZip, kSkinResourceId, data, size));
    std::string original(static_cast<const char*>(data), size);
    std::string damaged = original.substr(0, original.size() / 2);
    EXPECT_FALSE(CPaintManagerUI::SetResourceZip(damaged.data(), damaged.size()));
    std::string bytes;
    EXPECT_FALSE(CPaintManagerUI::LoadSkinFile(u"skin/xmls/Menu.xml", bytes));  // only in the archive
    EXPECT_TRUE(CPaintManagerUI::LoadSkinFile(u"skin/ui/check_on.png", bytes)); // on disk
    EXPECT_TRUE(CPaintManagerUI::SetResourceZip(original.data(), original.size()));
    EXPECT_TRUE(CPaintManagerUI::LoadSkinFile(u"skin/xmls/Menu.xml", bytes));
}
