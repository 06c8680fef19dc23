// The test programs' way into modal dialogs: a script runs inside the dialog's own loop whether the
// dialog was asked for on the UI thread or by a worker, and a dialog that a script leaves open or
// that never shows cannot hang a test.

#include "UiTestSupport.h"

#include <gtest/gtest-spi.h>

#include <chrono>

#include "ui/PaintManager.h"
#include "ui/TestInput.h"
#include "ui/WindowWnd.h"

using namespace UiLib;
using testsupport::AskedFrom;
using testsupport::DriveModalDialog;
using uitest::TestDialog;

namespace {

const char16_t* kLayout = uR"(<Window size="200,120">
  <VerticalLayout bkcolor="#FFFFFFFF">
    <Button name="Btn_Answer" text="answer" height="40"/>
    <Control/>
  </VerticalLayout>
</Window>)";

constexpr int kAnswer = 7;

// Shows a dialog of class "DriverDialog" modally; Btn_Answer closes it with kAnswer. UI thread only.
int AskOnUiThread()
{
    TestDialog dialog(kLayout, u"DriverDialog");
    dialog.onNotify = [&](TNotifyUI& msg) {
        if (msg.sType == u"click" && msg.pSender->GetName() == u"Btn_Answer")
            dialog.Close(kAnswer);
    };
    if (dialog.Create(nullptr, u"driver", UI_WNDSTYLE_DIALOG, WS_EX_WINDOWEDGE) == nullptr)
        return -1;
    return dialog.ShowModal();
}

// The script every case that answers uses: a real click on the answering button.
void ClickAnswer(HWND hwnd)
{
    ASSERT_NE(hwnd, nullptr);
    EXPECT_TRUE(CPaintManagerUI::IsInModalLoop()) << "the script runs inside the dialog's loop";
    testsupport::ClickOn(hwnd, u"Btn_Answer");
}

} // namespace

TEST(ModalDriverTest, TheScriptAnswersADialogAskedOnTheUiThreadOrByAWorker)
{
    EXPECT_EQ(DriveModalDialog(AskedFrom::UiThread, u"DriverDialog", AskOnUiThread, ClickAnswer), kAnswer);
    EXPECT_EQ(
        DriveModalDialog(
            AskedFrom::Worker, u"DriverDialog", [] { return RunOnUiThread(AskOnUiThread); }, ClickAnswer),
        kAnswer);
    EXPECT_EQ(FindWindow(u"DriverDialog"), nullptr);
}

TEST(ModalDriverTest, ADialogTheScriptLeavesOpenIsAFailureAndIsEnded)
{
    for (AskedFrom from : {AskedFrom::UiThread, AskedFrom::Worker}) {
        int answer = 0;
        auto ask = from == AskedFrom::UiThread
                       ? std::function<int()>(AskOnUiThread)
                       : std::function<int()>([] { return RunOnUiThread(AskOnUiThread); });
        EXPECT_NONFATAL_FAILURE(answer = DriveModalDialog(from, u"DriverDialog", ask,
                                                          [](HWND hwnd) { ASSERT_NE(hwnd, nullptr); }),
                                "the script left the dialog open");
        EXPECT_EQ(answer, IDCLOSE);
        EXPECT_EQ(FindWindow(u"DriverDialog"), nullptr);
    }
}

// A call that shows nothing (a dialog with nothing to ask) gives the script a null handle as soon
// as it returns, not after the wait for a dialog runs out.
TEST(ModalDriverTest, WithoutADialogTheScriptGetsNullOnceTheCallReturns)
{
    for (AskedFrom from : {AskedFrom::UiThread, AskedFrom::Worker}) {
        bool scripted = false;
        HWND seen = reinterpret_cast<HWND>(1);
        const auto start = std::chrono::steady_clock::now();
        const int answer = DriveModalDialog(
            from, u"DriverDialog", [] { return -1; },
            [&](HWND hwnd) {
                scripted = true;
                seen = hwnd;
            });
        EXPECT_EQ(answer, -1);
        EXPECT_TRUE(scripted);
        EXPECT_EQ(seen, nullptr);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    }
}
