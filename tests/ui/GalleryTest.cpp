// The control gallery: every kind of control in one skinned dialog, rendered and checked at the
// controls' own rectangles. Set QUOKKA_GALLERY_PNG to keep the picture.

#include "UiTestSupport.h"

#include <cstdlib>

#include "tests/support/TempDir.h"
#include "ui/List.h"
#include "ui/PaintManager.h"

using namespace UiLib;
using uitest::Near;
using uitest::Rgb;
using uitest::TestDialog;

namespace {

constexpr std::uint32_t kAccent = 0x2479E4;

// How many pixels in the rectangle differ clearly from `background` (drawn text, icons).
int InkIn(const TestInput::TestImage& image, const RECT& rc, std::uint32_t background)
{
    int ink = 0;
    for (int y = rc.top; y < rc.bottom; ++y)
        for (int x = rc.left; x < rc.right; ++x)
            if (!Near(Rgb(image.Pixel(x, y)), background, 40))
                ++ink;
    return ink;
}

class GalleryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dialog.Open());
        dialog.ClickOn(u"Li_2");
        TestInput::MouseMove(dialog.GetHWND(), POINT{1, 300});
        TestInput::ProcessEvents();
        image = TestInput::Grab(dialog.GetHWND());
        ASSERT_FALSE(image.IsNull());
    }
    RECT Pos(std::u16string_view name)
    {
        CControlUI* control = dialog.Find(name);
        EXPECT_NE(control, nullptr) << CDuiString(name).ToUtf8();
        return control != nullptr ? control->GetPos() : RECT{};
    }
    std::uint32_t At(int x, int y) { return Rgb(image.Pixel(x, y)); }

    TestDialog dialog{u"skin\\xmls\\Gallery.xml", u"GalleryFrame"};
    TestInput::TestImage image;
};

} // namespace

TEST_F(GalleryTest, RendersToPng)
{
    testsupport::TempDir dir;
    const char* keep = std::getenv("QUOKKA_GALLERY_PNG");
    std::string path = keep != nullptr ? keep : dir.Path() + "gallery.png";
    ASSERT_TRUE(TestInput::SaveImage(dialog.GetHWND(), path));
    EXPECT_FALSE(testsupport::ReadFile(path).empty());
    EXPECT_EQ(image.width, 760);
    EXPECT_EQ(image.height, 540);
}

TEST_F(GalleryTest, CaptionButtonsAndOptionsShowTheirStates)
{
    RECT caption = Pos(u"HL_Caption");
    EXPECT_EQ(caption.Height(), 48);
    EXPECT_TRUE(Near(At(caption.left + 400, caption.top + 6), kAccent));
    EXPECT_GT(InkIn(image, Pos(u"Lb_Title"), kAccent), 50); // white title text on blue

    RECT ok = Pos(u"Btn_Ok");
    EXPECT_EQ(ok.Width(), 96);
    EXPECT_TRUE(Near(At(ok.left + 8, (ok.top + ok.bottom) / 2), kAccent)); // normal image, nine-patch
    RECT off = Pos(u"Btn_Disabled");
    EXPECT_TRUE(Near(At(off.left + 8, (off.top + off.bottom) / 2), 0xE4E8EE)); // disabled image

    RECT page1 = Pos(u"Opt_Page1");
    RECT page2 = Pos(u"Opt_Page2");
    EXPECT_TRUE(Near(At(page1.left + 8, (page1.top + page1.bottom) / 2), kAccent));
    EXPECT_TRUE(Near(At(page2.left + 8, (page2.top + page2.bottom) / 2), 0xE9EEF5));
    EXPECT_GT(InkIn(image, Pos(u"Lb_Page1"), 0xFFFFFF), 50); // the first page's Chinese text
}

TEST_F(GalleryTest, ProgressListTilesAndTextSitInTheirRectangles)
{
    RECT bar = Pos(u"Pg_Download");
    int mid = (bar.top + bar.bottom) / 2;
    EXPECT_TRUE(Near(At(bar.left + bar.Width() / 2, mid), kAccent));       // 62% filled
    EXPECT_TRUE(Near(At(bar.left + bar.Width() * 9 / 10, mid), 0xE1E6ED)); // the rest is track

    RECT row = Pos(u"Li_2");
    EXPECT_TRUE(Near(At(row.right - 6, (row.top + row.bottom) / 2), 0xDCEBFC)); // selected row
    RECT other = Pos(u"Li_4");
    EXPECT_TRUE(Near(At(other.right - 6, (other.top + other.bottom) / 2), 0xFFFFFF));

    RECT icon = Pos(u"Ctr_Icon1");
    std::uint32_t corner = At(icon.left + 10, icon.top + 32);
    EXPECT_GT(corner & 0xFF, (corner >> 16) & 0xFF); // blue icon: more blue than red

    RECT longText = Pos(u"Lb_Long");
    EXPECT_GT(InkIn(image, longText, 0xF5F7FA), 50);
    // The ellipsis keeps the text inside the label: nothing drawn past its right edge.
    EXPECT_EQ(
        InkIn(image, RECT{longText.right, longText.top, longText.right + 10, longText.bottom}, 0xF5F7FA), 0);

    RECT notes = Pos(u"Rd_Notes");
    EXPECT_GT(InkIn(image, RECT{notes.left + 2, notes.top + 2, notes.right - 12, notes.bottom - 2}, 0xFFFFFF),
              200);
}
