#include "ui/PaintManager.h"

#include <QApplication>
#include <QBuffer>
#include <QCursor>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QTimerEvent>
#include <QToolTip>

#include <algorithm>
#include <mutex>

#include "platform/Paths.h"
#include "platform/Trace.h"
#include "ui/Container.h"
#include "ui/Resources.h"
#include "ui/TrayIcon.h"
#include "ui/private/UiPrivate.h"
#include "ui/private/ZipReader.h"

namespace UiLib {

namespace {

// Forwards Qt timer events to the paint manager.
class TimerHost : public QObject {
public:
    explicit TimerHost(std::function<void(int)> onTimer) : m_onTimer(std::move(onTimer)) {}
    void timerEvent(QTimerEvent* e) override { m_onTimer(e->timerId()); }

private:
    std::function<void(int)> m_onTimer;
};

DWORD Timestamp()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return static_cast<DWORD>(clock.elapsed());
}

} // namespace

// ---- per window --------------------------------------------------------------------------------

CPaintManagerUI::CPaintManagerUI() : m_impl(std::make_unique<Impl>())
{
    m_defaultFont.sFontName = u"Noto Sans CJK SC";
    m_defaultFont.iSize = 13;
}

CPaintManagerUI::~CPaintManagerUI()
{
    RemoveAllTimers();
    m_impl->timerHost.reset();
    CControlUI* root = m_pRoot;
    m_pRoot = nullptr;
    m_pFocus = m_pEventHover = m_pEventClick = m_pEventRClick = nullptr;
    m_asyncNotify.clear();
    delete root;
    m_names.clear();
}

void CPaintManagerUI::Init(HWND hWnd)
{
    EnsureApplication();
    m_hWnd = hWnd;
    m_impl->host = HostOf(hWnd);
    if (!m_impl->timerHost)
        m_impl->timerHost = std::make_unique<TimerHost>([this](int id) { OnTimerFired(id); });
}

bool CPaintManagerUI::AttachDialog(CControlUI* root)
{
    if (root == nullptr)
        return false;
    if (m_pRoot != nullptr && m_pRoot != root) {
        CControlUI* old = m_pRoot;
        m_pRoot = nullptr;
        delete old;
    }
    m_pFocus = m_pEventHover = m_pEventClick = m_pEventRClick = nullptr;
    m_pRoot = root;
    m_bUpdateNeeded = true;
    m_bFirstLayout = true;
    root->SetManager(this, nullptr, true);
    Invalidate();
    return true;
}

void CPaintManagerUI::InitControls(CControlUI* control)
{
    if (control == nullptr)
        return;
    if (!control->GetName().IsEmpty())
        m_names.insert_or_assign(control->GetName().Str(), control);
}

void CPaintManagerUI::ReapObjects(CControlUI* control)
{
    if (control == nullptr)
        return;
    if (m_pFocus == control)
        m_pFocus = nullptr;
    if (m_pEventHover == control)
        m_pEventHover = nullptr;
    if (m_pEventClick == control)
        m_pEventClick = nullptr;
    if (m_pEventRClick == control)
        m_pEventRClick = nullptr;
    KillTimer(control);
    auto name = m_names.find(control->GetName().Str());
    if (name != m_names.end() && name->second == control)
        m_names.erase(name);
    for (auto& [group, members] : m_optionGroups)
        members.erase(std::remove(members.begin(), members.end(), control), members.end());
    for (TNotifyUI& msg : m_asyncNotify) {
        if (msg.pSender == control)
            msg.pSender = nullptr;
    }
}

void CPaintManagerUI::RenameControl(CControlUI* control, const CDuiString& oldName)
{
    auto it = m_names.find(oldName.Str());
    if (it != m_names.end() && it->second == control)
        m_names.erase(it);
    InitControls(control);
}

CControlUI* CPaintManagerUI::FindControl(std::u16string_view name) const
{
    auto it = m_names.find(name);
    return it == m_names.end() ? nullptr : it->second;
}

CControlUI* CPaintManagerUI::FindControl(POINT pt) const
{
    if (m_pRoot == nullptr)
        return nullptr;
    const_cast<CPaintManagerUI*>(this)->UpdateLayout();
    return m_pRoot->FindControlAt(pt);
}

CControlUI* CPaintManagerUI::FindSubControlByName(CControlUI* parent, std::u16string_view name) const
{
    if (parent == nullptr)
        parent = m_pRoot;
    if (parent == nullptr)
        return nullptr;
    return parent->FindControl([name](CControlUI* c) { return c->GetName().Str() == name; });
}

