// CPaintManagerUI, messages and timers: the window messages a paint manager sees first, the
// notifications it hands to listeners (now or from the UI loop) and the per-control timers.

#include "ui/PaintManager.h"

#include <QCursor>
#include <QElapsedTimer>
#include <QTimerEvent>
#include <QToolTip>

#include <algorithm>

#include "ui/Control.h"
#include "ui/private/UiPrivate.h"

namespace UiLib {

DWORD EventTimestamp()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return static_cast<DWORD>(clock.elapsed());
}

namespace {

// Moves the drag over `target` (null: the drag is over or left the window): the control it leaves
// gets UIEVENT_DRAGLEAVE, the one it reaches UIEVENT_DRAGENTER.
void SetDragTarget(CPaintManagerUI& manager, CControlUI* target)
{
    CPaintManagerUI::Impl* impl = manager.GetImpl();
    CControlUI* previous = impl->dragTarget;
    if (previous == target)
        return;
    impl->dragTarget = target;
    TEventUI event;
    event.dwTimestamp = EventTimestamp();
    event.ptMouse = {-1, -1};
    if (previous != nullptr) {
        event.Type = UIEVENT_DRAGLEAVE;
        event.pSender = previous;
        previous->Event(event);
    }
    // The leave's handling may have ended the drag's target as well.
    if (target != nullptr && impl->dragTarget == target) {
        event.Type = UIEVENT_DRAGENTER;
        event.pSender = target;
        target->Event(event);
    }
}

} // namespace

// ---- notifications -----------------------------------------------------------------------------

bool CPaintManagerUI::AddNotifier(INotifyUI* notifier)
{
    if (notifier == nullptr ||
        std::find(m_notifiers.begin(), m_notifiers.end(), notifier) != m_notifiers.end())
        return false;
    m_notifiers.push_back(notifier);
    return true;
}

bool CPaintManagerUI::RemoveNotifier(INotifyUI* notifier)
{
    auto it = std::find(m_notifiers.begin(), m_notifiers.end(), notifier);
    if (it == m_notifiers.end())
        return false;
    m_notifiers.erase(it);
    return true;
}

bool CPaintManagerUI::AddMessageFilter(IMessageFilterUI* filter)
{
    if (filter == nullptr || std::find(m_filters.begin(), m_filters.end(), filter) != m_filters.end())
        return false;
    m_filters.push_back(filter);
    return true;
}

bool CPaintManagerUI::RemoveMessageFilter(IMessageFilterUI* filter)
{
    auto it = std::find(m_filters.begin(), m_filters.end(), filter);
    if (it == m_filters.end())
        return false;
    m_filters.erase(it);
    return true;
}

void CPaintManagerUI::SendNotify(CControlUI* sender, std::u16string_view type, WPARAM wParam, LPARAM lParam,
                                 bool async)
{
    TNotifyUI msg;
    msg.sType = CDuiString(type);
    msg.pSender = sender;
    msg.wParam = wParam;
    msg.lParam = lParam;
    SendNotify(msg, async);
}

void CPaintManagerUI::SendNotify(TNotifyUI& msg, bool async)
{
    msg.dwTimestamp = EventTimestamp();
    if (m_impl->host) {
        QPoint cursor = m_impl->host->mapFromGlobal(QCursor::pos());
        msg.ptMouse = {cursor.x(), cursor.y()};
    }
    if (!async) {
        DeliverNotify(msg);
        return;
    }
    m_asyncNotify.push_back(msg);
    if (!m_impl->asyncQueued) {
        m_impl->asyncQueued = true;
        HWND hwnd = m_hWnd;
        PostToUi([hwnd, this] {
            // The manager lives as long as its window; a closed window's queue is dropped.
            if (WindowFromHandle(hwnd) != nullptr)
                FlushAsyncNotify();
        });
    }
}

void CPaintManagerUI::FlushAsyncNotify()
{
    m_impl->asyncQueued = false;
    std::vector<TNotifyUI> queue;
    queue.swap(m_asyncNotify);
    for (TNotifyUI& msg : queue) {
        if (msg.pSender == nullptr)
            continue; // the sender left the tree meanwhile
        DeliverNotify(msg);
    }
}

void CPaintManagerUI::DeliverNotify(TNotifyUI& msg)
{
    std::vector<INotifyUI*> notifiers = m_notifiers;
    for (INotifyUI* notifier : notifiers) {
        if (std::find(m_notifiers.begin(), m_notifiers.end(), notifier) == m_notifiers.end())
            continue;
        notifier->Notify(msg);
    }
}

// ---- timers ------------------------------------------------------------------------------------

bool CPaintManagerUI::SetTimer(CControlUI* control, UINT id, UINT elapse)
{
    if (control == nullptr || !m_impl->timerHost)
        return false;
    KillTimer(control, id);
    int qtId = m_impl->timerHost->startTimer(static_cast<int>(std::max<UINT>(1, elapse)));
    if (qtId == 0)
        return false;
    m_impl->timers[qtId] = Impl::Timer{control, id, qtId};
    return true;
}

bool CPaintManagerUI::KillTimer(CControlUI* control, UINT id)
{
    for (auto it = m_impl->timers.begin(); it != m_impl->timers.end(); ++it) {
        if (it->second.control == control && it->second.id == id) {
            if (m_impl->timerHost)
                m_impl->timerHost->killTimer(it->first);
            m_impl->timers.erase(it);
            return true;
        }
    }
    return false;
}

