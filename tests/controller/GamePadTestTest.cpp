// The gamepad test window on Qt's offscreen platform, fed by virtual SDL pads through the XInput
// stand-in: panels as pads come and go, live state in the rendering, the dead zone and rumble
// tests driven by real clicks, and the window's teardown.
#include "controller/GamePadTest.h"

#include "controller/SdlContext.h"
#include "controller/XInputPads.h"
#include "tests/controller/VirtualPad.h"
#include "tests/support/OffscreenUi.h"
#include "ui/Label.h"
#include "ui/Option.h"
#include "ui/PaintManager.h"
#include "ui/RenderEngine.h"
#include "ui/TestInput.h"
#include "ui/TileLayout.h"

#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

using namespace UiLib;

// Besides what the libraries under Qt keep for the life of the process: SDL keeps a per-thread block
// (its error text) for threads it did not start itself, such as the window's poller.
extern "C" const char* __lsan_default_suppressions()
{
    return QUOKKA_QT_LEAK_SUPPRESSIONS "leak:libSDL2\n";
}

namespace {

using testsupport::CentreOf;

constexpr const char16_t* kOptions[] = {
    u"Opt_DPAD_UP",
    u"Opt_DPAD_DOWN",
    u"Opt_DPAD_LEFT",
    u"Opt_DPAD_RIGHT",
    u"Opt_START",
    u"Opt_BACK",
    u"Opt_LEFT_THUMBSTICK",
    u"Opt_RIGHT_THUMBSTICK",
    u"Opt_LEFT_SHOUDLER",
    u"Opt_RIGHT_SHOULDER",
    u"Opt_A",
    u"Opt_B",
    u"Opt_X",
    u"Opt_Y",
};
constexpr SDL_GameControllerButton kButtons[] = {
    SDL_CONTROLLER_BUTTON_DPAD_UP,
    SDL_CONTROLLER_BUTTON_DPAD_DOWN,
    SDL_CONTROLLER_BUTTON_DPAD_LEFT,
    SDL_CONTROLLER_BUTTON_DPAD_RIGHT,
    SDL_CONTROLLER_BUTTON_START,
    SDL_CONTROLLER_BUTTON_BACK,
    SDL_CONTROLLER_BUTTON_LEFTSTICK,
    SDL_CONTROLLER_BUTTON_RIGHTSTICK,
    SDL_CONTROLLER_BUTTON_LEFTSHOULDER,
    SDL_CONTROLLER_BUTTON_RIGHTSHOULDER,
    SDL_CONTROLLER_BUTTON_A,
    SDL_CONTROLLER_BUTTON_B,
    SDL_CONTROLLER_BUTTON_X,
    SDL_CONTROLLER_BUTTON_Y,
};
// How long a wait for the window to catch up may take before the test fails; only a failing test waits
// that long, so it leaves room for a loaded machine.
constexpr int kWaitMs = 30000;
constexpr UINT kTestStep = WM_USER + 300;

// The window with a hook for steps that must run inside its own modal loop.
class ProbedGamePadTest : public CGamePadTest {
public:
    std::function<void()> onStep;
    LRESULT HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& handled) override
    {
        if (uMsg == kTestStep && onStep) {
            onStep();
            return 0;
        }
        return CGamePadTest::HandleCustomMessage(uMsg, wParam, lParam, handled);
    }
};

// A fingerprint of the pixels inside a control's rectangle.
uint64_t Region(const TestInput::TestImage& image, CControlUI* control)
{
    const RECT rc = control->GetPos();
    uint64_t hash = 1469598103934665603ULL;
    for (int y = rc.top; y < rc.bottom; ++y)
        for (int x = rc.left; x < rc.right; ++x)
            hash = (hash ^ image.Pixel(x, y)) * 1099511628211ULL;
    return hash;
}

class GamePadTestTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testsupport::StartOffscreenUi(); }
    static void TearDownTestSuite() { testsupport::StopOffscreenUi(); }

    void SetUp() override
    {
        ASSERT_TRUE(m_sdl.Ok()) << SDL_GetError();
        if (VirtualPad::RealPadAttached())
            GTEST_SKIP() << "a pad is attached to this machine; the window's panels would show it too";
        CXInputPads::Instance().Shutdown();
    }
    void TearDown() override
    {
        if (m_window && IsWindow(m_window->GetHWND()))
            m_window->DestroyWindow();
        m_window.reset();
        m_pads.clear();
        CXInputPads::Instance().Shutdown();
    }

    void Open()
    {
        m_window = std::make_unique<ProbedGamePadTest>();
        ASSERT_NE(m_window->Create(nullptr, u"手柄测试", UI_WNDSTYLE_DIALOG, WS_EX_WINDOWEDGE), nullptr);
        ASSERT_TRUE(TestInput::WaitFor([this] { return m_window->PassesSeen() > 0; }, kWaitMs));
    }
    VirtualPad& Attach(const char* name = "virtual pad")
    {
        m_pads.push_back(std::make_unique<VirtualPad>(name));
        EXPECT_TRUE(m_pads.back()->Attached()) << SDL_GetError();
        return *m_pads.back();
    }
    // Lets `count` more polling passes reach the window.
    void Passes(int count)
    {
        const int target = m_window->PassesSeen() + count;
        ASSERT_TRUE(TestInput::WaitFor([&] { return m_window->PassesSeen() >= target; }, kWaitMs));
    }
    bool WaitUntil(const std::function<bool()>& done) { return TestInput::WaitFor(done, kWaitMs); }

    CControlUI* Find(std::u16string_view name) { return m_window->GetPaintManager().FindControl(name); }
    CControlUI* In(int user, std::u16string_view name)
    {
        CControlUI* panel = m_window->PanelOf(user);
        return panel != nullptr ? m_window->GetPaintManager().FindSubControlByName(panel, name) : nullptr;
    }
    std::u16string Text(int user, std::u16string_view name)
    {
        CControlUI* control = In(user, name);
        return control != nullptr ? std::u16string(control->GetText().Str()) : u"<none>";
    }
    bool Lit(int user, std::u16string_view name)
    {
        auto* option = static_cast<COptionUI*>(In(user, name));
        return option != nullptr && option->IsSelected();
    }
    int PanelCount() { return static_cast<CContainerUI*>(Find(u"Tl_GamePadList"))->GetCount(); }
    std::u16string Count() { return std::u16string(Find(u"Lb_GamePadNum")->GetText().Str()); }
    void ClickControl(std::u16string_view name)
    {
        TestInput::Click(m_window->GetHWND(), CentreOf(Find(name)));
    }

    CSdlContext m_sdl;
    std::vector<std::unique_ptr<VirtualPad>> m_pads;
    std::unique_ptr<ProbedGamePadTest> m_window;
};

} // namespace

TEST_F(GamePadTestTest, WithoutPadsThereIsNoPanelAndNoMotorIsTouched)
{
    VirtualPad stick("flight stick", SDL_JOYSTICK_TYPE_FLIGHT_STICK);
    ASSERT_TRUE(stick.Attached()) << SDL_GetError();
    Open();
    Passes(3);
    EXPECT_EQ(PanelCount(), 0);
    EXPECT_EQ(Count(), u"0");
    EXPECT_EQ(m_window->GetWindowText(), u"手柄测试");
    EXPECT_TRUE(static_cast<COptionUI*>(Find(u"Opt_Vibrate"))->IsSelected());
    EXPECT_FALSE(static_cast<COptionUI*>(Find(u"Opt_Deadzone"))->IsSelected());
    EXPECT_EQ(static_cast<CContainerUI*>(Find(u"Tl_GamePadList"))->GetScrollStepSize(), 340);
    m_window->DestroyWindow();
    EXPECT_EQ(stick.Motors().calls, 0);
}

