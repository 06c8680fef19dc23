// Layouts: the skin archive, builder callbacks, defaults and fonts, image strings, and bad input.

#include "UiTestSupport.h"

#include <QColor>
#include <QImage>

#include "ui/AnimationTabLayout.h"
#include "ui/Button.h"
#include "ui/DialogBuilder.h"
#include "ui/Edit.h"
#include "ui/GifAnim.h"
#include "ui/Label.h"
#include "ui/List.h"
#include "ui/MenuWnd.h"
#include "ui/Option.h"
#include "ui/PaintManager.h"
#include "ui/Progress.h"
#include "ui/RenderEngine.h"
#include "ui/RichEdit.h"
#include "ui/ScrollBar.h"
#include "ui/TabLayout.h"
#include "ui/Text.h"
#include "ui/TileLayout.h"
#include "ui/TreeView.h"

using namespace UiLib;
using uitest::TestDialog;

namespace {

// A control of the program's own, made by the builder callback.
class CBadgeUI : public CButtonUI {
public:
    LPCTSTR GetClass() const override { return u"ButtonUIEx"; }
    void SetAttribute(std::u16string_view name, std::u16string_view value) override
    {
        if (name == u"NumBkImage")
            numBkImage = CDuiString(value);
        else
            CButtonUI::SetAttribute(name, value);
    }
    CDuiString numBkImage;
};

} // namespace

TEST(BuilderTest, LayoutsComeFromTheSkinArchiveWithEitherSeparator)
{
    std::string a, b;
    ASSERT_TRUE(CPaintManagerUI::LoadSkinFile(u"skin\\xmls\\Menu.xml", a));
    ASSERT_TRUE(CPaintManagerUI::LoadSkinFile(u"skin/xmls/Menu.xml", b));
    EXPECT_EQ(a, b);
    EXPECT_NE(a.find("Menu_Exit"), std::string::npos);
    std::string none;
    EXPECT_FALSE(CPaintManagerUI::LoadSkinFile(u"skin\\xmls\\Missing.xml", none));
}

TEST(BuilderTest, UnknownTagsGoToTheCallbackAndUnmadeOnesAreSkipped)
{
    TestDialog dialog(uR"(<Window size="300,200"><VerticalLayout>
        <ButtonEx name="Btn_DownLoad" NumBkImage="file='skin/ui/badge.png'" height="30"/>
        <Mystery name="Nobody"><Label name="Lb_Inside"/></Mystery>
        <Label name="Lb_After" text="after"/>
      </VerticalLayout></Window>)");
    std::vector<std::u16string> asked;
    dialog.factory = [&](std::u16string_view tag) -> CControlUI* {
        asked.emplace_back(tag);
        return EqualsNoCase(tag, u"ButtonEx") ? new CBadgeUI : nullptr;
    };
    ASSERT_TRUE(dialog.Open());
    EXPECT_EQ(asked, (std::vector<std::u16string>{u"ButtonEx", u"Mystery"}));
    auto* badge = static_cast<CBadgeUI*>(dialog.Find(u"Btn_DownLoad"));
    ASSERT_NE(badge, nullptr);
    EXPECT_EQ(badge->numBkImage, CDuiString(u"file='skin/ui/badge.png'"));
    EXPECT_EQ(dialog.Find(u"Nobody"), nullptr);
    EXPECT_EQ(dialog.Find(u"Lb_Inside"), nullptr);
    EXPECT_NE(dialog.Find(u"Lb_After"), nullptr);
}

