#include "controller/GamePadTest.h"

#include "controller/XInput.h"
#include "controller/XInputPads.h"
#include "platform/Trace.h"
#include "ui/Option.h"
#include "ui/TileLayout.h"

#include <array>
#include <charconv>
#include <chrono>
#include <memory>
#include <string>

using namespace UiLib;

namespace {

constexpr char16_t kPanelLayout[] = u"skin\\xmls\\XinputGamePad.xml";
constexpr int kPollMs = 10;
constexpr unsigned kFullPassEvery = 10; // passes
// One row of panels (their height and the gap below them) per scroll step.
constexpr int kListScrollStep = 340;

struct ButtonOption {
    const char16_t* name;
    uint16_t bit;
};

// The panel's options in the order of Panel::buttons. "SHOUDLER" is the panel layout's spelling.
constexpr ButtonOption kButtonOptions[] = {
    {u"Opt_DPAD_UP", XINPUT_GAMEPAD_DPAD_UP},
    {u"Opt_DPAD_DOWN", XINPUT_GAMEPAD_DPAD_DOWN},
    {u"Opt_DPAD_LEFT", XINPUT_GAMEPAD_DPAD_LEFT},
    {u"Opt_DPAD_RIGHT", XINPUT_GAMEPAD_DPAD_RIGHT},
    {u"Opt_START", XINPUT_GAMEPAD_START},
    {u"Opt_BACK", XINPUT_GAMEPAD_BACK},
    {u"Opt_LEFT_THUMBSTICK", XINPUT_GAMEPAD_LEFT_THUMB},
    {u"Opt_RIGHT_THUMBSTICK", XINPUT_GAMEPAD_RIGHT_THUMB},
    {u"Opt_LEFT_SHOUDLER", XINPUT_GAMEPAD_LEFT_SHOULDER},
    {u"Opt_RIGHT_SHOULDER", XINPUT_GAMEPAD_RIGHT_SHOULDER},
    {u"Opt_A", XINPUT_GAMEPAD_A},
    {u"Opt_B", XINPUT_GAMEPAD_B},
    {u"Opt_X", XINPUT_GAMEPAD_X},
    {u"Opt_Y", XINPUT_GAMEPAD_Y},
};

// A number as "%d" prints it; the handlers run a hundred times a second for each pad, so the text is
// made without a format parser or a code page conversion.
std::u16string Decimal(int value)
{
    char text[12];
    char* end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::u16string(text, end);
}

CDuiString Number(int value)
{
    return CDuiString(Decimal(value));
}

// "%d/%d"
CDuiString Pair(int x, int y)
{
    return CDuiString(Decimal(x) + u'/' + Decimal(y));
}

bool InDeadZone(int16_t x, int16_t y)
{
    const double limit = CGamePadTest::kDeadZone;
    return x > -limit && x < limit && y > -limit && y < limit;
}

// The motor speed for a trigger value: 0 at rest, up to 65535 fully pressed.
uint16_t MotorSpeed(uint8_t trigger)
{
    return trigger == 0 ? 0 : static_cast<uint16_t>(trigger * 256 + 255);
}

} // namespace

CGamePadTest::CGamePadTest() = default;

CGamePadTest::~CGamePadTest()
{
    // The window is normally gone by now and the poller with it; this covers a window that was
    // never destroyed through its messages.
    StopPoller();
}

int CGamePadTest::Show(HWND owner)
{
    CGamePadTest window;
    return window.DoModal(owner, u"手柄测试");
}

void CGamePadTest::InitWindow()
{
    m_count = m_pm.FindControl(u"Lb_GamePadNum");
    m_vibrate = static_cast<COptionUI*>(m_pm.FindControl(u"Opt_Vibrate"));
    m_deadZone = static_cast<COptionUI*>(m_pm.FindControl(u"Opt_Deadzone"));
    if (CControlUI* list = m_pm.FindControl(u"Tl_GamePadList"))
        m_list = static_cast<CTileLayoutUI*>(list->GetInterface(u"TileLayout"));
    if (!m_panelBuilder.Load(kPanelLayout))
        platform::Trace("the gamepad panel layout cannot be loaded");
    platform::Trace("XInputEnable( true )");
}