TEST_F(GamePadTestTest, PanelsFollowPadsComingAndGoing)
{
    Open();
    VirtualPad& first = Attach();
    VirtualPad& second = Attach();
    Attach("third");
    ASSERT_TRUE(WaitUntil([&] { return PanelCount() == 3 && Count() == u"3"; }));
    first.Detach();
    second.Detach();
    ASSERT_TRUE(WaitUntil([&] { return PanelCount() == 1; }));
    EXPECT_NE(m_window->PanelOf(2), nullptr) << "the third pad keeps slot 2";
    EXPECT_EQ(Count(), u"1");
    EXPECT_EQ(Text(2, u"Lb_PadTitle"), u"3P");

    // Unplugged, its panel goes within a pass.
    m_pads[2]->Detach();
    Passes(2);
    EXPECT_EQ(PanelCount(), 0);
    EXPECT_EQ(Count(), u"0");

    // Four pads: four panels, each showing its own pad's input.
    for (int i = 0; i < 4; ++i)
        Attach();
    ASSERT_TRUE(WaitUntil([&] { return PanelCount() == 4 && Count() == u"4"; }));
    for (int i = 0; i < 4; ++i) {
        m_pads[3 + i]->SetButton(kButtons[10 + i], true); // A, B, X, Y
        m_pads[3 + i]->SetTrigger(SDL_CONTROLLER_AXIS_TRIGGERLEFT, 10 * (i + 1));
    }
    ASSERT_TRUE(WaitUntil([&] { return Text(3, u"Ed_LEFT_TRIGGER") == u"40" && Lit(3, u"Opt_Y"); }));
    for (int user = 0; user < 4; ++user) {
        EXPECT_EQ(Text(user, u"Ed_LEFT_TRIGGER"), std::u16string(1, u'0' + (user + 1)) + u"0");
        for (int i = 10; i < 14; ++i)
            EXPECT_EQ(Lit(user, kOptions[i]), i == 10 + user) << "user " << user << " option " << i;
    }

    // A fifth pad waits, and takes the first slot that frees.
    VirtualPad& fifth = Attach("fifth");
    fifth.SetTrigger(SDL_CONTROLLER_AXIS_TRIGGERLEFT, 99);
    Passes(3);
    EXPECT_EQ(Count(), u"4");
    m_pads[4]->Detach(); // slot 1
    ASSERT_TRUE(WaitUntil([&] { return Text(1, u"Ed_LEFT_TRIGGER") == u"99"; }));
    EXPECT_EQ(PanelCount(), 4);
    EXPECT_EQ(Count(), u"4");
}

TEST_F(GamePadTestTest, EachButtonLightsItsOwnOptionAndNoOther)
{
    VirtualPad& pad = Attach();
    Open();
    ASSERT_TRUE(WaitUntil([&] { return m_window->PanelOf(0) != nullptr; }));
    Passes(2);
    const TestInput::TestImage rest = TestInput::Grab(m_window->GetHWND());
    ASSERT_FALSE(rest.IsNull());

    for (int i = 0; i < 14; ++i) {
        pad.SetButton(kButtons[i], true);
        ASSERT_TRUE(WaitUntil([&] { return Lit(0, kOptions[i]); })) << "option " << i;
        const TestInput::TestImage pressed = TestInput::Grab(m_window->GetHWND());
        for (int j = 0; j < 14; ++j) {
            const bool changed = Region(pressed, In(0, kOptions[j])) != Region(rest, In(0, kOptions[j]));
            EXPECT_EQ(changed, i == j) << "button " << i << ", option " << j;
            EXPECT_EQ(Lit(0, kOptions[j]), i == j) << "button " << i << ", option " << j;
        }
        pad.SetButton(kButtons[i], false);
        ASSERT_TRUE(WaitUntil([&] { return !Lit(0, kOptions[i]); }));
    }

    // The guide button has no option and lights none.
    pad.SetButton(SDL_CONTROLLER_BUTTON_GUIDE, true);
    Passes(2);
    for (const char16_t* option : kOptions)
        EXPECT_FALSE(Lit(0, option));
    const TestInput::TestImage guide = TestInput::Grab(m_window->GetHWND());
    EXPECT_EQ(guide.pixels, rest.pixels);
}

TEST_F(GamePadTestTest, TriggersAndSticksShowTheirValuesWithYUpwards)
{
    VirtualPad& pad = Attach();
    Open();
    ASSERT_TRUE(WaitUntil([&] { return m_window->PanelOf(0) != nullptr; }));
    pad.SetTrigger(SDL_CONTROLLER_AXIS_TRIGGERLEFT, 255);
    pad.SetTrigger(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 1);
    pad.SetAxis(SDL_CONTROLLER_AXIS_LEFTX, 32767);
    pad.SetAxis(SDL_CONTROLLER_AXIS_LEFTY, -32768); // fully up
    pad.SetAxis(SDL_CONTROLLER_AXIS_RIGHTX, -32768);
    pad.SetAxis(SDL_CONTROLLER_AXIS_RIGHTY, 32767); // fully down
    ASSERT_TRUE(WaitUntil([&] { return Text(0, u"ED_RIGHT_THUMBSTICK") == u"-32768/-32767"; }))
        << std::string(Text(0, u"ED_RIGHT_THUMBSTICK").begin(), Text(0, u"ED_RIGHT_THUMBSTICK").end());
    EXPECT_EQ(Text(0, u"Ed_LEFT_TRIGGER"), u"255");
    EXPECT_EQ(Text(0, u"Ed_RIGHT_TRIGGER"), u"1");
    EXPECT_EQ(Text(0, u"ED_LEFT_THUMBSTICK"), u"32767/32767");

    pad.SetAxis(SDL_CONTROLLER_AXIS_LEFTY, 2000); // a little down
    pad.SetTrigger(SDL_CONTROLLER_AXIS_TRIGGERLEFT, 0);
    ASSERT_TRUE(WaitUntil([&] { return Text(0, u"ED_LEFT_THUMBSTICK") == u"32767/-2000"; }));
    EXPECT_EQ(Text(0, u"Ed_LEFT_TRIGGER"), u"0");
}