TEST(BuilderTest, WindowFontAndDefaultEntriesApply)
{
    TestDialog dialog(
        uR"(<Window size="320,240" caption="0,0,0,70" roundcorner="6,6" sizebox="4,4,4,4" mininfo="300,200">
        <Font id="0" name="Noto Sans CJK SC" size="14" default="true"/>
        <Font id="1" name="Noto Sans CJK SC" size="20" bold="true"/>
        <Default name="Button" value="textcolor=&quot;#FFFF0000&quot; height=&quot;33&quot;"/>
        <VerticalLayout><Button name="Btn_X"/><Button name="Btn_Y" textcolor="#FF00FF00"/></VerticalLayout>
      </Window>)");
    ASSERT_TRUE(dialog.Open());
    CPaintManagerUI& pm = dialog.GetPaintManager();
    EXPECT_EQ(pm.GetCaptionRect(), (RECT{0, 0, 0, 70}));
    EXPECT_EQ(pm.GetRoundCorner().cx, 6);
    EXPECT_EQ(pm.GetSizeBox(), (RECT{4, 4, 4, 4}));
    EXPECT_EQ(pm.GetMinInfo().cx, 300);
    EXPECT_EQ(dialog.GetClientRect(), (RECT{0, 0, 320, 240}));
    ASSERT_NE(pm.GetFontInfo(1), nullptr);
    EXPECT_EQ(pm.GetFontInfo(1)->iSize, 20);
    EXPECT_TRUE(pm.GetFontInfo(1)->bBold);
    EXPECT_EQ(pm.GetFontInfo(-1)->iSize, 14);
    auto* x = static_cast<CButtonUI*>(dialog.Find(u"Btn_X"));
    auto* y = static_cast<CButtonUI*>(dialog.Find(u"Btn_Y"));
    EXPECT_EQ(x->GetTextColor(), 0xFFFF0000u);
    EXPECT_EQ(x->GetFixedHeight(), 33);
    EXPECT_EQ(y->GetTextColor(), 0xFF00FF00u); // its own attribute wins
}

TEST(BuilderTest, MalformedLayoutBuildsNothingAndCreateFails)
{
    CDialogBuilder builder;
    EXPECT_EQ(builder.Create(u"<Window><VerticalLayout><Label></VerticalLayout>"), nullptr);
    EXPECT_FALSE(builder.GetLastError().empty());
    EXPECT_EQ(builder.Create(u"skin/xmls/DoesNotExist.xml"), nullptr);
    EXPECT_EQ(builder.Create(u"<Window size=\"10,10\"></Window>"), nullptr);

    TestDialog broken(u"<Window size=\"100,100\"><VerticalLayout>");
    EXPECT_FALSE(broken.Open());
    EXPECT_EQ(broken.GetHWND(), nullptr);
}

TEST(BuilderTest, HostileLayoutsAreRefusedOrTamed)
{
    // Nesting deep enough to exhaust a recursive builder.
    std::u16string deep;
    for (int i = 0; i < 5000; ++i)
        deep += u"<VerticalLayout>";
    for (int i = 0; i < 5000; ++i)
        deep += u"</VerticalLayout>";
    CDialogBuilder builder;
    EXPECT_EQ(builder.Create(CDuiString(deep)), nullptr);
    EXPECT_NE(builder.GetLastError().find("deeper"), std::string::npos);

    // Absurd numbers are clamped, so layout arithmetic stays in range.
    std::unique_ptr<CControlUI> root(builder.Create(uR"(<HorizontalLayout childpadding="2147483647">
        <Control name="a" width="99999999999999" padding="2147483647,-2147483648,5,5"/>
        <Control name="b" float="true" pos="2147483647,2147483647,-2147483648,9"/>
      </HorizontalLayout>)"));
    ASSERT_TRUE(root);
    root->SetPos(RECT{0, 0, 100, 100});
    EXPECT_LE(root->FindControl([](CControlUI* c) { return c->GetName() == u"a"; })->GetFixedWidth(), 100000);
}

TEST(BuilderTest, BadValuesAndMissingImagesLeaveAUsableWindow)
{
    TestDialog dialog(uR"(<Window size="200,100" caption="a,b"><HorizontalLayout bkcolor="#FF2479E4">
        <Button name="Btn_Bad" bkcolor="not a colour" width="abc" pos="1,2" normalimage="skin/ui/none.png"
                hotimage="file='skin/ui/none.png" nonsense="1" text="ok"/>
        <Control name="Ctr_Img" bkimage="file='skin/ui/missing.png' dest='0,0,10,10'"/>
      </HorizontalLayout></Window>)");
    ASSERT_TRUE(dialog.Open());
    TestInput::TestImage image = TestInput::Grab(dialog.GetHWND());
    ASSERT_FALSE(image.IsNull());
    EXPECT_TRUE(uitest::Near(uitest::Rgb(image.Pixel(150, 50)), 0x2479E4));
    dialog.ClickOn(u"Btn_Bad");
    EXPECT_EQ(dialog.Count(u"click", u"Btn_Bad"), 1);
}

TEST(BuilderTest, ImageStringsAndTheImageCache)
{
    TDrawInfo info;
    ASSERT_TRUE(CRenderEngine::ParseImageString(
        u"file='skin\\ui\\PS.png' dest='217,0,253,36' source='0,0,10,10' corner='2,3,4,5' fade='128'", info));
    EXPECT_EQ(info.sFile, CDuiString(u"skin\\ui\\PS.png"));
    EXPECT_EQ(info.rcDest, (RECT{217, 0, 253, 36}));
    EXPECT_EQ(info.rcSource, (RECT{0, 0, 10, 10}));
    EXPECT_EQ(info.rcCorner, (RECT{2, 3, 4, 5}));
    EXPECT_EQ(info.nFade, 128);
    ASSERT_TRUE(CRenderEngine::ParseImageString(u"plain.png", info));
    EXPECT_EQ(info.sFile, CDuiString(u"plain.png"));
    EXPECT_FALSE(CRenderEngine::ParseImageString(u"file='unterminated", info));

    // A cached image stays until RemoveImage, then the changed file is read again.
    CPaintManagerUI pm;
    std::string path = uitest::ImageFolder() + "skin/ui/changing.png";
    QImage(10, 10, QImage::Format_ARGB32).save(QString::fromStdString(path));
    const TImageInfo* first = pm.GetImage(u"skin/ui/changing.png");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->nX, 10);
    QImage(30, 20, QImage::Format_ARGB32).save(QString::fromStdString(path));
    EXPECT_EQ(pm.GetImage(u"skin/ui/changing.png")->nX, 10);
    pm.RemoveImage(u"skin/ui/changing.png");
    EXPECT_EQ(pm.GetImage(u"skin/ui/changing.png")->nX, 30);
    EXPECT_EQ(pm.GetImage(u"skin/ui/none.png"), nullptr);
}

