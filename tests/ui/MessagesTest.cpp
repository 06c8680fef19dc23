// Timers, modal loops, posted messages from threads, payload ownership, RunOnUiThread.

#include "UiTestSupport.h"

#include <atomic>
#include <map>
#include <set>
#include <thread>

#include "platform/WindowMessages.h"
#include "ui/Container.h"
#include "ui/PaintManager.h"
#include "ui/WindowWnd.h"

using namespace UiLib;
using uitest::TestDialog;

namespace {

const char16_t* kSmallLayout = uR"(<Window size="200,120"><VerticalLayout name="root">
    <Control name="Ctr_Timer" height="20"/><Button name="Btn_Ok" text="OK"/></VerticalLayout></Window>)";

// A record whose lifetime the tests watch.
struct Tracked {
    static std::atomic<int> alive;
    Tracked() { ++alive; }
    ~Tracked() { --alive; }
};
std::atomic<int> Tracked::alive{0};

} // namespace

TEST(MessagesTest, TimersTickPerControlUntilKilled)
{
    TestDialog dialog(kSmallLayout);
    ASSERT_TRUE(dialog.Open());
    CControlUI* control = dialog.Find(u"Ctr_Timer");
    ASSERT_TRUE(dialog.GetPaintManager().SetTimer(control, 7, 10));
    ASSERT_TRUE(dialog.GetPaintManager().SetTimer(control, 8, 15));
    ASSERT_TRUE(TestInput::WaitFor([&] { return dialog.Count(u"timer", u"Ctr_Timer") >= 6; }));
    bool sawSeven = false, sawEight = false;
    for (const auto& note : dialog.notes) {
        sawSeven |= note.type == u"timer" && note.wParam == 7;
        sawEight |= note.type == u"timer" && note.wParam == 8;
    }
    EXPECT_TRUE(sawSeven && sawEight);

    EXPECT_TRUE(dialog.GetPaintManager().KillTimer(control, 7));
    EXPECT_FALSE(dialog.GetPaintManager().KillTimer(control, 7));
    dialog.GetPaintManager().KillTimer(control);
    int before = dialog.Count(u"timer");
    TestInput::WaitFor([] { return false; }, 80);
    EXPECT_EQ(dialog.Count(u"timer"), before);
}

TEST(MessagesTest, RemovedControlLosesItsTimers)
{
    TestDialog dialog(kSmallLayout);
    ASSERT_TRUE(dialog.Open());
    CControlUI* control = dialog.Find(u"Ctr_Timer");
    ASSERT_TRUE(dialog.GetPaintManager().SetTimer(control, 1, 5));
    ASSERT_TRUE(dialog.Find(u"root")->AsContainer()->Remove(control));
    EXPECT_EQ(dialog.Find(u"Ctr_Timer"), nullptr);
    TestInput::WaitFor([] { return false; }, 50);
    EXPECT_EQ(dialog.Count(u"timer"), 0);
}

TEST(MessagesTest, ShowModalReturnsTheCodeGivenToClose)
{
    TestDialog dialog(kSmallLayout);
    ASSERT_NE(dialog.Create(nullptr, u"modal", UI_WNDSTYLE_DIALOG & ~WS_VISIBLE, 0), nullptr);
    dialog.onMessage = [&](UINT msg, WPARAM w, LPARAM) {
        if (msg == WM_USER + 5)
            dialog.Close(static_cast<int>(w));
        return msg == WM_USER + 5;
    };
    dialog.PostMessage(WM_USER + 5, 42);
    EXPECT_EQ(dialog.ShowModal(), 42);
    EXPECT_EQ(dialog.ShowModal(), -1); // gone
}

TEST(MessagesTest, MessagesPostedFromThreadsArriveInOrderPerThread)
{
    TestDialog dialog(kSmallLayout);
    ASSERT_TRUE(dialog.Open());
    std::map<WPARAM, std::vector<LPARAM>> received;
    int total = 0;
    dialog.onMessage = [&](UINT msg, WPARAM w, LPARAM l) {
        if (msg != WM_USER + 9)
            return false;
        received[w].push_back(l);
        ++total;
        return true;
    };
    constexpr int kThreads = 4, kEach = 200;
    std::vector<std::thread> threads;
    HWND hwnd = dialog.GetHWND();
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([hwnd, t] {
            // Half the threads post as services do, through the platform layer.
            for (int i = 0; i < kEach; ++i) {
                if (t % 2 == 0)
                    UiLib::PostMessage(hwnd, WM_USER + 9, static_cast<WPARAM>(t), i);
                else
                    platform::PostMessage(hwnd, WM_USER + 9, static_cast<WPARAM>(t), i);
            }
        });
    for (auto& thread : threads)
        thread.join();
    ASSERT_TRUE(TestInput::WaitFor([&] { return total == kThreads * kEach; }));
    for (auto& [thread, values] : received) {
        ASSERT_EQ(values.size(), static_cast<size_t>(kEach));
        for (int i = 0; i < kEach; ++i)
            EXPECT_EQ(values[static_cast<size_t>(i)], i);
    }
}