TEST_F(GamePadTestTest, TheWidestValuesFitTheirBoxes)
{
    VirtualPad& pad = Attach();
    Open();
    ASSERT_TRUE(WaitUntil([&] { return m_window->PanelOf(0) != nullptr; }));
    pad.SetTrigger(SDL_CONTROLLER_AXIS_TRIGGERLEFT, 255);
    pad.SetTrigger(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 255);
    for (SDL_GameControllerAxis x : {SDL_CONTROLLER_AXIS_LEFTX, SDL_CONTROLLER_AXIS_RIGHTX})
        pad.SetAxis(x, -32768);
    for (SDL_GameControllerAxis y : {SDL_CONTROLLER_AXIS_LEFTY, SDL_CONTROLLER_AXIS_RIGHTY})
        pad.SetAxis(y, 32767); // fully down: -32767 upwards
    ASSERT_TRUE(WaitUntil([&] {
        return Text(0, u"ED_LEFT_THUMBSTICK") == u"-32768/-32767" &&
               Text(0, u"ED_RIGHT_THUMBSTICK") == u"-32768/-32767" && Text(0, u"Ed_LEFT_TRIGGER") == u"255";
    }));
    for (std::u16string_view name :
         {u"ED_LEFT_THUMBSTICK", u"ED_RIGHT_THUMBSTICK", u"Ed_LEFT_TRIGGER", u"Ed_RIGHT_TRIGGER"}) {
        auto* box = static_cast<CLabelUI*>(In(0, name));
        ASSERT_NE(box, nullptr);
        const SIZE text = CRenderEngine::GetTextSize(nullptr, &m_window->GetPaintManager(),
                                                     box->GetText().Str(), box->GetFont(), DT_SINGLELINE);
        const RECT rc = box->GetPos();
        const RECT padding = box->GetTextPadding();
        // A hinted display rounds each glyph's advance up to a whole pixel: room for that too.
        const int room = rc.right - rc.left - padding.left - padding.right;
        EXPECT_LE(text.cx + static_cast<int>(box->GetText().Str().size()), room)
            << std::string(name.begin(), name.end()) << " clips its text";
    }
}

TEST_F(GamePadTestTest, TheDeadZoneZeroesEachStickInsideItOnly)
{
    VirtualPad& pad = Attach();
    Open();
    ASSERT_TRUE(WaitUntil([&] { return m_window->PanelOf(0) != nullptr; }));
    // Left stick just inside on both axes (SDL's -7864 is 7864 upwards); right stick one axis out.
    pad.SetAxis(SDL_CONTROLLER_AXIS_LEFTX, 7864);
    pad.SetAxis(SDL_CONTROLLER_AXIS_LEFTY, -7864);
    pad.SetAxis(SDL_CONTROLLER_AXIS_RIGHTX, -7865);
    pad.SetAxis(SDL_CONTROLLER_AXIS_RIGHTY, 100);
    ASSERT_TRUE(WaitUntil([&] { return Text(0, u"ED_LEFT_THUMBSTICK") == u"7864/7864"; }));
    EXPECT_EQ(Text(0, u"ED_RIGHT_THUMBSTICK"), u"-7865/-100");

    ClickControl(u"Opt_Deadzone");
    ASSERT_TRUE(static_cast<COptionUI*>(Find(u"Opt_Deadzone"))->IsSelected());
    ASSERT_TRUE(WaitUntil([&] { return Text(0, u"ED_LEFT_THUMBSTICK") == u"0/0"; }));
    EXPECT_EQ(Text(0, u"ED_RIGHT_THUMBSTICK"), u"-7865/-100") << "one axis outside keeps both raw values";

    // 7865 on one axis is outside; the right stick comes inside on both.
    pad.SetAxis(SDL_CONTROLLER_AXIS_LEFTY, -7865);
    pad.SetAxis(SDL_CONTROLLER_AXIS_RIGHTX, -7864);
    ASSERT_TRUE(WaitUntil([&] { return Text(0, u"ED_LEFT_THUMBSTICK") == u"7864/7865"; }));
    EXPECT_EQ(Text(0, u"ED_RIGHT_THUMBSTICK"), u"0/0");

    ClickControl(u"Opt_Deadzone");
    ASSERT_TRUE(WaitUntil([&] { return Text(0, u"ED_RIGHT_THUMBSTICK") == u"-7864/-100"; }));
}

