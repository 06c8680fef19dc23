// The two dialogs of a launch in real windows on Qt's offscreen platform, opened as the launcher
// opens them (the static Ask calls, modal on the UI thread); the test's input runs inside the
// dialog's own modal loop and goes through the window's real hit testing and dispatch.

#include "emulator/HandleTypeFrame.h"
#include "emulator/MultiDiscSelectFrame.h"
#include "ui/PaintManager.h"
#include "ui/TestInput.h"
#include "ui/WindowWnd.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

using namespace UiLib;

// Allocations that the system libraries under Qt keep for the life of the process. Weak, so a
// suite beside this one may give its own list.
extern "C" __attribute__((weak)) const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig\nleak:libdbus\nleak:libglib\nleak:FcPattern\nleak:QFontDatabase\n";
}

namespace {

class LaunchDialogsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        CPaintManagerUI::SetInstance(nullptr);
    }
    // The toolkit goes with the suite: left to the end of the process, the application object would
    // be destroyed among the static objects after Qt's own.
    static void TearDownTestSuite() { CPaintManagerUI::Term(); }
};

// Runs `open` (which shows a modal dialog and returns its answer) on the UI thread while `script`
// runs inside the dialog's modal loop, and returns the answer. The script gets the first window
// of `className` once it is shown (null if none appears). A dialog the script leaves open is
// ended, so a failing test cannot hang.
int RunWithScript(const char16_t* className, const std::function<int()>& open,
                  const std::function<void(HWND)>& script)
{
    std::atomic<bool> scriptDone{false};
    std::thread driver([&] {
        RunOnUiThread([&] {
            HWND hwnd = nullptr;
            TestInput::WaitFor(
                [&] {
                    hwnd = FindWindow(className);
                    return hwnd != nullptr && WindowFromHandle(hwnd)->IsVisible();
                },
                3000);
            script(hwnd);
            if (!TestInput::WaitFor([&] { return FindWindow(className) == nullptr; }, 3000)) {
                ADD_FAILURE() << "the dialog is still open";
                CPaintManagerUI::EndAllModalLoops(IDCLOSE);
            }
            return 0;
        });
        scriptDone = true;
    });
    const int answer = open();
    // A dialog that ended on its own before the script ran still lets the script have its turn.
    TestInput::WaitFor([&] { return scriptDone.load(); }, 8000);
    driver.join();
    return answer;
}

CControlUI* Control(HWND hwnd, const char16_t* name)
{
    auto* dialog = dynamic_cast<CDialogFrameWnd*>(WindowFromHandle(hwnd));
    return dialog != nullptr ? dialog->GetPaintManager().FindControl(name) : nullptr;
}

POINT CentreOf(CControlUI* control)
{
    RECT rc = control->GetPos();
    return POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
}

void ClickControl(HWND hwnd, const char16_t* name)
{
    CControlUI* control = Control(hwnd, name);
    ASSERT_NE(control, nullptr) << "no control named this way";
    TestInput::Click(hwnd, CentreOf(control));
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
                                         EXPECT_EQ(Control(hwnd, u"Btn_GamePad")->GetText(), CDuiString(u"手柄"));
                                         EXPECT_EQ(Control(hwnd, u"Btn_Keyboard")->GetText(), CDuiString(u"键盘"));
                                         ASSERT_NE(Control(hwnd, u"Btn_Custom"), nullptr);
                                         EXPECT_EQ(Control(hwnd, u"Btn_Custom")->GetText(), CDuiString(u"自定义"));
                                         EXPECT_FALSE(Control(hwnd, u"Btn_Custom")->IsVisible());
                                         // Both choices lie inside the window, where a person can click them.
                                         EXPECT_LT(Control(hwnd, u"Btn_Keyboard")->GetPos().bottom, 134);
                                         // The caption band is the accent blue, the plates light.
                                         TestInput::TestImage image = TestInput::Grab(hwnd);
                                         ASSERT_FALSE(image.IsNull());
                                         EXPECT_GT(image.Pixel(5, 20) & 0xFF, 0xC0u);
                                         POINT plate = CentreOf(Control(hwnd, u"Btn_GamePad"));
                                         EXPECT_GT((image.Pixel(plate.x + 60, plate.y) >> 16) & 0xFF, 0xE0u);
                                         Shoot(hwnd, "HandleTypeDialog");
                                         ClickControl(hwnd, u"Btn_Close");
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
        {"gamepad", [](HWND hwnd) { ClickControl(hwnd, u"Btn_GamePad"); }, 1},
        {"keyboard", [](HWND hwnd) { ClickControl(hwnd, u"Btn_Keyboard"); }, 2},
        {"close button", [](HWND hwnd) { ClickControl(hwnd, u"Btn_Close"); }, -1},
        // The window system's close and the program's shutdown are no choice either, although
        // the toolkit's code for them could be mistaken for one.
        {"system close", [](HWND hwnd) { WindowFromHandle(hwnd)->SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0); }, -1},
        {"shutdown", [](HWND) { CPaintManagerUI::EndAllModalLoops(IDCLOSE); }, -1},
        {"keyboard clicked twice", [](HWND hwnd) {
             ClickControl(hwnd, u"Btn_Keyboard");
             if (FindWindow(u"DownLoadTypeFrame") != nullptr)
                 ClickControl(hwnd, u"Btn_GamePad");
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
                EXPECT_EQ(Control(hwnd, u"Lbl_Title")->GetText(), CDuiString(u"选择游戏盘"));
                for (int i = 0; i < 4; ++i) {
                    EXPECT_EQ(Control(hwnd, buttons[i])->IsVisible(), i < shown) << i;
                    EXPECT_EQ(Control(hwnd, buttons[i])->GetText(), CDuiString(texts[i]));
                }
                // The last disc's button lies inside the shorter window.
                EXPECT_LT(Control(hwnd, buttons[shown - 1])->GetPos().bottom, c.height);
                // It centres itself again after shrinking.
                const RECT rc = window->GetWindowRect();
                const int centreY = (rc.top + rc.bottom) / 2;
                if (fullCentreY < 0)
                    fullCentreY = centreY;
                EXPECT_NEAR(centreY, fullCentreY, 1);
                Shoot(hwnd, "MultiDiscDialog_" + std::to_string(c.discs));
                // The last disc's button answers its index.
                ClickControl(hwnd, buttons[shown - 1]);
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
                                             ClickControl(hwnd, buttons[i]);
                                         });
        EXPECT_EQ(answer, i);
    }
    EXPECT_EQ(RunWithScript(u"MultiDiscSelectFrame", [] { return CMultiDiscSelectFrame::Ask(nullptr, 2); },
                            [](HWND hwnd) {
                                ASSERT_NE(hwnd, nullptr);
                                ClickControl(hwnd, u"Btn_Close");
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