TEST(MessagesTest, PayloadsAreFreedWhenTheWindowIsGone)
{
    Tracked::alive = 0;
    {
        TestDialog dialog(kSmallLayout);
        ASSERT_TRUE(dialog.Open());
        int delivered = 0;
        dialog.onMessage = [&](UINT msg, WPARAM, LPARAM l) {
            if (msg != WM_USER + 3)
                return false;
            std::unique_ptr<Tracked> record(reinterpret_cast<Tracked*>(l)); // the window frees it
            ++delivered;
            return true;
        };
        ASSERT_TRUE(UiLib::PostMessage(dialog.GetHWND(), WM_USER + 3, 0, std::make_unique<Tracked>()));
        TestInput::ProcessEvents();
        EXPECT_EQ(delivered, 1);
        EXPECT_EQ(Tracked::alive, 0);

        // Queued, then the window closes before the loop runs.
        HWND hwnd = dialog.GetHWND();
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(UiLib::PostMessage(hwnd, WM_USER + 3, 0, std::make_unique<Tracked>()));
        EXPECT_EQ(Tracked::alive, 3);
        dialog.DestroyWindow();
        TestInput::ProcessEvents();
        EXPECT_EQ(delivered, 1);
        EXPECT_EQ(Tracked::alive, 0);

        // Posting to a closed window fails and frees at once.
        EXPECT_FALSE(UiLib::PostMessage(hwnd, WM_USER + 3, 0, std::make_unique<Tracked>()));
        EXPECT_EQ(Tracked::alive, 0);
    }
}

TEST(MessagesTest, HandlesAreNeverReused)
{
    std::set<HWND> seen;
    for (int i = 0; i < 3; ++i) {
        TestDialog dialog(kSmallLayout);
        ASSERT_TRUE(dialog.Open());
        EXPECT_TRUE(seen.insert(dialog.GetHWND()).second);
    }
    for (HWND old : seen) {
        EXPECT_FALSE(IsWindow(old));
        EXPECT_FALSE(UiLib::PostMessage(old, WM_USER));
        EXPECT_EQ(SendMessage(old, WM_USER), 0);
    }
}

TEST(MessagesTest, WorkerRunsAModalDialogOnTheUiThread)
{
    std::atomic<int> answer{-100};
    std::atomic<bool> done{false};
    std::thread worker([&] {
        answer = RunOnUiThread([] {
            TestDialog dialog(kSmallLayout);
            if (dialog.Create(nullptr, u"worker", UI_WNDSTYLE_DIALOG, 0) == nullptr)
                return -1;
            dialog.onMessage = [&](UINT msg, WPARAM, LPARAM) {
                if (msg == WM_USER + 4)
                    dialog.ClickOn(u"Btn_Ok");
                return msg == WM_USER + 4;
            };
            dialog.onNotify = [&](TNotifyUI& msg) {
                if (msg.sType == u"click")
                    dialog.Close(IDYES);
            };
            dialog.PostMessage(WM_USER + 4);
            return dialog.ShowModal();
        });
        done = true;
    });
    ASSERT_TRUE(TestInput::WaitFor([&] { return done.load(); }));
    worker.join();
    EXPECT_EQ(answer, IDYES);
}

// A window about to wait for its workers refuses their dialogs first: a request already waiting is
// answered as closed (its work never runs), new ones are answered at once, and once the refusal
// ends requests are served again.
TEST(MessagesTest, ARefusalAnswersWaitingAndNewRequestsAsClosed)
{
    std::atomic<bool> ran{false};
    std::atomic<int> answer{0};
    std::thread waiting([&] {
        answer = RunOnUiThread(
            [&] {
                ran = true;
                return 1;
            },
            IDCANCEL);
    });
    // The UI loop does not run, so the request waits.
    while (PendingUiRequestCount() == 0)
        std::this_thread::yield();
    {
        CUiRequestRefusal refusal;
        waiting.join();
        EXPECT_EQ(answer, IDCANCEL);
        std::thread late([&] { answer = RunOnUiThread([] { return 2; }, IDCLOSE); });
        late.join(); // answered without the UI loop
        EXPECT_EQ(answer, IDCLOSE);
    }
    TestInput::ProcessEvents();
    EXPECT_FALSE(ran) << "the refused work was dropped";
    EXPECT_EQ(PendingUiRequestCount(), 0u);

    std::atomic<bool> done{false};
    std::thread served([&] {
        answer = RunOnUiThread([] { return 3; }, IDCLOSE);
        done = true;
    });
    ASSERT_TRUE(TestInput::WaitFor([&] { return done.load(); }));
    served.join();
    EXPECT_EQ(answer, 3);
}

TEST(MessagesTest, PendingUiRequestsAreAnsweredClosedAtShutdown)
{
    Tracked::alive = 0;
    TestDialog dialog(kSmallLayout);
    ASSERT_TRUE(dialog.Open());
    ASSERT_TRUE(UiLib::PostMessage(dialog.GetHWND(), WM_USER + 3, 0, std::make_unique<Tracked>()));

    std::atomic<int> answer{0};
    std::thread worker([&] { answer = RunOnUiThread([] { return 1; }, IDCANCEL); });
    // The UI loop does not run, so the request waits until the toolkit ends.
    while (answer == 0) {
        CPaintManagerUI::Term();
        std::this_thread::yield();
    }
    worker.join();
    EXPECT_EQ(answer, IDCANCEL);
    EXPECT_EQ(Tracked::alive, 0); // the queued message went with its record
    CPaintManagerUI::SetInstance(nullptr);
}