void CGamePadTest::Notify(TNotifyUI& msg)
{
    if (msg.sType == u"windowinit") {
        if (m_list != nullptr)
            m_list->SetScrollStepSize(kListScrollStep);
        StartPoller();
        return;
    }
    CDialogFrameWnd::Notify(msg); // "Btn_Close" closes the window
}

LRESULT CGamePadTest::HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& handled)
{
    const int user = static_cast<int>(wParam);
    switch (uMsg) {
    case WM_PAD_COUNT:
        ++m_passes;
        if (m_count != nullptr)
            m_count->SetText(Number(user));
        return 0;
    case WM_PAD_CONNECTED:
        OnPadConnected(user);
        return 0;
    case WM_PAD_ABSENT:
        OnPadAbsent(user);
        return 0;
    case WM_PAD_STATE:
        OnPadState(user, lParam);
        return 0;
    case WM_DESTROY:
        // The poller's last pass ends before the window goes, then the motors it drove stop and the
        // panels go with the window's tree.
        StopPoller();
        StopMotors();
        if (m_list != nullptr)
            m_list->RemoveAll();
        m_panels.clear();
        platform::Trace("XInputEnable( false )");
        break;
    default:
        break;
    }
    handled = false;
    return 0;
}

CControlUI* CGamePadTest::PanelOf(int userIndex) const
{
    auto panel = m_panels.find(userIndex);
    return panel != m_panels.end() ? panel->second.root : nullptr;
}

void CGamePadTest::StartPoller()
{
    if (m_poller.joinable())
        return;
    m_finished.Reset();
    HWND window = m_hWnd;
    m_poller = std::thread([this, window] {
        Poll(window);
        m_finished.Set();
    });
}

void CGamePadTest::StopPoller()
{
    {
        std::lock_guard lock(m_stopMutex);
        m_stop = true;
    }
    m_stopWake.notify_all();
    m_finished.Wait();
    if (m_poller.joinable())
        m_poller.join();
}

void CGamePadTest::Poll(HWND window)
{
    // A resting pad costs the window's loop nothing: a pass posts only what changed since the window
    // was last told (a pad came or went, a packet number moved, the count), and every tenth pass
    // posts everything, so switching the dead zone or the motors shows within 100 ms while the pads
    // rest. The messages of one pass go out together and wake the window's loop once.
    struct Told {
        bool known = false;
        bool connected = false;
        uint32_t packet = 0;
    };
    std::array<Told, XUSER_MAX_COUNT> told;
    int toldCount = -1;
    unsigned pass = 0;
    std::unique_lock lock(m_stopMutex);
    while (!m_stop) {
        lock.unlock();
        std::array<uint32_t, XUSER_MAX_COUNT> results{};
        std::array<XINPUT_STATE, XUSER_MAX_COUNT> states{};
        CXInputPads::Instance().GetStates(results, states);
        const bool everything = pass++ % kFullPassEvery == 0;
        int connected = 0;
        for (uint32_t user = 0; user < XUSER_MAX_COUNT; ++user) {
            Told& known = told[user];
            if (results[user] != XINPUT_ERROR_SUCCESS) {
                if (everything || !known.known || known.connected)
                    UiLib::PostMessage(window, WM_PAD_ABSENT, user);
                known = Told{true, false, 0};
                continue;
            }
            ++connected;
            const uint32_t packet = states[user].dwPacketNumber;
            if (everything || !known.known || !known.connected || known.packet != packet) {
                UiLib::PostMessage(window, WM_PAD_CONNECTED, user);
                UiLib::PostMessage(window, WM_PAD_STATE, user, std::make_unique<XINPUT_STATE>(states[user]));
            }
            known = Told{true, true, packet};
        }
        if (everything || connected != toldCount)
            UiLib::PostMessage(window, WM_PAD_COUNT, static_cast<WPARAM>(connected));
        toldCount = connected;
        lock.lock();
        m_stopWake.wait_for(lock, std::chrono::milliseconds(kPollMs), [this] { return m_stop; });
    }
}

