#pragma once

#include "platform/Event.h"
#include "ui/DialogBuilder.h"
#include "ui/DialogFrameWnd.h"

#include <array>
#include <bitset>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace UiLib {
class COptionUI;
class CTileLayoutUI;
} // namespace UiLib

// The gamepad test: one panel per connected XInput pad with its live buttons, triggers and sticks,
// the number of connected pads, a rumble test (the motors follow the triggers) and a dead-zone test.
//
// A poller thread, started at "windowinit", reads the four user slots every 10 ms and posts what it
// read to the window (the messages below); it touches no control. The window's destruction raises
// the stop flag and waits for the poller's last pass, so nothing is posted to the window after it
// has gone; messages still queued are dropped with their records. Then the motors of every pad the
// window drove are stopped, so no pad keeps rumbling at the last trigger value.
//
// The handlers set only what differs from what is shown, so a window whose pads rest paints nothing.
class CGamePadTest : public UiLib::CDialogFrameWnd {
public:
    // This window's own messages from its poller. wParam is the user index, except for
    // WM_PAD_COUNT, where it is the number of pads connected in the pass just ended.
    static constexpr UiLib::UINT WM_PAD_COUNT = UiLib::WM_USER + 120;
    static constexpr UiLib::UINT WM_PAD_CONNECTED = UiLib::WM_USER + 121;
    static constexpr UiLib::UINT WM_PAD_ABSENT = UiLib::WM_USER + 122;
    // lParam: an XINPUT_STATE that the window frees.
    static constexpr UiLib::UINT WM_PAD_STATE = UiLib::WM_USER + 123;

    // A stick whose two axes both lie strictly inside this (0.24 of full deflection) rests, when the
    // dead-zone test is on.
    static constexpr double kDeadZone = 7864.08;

    CGamePadTest();
    ~CGamePadTest() override;

    UiLib::CDuiString GetSkinFile() const override { return u"skin\\xmls\\GamePadTestDialog.xml"; }
    UiLib::LPCTSTR GetWindowClassName() const override { return u"GamePadTestFrame"; }

    // Opens the window modally, centred over `owner`, and returns when it closes.
    static int Show(UiLib::HWND owner);

    void InitWindow() override;
    void Notify(UiLib::TNotifyUI& msg) override;
    UiLib::LRESULT HandleCustomMessage(UiLib::UINT uMsg, UiLib::WPARAM wParam, UiLib::LPARAM lParam,
                                       bool& handled) override;

    // The panel of a user slot, or null when the slot shows none (for tests).
    UiLib::CControlUI* PanelOf(int userIndex) const;
    // How many polling passes the window has heard the end of (for tests).
    int PassesSeen() const { return m_passes; }

private:
    static constexpr int kButtons = 14;

    struct Panel {
        UiLib::CControlUI* root = nullptr;
        std::array<UiLib::COptionUI*, kButtons> buttons{};
        UiLib::CControlUI* leftTrigger = nullptr;
        UiLib::CControlUI* rightTrigger = nullptr;
        UiLib::CControlUI* leftStick = nullptr;
        UiLib::CControlUI* rightStick = nullptr;
    };

    void StartPoller();
    // Raises the stop flag and waits for the poller's last pass. Does nothing if it never started.
    void StopPoller();
    void Poll(UiLib::HWND window);

    void OnPadConnected(int user);
    void OnPadAbsent(int user);
    void OnPadState(int user, UiLib::LPARAM lParam);
    void StopMotors();

    UiLib::CControlUI* m_count = nullptr;
    UiLib::COptionUI* m_vibrate = nullptr;
    UiLib::COptionUI* m_deadZone = nullptr;
    UiLib::CTileLayoutUI* m_list = nullptr;
    UiLib::CDialogBuilder m_panelBuilder;
    std::map<int, Panel> m_panels;
    std::bitset<4> m_driven; // the slots this window has sent motor speeds to
    int m_passes = 0;

    std::mutex m_stopMutex;
    std::condition_variable m_stopWake;
    bool m_stop = false;
    platform::Event m_finished{platform::Event::Mode::ManualReset, true};
    std::thread m_poller;
};
