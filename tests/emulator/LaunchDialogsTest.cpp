// The two dialogs of a launch in real windows on Qt's offscreen platform, opened as the launcher
// opens them (the static Ask calls, modal on the UI thread); the test's input runs inside the
// dialog's own modal loop and goes through the window's real hit testing and dispatch.

#include "emulator/HandleTypeFrame.h"
#include "emulator/MultiDiscSelectFrame.h"
#include "tests/support/OffscreenUi.h"
#include "ui/PaintManager.h"
#include "ui/TestInput.h"
#include "ui/WindowWnd.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

using namespace UiLib;

// Weak, so a suite beside this one may give its own list.
extern "C" __attribute__((weak)) const char* __lsan_default_suppressions()
{
    // SDL keeps a small block of thread-local state for each thread that asks it for the pads (the
    // launcher's run threads do) until the process ends.
    return QUOKKA_QT_LEAK_SUPPRESSIONS "leak:libSDL2\n";
}

namespace {

using testsupport::CentreOf;
using testsupport::ClickOn;
using testsupport::ControlIn;

class LaunchDialogsTest : public ::testing::Test {
protected:
    // The toolkit goes with the suite: left to the end of the process, the application object would
    // be destroyed among the static objects after Qt's own.
    static void SetUpTestSuite() { testsupport::StartOffscreenUi(); }
    static void TearDownTestSuite() { testsupport::StopOffscreenUi(); }
};

// Runs `open` (which shows a modal dialog and returns its answer) on the UI thread while `script`
// drives the dialog, and returns the answer.
int RunWithScript(const char16_t* className, const std::function<int()>& open,
                  const std::function<void(HWND)>& script)
{
    return testsupport::DriveModalDialog(testsupport::AskedFrom::UiThread, className, open, script);
}

// Renders the dialog for a person to look at, when QUOKKA_TEST_SHOTS names a folder.
void Shoot(HWND hwnd, const std::string& name)
{
    if (const char* folder = std::getenv("QUOKKA_TEST_SHOTS"))
        TestInput::SaveImage(hwnd, std::string(folder) + "/" + name + ".png");
}

// ---- control method ---------------------------------------------------------------------------

TEST_F(LaunchDialogsTest, ControlMethodDialogLooksAsLaidOut)
{
    const int answer = RunWithScript(u"DownLoadTypeFrame", [] { return CHandleTypeFrame::Ask(nullptr); },
                                     [](HWND hwnd) {
                                         ASSERT_NE(hwnd, nullptr);
                                         CWindowWnd* window = WindowFromHandle(hwnd);
                                         EXPECT_EQ(window->GetWindowText(), CDuiString(u"选择控制方式"));
                                         EXPECT_EQ(window->GetWindowRect().Width(), 230);
                                         EXPECT_EQ(window->GetWindowRect().Height(), 134);
                                         EXPECT_EQ(ControlIn(hwnd, u"Btn_GamePad")->GetText(), CDuiString(u"手柄"));
                                         EXPECT_EQ(ControlIn(hwnd, u"Btn_Keyboard")->GetText(), CDuiString(u"键盘"));
                                         ASSERT_NE(ControlIn(hwnd, u"Btn_Custom"), nullptr);
                                         EXPECT_EQ(ControlIn(hwnd, u"Btn_Custom")->GetText(), CDuiString(u"自定义"));
                                         EXPECT_FALSE(ControlIn(hwnd, u"Btn_Custom")->IsVisible());
                                         // Both choices lie inside the window, where a person can click them.
                                         EXPECT_LT(ControlIn(hwnd, u"Btn_Keyboard")->GetPos().bottom, 134);
                                         // The caption band is the accent blue, the plates light.
                                         TestInput::TestImage image = TestInput::Grab(hwnd);
                                         ASSERT_FALSE(image.IsNull());
                                         EXPECT_GT(image.Pixel(5, 20) & 0xFF, 0xC0u);
                                         POINT plate = CentreOf(ControlIn(hwnd, u"Btn_GamePad"));
                                         EXPECT_GT((image.Pixel(plate.x + 60, plate.y) >> 16) & 0xFF, 0xE0u);
                                         Shoot(hwnd, "HandleTypeDialog");
                                         ClickOn(hwnd, u"Btn_Close");
                                     });
    EXPECT_EQ(answer, -1);
}

TEST_F(LaunchDialogsTest, ControlMethodDialogAnswersEachWayOut)
{
    struct Case {
        const char* what;
        std::function<void(HWND)> act;
        int answer;
    };
    const Case cases[] = {
        {"gamepad", [](HWND hwnd) { ClickOn(hwnd, u"Btn_GamePad"); }, 1},
        {"keyboard", [](HWND hwnd) { ClickOn(hwnd, u"Btn_Keyboard"); }, 2},
        {"close button", [](HWND hwnd) { ClickOn(hwnd, u"Btn_Close"); }, -1},
        // By keys: the focus starts on 手柄, Esc is the close button.
        {"enter", [](HWND hwnd) { TestInput::Key(hwnd, VK_RETURN); }, 1},
        {"down and enter", [](HWND hwnd) {
             TestInput::Key(hwnd, VK_DOWN);
             TestInput::Key(hwnd, VK_RETURN);
         }, 2},
        {"escape", [](HWND hwnd) { TestInput::Key(hwnd, VK_ESCAPE); }, -1},
        // The window system's close and the program's shutdown are no choice either, although
        // the toolkit's code for them could be mistaken for one.
        {"system close", [](HWND hwnd) { WindowFromHandle(hwnd)->SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0); }, -1},
        {"shutdown", [](HWND) { CPaintManagerUI::EndAllModalLoops(IDCLOSE); }, -1},
        {"keyboard clicked twice", [](HWND hwnd) {
             ClickOn(hwnd, u"Btn_Keyboard");
             if (FindWindow(u"DownLoadTypeFrame") != nullptr)
                 ClickOn(hwnd, u"Btn_GamePad");
         }, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const int answer = RunWithScript(u"DownLoadTypeFrame", [] { return CHandleTypeFrame::Ask(nullptr); },
                                         [&](HWND hwnd) {
                                             ASSERT_NE(hwnd, nullptr);
                                             c.act(hwnd);
                                         });
        EXPECT_EQ(answer, c.answer);
    }
}

// ---- disc choice ------------------------------------------------------------------------------

TEST_F(LaunchDialogsTest, DiscDialogShowsOneButtonPerDiscAndShrinksByTheRest)
{
    struct Case {
        int discs;
        int height;
    };
    const Case cases[] = {{4, 220}, {3, 220 - 46}, {2, 220 - 87}, {1, 220 - 128}, {7, 220}};
    const char16_t* buttons[] = {u"Btn_Disc1", u"Btn_Disc2", u"Btn_Disc3", u"Btn_Disc4"};
    const char16_t* texts[] = {u"盘 A", u"盘 B", u"盘 C", u"盘 D"};
    int fullCentreY = -1;
    for (const Case& c : cases) {
        SCOPED_TRACE("discs " + std::to_string(c.discs));
        const int shown = std::min(c.discs, 4);
        const int answer = RunWithScript(
            u"MultiDiscSelectFrame", [&] { return CMultiDiscSelectFrame::Ask(nullptr, c.discs); },
            [&](HWND hwnd) {
                ASSERT_NE(hwnd, nullptr);
                CWindowWnd* window = WindowFromHandle(hwnd);
                ASSERT_TRUE(TestInput::WaitFor([&] { return window->GetWindowRect().Height() == c.height; }))
                    << "height " << window->GetWindowRect().Height();
                EXPECT_EQ(window->GetWindowText(), CDuiString(u"多盘选择"));
                EXPECT_EQ(window->GetWindowRect().Width(), 230);
                EXPECT_EQ(ControlIn(hwnd, u"Lbl_Title")->GetText(), CDuiString(u"选择游戏盘"));
                for (int i = 0; i < 4; ++i) {
                    EXPECT_EQ(ControlIn(hwnd, buttons[i])->IsVisible(), i < shown) << i;
                    EXPECT_EQ(ControlIn(hwnd, buttons[i])->GetText(), CDuiString(texts[i]));
                }
                // The last disc's button lies inside the shorter window.
                EXPECT_LT(ControlIn(hwnd, buttons[shown - 1])->GetPos().bottom, c.height);
                // It centres itself again after shrinking.
                const RECT rc = window->GetWindowRect();
                const int centreY = (rc.top + rc.bottom) / 2;
                if (fullCentreY < 0)
                    fullCentreY = centreY;
                EXPECT_NEAR(centreY, fullCentreY, 1);
                Shoot(hwnd, "MultiDiscDialog_" + std::to_string(c.discs));
                // The last disc's button answers its index.
                ClickOn(hwnd, buttons[shown - 1]);
            });
        EXPECT_EQ(answer, shown - 1);
    }
}

TEST_F(LaunchDialogsTest, DiscDialogAnswersTheClickedDiscOrClosed)
{
    const char16_t* buttons[] = {u"Btn_Disc1", u"Btn_Disc2", u"Btn_Disc3", u"Btn_Disc4"};
    for (int i = 0; i < 4; ++i) {
        const int answer = RunWithScript(u"MultiDiscSelectFrame", [] { return CMultiDiscSelectFrame::Ask(nullptr, 4); },
                                         [&](HWND hwnd) {
                                             ASSERT_NE(hwnd, nullptr);
                                             ClickOn(hwnd, buttons[i]);
                                         });
        EXPECT_EQ(answer, i);
    }
    EXPECT_EQ(RunWithScript(u"MultiDiscSelectFrame", [] { return CMultiDiscSelectFrame::Ask(nullptr, 2); },
                            [](HWND hwnd) {
                                ASSERT_NE(hwnd, nullptr);
                                ClickOn(hwnd, u"Btn_Close");
                            }),
              -1);
    EXPECT_EQ(RunWithScript(u"MultiDiscSelectFrame", [] { return CMultiDiscSelectFrame::Ask(nullptr, 3); },
                            [](HWND hwnd) {
                                ASSERT_NE(hwnd, nullptr);
                                CPaintManagerUI::EndAllModalLoops(IDCLOSE);
                            }),
              -1);
}

// With no disc the dialog closes by itself as soon as it is shown.
TEST_F(LaunchDialogsTest, DiscDialogWithoutDiscsClosesAtOnce)
{
    for (int discs : {0, -3}) {
        SCOPED_TRACE(discs);
        const int answer = RunWithScript(u"MultiDiscSelectFrame",
                                         [&] { return CMultiDiscSelectFrame::Ask(nullptr, discs); }, [](HWND) {});
        EXPECT_EQ(answer, -1);
        EXPECT_EQ(FindWindow(u"MultiDiscSelectFrame"), nullptr);
    }
}

} // namespace
