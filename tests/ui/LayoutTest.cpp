// Layout arithmetic: fixed and stretching sizes, padding, inset, child padding, tiles, floats.

#include "UiTestSupport.h"

#include "ui/Container.h"
#include "ui/DialogBuilder.h"
#include "ui/TileLayout.h"

#include <vector>

using namespace UiLib;

namespace {

// Builds a layout without a window and places it in a rectangle.
std::unique_ptr<CControlUI> Place(const char16_t* xml, RECT rc, CDialogBuilder& builder)
{
    std::unique_ptr<CControlUI> root(builder.Create(xml));
    if (root)
        root->SetPos(rc);
    return root;
}

CControlUI* Named(CControlUI* root, std::u16string_view name)
{
    return root->FindControl([name](CControlUI* c) { return c->GetName().Str() == name; });
}

} // namespace

TEST(LayoutTest, VerticalKeepsFixedHeightsAndSharesTheRest)
{
    CDialogBuilder builder;
    auto root = Place(uR"(<VerticalLayout inset="10,5,10,5" childpadding="4">
        <Control name="a" height="40"/>
        <Control name="b"/>
        <Control name="c" padding="6,3,6,3"/>
        <Control name="d" height="20" width="50"/>
        <Control name="hidden" height="500" visible="false"/>
      </VerticalLayout>)",
                      RECT{0, 0, 200, 300}, builder);
    ASSERT_TRUE(root);
    // 290 inner; fixed 40 + 20 + padding 6 + gaps 12 = 78; 212 left for b and c: 106 each.
    EXPECT_EQ(Named(root.get(), u"a")->GetPos(), (RECT{10, 5, 190, 45}));
    EXPECT_EQ(Named(root.get(), u"b")->GetPos(), (RECT{10, 49, 190, 155}));
    EXPECT_EQ(Named(root.get(), u"c")->GetPos(), (RECT{16, 162, 184, 268}));
    EXPECT_EQ(Named(root.get(), u"d")->GetPos(), (RECT{10, 275, 60, 295}));
}

TEST(LayoutTest, HorizontalSharesWidthsAndCentresWhenAsked)
{
    CDialogBuilder builder;
    auto root = Place(uR"(<HorizontalLayout childpadding="10" valign="center">
        <Control name="a" width="100"/>
        <Control name="b"/>
        <Control name="c" width="60" height="20"/>
      </HorizontalLayout>)",
                      RECT{0, 0, 400, 100}, builder);
    ASSERT_TRUE(root);
    EXPECT_EQ(Named(root.get(), u"a")->GetPos(), (RECT{0, 0, 100, 100}));
    EXPECT_EQ(Named(root.get(), u"b")->GetPos(), (RECT{110, 0, 330, 100}));
    EXPECT_EQ(Named(root.get(), u"c")->GetPos(), (RECT{340, 40, 400, 60}));
}

TEST(LayoutTest, TilesFillRowsFromTheItemSize)
{
    CDialogBuilder builder;
    std::u16string xml = u"<TileLayout itemsize=\"200,100\" childpadding=\"8\">";
    for (int i = 0; i < 42; ++i)
        xml += u"<Control/>";
    xml += u"</TileLayout>";
    auto root = Place(xml.c_str(), RECT{0, 0, 1240, 600}, builder);
    ASSERT_TRUE(root);
    auto* tiles = static_cast<CTileLayoutUI*>(root.get());
    EXPECT_EQ(tiles->GetColumns(), 6); // (1240 + 8) / 208
    EXPECT_EQ(tiles->GetItemAt(7)->GetPos(), (RECT{208, 108, 408, 208}));
    EXPECT_EQ(tiles->GetItemAt(41)->GetPos().top, 6 * 108);
}

// A tile that counts how often it is laid out.
class CountingTile : public CControlUI {
public:
    void SetPos(RECT rc, bool needInvalidate = true) override
    {
        ++layouts;
        CControlUI::SetPos(rc, needInvalidate);
    }
    int layouts = 0;
};

