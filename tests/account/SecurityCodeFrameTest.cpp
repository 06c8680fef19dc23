// The security code dialog in real windows on Qt's offscreen platform, opened the way the share
// resolver opens it: a worker asks the program's prompt, which runs the dialog on the UI thread;
// the test types and clicks through the window's real input handling.

#include "account/SecurityCodeFrame.h"
#include "account/SecurityCodeAsker.h"
#include "server/CaptchaPicture.h"
#include "tests/support/OffscreenUi.h"
#include "tests/support/TempDir.h"
#include "ui/PaintManager.h"
#include "ui/TestInput.h"
#include "ui/WindowWnd.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

using namespace UiLib;

extern "C" const char* __lsan_default_suppressions()
{
    return QUOKKA_QT_LEAK_SUPPRESSIONS;
}

namespace {

[[maybe_unused]] ::testing::Environment* const g_ui = testsupport::UseOffscreenUi();

struct Answer {
    int result = -1;
    std::string code;
};

// Asks the program's prompt from a worker thread, as the share resolver does, while `script`
// drives the dialog.
Answer AskWithScript(const std::string& picture, const std::function<void(HWND)>& script)
{
    Answer answer;
    answer.result = testsupport::DriveModalDialog(
        testsupport::AskedFrom::Worker, u"SecurityCodeFrame",
        [&] { return CSecurityCodeAsker().AskSecurityCode(nullptr, picture, "", answer.code); }, script);
    return answer;
}

// Whether the rendering holds a pixel of the picture's ink (JPEG moves colours a little).
bool ShowsInk(const TestInput::TestImage& image)
{
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const std::uint32_t p = image.Pixel(x, y);
            const int r = (p >> 16) & 0xff, g = (p >> 8) & 0xff, b = p & 0xff;
            if (std::abs(r - kCaptchaInk[0]) < 24 && std::abs(g - kCaptchaInk[1]) < 24 &&
                std::abs(b - kCaptchaInk[2]) < 24)
                return true;
        }
    return false;
}

class SecurityCodeFrameTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(testsupport::WriteFile(m_picture, DrawCaptchaJpeg("KM47"))); }

    testsupport::TempDir m_dir;
    const std::string m_picture = m_dir.Path() + "20001.jpg";
};

TEST_F(SecurityCodeFrameTest, ShowsThePictureAndTakesOnlyFourCharactersByEnter)
{
    bool inkBefore = false, inkWithoutPicture = true, openAfterThree = false, openAfterFive = false;
    Answer answer = AskWithScript(m_picture, [&](HWND hwnd) {
        ASSERT_NE(hwnd, nullptr);
        TestInput::ProcessEvents();
        inkBefore = ShowsInk(TestInput::Grab(hwnd));
        // Typing without a click lands in the code field.
        TestInput::TypeText(hwnd, u"KM4");
        TestInput::Key(hwnd, VK_RETURN);
        TestInput::ProcessEvents();
        openAfterThree = IsWindow(hwnd);
        TestInput::TypeText(hwnd, u"7X");
        TestInput::Key(hwnd, VK_RETURN);
        TestInput::ProcessEvents();
        openAfterFive = IsWindow(hwnd);
        TestInput::Key(hwnd, 0x08); // backspace
        TestInput::Key(hwnd, VK_RETURN);
    });
    EXPECT_TRUE(inkBefore) << "the picture is painted";
    EXPECT_TRUE(openAfterThree);
    EXPECT_TRUE(openAfterFive);
    EXPECT_EQ(answer.result, 1);
    EXPECT_EQ(answer.code, "KM47");

    // A dialog whose picture is missing paints no ink.
    AskWithScript(m_dir.Path() + "missing.jpg", [&](HWND hwnd) {
        ASSERT_NE(hwnd, nullptr);
        TestInput::ProcessEvents();
        inkWithoutPicture = ShowsInk(TestInput::Grab(hwnd));
        TestInput::TypeText(hwnd, u"ABCD");
        TestInput::Key(hwnd, VK_RETURN);
    });
    EXPECT_FALSE(inkWithoutPicture);
}

TEST_F(SecurityCodeFrameTest, TheButtonsAcceptFourCharactersAndCloseWithEight)
{
    bool openAfterFive = false;
    Answer closed = AskWithScript(m_picture, [&](HWND hwnd) {
        ASSERT_NE(hwnd, nullptr);
        TestInput::ProcessEvents();
        TestInput::TypeText(hwnd, u"ABCDE");
        testsupport::ClickOn(hwnd, u"Btn_Ok");
        TestInput::ProcessEvents();
        openAfterFive = IsWindow(hwnd);
        testsupport::ClickOn(hwnd, u"Btn_Close");
    });
    EXPECT_TRUE(openAfterFive);
    EXPECT_EQ(closed.result, 8);
    EXPECT_EQ(closed.code, "");

    Answer accepted = AskWithScript(m_picture, [&](HWND hwnd) {
        ASSERT_NE(hwnd, nullptr);
        TestInput::ProcessEvents();
        TestInput::TypeText(hwnd, u"ABCD");
        testsupport::ClickOn(hwnd, u"Btn_Ok");
    });
    EXPECT_EQ(accepted.result, 1);
    EXPECT_EQ(accepted.code, "ABCD");

    // A dialog ended from outside (shutdown of its loops) answers "closed" too.
    Answer ended = AskWithScript(m_picture, [&](HWND hwnd) {
        ASSERT_NE(hwnd, nullptr);
        TestInput::TypeText(hwnd, u"ABCD");
        CPaintManagerUI::EndAllModalLoops(IDCLOSE);
    });
    EXPECT_EQ(ended.result, 8);
}

} // namespace
