// Long texts: every control caps what it is given, wrapping breaks lines where one whole layout of
// the paragraph would, and a window holding a megabyte of text still lays out and paints.

#include "UiTestSupport.h"

#include <QFontMetrics>
#include <QTextLayout>

#include "ui/PaintManager.h"
#include "ui/RenderEngine.h"
#include "ui/RichEdit.h"
#include "ui/private/UiPrivate.h"

using namespace UiLib;

namespace {

// About a megabyte of text, repeating `piece`.
std::u16string Megabyte(std::u16string_view piece)
{
    std::u16string text;
    text.reserve((1 << 20) + piece.size());
    while (text.size() < (1u << 20))
        text += piece;
    return text;
}

int DarkPixelsIn(const TestInput::TestImage& image, const RECT& rc)
{
    int dark = 0;
    for (int y = std::max(0L, long(rc.top)); y < std::min(long(image.height), long(rc.bottom)); ++y)
        for (int x = std::max(0L, long(rc.left)); x < std::min(long(image.width), long(rc.right)); ++x)
            dark += (uitest::Rgb(image.Pixel(x, y)) & 0x808080) == 0 ? 1 : 0;
    return dark;
}

// Lines and widest line of `text` laid out whole, paragraph by paragraph, at `width`.
SIZE WholeLayoutSize(const QString& text, const QFont& font, int width)
{
    QFontMetrics fm(font);
    int lines = 0;
    int widest = 0;
    for (const QString& paragraph : text.split(QLatin1Char('\n'))) {
        QTextLayout layout(paragraph, font);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        int before = lines;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            widest =
                std::max(widest, fm.horizontalAdvance(paragraph.mid(line.textStart(), line.textLength())));
            ++lines;
        }
        layout.endLayout();
        lines += lines == before ? 1 : 0; // an empty paragraph still takes a line
    }
    return SIZE{widest, lines * fm.height()};
}

} // namespace

TEST(LongTextTest, CapCutsBetweenCharactersAndEndsInAnEllipsis)
{
    EXPECT_EQ(CapText(u"短文本", 3), CDuiString(u"短文本")) << "a text at the cap is kept whole";
    EXPECT_EQ(CapText(u"更新说明", 3), CDuiString(u"更新…"));
    EXPECT_EQ(CapText(u"更新说明", 0), CDuiString());
    // U+1F3AE is two units: a cut that would fall between them takes the whole character out.
    std::u16string pads;
    for (int i = 0; i < 10; ++i)
        pads += u"\U0001F3AE";
    EXPECT_EQ(CapText(pads, 6), CDuiString(std::u16string(u"\U0001F3AE\U0001F3AE…")));
    EXPECT_EQ(CapText(pads, 7), CDuiString(std::u16string(u"\U0001F3AE\U0001F3AE\U0001F3AE…")));

    CRichEditUI rich;
    rich.SetText(CDuiString(Megabyte(u"日志")));
    rich.AppendText(u"更多");
    EXPECT_EQ(static_cast<size_t>(rich.GetText().GetLength()), kMaxControlText);
    EXPECT_EQ(rich.GetText()[static_cast<int>(kMaxControlText) - 1], u'…');
    rich.SetText(u"短");
    rich.AppendText(CDuiString(Megabyte(u"追加")));
    EXPECT_EQ(static_cast<size_t>(rich.GetText().GetLength()), kMaxControlText);
    EXPECT_EQ(rich.GetText().Left(3), CDuiString(u"短追加"));
}

