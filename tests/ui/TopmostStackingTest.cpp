// Windows made to stay on top (WS_EX_TOPMOST), on a real X server without a window manager, where
// nothing but the toolkit keeps them there: shown without taking the focus, such a window comes
// above the window the user works in, and the focus stays where it was. The X server is an Xvfb of
// the test's own; the stacking order is read from the server.
#include "tests/e2e/XServer.h"
#include "ui/PaintManager.h"
#include "ui/TestInput.h"
#include "ui/WindowWnd.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

// Last: Xlib's macros (None, Bool, Status) would clash with the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

using namespace UiLib;

namespace {

class PlainWindow : public CWindowWnd {
public:
    LPCTSTR GetWindowClassName() const override { return u"PlainWindow"; }
};

// The titles of the root's mapped children, bottom first.
std::vector<std::string> MappedTitlesBottomUp(Display* display)
{
    std::vector<std::string> titles;
    Window root = DefaultRootWindow(display);
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, root, &root, &parent, &children, &count))
        return titles;
    for (unsigned int i = 0; i < count; ++i) {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(display, children[i], &attributes) || attributes.map_state != IsViewable)
            continue;
        XTextProperty name{};
        if (XGetWMName(display, children[i], &name) && name.value != nullptr) {
            titles.emplace_back(reinterpret_cast<const char*>(name.value));
            XFree(name.value);
        }
    }
    if (children != nullptr)
        XFree(children);
    return titles;
}

int Position(const std::vector<std::string>& titles, const std::string& title)
{
    for (size_t i = 0; i < titles.size(); ++i)
        if (titles[i] == title)
            return static_cast<int>(i);
    return -1;
}

class TopmostStackingTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!e2e::XServer::Available())
            return;
        s_server = std::make_unique<e2e::XServer>();
        if (!s_server->Start())
            return;
        s_display = s_server->Display();
        setenv("DISPLAY", s_display.c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
    }
    static void TearDownTestSuite()
    {
        CPaintManagerUI::Term();
        s_server.reset();
    }

    void SetUp() override
    {
        if (s_display.empty())
            GTEST_SKIP() << "Xvfb is not installed or did not start (scripts/install-deps.sh installs it)";
        m_display = XOpenDisplay(s_display.c_str());
        ASSERT_NE(m_display, nullptr);
    }
    void TearDown() override
    {
        if (m_display != nullptr)
            XCloseDisplay(m_display);
    }

    // The stacking order once the server has handled everything the toolkit asked of it.
    std::vector<std::string> Stacking()
    {
        TestInput::ProcessEvents();
        XSync(m_display, False);
        return MappedTitlesBottomUp(m_display);
    }

    static std::unique_ptr<e2e::XServer> s_server;
    static std::string s_display;
    Display* m_display = nullptr;
};

std::unique_ptr<e2e::XServer> TopmostStackingTest::s_server;
std::string TopmostStackingTest::s_display;

TEST_F(TopmostStackingTest, ATopmostWindowShownWithoutFocusComesAboveTheWindowInFront)
{
    CPaintManagerUI::SetInstance(nullptr);
    PlainWindow tips;
    ASSERT_NE(tips.Create(nullptr, u"tips", 0x10CE0000 & ~WS_VISIBLE, WS_EX_TOPMOST), nullptr);
    PlainWindow main;
    ASSERT_NE(main.Create(nullptr, u"main", 0x10CF0000 & ~WS_VISIBLE, 0), nullptr);

    // The tips window was made and shown first; the main window came in front of it.
    tips.ShowWindow(true, false);
    main.ShowWindow(true, true);
    ASSERT_TRUE(
        TestInput::WaitFor([&] { return Position(Stacking(), "main") > Position(Stacking(), "tips"); }, 5000))
        << "the main window did not come to the front";
    tips.ShowWindow(false);
    ASSERT_TRUE(TestInput::WaitFor([&] { return Position(Stacking(), "tips") < 0; }, 5000));

    // Shown again without the focus, as the key map tips are while a game starts.
    tips.ShowWindow(true, false);
    EXPECT_TRUE(
        TestInput::WaitFor([&] { return Position(Stacking(), "tips") > Position(Stacking(), "main"); }, 5000))
        << "the topmost window stayed behind the main window";

    tips.DestroyWindow();
    main.DestroyWindow();
}

} // namespace