void CGamePadTest::OnPadConnected(int user)
{
    if (m_panels.contains(user) || m_list == nullptr || !m_panelBuilder.IsLoaded())
        return;
    CControlUI* root = m_panelBuilder.Create(this, &m_pm);
    if (root == nullptr)
        return;
    Panel panel;
    panel.root = root;
    for (int i = 0; i < kButtons; ++i) {
        if (CControlUI* option = m_pm.FindSubControlByName(root, kButtonOptions[i].name))
            panel.buttons[i] = static_cast<COptionUI*>(option->GetInterface(u"Option"));
    }
    panel.leftTrigger = m_pm.FindSubControlByName(root, u"Ed_LEFT_TRIGGER");
    panel.rightTrigger = m_pm.FindSubControlByName(root, u"Ed_RIGHT_TRIGGER");
    panel.leftStick = m_pm.FindSubControlByName(root, u"ED_LEFT_THUMBSTICK");
    panel.rightStick = m_pm.FindSubControlByName(root, u"ED_RIGHT_THUMBSTICK");
    if (CControlUI* title = m_pm.FindSubControlByName(root, u"Lb_PadTitle"))
        title->SetText(CDuiString(Decimal(user + 1) + u"P"));
    if (!m_list->Add(root)) {
        delete root;
        return;
    }
    m_panels.emplace(user, panel);
}

void CGamePadTest::OnPadAbsent(int user)
{
    auto panel = m_panels.find(user);
    if (panel == m_panels.end())
        return;
    CControlUI* root = panel->second.root;
    m_panels.erase(panel);
    m_list->Remove(root);
}

void CGamePadTest::OnPadState(int user, LPARAM lParam)
{
    std::unique_ptr<XINPUT_STATE> state(reinterpret_cast<XINPUT_STATE*>(lParam));
    auto found = m_panels.find(user);
    if (state == nullptr || found == m_panels.end())
        return;
    const Panel& panel = found->second;
    XINPUT_GAMEPAD pad = state->Gamepad;
    for (int i = 0; i < kButtons; ++i) {
        if (panel.buttons[i] != nullptr)
            panel.buttons[i]->Selected((pad.wButtons & kButtonOptions[i].bit) != 0, false);
    }
    if (m_deadZone != nullptr && m_deadZone->IsSelected()) {
        if (InDeadZone(pad.sThumbLX, pad.sThumbLY))
            pad.sThumbLX = pad.sThumbLY = 0;
        if (InDeadZone(pad.sThumbRX, pad.sThumbRY))
            pad.sThumbRX = pad.sThumbRY = 0;
    }
    if (panel.leftTrigger != nullptr)
        panel.leftTrigger->SetText(Number(pad.bLeftTrigger));
    if (panel.rightTrigger != nullptr)
        panel.rightTrigger->SetText(Number(pad.bRightTrigger));
    if (panel.leftStick != nullptr)
        panel.leftStick->SetText(Pair(pad.sThumbLX, pad.sThumbLY));
    if (panel.rightStick != nullptr)
        panel.rightStick->SetText(Pair(pad.sThumbRX, pad.sThumbRY));

    XINPUT_VIBRATION vibration;
    if (m_vibrate != nullptr && m_vibrate->IsSelected()) {
        vibration.wLeftMotorSpeed = MotorSpeed(pad.bLeftTrigger);
        vibration.wRightMotorSpeed = MotorSpeed(pad.bRightTrigger);
    }
    XInputSetState(static_cast<uint32_t>(user), &vibration);
    m_driven.set(static_cast<size_t>(user));
}

void CGamePadTest::StopMotors()
{
    for (uint32_t user = 0; user < XUSER_MAX_COUNT; ++user) {
        if (!m_driven.test(user))
            continue;
        XINPUT_VIBRATION still;
        XInputSetState(user, &still);
    }
    m_driven.reset();
}
