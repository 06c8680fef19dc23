#pragma once

#include <memory>

#include "ui/DuiString.h"
#include "ui/UiTypes.h"

namespace UiLib {

class CWindowWnd;

// The notification-area icon of a window. Clicks arrive at the receiving window as
// `message` with wParam = the icon id and lParam = WM_LBUTTONUP or WM_RBUTTONUP.
// Where the desktop has no tray, the icon is never shown and HideToTray minimises instead, so a
// window can never be lost.
class CDuiTrayIcon {
public:
    CDuiTrayIcon();
    ~CDuiTrayIcon();

    void CreateTrayIcon(HWND receiver, UINT iconResourceId, const CDuiString& tip, UINT message);
    void DeleteTrayIcon();
    bool IsCreated() const;
    void SetTooltipText(const CDuiString& tip);
    CDuiString GetTooltipText() const;
    void SetShowIcon(bool show);
    bool IsVisible() const;
    // Whether this desktop has a tray at all.
    static bool IsTrayAvailable();
    // Hides the window to the tray when there is one (and this icon exists), else minimises it.
    // Returns true when the window was hidden, false when it was minimised.
    bool HideToTray(CWindowWnd& window);
    // Posts what a click on the icon posts (tests, and the tray-less desktop's own menu).
    void SimulateClick(bool right);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace UiLib
