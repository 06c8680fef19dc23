#include "tests/support/OffscreenUi.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "ui/DialogFrameWnd.h"
#include "ui/PaintManager.h"
#include "ui/TestInput.h"
#include "ui/WindowWnd.h"

namespace testsupport {

using namespace UiLib;

namespace {

constexpr auto kShowWait = std::chrono::seconds(5);
constexpr int kCloseWaitMs = 3000;
constexpr int kAnswerWaitMs = 8000;

// From a thread other than the UI thread: the first shown window of `className`, or null when
// none is shown within kShowWait or before `stop` is set.
HWND AwaitShownWindow(const char16_t* className, const std::atomic<bool>& stop)
{
    const auto deadline = std::chrono::steady_clock::now() + kShowWait;
    HWND shown = nullptr;
    while (shown == nullptr && !stop && std::chrono::steady_clock::now() < deadline) {
        // Each look returns at once: handling events inside it could start the dialog's modal
        // loop within this very request, which would then never return to run the script. The
        // request itself waits on the UI thread, so the looks are paced by its loop.
        RunOnUiThread([&] {
            HWND hwnd = FindWindow(className);
            CWindowWnd* window = hwnd != nullptr ? WindowFromHandle(hwnd) : nullptr;
            if (window != nullptr && window->IsVisible())
                shown = hwnd;
            return 0;
        });
        if (shown == nullptr)
            std::this_thread::yield();
    }
    return shown;
}

} // namespace

void StartOffscreenUi()
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    CPaintManagerUI::SetInstance(nullptr);
}

void StopOffscreenUi()
{
    CPaintManagerUI::Term();
}

::testing::Environment* UseOffscreenUi()
{
    static ::testing::Environment* const environment =
        ::testing::AddGlobalTestEnvironment(new OffscreenUiEnvironment); // gtest owns it
    return environment;
}

POINT CentreOf(CControlUI* control)
{
    const RECT& rc = control->GetPos();
    return POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
}

CControlUI* ControlIn(HWND hwnd, std::u16string_view name)
{
    auto* dialog = dynamic_cast<CDialogFrameWnd*>(WindowFromHandle(hwnd));
    return dialog != nullptr ? dialog->GetPaintManager().FindControl(name) : nullptr;
}

void ClickOn(HWND hwnd, std::u16string_view name)
{
    CControlUI* control = ControlIn(hwnd, name);
    ASSERT_NE(control, nullptr) << "no control named " << CDuiString(name).ToUtf8();
    TestInput::Click(hwnd, CentreOf(control));
}

int DriveModalDialog(AskedFrom from, const char16_t* className, const std::function<int()>& ask,
                     const std::function<void(HWND)>& script)
{
    std::atomic<bool> asked{false};
    std::atomic<bool> scripted{false};
    int answer = -1;
    std::thread driver([&] {
        const HWND hwnd = AwaitShownWindow(className, asked);
        RunOnUiThread([&] {
            script(hwnd);
            if (hwnd == nullptr && !asked) {
                ADD_FAILURE() << "no dialog was shown";
                CPaintManagerUI::EndAllModalLoops(IDCLOSE);
            } else if (hwnd != nullptr &&
                       !TestInput::WaitFor([&] { return !IsWindow(hwnd); }, kCloseWaitMs)) {
                ADD_FAILURE() << "the script left the dialog open";
                CPaintManagerUI::EndAllModalLoops(IDCLOSE);
            }
            return 0;
        });
        scripted = true;
    });
    std::thread worker;
    if (from == AskedFrom::Worker) {
        worker = std::thread([&] {
            answer = ask();
            asked = true;
        });
    } else {
        answer = ask();
        asked = true;
    }
    // The driver's requests need the UI loop until the script has run, also when the dialog ended
    // on its own before that.
    auto ended = [&] { return asked.load() && scripted.load(); };
    if (!TestInput::WaitFor(ended, kAnswerWaitMs)) {
        ADD_FAILURE() << "the dialog gave no answer";
        CPaintManagerUI::EndAllModalLoops(IDCLOSE);
        TestInput::WaitFor(ended, kAnswerWaitMs);
    }
    driver.join();
    if (worker.joinable())
        worker.join();
    return answer;
}

} // namespace testsupport