TEST(LongTextTest, AMegabyteOfTextIsCappedByEveryControlAndTheWindowStillPaints)
{
    uitest::TestDialog dialog(uR"(<Window size="420,400"><VerticalLayout bkcolor="#FFFFFFFF">
        <Text name="Txt_Desc" height="100" textcolor="#FF000000"/>
        <Label name="Lb_Desc" height="60" wordbreak="true" endellipsis="true" textcolor="#FF000000"/>
        <Label name="Lb_Name" height="24" endellipsis="true" textcolor="#FF000000"/>
        <RichEdit name="Rd_Desc" height="100" textcolor="#FF000000"/>
        <Button name="Btn_Go" height="30" textcolor="#FF000000"/>
        <Text name="Txt_Markup" height="60" showhtml="true" textcolor="#FF000000"/>
      </VerticalLayout></Window>)");
    ASSERT_TRUE(dialog.Open());
    const std::u16string description = Megabyte(u"更新说明：修复了若干问题，提升了稳定性。Fixed issues. ");
    const std::u16string unbroken(1 << 20, u'W');                  // no break opportunity in a megabyte
    const std::u16string unclosed = Megabyte(u"<b 未闭合的标记 "); // markup that never closes
    const std::pair<const char16_t*, const std::u16string*> cases[] = {
        {u"Txt_Desc", &description}, {u"Lb_Desc", &unbroken},   {u"Lb_Name", &description},
        {u"Rd_Desc", &unbroken},     {u"Btn_Go", &description}, {u"Txt_Markup", &unclosed}};
    for (const auto& [name, text] : cases) {
        CControlUI* control = dialog.Find(name);
        ASSERT_NE(control, nullptr) << CDuiString(name).ToUtf8();
        control->SetText(CDuiString(*text));
        control->SetToolTip(CDuiString(*text));
        CDuiString shown = control->GetText();
        EXPECT_EQ(static_cast<size_t>(shown.GetLength()), kMaxControlText) << CDuiString(name).ToUtf8();
        EXPECT_EQ(shown[shown.GetLength() - 1], u'…');
        EXPECT_EQ(shown.Str().compare(0, kMaxControlText - 1, *text, 0, kMaxControlText - 1), 0);
        EXPECT_EQ(static_cast<size_t>(control->GetToolTip().GetLength()), kMaxToolTipText);
    }

    dialog.GetPaintManager().UpdateLayout();
    TestInput::TestImage image = TestInput::Grab(dialog.GetHWND());
    ASSERT_FALSE(image.IsNull());
    for (const char16_t* name : {u"Txt_Desc", u"Lb_Desc", u"Lb_Name", u"Rd_Desc", u"Txt_Markup"})
        EXPECT_GT(DarkPixelsIn(image, dialog.Find(name)->GetPos()), 50)
            << "text shows in " << CDuiString(name).ToUtf8();
    auto* rich = static_cast<CRichEditUI*>(dialog.Find(u"Rd_Desc"));
    EXPECT_GT(rich->GetScrollRange().cy, 10000) << "the whole capped text can be scrolled to";
    // Scrolled to its end, the text still paints there.
    rich->SetScrollPos(SIZE{0, rich->GetScrollRange().cy});
    image = TestInput::Grab(dialog.GetHWND());
    EXPECT_GT(DarkPixelsIn(image, rich->GetPos()), 50);
}

TEST(LongTextTest, WrappingBreaksLinesWhereOneWholeLayoutWould)
{
    CPaintManagerUI pm;
    QFont font = FontFor(&pm, -1);
    std::u16string pads;
    for (int i = 0; i < 1500; ++i)
        pads += i % 37 == 0 ? u" " : u"\U0001F3AE";
    std::u16string words;
    for (int i = 0; i < 900; ++i)
        words += i % 50 == 0 ? u"Supercalifragilisticexpialidociouslylongword " : u"word ";
    // Texts longer than a few layout windows, with long unbreakable runs across their seams.
    const std::u16string texts[] = {std::u16string(7000, u'a'), words, std::u16string(6000, u'游'), pads,
                                    std::u16string(3000, u'x') + u"\n\n" + words + u"\n" +
                                        std::u16string(5000, u'字')};
    for (int width : {1, 97, 640, 30000}) {
        for (const std::u16string& text : texts) {
            SIZE expected = WholeLayoutSize(ToQString(text), font, width);
            SIZE got = CRenderEngine::GetTextSize(nullptr, &pm, text, -1, DT_WORDBREAK, width);
            EXPECT_EQ(got.cy, expected.cy) << "width " << width << ", " << text.size() << " units";
            EXPECT_EQ(got.cx, expected.cx) << "width " << width << ", " << text.size() << " units";
        }
    }
}
