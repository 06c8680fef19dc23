// The download source dialog in real windows on Qt's offscreen platform, opened the way the engine
// opens it: a worker asks the chooser, which runs the dialog on the UI thread; the test clicks
// through the window's real input handling.

#include "download/DownLoadTypeFrame.h"
#include "download/DownLoadTypeChooser.h"
#include "tests/support/OffscreenUi.h"
#include "ui/Button.h"
#include "ui/PaintManager.h"
#include "ui/TestInput.h"
#include "ui/WindowWnd.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using namespace UiLib;

// For the whole download test program. glibc keeps the path list of a locale loaded through
// LOCPATH (the GBK tests compile their own) for the life of the process.
extern "C" const char* __lsan_default_suppressions()
{
    return QUOKKA_QT_LEAK_SUPPRESSIONS "leak:__argz_add_sep\nleak:_nl_find_locale\n";
}

namespace {

[[maybe_unused]] ::testing::Environment* const g_ui = testsupport::UseOffscreenUi();

constexpr int kLayoutHeight = 176;

// Asks the program's chooser from a worker thread, as the download engine does, while `script`
// drives the dialog. Returns the worker's answer.
int AskWithScript(int mask, const std::function<void(HWND)>& script)
{
    return testsupport::DriveModalDialog(
        testsupport::AskedFrom::Worker, u"DownLoadTypeFrame",
        [mask] { return CDownLoadTypeChooser().ChooseDownloadSource(nullptr, mask); }, script);
}

using testsupport::CentreOf;
using testsupport::ClickOn;
using testsupport::ControlIn;

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
            EXPECT_EQ(ControlIn(hwnd, u"Btn_BaiduPan")->IsVisible(), c.pan);
            EXPECT_EQ(ControlIn(hwnd, u"Btn_Quokka")->IsVisible(), c.quokka);
            EXPECT_EQ(ControlIn(hwnd, u"Btn_NoZip")->IsVisible(), c.noZip);
            ClickOn(hwnd, u"Btn_Close");
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
        POINT pt = CentreOf(ControlIn(hwnd, u"Btn_Quokka"));
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
            ClickOn(hwnd, name);
        });
        EXPECT_EQ(answer, source);
    }
}

// By keys alone: the focus starts on the first source offered, the arrows move it, Esc closes.
TEST(DownLoadTypeFrameTest, KeysAloneChooseASourceOrClose)
{
    auto byKeys = [](int mask, std::vector<UINT> keys) {
        return AskWithScript(mask, [&](HWND hwnd) {
            ASSERT_NE(hwnd, nullptr);
            for (UINT key : keys)
                TestInput::Key(hwnd, key);
        });
    };
    const int all = kSourceBaiduPan | kSourceOwnServer | kSourceNoZip;
    EXPECT_EQ(byKeys(all, {VK_RETURN}), kSourceBaiduPan);
    EXPECT_EQ(byKeys(kSourceOwnServer | kSourceNoZip, {VK_RETURN}), kSourceOwnServer);
    EXPECT_EQ(byKeys(all, {VK_DOWN, VK_DOWN, VK_SPACE}), kSourceNoZip);
    EXPECT_EQ(byKeys(all, {VK_ESCAPE}), kSourceClosed);
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
        POINT plate = CentreOf(ControlIn(hwnd, u"Btn_Quokka"));
        EXPECT_GT((image.Pixel(plate.x - 60, plate.y) >> 16) & 0xFF, 0xE0u);
        ClickOn(hwnd, u"Btn_Close");
    });
    EXPECT_EQ(answer, kSourceClosed);
}

} // namespace
