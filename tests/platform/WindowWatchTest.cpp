// The window watch against a real X server (Xvfb on a display of the test's own, no window
// manager) and a real second program's window (window_peer), with and without a client list on
// the root window.

#include "platform/WindowWatch.h"

#include "tests/e2e/XServer.h"
#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>

// After GoogleTest: Xlib's macros (None, Bool, Status) would break its headers.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using platform::TopLevelWindow;

// The peer's window as the watch lists it, or nullopt when it is not listed.
std::optional<TopLevelWindow> Find(const std::vector<TopLevelWindow>& windows, unsigned long id)
{
    for (const TopLevelWindow& window : windows)
        if (window.id == id)
            return window;
    return std::nullopt;
}

// A window_peer on the test's display. Each step waits for the peer to report it done.
class Peer {
public:
    Peer(const std::string& display, std::vector<std::string> steps)
    {
        steps.insert(steps.begin(), WINDOW_PEER);
        m_process = std::make_unique<testsupport::ChildProcess>(
            steps, std::map<std::string, std::string>{{"DISPLAY", display}});
        m_id = AwaitDone();
    }
    unsigned long Id() const { return m_id; }
    // Runs the next step.
    void Next()
    {
        m_process->Signal(SIGUSR1);
        AwaitDone();
    }
    bool Running() { return !m_process->Wait(0).has_value(); }

private:
    unsigned long AwaitDone()
    {
        std::optional<std::string> line = m_process->ReadLine(5000);
        if (!line || line->rfind("done ", 0) != 0) {
            ADD_FAILURE() << "peer answered: " << line.value_or("(nothing)");
            return 0;
        }
        return std::stoul(line->substr(line->rfind(' ') + 1));
    }

    std::unique_ptr<testsupport::ChildProcess> m_process;
    unsigned long m_id = 0;
};

class WindowWatchTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!e2e::XServer::Available())
            return;
        s_server = new e2e::XServer; // deleted in TearDownTestSuite
        if (!s_server->Start()) {
            delete s_server;
            s_server = nullptr;
        }
    }
    static void TearDownTestSuite()
    {
        if (s_server != nullptr)
            s_server->Kill();
        delete s_server;
        s_server = nullptr;
    }

    void SetUp() override
    {
        if (!e2e::XServer::Available())
            GTEST_SKIP() << "Xvfb is not installed";
        ASSERT_NE(s_server, nullptr) << "Xvfb did not start";
        m_savedDisplay = std::getenv("DISPLAY") ? std::optional<std::string>(std::getenv("DISPLAY")) : std::nullopt;
        setenv("DISPLAY", s_server->Display().c_str(), 1);
    }
    void TearDown() override
    {
        if (m_savedDisplay)
            setenv("DISPLAY", m_savedDisplay->c_str(), 1);
        else
            unsetenv("DISPLAY");
    }

    const std::string& Display() const { return s_server->Display(); }

    // Sets the root window's _NET_CLIENT_LIST as a window manager would; an empty list deletes it.
    void SetClientList(const std::vector<unsigned long>& ids)
    {
        // The server may turn a connection away now and then; the watch and the peer retry too.
        ::Display* display = nullptr;
        for (int attempt = 0; display == nullptr && attempt < 5; ++attempt)
            display = XOpenDisplay(Display().c_str());
        ASSERT_NE(display, nullptr);
        Atom clientList = XInternAtom(display, "_NET_CLIENT_LIST", False);
        if (ids.empty())
            XDeleteProperty(display, DefaultRootWindow(display), clientList);
        else
            XChangeProperty(display, DefaultRootWindow(display), clientList, XA_WINDOW, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(ids.data()), static_cast<int>(ids.size()));
        XSync(display, False);
        XCloseDisplay(display);
    }

    static e2e::XServer* s_server;
    std::optional<std::string> m_savedDisplay;
};

e2e::XServer* WindowWatchTest::s_server = nullptr;

TEST(WindowWatchNoDisplayTest, WithoutADisplayTheWatchIsUnavailableAndSeesNothing)
{
    const char* saved = std::getenv("DISPLAY");
    const std::string keep = saved != nullptr ? saved : "";
    for (const char* display : {"", ":9876"}) { // none named; one named that nobody serves
        SCOPED_TRACE(display);
        setenv("DISPLAY", display, 1);
        auto watch = platform::OpenWindowWatch();
        EXPECT_FALSE(watch->Available());
        EXPECT_TRUE(watch->ListWindows().empty());
        EXPECT_FALSE(watch->HideWindow(1));
    }
    unsetenv("DISPLAY");
    EXPECT_FALSE(platform::OpenWindowWatch()->Available());
    if (saved != nullptr)
        setenv("DISPLAY", keep.c_str(), 1);
}

