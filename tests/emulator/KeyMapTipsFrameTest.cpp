// The key map tips window on Qt's offscreen platform, driven the way the main window drives it
// while games start and end, with tip files written into a test program folder; and the tip files
// that ship with the program.

#include "emulator/KeyMapTipsFrame.h"

#include "foundation/AppPaths.h"
#include "platform/CodePage.h"
#include "tests/support/OffscreenUi.h"
#include "tests/support/TempDir.h"
#include "ui/PaintManager.h"
#include "ui/TestInput.h"
#include "ui/WindowWnd.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

using namespace UiLib;

namespace {

namespace fs = std::filesystem;
using testsupport::WriteFile;

// The platforms with tips, by type id, and the name their files carry.
const std::pair<const char*, const char*> kPlatforms[] = {
    {"119", "PS"},  {"120", "GBA"}, {"121", "SFC"}, {"122", "MD"},  {"123", "MAME"}, {"124", "GBC"},
    {"125", "FC"},  {"126", "FBA"}, {"127", "NDS"}, {"129", "PSP"}, {"130", "N64"},  {"131", "WSC"},
    {"133", "DC"},  {"140", "WII"}, {"142", "PS2"}, {"146", "MAME"}, {"148", "PCE"},
};

class KeyMapTipsFrameTest : public ::testing::Test {
protected:
    // The toolkit goes with the suite: left to the end of the process, the application object would
    // be destroyed among the static objects after Qt's own.
    static void SetUpTestSuite() { testsupport::StartOffscreenUi(); }
    static void TearDownTestSuite() { testsupport::StopOffscreenUi(); }

    void SetUp() override
    {
        ASSERT_NE(m_tips.CreateHidden(), nullptr);
        TestInput::ProcessEvents();
    }
    void TearDown() override
    {
        m_tips.DestroyWindow();
        TestInput::ProcessEvents();
    }

    // Writes a tip file of the test program folder.
    void WriteTip(const std::string& relative, const std::string& content)
    {
        fs::create_directories(fs::path(m_folder.Path() + relative).parent_path());
        ASSERT_TRUE(WriteFile(m_folder.Path() + relative, content));
    }