void CPaintManagerUI::KillTimer(CControlUI* control)
{
    for (auto it = m_impl->timers.begin(); it != m_impl->timers.end();) {
        if (it->second.control == control) {
            if (m_impl->timerHost)
                m_impl->timerHost->killTimer(it->first);
            it = m_impl->timers.erase(it);
        } else {
            ++it;
        }
    }
}

void CPaintManagerUI::RemoveAllTimers()
{
    for (auto& [qtId, timer] : m_impl->timers) {
        if (m_impl->timerHost)
            m_impl->timerHost->killTimer(qtId);
    }
    m_impl->timers.clear();
}

void CPaintManagerUI::OnTimerFired(int timerKey)
{
    auto it = m_impl->timers.find(timerKey);
    if (it == m_impl->timers.end())
        return;
    TEventUI event;
    event.Type = UIEVENT_TIMER;
    event.pSender = it->second.control;
    event.wParam = it->second.id;
    event.dwTimestamp = EventTimestamp();
    it->second.control->Event(event);
}

// ---- messages ----------------------------------------------------------------------------------

bool CPaintManagerUI::MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes)
{
    std::vector<IMessageFilterUI*> filters = m_filters;
    for (IMessageFilterUI* filter : filters) {
        bool handled = false;
        LRESULT r = filter->MessageHandler(uMsg, wParam, lParam, handled);
        if (handled) {
            lRes = r;
            return true;
        }
    }
    if (m_hWnd == nullptr)
        return false;
    switch (uMsg) {
    case WM_PAINT:
        Paint();
        lRes = 0;
        return true;
    case WM_SIZE:
        if (m_pRoot != nullptr) {
            m_bUpdateNeeded = true;
            Invalidate();
        }
        return false;
    case WM_SHOWWINDOW:
        if (wParam != 0 && !m_bWindowInitSent && m_pRoot != nullptr) {
            m_bWindowInitSent = true;
            UpdateLayout();
            SendNotify(m_pRoot, u"windowinit", 0, 0, true);
        }
        return false;
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MOUSELEAVE:
        // The mouse hides the focus ring until the next key press; the focus stays.
        if (uMsg == WM_LBUTTONDOWN || uMsg == WM_RBUTTONDOWN || uMsg == WM_LBUTTONDBLCLK ||
            (uMsg == WM_MOUSEMOVE &&
             m_impl->focusRing.MouseMovedTo(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)})))
            ShowFocusRing(false);
        DispatchMouse(uMsg, wParam, lParam);
        lRes = 0;
        return uMsg != WM_MOUSELEAVE;
    case WM_MOUSEWHEEL:
        DispatchWheel(wParam, lParam);
        lRes = 0;
        return true;
    case WM_KEYDOWN:
    case WM_CHAR:
        DispatchKey(uMsg, wParam, lParam);
        lRes = 0;
        return true;
    case WM_SETCURSOR:
        if (wParam == 1 && m_impl->host) {
            // Tool tip request: lParam is the point in client coordinates.
            POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            CControlUI* control = FindControl(pt);
            if (control != nullptr && !control->GetToolTip().IsEmpty())
                QToolTip::showText(m_impl->host->mapToGlobal(QPoint(pt.x, pt.y)),
                                   ToQString(control->GetToolTip().Str()), m_impl->host.data());
            else
                QToolTip::hideText();
            lRes = 1;
            return true;
        }
        return false;
    case WM_KILLFOCUS:
        if (m_pEventClick != nullptr) {
            CControlUI* click = m_pEventClick;
            m_pEventClick = nullptr;
            TEventUI event;
            event.Type = UIEVENT_BUTTONUP;
            event.pSender = click;
            event.ptMouse = {-1, -1};
            click->Event(event);
        }
        return false;
    case WM_UI_DROPQUERY: {
        if (wParam == 1) {
            lRes = m_pRoot != nullptr && m_pRoot->FindControl([](CControlUI* c) {
                return c->IsAcceptDrop() && c->IsEnabled() && c->IsVisible();
            }) != nullptr;
            return true;
        }
        // Every point query of a drag (enter, move, drop) moves the drag's target.
        CControlUI* target = FindDropTarget(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        SetDragTarget(*this, target);
        lRes = target != nullptr ? 1 : 0;
        return true;
    }
    case WM_UI_DRAGLEAVE:
        SetDragTarget(*this, nullptr);
        return true;
    case WM_DROPFILES: {
        auto* drop = reinterpret_cast<const TDropFiles*>(lParam);
        SetDragTarget(*this, nullptr); // the drag is over
        if (drop == nullptr)
            return false;
        if (CControlUI* target = FindDropTarget(drop->pt)) {
            TEventUI event;
            event.Type = UIEVENT_DROPFILES;
            event.pSender = target;
            event.ptMouse = drop->pt;
            event.lParam = lParam;
            event.dwTimestamp = EventTimestamp();
            target->Event(event);
            // The event's handling may have taken the control out of the tree.
            if (FindDropTarget(drop->pt) == target)
                SendNotify(target, u"dropfiles", static_cast<WPARAM>(drop->files.size()), lParam);
            return false;
        }
        CControlUI* control = FindControl(drop->pt);
        if (control == nullptr)
            return false;
        TEventUI event;
        event.Type = UIEVENT_DROPFILES;
        event.pSender = control;
        event.ptMouse = drop->pt;
        event.lParam = lParam;
        control->Event(event);
        return false;
    }
    default:
        return false;
    }
}

} // namespace UiLib