TEST(LayoutTest, TilesKeepingTheirPlaceAreLaidOutAgainOnlyWhenSomethingInsideChanged)
{
    // A tile added at the end leaves the others as they are.
    CTileLayoutUI counted;
    counted.SetItemSize(SIZE{100, 50});
    std::vector<CountingTile*> tiles;
    for (int i = 0; i < 6; ++i) {
        tiles.push_back(new CountingTile);
        counted.Add(tiles.back());
    }
    counted.SetPos(RECT{0, 0, 400, 200});
    for (CountingTile* tile : tiles)
        ASSERT_EQ(tile->layouts, 1);
    auto* added = new CountingTile;
    counted.Add(added);
    counted.SetPos(RECT{0, 0, 400, 200});
    EXPECT_EQ(added->layouts, 1);
    EXPECT_EQ(added->GetPos(), (RECT{200, 50, 300, 100}));
    for (CountingTile* tile : tiles)
        EXPECT_EQ(tile->layouts, 1);
    // Taking the first tile out moves every other one.
    counted.RemoveAt(0);
    counted.SetPos(RECT{0, 0, 400, 200});
    EXPECT_EQ(tiles[1]->GetPos(), (RECT{0, 0, 100, 50}));
    EXPECT_EQ(added->GetPos(), (RECT{100, 50, 200, 100}));

    // A change two levels inside a tile that keeps its place is still laid out.
    CDialogBuilder builder;
    std::u16string xml = u"<TileLayout itemsize=\"200,100\">";
    for (int i = 0; i < 4; ++i)
        xml += u"<VerticalLayout><HorizontalLayout name=\"row" + std::u16string(1, u'0' + i) +
               u"\"><Control width=\"30\"/><Control/></HorizontalLayout></VerticalLayout>";
    xml += u"</TileLayout>";
    auto root = Place(xml.c_str(), RECT{0, 0, 400, 200}, builder);
    ASSERT_TRUE(root);
    auto* row = static_cast<CContainerUI*>(Named(root.get(), u"row3"));
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->GetItemAt(1)->GetPos().left, 230);
    row->GetItemAt(0)->SetFixedWidth(80);
    root->SetPos(RECT{0, 0, 400, 200});
    EXPECT_EQ(row->GetItemAt(1)->GetPos().left, 280);
}

TEST(LayoutTest, FloatControlsSitAtTheirPositionInTheParent)
{
    CDialogBuilder builder;
    auto root = Place(uR"(<VerticalLayout>
        <Control name="top" height="50"/>
        <HorizontalLayout name="box">
          <Control name="flow"/>
          <Control name="float" float="true" pos="10,20,40,60"/>
        </HorizontalLayout>
      </VerticalLayout>)",
                      RECT{100, 100, 300, 300}, builder);
    ASSERT_TRUE(root);
    EXPECT_EQ(Named(root.get(), u"float")->GetPos(), (RECT{110, 170, 140, 210}));
    EXPECT_EQ(Named(root.get(), u"flow")->GetPos(), (RECT{100, 150, 300, 300}));
}

TEST(LayoutTest, ContainerChildrenAreAddedRemovedAndFound)
{
    CContainerUI box;
    auto* a = new CControlUI;
    a->SetName(u"a");
    auto* b = new CControlUI;
    b->SetName(u"b");
    EXPECT_TRUE(box.Add(a));
    EXPECT_TRUE(box.AddAt(b, 0));
    CControlUI stray;
    EXPECT_FALSE(box.AddAt(&stray, 5));
    EXPECT_EQ(box.GetItemAt(0), b);
    EXPECT_EQ(box.GetItemAt(9), nullptr);
    EXPECT_EQ(box.FindSubControl(u"a"), a);
    EXPECT_TRUE(box.Remove(b, true));
    delete b; // handed back by doNotDestroy
    EXPECT_EQ(box.GetCount(), 1);
    box.RemoveAll();
    EXPECT_EQ(box.GetCount(), 0);
}
