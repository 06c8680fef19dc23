// The share resolver on a worker thread with the program's real code prompt: the security code
// dialog opens on the UI thread, and the test types the code that the server drew (read from the
// server's test hook) into it through the window's real input handling.

#include "account/SecurityCodeAsker.h"
#include "account/SecurityCodeFrame.h"
#include "download/ShareLinkResolver.h"
#include "foundation/NetGlobal.h"
#include "tests/download/ShareResolverServer.h"
#include "ui/PaintManager.h"
#include "ui/TestInput.h"
#include "ui/WindowWnd.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

using namespace UiLib;
using testsupport::ShareResolverServer;

namespace {

const char kShares[] = R"({
  "strict": {"file": "download/games/1.zip", "captcha": "untilright", "state": "ok", "hops": 2}
})";

class ShareCodeDialogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(NetGlobalInit()); }
    static void TearDownTestSuite() { NetGlobalCleanup(); }
    void SetUp() override { InstallSecurityCodePrompt(std::make_shared<CSecurityCodeAsker>()); }
    void TearDown() override { InstallSecurityCodePrompt(nullptr); }

    // Resolves "strict" on a worker while a driver answers each dialog that opens with `typeFor`
    // (given the dialog number from 0, it returns the text to type, or empty to close the dialog).
    // Returns the resolver's answer and how many dialogs opened.
    bool ResolveWithDialogs(const std::function<std::u16string(int)>& typeFor, int& dialogs,
                            std::string& link)
    {
        std::atomic<bool> done{false};
        bool resolved = false;
        std::thread worker([&] {
            CShareLinkResolver resolver(nullptr, m_server.PictureDir(), "20001");
            resolved = resolver.Resolve(m_server.Link("strict"), link);
            done = true;
        });
        std::atomic<int> opened{0};
        std::atomic<bool> driverDone{false};
        std::thread driver([&] {
            HWND last = nullptr;
            while (!done) {
                HWND hwnd = nullptr;
                RunOnUiThread([&] {
                    hwnd = FindWindow(u"SecurityCodeFrame");
                    return 0;
                });
                if (hwnd == nullptr || hwnd == last) {
                    std::this_thread::yield();
                    continue;
                }
                last = hwnd;
                const int number = opened++;
                RunOnUiThread([&] {
                    const std::u16string text = typeFor(number);
                    auto* dialog = static_cast<CSecurityCodeFrame*>(WindowFromHandle(hwnd));
                    if (CControlUI* prompt = dialog->GetPaintManager().FindControl(u"Lbl_Prompt"))
                        m_prompts.push_back(prompt->GetText().Str());
                    if (text.empty()) {
                        CControlUI* close = dialog->GetPaintManager().FindControl(u"Btn_Close");
                        RECT rc = close->GetPos();
                        TestInput::Click(hwnd, POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2});
                    } else {
                        TestInput::TypeText(hwnd, CDuiString(text));
                        TestInput::Key(hwnd, VK_RETURN);
                    }
                    return 0;
                });
            }
            driverDone = true;
        });
        // The driver's requests need the UI loop until it has seen the end.
        auto ended = [&] { return done.load() && driverDone.load(); };
        EXPECT_TRUE(TestInput::WaitFor(ended, 15000)) << "the resolver did not end";
        if (!ended()) {
            CPaintManagerUI::EndAllModalLoops(IDCLOSE);
            TestInput::WaitFor(ended, 15000);
        }
        worker.join();
        driver.join();
        dialogs = opened;
        return resolved;
    }

    std::u16string DrawnCode() const
    {
        const std::string code = m_server.LastCode();
        return std::u16string(code.begin(), code.end());
    }

    ShareResolverServer m_server{kShares};
    std::vector<std::u16string> m_prompts; // the request each dialog showed, in order
};

TEST_F(ShareCodeDialogTest, TheRightCodeTypedInTheDialogResolves)
{
    int dialogs = 0;
    std::string link;
    ASSERT_TRUE(ResolveWithDialogs([&](int) { return DrawnCode(); }, dialogs, link));
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(link, m_server.Server().Origin() + "/download/games/1.zip");
    EXPECT_FALSE(std::filesystem::exists(m_server.PictureDir() + "20001.jpg"));
}

TEST_F(ShareCodeDialogTest, AWrongCodeOpensASecondDialogAndClosingFails)
{
    int dialogs = 0;
    std::string link;
    auto wrongThenRight = [&](int number) {
        const std::u16string right = DrawnCode();
        return number == 0 ? (right == u"AAAA" ? u"CCCC" : u"AAAA") : right;
    };
    ASSERT_TRUE(ResolveWithDialogs(wrongThenRight, dialogs, link));
    EXPECT_EQ(dialogs, 2);
    EXPECT_EQ(m_prompts, (std::vector<std::u16string>{u"请输入图中的4位验证码", u"验证码错误"}));

    link.clear();
    EXPECT_FALSE(ResolveWithDialogs([](int) { return std::u16string(); }, dialogs, link));
    EXPECT_EQ(dialogs, 1);
    EXPECT_TRUE(link.empty());
    EXPECT_FALSE(std::filesystem::exists(m_server.PictureDir() + "20001.jpg"));
}

} // namespace
