#pragma once

#include <functional>
#include <memory>

#include "ui/DuiString.h"
#include "ui/UiTypes.h"

namespace UiLib {

class CWindowWnd;

// The notification-area icon of a window. Clicks arrive at the receiving window as
// `message` with wParam = the icon id and lParam = WM_LBUTTONUP or WM_RBUTTONUP.
// Where the desktop has no tray, the icon is never shown and HideToTray minimises instead, so a
// window can never be lost.
//
// A tray may come after the program (a panel that starts later) and go again (a panel restarted).
// Once created, the icon looks at the tray's availability every kTrayPollMs on the UI thread: when a
// tray appears the icon is put in it, so HideToTray hides from then on; when it goes, the icon is
// taken out and a window that HideToTray hid is shown again.
class CDuiTrayIcon {
public:
    // How often the availability is looked at; the desktop tells nothing when a tray comes or goes.
    static constexpr int kTrayPollMs = 3000;
    // Replaces the desktop's answer to "is there a tray" with `probe`, looked at every `pollMs`, for
    // tests; an empty probe restores the desktop's answer and kTrayPollMs. Applies to icons created
    // afterwards and to IsTrayAvailable. UI thread only.
    static void SetTrayProbe(std::function<bool()> probe, int pollMs = kTrayPollMs);

    CDuiTrayIcon();
    ~CDuiTrayIcon();

    void CreateTrayIcon(HWND receiver, UINT iconResourceId, const CDuiString& tip, UINT message);
    void DeleteTrayIcon();
    bool IsCreated() const;
    void SetTooltipText(const CDuiString& tip);
    CDuiString GetTooltipText() const;
    void SetShowIcon(bool show);
    bool IsVisible() const;
    // Whether this desktop has a tray now.
    static bool IsTrayAvailable();
    // Hides the window to the tray when there is one (and this icon exists), else minimises it.
    // Returns true when the window was hidden, false when it was minimised.
    bool HideToTray(CWindowWnd& window);
    // Posts what a click on the icon posts (tests, and the tray-less desktop's own menu).
    void SimulateClick(bool right);

private:
    void Poll();
    void ShowIcon();

    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace UiLib
