// CPaintManagerUI, input dispatch: mouse, wheel and keys from the window become control events,
// through hit testing, hover, capture and focus.

#include "ui/PaintManager.h"

#include <algorithm>

#include "ui/Control.h"
#include "ui/private/UiPrivate.h"

namespace UiLib {

void CPaintManagerUI::DispatchMouse(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    TEventUI event;
    event.ptMouse = pt;
    event.wKeyState = static_cast<UINT>(wParam);
    event.dwTimestamp = EventTimestamp();

    if (uMsg == WM_MOUSELEAVE) {
        if (m_pEventHover != nullptr && m_pEventClick == nullptr) {
            CControlUI* hover = m_pEventHover;
            m_pEventHover = nullptr;
            event.Type = UIEVENT_MOUSELEAVE;
            event.pSender = hover;
            hover->Event(event);
        }
        return;
    }

    CControlUI* control = FindControl(pt);
    if (control != nullptr && control->GetManager() != this)
        control = nullptr;

    switch (uMsg) {
    case WM_MOUSEMOVE: {
        if (control != m_pEventHover) {
            CControlUI* old = m_pEventHover;
            m_pEventHover = control;
            if (old != nullptr) {
                event.Type = UIEVENT_MOUSELEAVE;
                event.pSender = control;
                old->Event(event);
            }
            if (control != nullptr && m_pEventHover == control) {
                event.Type = UIEVENT_MOUSEENTER;
                event.pSender = control;
                control->Event(event);
            }
            if (m_impl->host) {
                UiCursor cursor = control != nullptr ? control->GetCursor() : UiCursor::Arrow;
                m_impl->host->setCursor(cursor == UiCursor::Hand    ? Qt::PointingHandCursor
                                        : cursor == UiCursor::IBeam ? Qt::IBeamCursor
                                                                    : Qt::ArrowCursor);
            }
        }
        // The hovered control may have left the tree in its enter or leave handling.
        CControlUI* target = m_pEventClick != nullptr ? m_pEventClick : m_pEventHover;
        if (target != nullptr) {
            event.Type = UIEVENT_MOUSEMOVE;
            event.pSender = target;
            target->Event(event);
        }
        return;
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
        if (m_impl->host)
            m_impl->host->setFocus(Qt::MouseFocusReason);
        if (control == nullptr || !control->IsEnabled())
            return;
        m_pEventClick = control;
        if (control->GetControlFlags() & UIFLAG_TABSTOP)
            SetFocus(control);
        else if (m_pFocus != nullptr && m_pFocus != control)
            SetFocus(nullptr);
        if (m_pEventClick != control)
            return; // the focus change removed the control
        event.Type = uMsg == WM_LBUTTONDOWN ? UIEVENT_BUTTONDOWN : UIEVENT_DBLCLICK;
        event.pSender = control;
        control->Event(event);
        return;
    }
    case WM_LBUTTONUP: {
        CControlUI* click = m_pEventClick;
        m_pEventClick = nullptr;
        if (click == nullptr)
            return;
        event.Type = UIEVENT_BUTTONUP;
        event.pSender = click;
        click->Event(event);
        return;
    }
    case WM_RBUTTONDOWN:
        if (control == nullptr || !control->IsEnabled())
            return;
        m_pEventRClick = control;
        event.Type = UIEVENT_RBUTTONDOWN;
        event.pSender = control;
        control->Event(event);
        return;
    case WM_RBUTTONUP: {
        CControlUI* click = m_pEventRClick;
        if (click == nullptr)
            return;
        event.Type = UIEVENT_RBUTTONUP;
        event.pSender = click;
        click->Event(event);
        // ReapObjects clears m_pEventRClick when the handling removed the control.
        if (m_pEventRClick == click && click->GetPos().Contains(pt))
            SendNotify(click, u"menu", 0, MAKELPARAM(pt.x, pt.y));
        m_pEventRClick = nullptr;
        return;
    }
    default:
        return;
    }
}

void CPaintManagerUI::DispatchWheel(WPARAM wParam, LPARAM lParam)
{
    POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    if (m_impl->host) {
        QPoint local = m_impl->host->mapFromGlobal(QPoint(pt.x, pt.y));
        pt = {local.x(), local.y()};
    }
    CControlUI* control = FindControl(pt);
    if (control == nullptr)
        return;
    TEventUI event;
    event.Type = UIEVENT_SCROLLWHEEL;
    event.pSender = control;
    event.ptMouse = pt;
    event.wParam = static_cast<WPARAM>(static_cast<std::intptr_t>(GET_WHEEL_DELTA_WPARAM(wParam)));
    event.wKeyState = static_cast<UINT>(wParam & 0xFFFF);
    event.dwTimestamp = EventTimestamp();
    control->Event(event);
    // The content moved under the cursor: the hovered control may have changed.
    DispatchMouse(WM_MOUSEMOVE, 0, MAKELPARAM(pt.x, pt.y));
}

void CPaintManagerUI::DispatchKey(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_KEYDOWN && DispatchNavigationKey(static_cast<UINT>(wParam), lParam))
        return;
    if (m_pFocus == nullptr)
        return;
    TEventUI event;
    event.Type = uMsg == WM_KEYDOWN ? UIEVENT_KEYDOWN : UIEVENT_CHAR;
    event.pSender = m_pFocus;
    event.chKey = static_cast<char16_t>(wParam);
    event.dwTimestamp = EventTimestamp();
    m_pFocus->Event(event);
}

} // namespace UiLib
