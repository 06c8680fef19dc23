// The download source dialog in real windows on Qt's offscreen platform, opened the way the engine
// opens it: a worker asks the chooser, which runs the dialog on the UI thread; the test clicks
// through the window's real input handling.

#include "download/DownLoadTypeFrame.h"
#include "download/DownLoadTypeChooser.h"
#include "ui/Button.h"
#include "ui/PaintManager.h"
#include "ui/TestInput.h"
#include "ui/WindowWnd.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

using namespace UiLib;

// Allocations that the system libraries under Qt keep for the life of the process.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig\nleak:libdbus\nleak:libglib\nleak:FcPattern\nleak:QFontDatabase\n";
}

namespace {

class UiEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        CPaintManagerUI::SetInstance(nullptr);
    }
    void TearDown() override { CPaintManagerUI::Term(); }
};

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new UiEnvironment); // gtest owns it

constexpr int kLayoutHeight = 176;

// Asks the program's chooser from a worker thread, as the download engine does, while the test
// thread runs the UI loop. The dialog runs in a modal loop of its own on the UI thread, so the
// test's input must come from inside that loop: a driver thread waits for the dialog through
// RunOnUiThread and then runs `script` there with the dialog's handle (null when none appeared).
// Returns the worker's answer, or -1 when it gave none.
int AskWithScript(int mask, const std::function<void(HWND)>& script)
{
    std::atomic<bool> done{false};
    int answer = -1;
    std::thread worker([&] {
        CDownLoadTypeChooser chooser;
        answer = chooser.ChooseDownloadSource(nullptr, mask);
        done = true;
    });
    std::thread driver([&] {
        HWND hwnd = nullptr;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        // Each look returns at once: processing events inside it could start the dialog's modal
        // loop within this very request, which would then never return to run the script.
        while (hwnd == nullptr && std::chrono::steady_clock::now() < deadline) {
            RunOnUiThread([&] {
                hwnd = FindWindow(u"DownLoadTypeFrame");
                return 0;
            });
            if (hwnd == nullptr)
                std::this_thread::sleep_for(std::chrono::milliseconds(5)); // poll interval only
        }
        RunOnUiThread([&] {
            script(hwnd);
            return 0;
        });
    });
    if (!TestInput::WaitFor([&] { return done.load(); }, 8000)) {
        ADD_FAILURE() << "the chooser did not answer";
        CPaintManagerUI::EndAllModalLoops(IDCLOSE);
        TestInput::WaitFor([&] { return done.load(); }, 8000);
    }
    driver.join();
    worker.join();
    return answer;
}

CControlUI* Control(HWND hwnd, const char16_t* name)
{
    auto* dialog = static_cast<CDownLoadTypeFrame*>(WindowFromHandle(hwnd));
    return dialog->GetPaintManager().FindControl(name);
}

POINT CentreOf(CControlUI* control)
{
    RECT rc = control->GetPos();
    return POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
}

struct MaskCase {
    int mask;
    bool pan, quokka, noZip;
};

TEST(DownLoadTypeFrameTest, ShowsTheOfferedButtonsAndShrinksByTheHiddenOnes)
{
    const MaskCase cases[] = {{0, false, false, false}, {1, true, false, false}, {4, false, true, false},
                              {8, false, false, true},  {5, true, true, false},  {13, true, true, true}};
    for (const MaskCase& c : cases) {
        SCOPED_TRACE("mask " + std::to_string(c.mask));
        const int answer = AskWithScript(c.mask, [&](HWND hwnd) {
            ASSERT_NE(hwnd, nullptr);
            CWindowWnd* window = WindowFromHandle(hwnd);
            EXPECT_EQ(window->GetWindowText(), CDuiString(u"下载方式"));
            const int hidden = !c.pan + !c.quokka + !c.noZip;
            EXPECT_EQ(window->GetWindowRect().Height(), kLayoutHeight - 41 * hidden);
            EXPECT_EQ(window->GetWindowRect().Width(), 230);
            EXPECT_EQ(Control(hwnd, u"Btn_BaiduPan")->IsVisible(), c.pan);
            EXPECT_EQ(Control(hwnd, u"Btn_Quokka")->IsVisible(), c.quokka);
            EXPECT_EQ(Control(hwnd, u"Btn_NoZip")->IsVisible(), c.noZip);
            TestInput::Click(hwnd, CentreOf(Control(hwnd, u"Btn_Close")));
        });
        EXPECT_EQ(answer, kSourceClosed);
        EXPECT_EQ(FindWindow(u"DownLoadTypeFrame"), nullptr);
    }
}

