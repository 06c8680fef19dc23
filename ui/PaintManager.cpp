// CPaintManagerUI, the window's tree: attaching the root, names, lookups, focus, option groups,
// window attributes and fonts. The other concerns have files of their own: window messages,
// notifications and timers (PaintManagerMessages.cpp), input dispatch (PaintManagerInput.cpp) and
// painting (PaintManagerPaint.cpp).

#include "ui/PaintManager.h"

#include <QApplication>
#include <QTimerEvent>

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
    if (m_impl->dragTarget == control)
        m_impl->dragTarget = nullptr;
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

CControlUI* CPaintManagerUI::FindDropTarget(POINT pt) const
{
    for (CControlUI* control = FindControl(pt); control != nullptr; control = control->GetParent()) {
        if (control->IsAcceptDrop() && control->IsEnabled() && control->GetManager() == this)
            return control;
    }
    return nullptr;
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

// ---- focus and groups --------------------------------------------------------------------------

void CPaintManagerUI::SetFocus(CControlUI* control)
{
    if (control == m_pFocus)
        return;
    Invalidate(m_impl->focusRing.LastPainted());
    if (m_pFocus != nullptr) {
        CControlUI* old = m_pFocus;
        m_pFocus = nullptr;
        TEventUI event;
        event.Type = UIEVENT_KILLFOCUS;
        event.pSender = control;
        event.dwTimestamp = EventTimestamp();
        old->Event(event);
        SendNotify(old, u"killfocus");
    }
    if (control != nullptr && control->GetManager() == this && control->IsVisible() && control->IsEnabled()) {
        m_pFocus = control;
        TEventUI event;
        event.Type = UIEVENT_SETFOCUS;
        event.pSender = control;
        event.dwTimestamp = EventTimestamp();
        control->Event(event);
        if (m_pFocus == control)
            SendNotify(control, u"setfocus");
    }
    Invalidate(m_impl->focusRing.RectFor(m_pFocus));
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

CDuiTrayIcon& CPaintManagerUI::GetTrayObject()
{
    if (!m_tray)
        m_tray = std::make_unique<CDuiTrayIcon>();
    return *m_tray;
}

} // namespace UiLib