CControlUI* CPaintManagerUI::FindSubControlByClass(CControlUI* parent, std::u16string_view className,
                                                   int index) const
{
    if (parent == nullptr)
        parent = m_pRoot;
    if (parent == nullptr)
        return nullptr;
    int seen = 0;
    return parent->FindControl(
        [&](CControlUI* c) { return std::u16string_view(c->GetClass()) == className && seen++ == index; });
}

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
    msg.dwTimestamp = Timestamp();
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
    event.dwTimestamp = Timestamp();
    it->second.control->Event(event);
}

// ---- focus and groups --------------------------------------------------------------------------

void CPaintManagerUI::SetFocus(CControlUI* control)
{
    if (control == m_pFocus)
        return;
    if (m_pFocus != nullptr) {
        CControlUI* old = m_pFocus;
        m_pFocus = nullptr;
        TEventUI event;
        event.Type = UIEVENT_KILLFOCUS;
        event.pSender = control;
        event.dwTimestamp = Timestamp();
        old->Event(event);
        SendNotify(old, u"killfocus");
    }
    if (control != nullptr && control->GetManager() == this && control->IsVisible() && control->IsEnabled()) {
        m_pFocus = control;
        TEventUI event;
        event.Type = UIEVENT_SETFOCUS;
        event.pSender = control;
        event.dwTimestamp = Timestamp();
        control->Event(event);
        if (m_pFocus == control)
            SendNotify(control, u"setfocus");
    }
}

void CPaintManagerUI::AddOptionGroup(std::u16string_view group, CControlUI* control)
{
    auto& members = m_optionGroups[std::u16string(group)];
    if (std::find(members.begin(), members.end(), control) == members.end())
        members.push_back(control);
}

const std::vector<CControlUI*>* CPaintManagerUI::GetOptionGroup(std::u16string_view group) const
{
    auto it = m_optionGroups.find(group);
    return it == m_optionGroups.end() ? nullptr : &it->second;
}

void CPaintManagerUI::RemoveOptionGroup(std::u16string_view group, CControlUI* control)
{
    auto it = m_optionGroups.find(group);
    if (it == m_optionGroups.end())
        return;
    it->second.erase(std::remove(it->second.begin(), it->second.end(), control), it->second.end());
}

// ---- window attributes, fonts, images ----------------------------------------------------------

void CPaintManagerUI::SetInitSize(int cx, int cy)
{
    m_szInitWindowSize = {cx, cy};
    if (m_impl->host && cx > 0 && cy > 0)
        m_impl->host->resize(cx, cy);
}

SIZE CPaintManagerUI::GetClientSize() const
{
    if (!m_impl->host)
        return m_szInitWindowSize;
    return SIZE{m_impl->host->width(), m_impl->host->height()};
}

void CPaintManagerUI::AddDefaultAttributeList(std::u16string_view controlName, std::u16string_view list)
{
    m_defaultAttrs.insert_or_assign(std::u16string(controlName), CDuiString(list));
}

const CDuiString* CPaintManagerUI::GetDefaultAttributeList(std::u16string_view controlName) const
{
    auto it = m_defaultAttrs.find(controlName);
    return it == m_defaultAttrs.end() ? nullptr : &it->second;
}

int CPaintManagerUI::AddFont(int id, const CDuiString& name, int size, bool bold, bool underline, bool italic)
{
    if (id < 0)
        id = m_fonts.empty() ? 0 : m_fonts.rbegin()->first + 1;
    m_impl->fonts.clear();
    m_fonts[id] = TFontInfo{name, size > 0 ? std::min(size, 400) : 12, bold, underline, italic};
    return id;
}

void CPaintManagerUI::SetDefaultFont(const CDuiString& name, int size, bool bold, bool underline, bool italic)
{
    m_impl->fonts.clear();
    m_defaultFont = TFontInfo{name.IsEmpty() ? CDuiString(u"Noto Sans CJK SC") : name, size > 0 ? size : 12,
                              bold, underline, italic};
}

const TFontInfo* CPaintManagerUI::GetFontInfo(int index) const
{
    auto it = m_fonts.find(index);
    return it == m_fonts.end() ? &m_defaultFont : &it->second;
}

