// The feedback dialog in a real window on Qt's offscreen platform: its texts, the forum link
// clicked through the window's input handling and reaching a recording xdg-open first on PATH,
// and its result.

#include "account/SuggestionFrame.h"
#include "foundation/ServerEndpoints.h"
#include "tests/support/OffscreenUi.h"
#include "tests/support/TempDir.h"
#include "ui/PaintManager.h"
#include "ui/TestInput.h"
#include "ui/Text.h"
#include "ui/WindowWnd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <vector>

using namespace UiLib;
namespace fs = std::filesystem;

namespace {

[[maybe_unused]] ::testing::Environment* const g_ui = testsupport::UseOffscreenUi();

class SuggestionFrameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ServerEndpoints endpoints = DefaultServerEndpoints();
        endpoints.SiteBase = "http://127.0.0.1:28080/site/";
        SetServerEndpoints(endpoints);
    }

    // An xdg-open that writes its arguments to opened.txt, first on PATH.
    void InstallRecordingOpener()
    {
        const std::string script = m_dir.Path() + "xdg-open";
        ASSERT_TRUE(testsupport::WriteFile(script, "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" + m_dir.Path() +
                                                       "opened.part\"\nmv \"" + m_dir.Path() +
                                                       "opened.part\" \"" + m_dir.Path() + "opened.txt\"\n"));
        chmod(script.c_str(), 0755);
        const char* path = std::getenv("PATH");
        m_oldPath = path ? path : "";
        setenv("PATH", (m_dir.Path() + ":" + m_oldPath).c_str(), 1);
    }

    void TearDown() override
    {
        if (!m_oldPath.empty())
            setenv("PATH", m_oldPath.c_str(), 1);
    }

    testsupport::TempDir m_dir;
    std::string m_oldPath;
};

TEST_F(SuggestionFrameTest, ShowsTheVersionAndOpensTheForumLinkWithoutItsMarkup)
{
    InstallRecordingOpener();
    CSuggestionFrame dialog;
    ASSERT_NE(dialog.Create(nullptr, u"反馈", CSuggestionFrame::kStyle, CSuggestionFrame::kExStyle), nullptr);
    dialog.ShowWindow(true);
    TestInput::ProcessEvents();
    CPaintManagerUI& pm = dialog.GetPaintManager();
    EXPECT_EQ(pm.FindControl(u"Tx_Version")->GetText(), u"9.8.7");
    auto* forum = static_cast<CTextUI*>(pm.FindControl(u"Tx_bbsUrl"));
    EXPECT_EQ(forum->GetText(), u"<f 0><a>http://127.0.0.1:28080/site/bbs/</a></f>");

    // Click where the link is drawn.
    const RECT rc = forum->GetPos();
    POINT at{-1, -1};
    for (int x = rc.left; x < rc.right && at.x < 0; ++x)
        for (int y = rc.top; y < rc.bottom && at.x < 0; ++y)
            if (forum->HitTestLink(POINT{x, y}) == 0)
                at = POINT{x, y};
    ASSERT_GE(at.x, 0) << "the link is drawn";
    TestInput::Click(dialog.GetHWND(), at);
    const std::string opened = m_dir.Path() + "opened.txt";
    ASSERT_TRUE(TestInput::WaitFor([&] { return fs::exists(opened); }, 5000));
    EXPECT_EQ(testsupport::ReadFile(opened), "http://127.0.0.1:28080/site/bbs/\n");
    dialog.DestroyWindow();
    TestInput::ProcessEvents();

    // Only a web address is handed on.
    EXPECT_EQ(CSuggestionFrame::LinkAddress(CSuggestionFrame::LinkMarkup("https://example.test/bbs/")),
              "https://example.test/bbs/");
    EXPECT_EQ(CSuggestionFrame::LinkAddress(u"<f 0><a></a></f>"), "");
    EXPECT_EQ(CSuggestionFrame::LinkAddress(CSuggestionFrame::LinkMarkup("--help")), "");
    EXPECT_EQ(CSuggestionFrame::LinkAddress(CSuggestionFrame::LinkMarkup("/etc/passwd")), "");
}

// The invitation is drawn as its two sentences, one a line, inside its control: no word of a
// sentence wraps onto a short line of its own and no line is cut off at the control's foot.
TEST_F(SuggestionFrameTest, TheInvitationShowsOneSentenceALine)
{
    CSuggestionFrame dialog;
    ASSERT_NE(dialog.Create(nullptr, u"反馈", CSuggestionFrame::kStyle, CSuggestionFrame::kExStyle), nullptr);
    dialog.ShowWindow(true);
    TestInput::ProcessEvents();
    const RECT rc = dialog.GetPaintManager().FindControl(u"Tx_Invite")->GetPos();
    const TestInput::TestImage image = TestInput::Grab(dialog.GetHWND());
    ASSERT_FALSE(image.IsNull());
    if (const char* keep = std::getenv("QUOKKA_KEEP_SHOTS"))
        TestInput::SaveImage(dialog.GetHWND(), std::string(keep) + "/feedback-dialog.png");

    // Rows with ink (clearly darker than the white ground), grouped into lines: each line's height
    // and how far right its ink reaches.
    auto inked = [&](int x, int y) {
        const std::uint32_t p = image.Pixel(x, y);
        return ((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF) < 3 * 160;
    };
    struct Line {
        int top, bottom, right;
    };
    std::vector<Line> lines;
    for (int y = rc.top; y < rc.bottom && y < image.height; ++y) {
        int right = -1;
        for (int x = rc.left; x < rc.right; ++x)
            if (inked(x, y))
                right = x;
        if (right < 0)
            continue;
        if (!lines.empty() && lines.back().bottom == y - 1) {
            lines.back().bottom = y;
            lines.back().right = std::max(lines.back().right, right);
        } else {
            lines.push_back({y, y, right});
        }
    }
    ASSERT_EQ(lines.size(), 2u) << "the two sentences take two lines";
    const int width = rc.right - rc.left;
    for (const Line& line : lines) {
        EXPECT_GT(line.right - rc.left, width * 2 / 3) << "a line of a few characters";
        EXPECT_LT(line.bottom, rc.bottom - 1) << "a line cut off at the control's foot";
    }
    dialog.DestroyWindow();
    TestInput::ProcessEvents();
}

TEST_F(SuggestionFrameTest, CloseEndsTheModalRunWithEight)
{
    const int result = testsupport::DriveModalDialog(
        testsupport::AskedFrom::UiThread, u"CSuggestionFrame", [] { return CSuggestionFrame::Run(nullptr); },
        [](HWND hwnd) {
            ASSERT_NE(hwnd, nullptr);
            CWindowWnd* dialog = WindowFromHandle(hwnd);
            EXPECT_EQ(dialog->GetWindowText(), u"反馈");
            EXPECT_EQ(dialog->GetStyle() & 0xFFFF0000u, 0x96C80000u & 0xFFFF0000u);
            EXPECT_EQ(dialog->GetExStyle(), 0x100u);
            TestInput::ProcessEvents();
            testsupport::ClickOn(hwnd, u"Btn_Close");
        });
    EXPECT_EQ(result, 8);
}

} // namespace