TEST(BuilderTest, ControlsReportTheirClassNames)
{
    struct Case {
        std::unique_ptr<CControlUI> control;
        std::u16string_view name;
    };
    Case cases[] = {
        {std::make_unique<CControlUI>(), u"ControlUI"},
        {std::make_unique<CLabelUI>(), u"LabelUI"},
        {std::make_unique<CTextUI>(), u"TextUI"},
        {std::make_unique<CButtonUI>(), u"ButtonUI"},
        {std::make_unique<COptionUI>(), u"OptionUI"},
        {std::make_unique<CEditUI>(), u"EditUI"},
        {std::make_unique<CRichEditUI>(), u"RichEditUI"},
        {std::make_unique<CProgressUI>(), u"ProgressUI"},
        {std::make_unique<CContainerUI>(), u"ContainerUI"},
        {std::make_unique<CVerticalLayoutUI>(), u"VerticalLayoutUI"},
        {std::make_unique<CHorizontalLayoutUI>(), u"HorizontalLayoutUI"},
        {std::make_unique<CTileLayoutUI>(), u"TileLayoutUI"},
        {std::make_unique<CTabLayoutUI>(), u"TabLayoutUI"},
        {std::make_unique<CAnimationTabLayoutUI>(), u"AnimationTabLayoutUI"},
        {std::make_unique<CListUI>(), u"ListUI"},
        {std::make_unique<CListContainerElementUI>(), u"ListContainerElementUI"},
        {std::make_unique<CTreeViewUI>(), u"TreeViewUI"},
        {std::make_unique<CTreeNodeUI>(), u"TreeNodeUI"},
        {std::make_unique<CScrollBarUI>(), u"ScrollBarUI"},
        {std::make_unique<CGifAnimUI>(), u"GifAnimUI"},
        {std::make_unique<CMenuElementUI>(), u"MenuElementUI"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(std::u16string_view(c.control->GetClass()), c.name);
    EXPECT_NE(cases[4].control->GetInterface(u"Button"), nullptr); // an option is a button
    EXPECT_EQ(cases[3].control->GetInterface(u"Option"), nullptr);
}