    testsupport::TempDir m_folder;
    CKeyMapTipsFrame m_tips;
};

TEST_F(KeyMapTipsFrameTest, PicksTheFileOfThePlatformAndControlMethod)
{
    for (const auto& [id, name] : kPlatforms) {
        SCOPED_TRACE(id);
        EXPECT_EQ(CKeyMapTipsFrame::TipFileName(id, 1), std::string("LocalGameRes/keymap/gamepad/手柄") + name + ".txt");
        EXPECT_EQ(CKeyMapTipsFrame::TipFileName(id, 2), std::string("LocalGameRes/keymap/keyboard/键盘") + name + ".txt");
        EXPECT_EQ(CKeyMapTipsFrame::TipFileName(id, 0), "");
        EXPECT_EQ(CKeyMapTipsFrame::TipFileName(id, 3), "");
    }
    // PC games, platforms without tips and texts that are no type id have none.
    for (const char* id : {"138", "128", "0", "", "125x", " 125", "-125", "99999999999"})
        EXPECT_EQ(CKeyMapTipsFrame::TipFileName(id, 1), "") << id;
}

TEST_F(KeyMapTipsFrameTest, ReadsWholeLinesInUtf8OrTheProcessCodePage)
{
    // Lines end with a line feed each, a CR before it dropped; the last line gets one too.
    WriteTip("a.txt", "第一行\r\nsecond\n\nlast");
    EXPECT_EQ(CKeyMapTipsFrame::LoadTipsText(m_folder.Path() + "a.txt"), u"第一行\nsecond\n\nlast\n");

    // A line far longer than any read buffer stays one whole line, and the next one follows it.
    std::string longLine;
    for (int i = 0; i < 700; ++i)
        longLine += "方向键";
    WriteTip("long.txt", longLine + "\nA 跳\n");
    const std::u16string text = CKeyMapTipsFrame::LoadTipsText(m_folder.Path() + "long.txt");
    ASSERT_EQ(text.size(), 2100u + 1 + 4);
    EXPECT_EQ(text.substr(0, 3), u"方向键");
    EXPECT_EQ(text[2100], u'\n');
    EXPECT_EQ(text.substr(2101), u"A 跳\n");

    // A byte order mark is not shown.
    WriteTip("bom.txt", "\xEF\xBB\xBF" "开始\n");
    EXPECT_EQ(CKeyMapTipsFrame::LoadTipsText(m_folder.Path() + "bom.txt"), u"开始\n");

    // Text that is not UTF-8 is read in the process code page (GBK here: 手柄 is CA D6 B1 FA).
    WriteTip("gbk.txt", "\xCA\xD6\xB1\xFA A\n");
    const std::string codePage = platform::ProcessCodePage();
    platform::SetProcessCodePage("GBK");
    EXPECT_EQ(CKeyMapTipsFrame::LoadTipsText(m_folder.Path() + "gbk.txt"), u"手柄 A\n");
    // Under UTF-8 the same bytes cannot be read at all: an empty text, never a broken one.
    platform::SetProcessCodePage("UTF-8");
    EXPECT_EQ(CKeyMapTipsFrame::LoadTipsText(m_folder.Path() + "gbk.txt"), u"");
    platform::SetProcessCodePage(codePage);

    EXPECT_EQ(CKeyMapTipsFrame::LoadTipsText(m_folder.Path() + "missing.txt"), u"");
    EXPECT_EQ(CKeyMapTipsFrame::LoadTipsText(m_folder.Path()), u""); // a folder is no file
}

TEST_F(KeyMapTipsFrameTest, MadeHiddenOnTopWithoutOwner)
{
    EXPECT_FALSE(m_tips.IsVisible());
    EXPECT_EQ(m_tips.GetOwner(), nullptr);
    EXPECT_EQ(m_tips.GetWindowText(), CDuiString(u"操作提示"));
    EXPECT_TRUE(m_tips.IsTopMost());
    EXPECT_TRUE(m_tips.HasMinimizeBox());
    EXPECT_EQ(FindWindow(u"KeyMapTipsFrame"), m_tips.GetHWND());
    const RECT rc = m_tips.GetWindowRect();
    EXPECT_EQ(rc.Width(), 300);
    EXPECT_EQ(rc.Height(), 500);
    // Made once: a second call keeps the window.
    HWND first = m_tips.GetHWND();
    EXPECT_EQ(m_tips.CreateHidden(), first);
}

// A game starts (shown at the right edge with its platform's text), the next one shows its own
// text, and the end of the game hides the window.
TEST_F(KeyMapTipsFrameTest, ShowsThePlatformsTextAtTheRightEdgeAndHidesAtTheEnd)
{
    WriteTip("LocalGameRes/keymap/gamepad/手柄FC.txt", "A 跳跃\nB 攻击\n");
    WriteTip("LocalGameRes/keymap/keyboard/键盘FC.txt", "K 跳跃\nJ 攻击\n");
    WriteTip("LocalGameRes/keymap/gamepad/手柄MAME.txt", "投币 SELECT\n");
    WriteTip("LocalGameRes/keymap/keyboard/键盘FBA.txt", "投币 5\n");

    // Where the window system centres it gives the work area.
    m_tips.CenterWindow();
    const RECT centred = m_tips.GetWindowRect();
    const int workRight = centred.right + centred.left; // the work area starts at 0 here

    m_tips.ShowFor(m_folder.Path(), "125", 1);
    EXPECT_TRUE(m_tips.IsVisible());
    EXPECT_EQ(m_tips.TipsText(), CDuiString(u"A 跳跃\nB 攻击\n"));
    const RECT rc = m_tips.GetWindowRect();
    EXPECT_EQ(rc.right, workRight);
    EXPECT_EQ(rc.top, centred.top);
    EXPECT_EQ(rc.Width(), 300);
    if (const char* folder = std::getenv("QUOKKA_TEST_SHOTS"))
        TestInput::SaveImage(m_tips.GetHWND(), std::string(folder) + "/KeyMapTipsDialog.png");

    // From the program folder, as the main window calls it.
    const AppPaths saved = GetAppPaths();
    AppPaths paths = saved;
    paths.InstancePath = m_folder.Path();
    SetAppPaths(paths);
    m_tips.ShowFor("125", 2);
    SetAppPaths(saved);
    EXPECT_EQ(m_tips.TipsText(), CDuiString(u"K 跳跃\nJ 攻击\n"));
    m_tips.ShowFor(m_folder.Path(), "146", 1); // MAMEPLUS shows the MAME text
    EXPECT_EQ(m_tips.TipsText(), CDuiString(u"投币 SELECT\n"));
    m_tips.ShowFor(m_folder.Path(), "126", 2); // the arcade platform's file is FBA's
    EXPECT_EQ(m_tips.TipsText(), CDuiString(u"投币 5\n"));

    // A platform whose file is missing shows an empty box, not the last game's text.
    m_tips.ShowFor(m_folder.Path(), "122", 1);
    EXPECT_TRUE(m_tips.IsVisible());
    EXPECT_EQ(m_tips.TipsText(), CDuiString(u""));
    m_tips.ShowFor(m_folder.Path(), "125", 7);
    EXPECT_EQ(m_tips.TipsText(), CDuiString(u""));

    m_tips.HideTips();
    EXPECT_FALSE(m_tips.IsVisible());
    EXPECT_NE(FindWindow(u"KeyMapTipsFrame"), nullptr);
}

// Closing only minimises: the close button, the system close command and the window system's close
// request. The next game brings it back.
TEST_F(KeyMapTipsFrameTest, ClosingMinimisesAndTheNextGameRestores)
{
    WriteTip("LocalGameRes/keymap/gamepad/手柄N64.txt", "Z 扳机\n");
    m_tips.ShowFor(m_folder.Path(), "130", 1);
    TestInput::ProcessEvents();
    ASSERT_TRUE(m_tips.IsVisible());

    testsupport::ClickOn(m_tips.GetHWND(), u"Btn_Close");
    EXPECT_TRUE(TestInput::WaitFor([&] { return m_tips.IsMinimized(); }));
    EXPECT_EQ(FindWindow(u"KeyMapTipsFrame"), m_tips.GetHWND());

    m_tips.ShowFor(m_folder.Path(), "130", 1);
    EXPECT_TRUE(TestInput::WaitFor([&] { return !m_tips.IsMinimized() && m_tips.IsVisible(); }));

    m_tips.SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
    TestInput::ProcessEvents();
    EXPECT_TRUE(TestInput::WaitFor([&] { return m_tips.IsMinimized(); }));
    EXPECT_EQ(FindWindow(u"KeyMapTipsFrame"), m_tips.GetHWND());
    EXPECT_EQ(m_tips.TipsText(), CDuiString(u"Z 扳机\n"));
}

// The tip files that ship with the program: one per platform name and control method, readable
// as UTF-8, each with some text.
TEST(KeyMapTipFilesTest, EveryPlatformHasItsTwoFilesInUtf8)
{
    const std::string root = std::string(QUOKKA_SOURCE_ROOT) + "/res/";
    std::set<std::string> names;
    for (const auto& [id, name] : kPlatforms) {
        for (int method : {1, 2}) {
            const std::string relative = CKeyMapTipsFrame::TipFileName(id, method);
            names.insert(relative);
            SCOPED_TRACE(relative);
            const std::string bytes = testsupport::ReadFile(root + relative);
            ASSERT_FALSE(bytes.empty());
            const std::string codePage = platform::ProcessCodePage();
            platform::SetProcessCodePage("ISO-8859-1"); // anything but UTF-8 would show as Latin-1
            const std::u16string text = CKeyMapTipsFrame::LoadTipsText(root + relative);
            platform::SetProcessCodePage(codePage);
            EXPECT_NE(text.find_first_of(u"键钮摇杆方向"), std::u16string::npos) << "not read as UTF-8";
        }
    }
    EXPECT_EQ(names.size(), 32u);
    std::size_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root + "LocalGameRes/keymap"))
        files += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 32u);

    // A shipped text in the window, for a person to look at.
    if (const char* folder = std::getenv("QUOKKA_TEST_SHOTS")) {
        // Ended here too: a toolkit left to the end of the process goes after Qt's own objects.
        testsupport::StartOffscreenUi();
        {
            CKeyMapTipsFrame tips;
            EXPECT_NE(tips.CreateHidden(), nullptr);
            tips.ShowFor(root, "130", 2);
            EXPECT_TRUE(
                TestInput::SaveImage(tips.GetHWND(), std::string(folder) + "/KeyMapTipsDialog_N64.png"));
            tips.DestroyWindow();
            TestInput::ProcessEvents();
        }
        testsupport::StopOffscreenUi();
    }
}

} // namespace