TEST(DownLoadTypeFrameTest, OnlyTheOwnServerLeavesAWindow82PixelsShorter)
{
    const int answer = AskWithScript(kSourceOwnServer, [](HWND hwnd) {
        ASSERT_NE(hwnd, nullptr);
        EXPECT_EQ(WindowFromHandle(hwnd)->GetWindowRect().Height(), kLayoutHeight - 82);
        // The one button lies inside the shorter window, where a click lands on it.
        POINT pt = CentreOf(Control(hwnd, u"Btn_Quokka"));
        EXPECT_LT(pt.y, kLayoutHeight - 82);
        TestInput::Click(hwnd, pt);
    });
    EXPECT_EQ(answer, kSourceOwnServer);
}

TEST(DownLoadTypeFrameTest, EachButtonAnswersItsSource)
{
    const std::pair<const char16_t*, int> buttons[] = {
        {u"Btn_BaiduPan", kSourceBaiduPan}, {u"Btn_Quokka", kSourceOwnServer}, {u"Btn_NoZip", kSourceNoZip}};
    for (const auto& [name, source] : buttons) {
        const int answer = AskWithScript(kSourceBaiduPan | kSourceOwnServer | kSourceNoZip, [&](HWND hwnd) {
            ASSERT_NE(hwnd, nullptr);
            TestInput::Click(hwnd, CentreOf(Control(hwnd, name)));
        });
        EXPECT_EQ(answer, source);
    }
}

// A dialog ended from outside (the program shutting down, the window system's close) is no choice,
// although the toolkit's code for such an end is the same number as the no-zip source.
TEST(DownLoadTypeFrameTest, DialogEndedFromOutsideAnswersClosed)
{
    EXPECT_EQ(AskWithScript(kSourceNoZip | kSourceOwnServer,
                            [](HWND hwnd) {
                                ASSERT_NE(hwnd, nullptr);
                                CPaintManagerUI::EndAllModalLoops(IDCLOSE);
                            }),
              kSourceClosed);
    EXPECT_EQ(AskWithScript(kSourceNoZip,
                            [](HWND hwnd) {
                                ASSERT_NE(hwnd, nullptr);
                                WindowFromHandle(hwnd)->SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
                            }),
              kSourceClosed);
}

TEST(DownLoadTypeFrameTest, PaintsTheSkin)
{
    const int answer = AskWithScript(13, [](HWND hwnd) {
        ASSERT_NE(hwnd, nullptr);
        TestInput::TestImage image = TestInput::Grab(hwnd);
        ASSERT_FALSE(image.IsNull());
        // The caption band is the accent blue; the source button's plate is light.
        const std::uint32_t caption = image.Pixel(5, 20);
        EXPECT_LT((caption >> 16) & 0xFF, 0x60u) << std::hex << caption;
        EXPECT_GT(caption & 0xFF, 0xC0u) << std::hex << caption;
        POINT plate = CentreOf(Control(hwnd, u"Btn_Quokka"));
        EXPECT_GT((image.Pixel(plate.x - 60, plate.y) >> 16) & 0xFF, 0xE0u);
        TestInput::Click(hwnd, CentreOf(Control(hwnd, u"Btn_Close")));
    });
    EXPECT_EQ(answer, kSourceClosed);
}

} // namespace