QFont FontFor(const CPaintManagerUI* manager, int index)
{
    static const TFontInfo kFallback{u"Noto Sans CJK SC", 13, false, false, false};
    if (manager != nullptr) {
        auto& cache = manager->GetImpl()->fonts;
        auto it = cache.find(index);
        if (it != cache.end())
            return it->second;
    }
    const TFontInfo* info = manager != nullptr ? manager->GetFontInfo(index) : &kFallback;
    QFont font;
    // The layout's face first; Noto Sans CJK SC for everything it lacks (and for Chinese text).
    QStringList families;
    if (!info->sFontName.IsEmpty())
        families << ToQString(info->sFontName.Str());
    families << QStringLiteral("Noto Sans CJK SC");
    font.setFamilies(families);
    font.setPixelSize(std::max(1, info->iSize));
    font.setBold(info->bBold);
    font.setUnderline(info->bUnderline);
    font.setItalic(info->bItalic);
    font.setHintingPreference(QFont::PreferNoHinting);
    if (manager != nullptr)
        manager->GetImpl()->fonts.emplace(index, font);
    return font;
}

CDuiTrayIcon& CPaintManagerUI::GetTrayObject()
{
    if (!m_tray)
        m_tray = std::make_unique<CDuiTrayIcon>();
    return *m_tray;
}

// ---- painting and layout -----------------------------------------------------------------------

void CPaintManagerUI::Invalidate()
{
    if (m_impl->host)
        m_impl->host->update();
}

void CPaintManagerUI::Invalidate(const RECT& rc)
{
    if (m_impl->host && !rc.IsEmpty())
        m_impl->host->update(ToQRect(rc));
}

void CPaintManagerUI::UpdateLayout()
{
    if (m_pRoot == nullptr)
        return;
    SIZE client = GetClientSize();
    RECT rc{0, 0, client.cx, client.cy};
    if (!m_bUpdateNeeded && m_pRoot->GetPos() == rc)
        return;
    m_bUpdateNeeded = false;
    if (!rc.IsEmpty())
        m_pRoot->SetPos(rc, false);
    m_bFirstLayout = false;
}

void CPaintManagerUI::Paint()
{
    HostWidget* host = m_impl->host.data();
    if (host == nullptr || m_pRoot == nullptr)
        return;
    QPainter* painter = host->CurrentPainter();
    if (painter == nullptr)
        return;
    QElapsedTimer timer;
    timer.start();
    UpdateLayout();
    QRect clip = host->CurrentPaintRect();
    if (clip.isEmpty())
        clip = host->rect();
    RECT rcPaint = FromQRect(clip);
    if ((m_pRoot->GetBkColor() >> 24) != 0xFF)
        painter->fillRect(clip, QColor(0xFF, 0xFF, 0xFF)); // the root does not cover everything
    painter->setRenderHint(QPainter::TextAntialiasing);
    HDC__ dc{painter, this};
    m_pRoot->DoPaint(&dc, rcPaint);
    ++m_stats.nPaints;
    m_stats.rcLastPaint = rcPaint;
    m_stats.dLastPaintMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    if (!m_bWindowInitSent) {
        m_bWindowInitSent = true;
        SendNotify(m_pRoot, u"windowinit", 0, 0, true);
    }
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
        DispatchMouse(uMsg, wParam, lParam);
        lRes = 0;
        return uMsg != WM_MOUSELEAVE;
    case WM_MOUSEWHEEL:
        DispatchWheel(wParam, lParam);
        lRes = 0;
        return true;
    case WM_KEYDOWN:
    case WM_CHAR:
        DispatchKey(uMsg, wParam);
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
    case WM_DROPFILES: {
        auto* drop = reinterpret_cast<const TDropFiles*>(lParam);
        if (drop == nullptr)
            return false;
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

void CPaintManagerUI::DispatchMouse(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    TEventUI event;
    event.ptMouse = pt;
    event.wKeyState = static_cast<UINT>(wParam);
    event.dwTimestamp = Timestamp();

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
    event.dwTimestamp = Timestamp();
    control->Event(event);
    // The content moved under the cursor: the hovered control may have changed.
    DispatchMouse(WM_MOUSEMOVE, 0, MAKELPARAM(pt.x, pt.y));
}

void CPaintManagerUI::DispatchKey(UINT uMsg, WPARAM wParam)
{
    if (m_pFocus == nullptr)
        return;
    TEventUI event;
    event.Type = uMsg == WM_KEYDOWN ? UIEVENT_KEYDOWN : UIEVENT_CHAR;
    event.pSender = m_pFocus;
    event.chKey = static_cast<char16_t>(wParam);
    event.dwTimestamp = Timestamp();
    m_pFocus->Event(event);
}

} // namespace UiLib