// Without a window manager the watch lists the root's children: the peer's window with its UTF-8
// title, on screen or not as the peer maps it, and gone once the peer closes it while it lingers.
TEST_F(WindowWatchTest, FollowsAWindowThroughTitleMapUnmapAndClose)
{
    SetClientList({});
    auto watch = platform::OpenWindowWatch();
    ASSERT_TRUE(watch->Available());
    Peer peer(Display(), {"title=ePSXe - 增强型 PSX 模拟器", "map", "unmap", "map", "close"});
    ASSERT_NE(peer.Id(), 0u);

    auto window = Find(watch->ListWindows(), peer.Id());
    ASSERT_TRUE(window);
    EXPECT_EQ(window->title, "ePSXe - 增强型 PSX 模拟器");
    EXPECT_FALSE(window->visible); // not mapped yet

    peer.Next(); // map
    window = Find(watch->ListWindows(), peer.Id());
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->visible);

    peer.Next(); // unmap
    window = Find(watch->ListWindows(), peer.Id());
    ASSERT_TRUE(window);
    EXPECT_FALSE(window->visible);

    peer.Next(); // map
    ASSERT_TRUE(Find(watch->ListWindows(), peer.Id()));
    EXPECT_TRUE(Find(watch->ListWindows(), peer.Id())->visible);

    peer.Next(); // close
    EXPECT_FALSE(Find(watch->ListWindows(), peer.Id()));
    EXPECT_TRUE(peer.Running());
    // Hiding a window that no longer exists fails and does not end this process.
    EXPECT_FALSE(watch->HideWindow(peer.Id()));
    EXPECT_TRUE(watch->Available());
}

TEST_F(WindowWatchTest, HidesAVisibleWindow)
{
    SetClientList({});
    auto watch = platform::OpenWindowWatch();
    Peer peer(Display(), {"title=/opt/emu/run.sh", "map"});
    peer.Next();
    ASSERT_TRUE(Find(watch->ListWindows(), peer.Id()));
    ASSERT_TRUE(Find(watch->ListWindows(), peer.Id())->visible);

    EXPECT_TRUE(watch->HideWindow(peer.Id()));
    auto window = Find(watch->ListWindows(), peer.Id());
    ASSERT_TRUE(window);
    EXPECT_FALSE(window->visible);
    EXPECT_EQ(window->title, "/opt/emu/run.sh");
    EXPECT_FALSE(watch->HideWindow(0));
}

// Old clients name their windows only with WM_NAME, in Latin-1.
TEST_F(WindowWatchTest, FallsBackToTheLatin1WindowName)
{
    SetClientList({});
    auto watch = platform::OpenWindowWatch();
    Peer peer(Display(), {"wmname=Caf\xe9 emulator"});
    auto window = Find(watch->ListWindows(), peer.Id());
    ASSERT_TRUE(window);
    EXPECT_EQ(window->title, "Caf\xc3\xa9 emulator");

    // A UTF-8 name set later wins over WM_NAME.
    Peer both(Display(), {"wmname=old", "title=新的"});
    both.Next();
    window = Find(watch->ListWindows(), both.Id());
    ASSERT_TRUE(window);
    EXPECT_EQ(window->title, "新的");
}

// With a window manager's client list the watch takes the windows it names, not the root's
// children; a stale entry (a window destroyed since) is skipped.
TEST_F(WindowWatchTest, UsesTheClientListWhenTheRootHasOne)
{
    auto watch = platform::OpenWindowWatch();
    Peer listed(Display(), {"title=listed", "map"});
    Peer unlisted(Display(), {"title=unlisted", "map"});
    Peer closed(Display(), {"title=closed", "close"});
    closed.Next();
    SetClientList({listed.Id(), closed.Id()});

    std::vector<TopLevelWindow> windows = watch->ListWindows();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0].id, listed.Id());
    EXPECT_EQ(windows[0].title, "listed");
    EXPECT_FALSE(Find(windows, unlisted.Id()));

    SetClientList({});
    EXPECT_TRUE(Find(watch->ListWindows(), unlisted.Id()));
}

// Watches on several threads, each with its own connection, while windows come and go.
TEST_F(WindowWatchTest, WatchesOnSeveralThreadsDoNotDisturbEachOther)
{
    SetClientList({});
    Peer peer(Display(), {"title=shared", "map"});
    peer.Next();
    std::vector<std::thread> threads;
    std::atomic<int> seen{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            auto watch = platform::OpenWindowWatch();
            for (int i = 0; i < 50; ++i)
                if (Find(watch->ListWindows(), peer.Id()))
                    ++seen;
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(seen.load(), 200);
}

// A server that goes away leaves the watch blind instead of ending the program.
TEST(WindowWatchLostServerTest, ALostServerMakesTheWatchUnavailableWithoutEndingTheProcess)
{
    if (!e2e::XServer::Available())
        GTEST_SKIP() << "Xvfb is not installed";
    e2e::XServer server;
    ASSERT_TRUE(server.Start());
    const char* saved = std::getenv("DISPLAY");
    const std::string keep = saved != nullptr ? saved : "";
    setenv("DISPLAY", server.Display().c_str(), 1);
    auto watch = platform::OpenWindowWatch();
    ASSERT_TRUE(watch->Available());
    watch->ListWindows();
    server.Kill();
    EXPECT_TRUE(watch->ListWindows().empty());
    EXPECT_FALSE(watch->Available());
    EXPECT_FALSE(watch->HideWindow(1));
    if (saved != nullptr)
        setenv("DISPLAY", keep.c_str(), 1);
    else
        unsetenv("DISPLAY");
}

} // namespace
