#pragma once

// Events that the paint manager hands to controls, and notifications that controls send to a
// window's listeners.

#include "ui/DuiString.h"
#include "ui/UiTypes.h"

namespace UiLib {

class CControlUI;

// Event types delivered to CControlUI::DoEvent.
enum UiEventType {
    UIEVENT_MOUSEMOVE = 1,
    UIEVENT_MOUSELEAVE,
    UIEVENT_MOUSEENTER,
    UIEVENT_BUTTONDOWN,
    UIEVENT_BUTTONUP,
    UIEVENT_DBLCLICK,
    UIEVENT_RBUTTONDOWN,
    UIEVENT_RBUTTONUP,
    UIEVENT_SCROLLWHEEL,
    UIEVENT_KEYDOWN,
    UIEVENT_CHAR,
    UIEVENT_SETFOCUS,
    UIEVENT_KILLFOCUS,
    UIEVENT_TIMER,
    UIEVENT_SETCURSOR,
    UIEVENT_DROPFILES,
    // Files dragged over the control that takes them at the point (see CControlUI::IsAcceptDrop):
    // DRAGENTER when the drag reaches it, DRAGLEAVE when the drag moves to another control, leaves
    // the window, or is dropped (DRAGLEAVE comes before the drop's UIEVENT_DROPFILES).
    UIEVENT_DRAGENTER,
    UIEVENT_DRAGLEAVE,
};

struct TEventUI {
    int Type = 0;
    CControlUI* pSender = nullptr;
    DWORD dwTimestamp = 0;
    POINT ptMouse;      // client coordinates of the window
    char16_t chKey = 0; // UIEVENT_KEYDOWN: virtual key; UIEVENT_CHAR: the character
    UINT wKeyState = 0; // MK_* bits
    WPARAM wParam = 0;  // UIEVENT_SCROLLWHEEL: wheel delta (positive = away from the user); UIEVENT_TIMER: id
    LPARAM lParam = 0;
};

// A notification: type ("click", "selectchanged", "itemselect", "itemclick", "link", "return",
// "timer", "textchanged", "setfocus", "killfocus", "windowinit", "tabselect", "menu") and sender.
struct TNotifyUI {
    CDuiString sType;
    CDuiString sVirtualWnd;
    CControlUI* pSender = nullptr;
    DWORD dwTimestamp = 0;
    POINT ptMouse;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

// A window's listener for notifications (CPaintManagerUI::AddNotifier).
class INotifyUI {
public:
    virtual void Notify(TNotifyUI& msg) = 0;

protected:
    ~INotifyUI() = default;
};

// Sees every window message before the paint manager handles it (CPaintManagerUI::AddMessageFilter).
// Setting bHandled stops the message there, answering the returned value.
class IMessageFilterUI {
public:
    virtual LRESULT MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled) = 0;

protected:
    ~IMessageFilterUI() = default;
};

} // namespace UiLib