TEST_F(GamePadTestTest, MotorsFollowTheTriggersWhileTheRumbleTestIsOnAndStopWithTheWindow)
{
    VirtualPad& pad = Attach();
    Open();
    ASSERT_TRUE(WaitUntil([&] { return m_window->PanelOf(0) != nullptr; }));
    using Speeds = std::pair<int, int>;
    pad.SetTrigger(SDL_CONTROLLER_AXIS_TRIGGERLEFT, 1);
    ASSERT_TRUE(WaitUntil([&] { return pad.Motors().Last() == Speeds(511, 0); }));
    pad.SetTrigger(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 255);
    ASSERT_TRUE(WaitUntil([&] { return pad.Motors().Last() == Speeds(511, 65535); }));
    pad.SetTrigger(SDL_CONTROLLER_AXIS_TRIGGERLEFT, 0);
    ASSERT_TRUE(WaitUntil([&] { return pad.Motors().Last() == Speeds(0, 65535); }));
    pad.SetTrigger(SDL_CONTROLLER_AXIS_TRIGGERLEFT, 128);
    ASSERT_TRUE(WaitUntil([&] { return pad.Motors().Last() == Speeds(128 * 256 + 255, 65535); }));

    ClickControl(u"Opt_Vibrate");
    ASSERT_FALSE(static_cast<COptionUI*>(Find(u"Opt_Vibrate"))->IsSelected());
    ASSERT_TRUE(WaitUntil([&] { return pad.Motors().Last() == Speeds(0, 0); }));
    ClickControl(u"Opt_Vibrate");
    ASSERT_TRUE(WaitUntil([&] { return pad.Motors().Last() == Speeds(128 * 256 + 255, 65535); }));

    // The window goes while the triggers are held: the motors stop with it.
    m_window->DestroyWindow();
    EXPECT_EQ(pad.Motors().Last(), Speeds(0, 0));
    XINPUT_STATE state;
    ASSERT_EQ(XInputGetState(0, &state), XINPUT_ERROR_SUCCESS);
    EXPECT_EQ(pad.Motors().Last(), Speeds(0, 0));
}

TEST_F(GamePadTestTest, PadsAtRestPaintNothing)
{
    for (int i = 0; i < 4; ++i)
        Attach();
    Open();
    ASSERT_TRUE(WaitUntil([&] { return PanelCount() == 4 && Count() == u"4"; }));
    Passes(3);
    TestInput::ProcessEvents();
    const int paints = m_window->GetPaintManager().GetPaintStats().nPaints;
    Passes(20);
    EXPECT_EQ(m_window->GetPaintManager().GetPaintStats().nPaints, paints);

    // A change paints again.
    m_pads[3]->SetButton(SDL_CONTROLLER_BUTTON_B, true);
    EXPECT_TRUE(WaitUntil([&] { return m_window->GetPaintManager().GetPaintStats().nPaints > paints; }));
}

TEST_F(GamePadTestTest, CloseEndsTheModalLoopAfterThePollerHasStopped)
{
    VirtualPad& pad = Attach();
    m_window = std::make_unique<ProbedGamePadTest>();
    ASSERT_NE(m_window->Create(nullptr, u"手柄测试", UI_WNDSTYLE_DIALOG, WS_EX_WINDOWEDGE), nullptr);
    const HWND hwnd = m_window->GetHWND();
    bool sawPanel = false;
    m_window->onStep = [&] {
        sawPanel = WaitUntil([&] { return m_window->PanelOf(0) != nullptr; });
        pad.SetTrigger(SDL_CONTROLLER_AXIS_TRIGGERLEFT, 255);
        WaitUntil([&] { return pad.Motors().Last().first == 65535; });
        ClickControl(u"Btn_Close");
    };
    m_window->PostMessage(kTestStep);
    EXPECT_EQ(m_window->ShowModal(), IDCLOSE);
    EXPECT_TRUE(sawPanel);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(UiLib::PostMessage(hwnd, CGamePadTest::WM_PAD_COUNT, 1)) << "the window is gone for good";
    EXPECT_EQ(pad.Motors().Last(), std::make_pair(0, 0));
    // Whatever the poller had posted is dropped with the window; the loop runs on without it.
    TestInput::ProcessEvents();
}
