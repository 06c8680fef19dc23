#include "ui/Container.h"

#include <algorithm>

#include "platform/Trace.h"
#include "ui/PaintManager.h"
#include "ui/ScrollBar.h"
#include "ui/private/UiPrivate.h"

namespace UiLib {

CContainerUI::CContainerUI() = default;

CContainerUI::~CContainerUI()
{
    for (CControlUI* item : m_items)
        delete item;
    m_items.clear();
}

LPCTSTR CContainerUI::GetClass() const
{
    return u"ContainerUI";
}

void* CContainerUI::GetInterface(std::u16string_view name)
{
    if (name == u"Container" || name == u"IContainer")
        return this;
    return CControlUI::GetInterface(name);
}

CControlUI* CContainerUI::GetItemAt(int index) const
{
    if (index < 0 || index >= GetCount())
        return nullptr;
    return m_items[static_cast<size_t>(index)];
}

int CContainerUI::GetItemIndex(CControlUI* control) const
{
    auto it = std::find(m_items.begin(), m_items.end(), control);
    return it == m_items.end() ? -1 : static_cast<int>(it - m_items.begin());
}

bool CContainerUI::SetItemIndex(CControlUI* control, int index)
{
    int current = GetItemIndex(control);
    if (current < 0 || index < 0 || index >= GetCount())
        return false;
    m_items.erase(m_items.begin() + current);
    m_items.insert(m_items.begin() + index, control);
    NeedUpdate();
    return true;
}

bool CContainerUI::Add(CControlUI* control)
{
    return AddAt(control, GetCount());
}

bool CContainerUI::AddAt(CControlUI* control, int index)
{
    if (control == nullptr || index < 0 || index > GetCount() || GetItemIndex(control) >= 0)
        return false;
    if (m_pManager != nullptr)
        control->SetManager(m_pManager, this, true);
    else
        control->SetManager(nullptr, this, false);
    if (!IsVisible())
        control->SetInternVisible(false);
    m_items.insert(m_items.begin() + index, control);
    NeedUpdate();
    return true;
}

bool CContainerUI::Remove(CControlUI* control, bool doNotDestroy)
{
    int index = GetItemIndex(control);
    if (index < 0)
        return false;
    return RemoveAt(index, doNotDestroy);
}

bool CContainerUI::RemoveAt(int index, bool doNotDestroy)
{
    CControlUI* control = GetItemAt(index);
    if (control == nullptr)
        return false;
    m_items.erase(m_items.begin() + index);
    if (doNotDestroy) {
        if (m_pManager != nullptr) {
            control->FindControl([this](CControlUI* c) {
                m_pManager->ReapObjects(c);
                return false;
            });
        }
        control->SetManager(nullptr, nullptr, false);
    } else {
        delete control;
    }
    NeedUpdate();
    return true;
}

void CContainerUI::RemoveAll()
{
    std::vector<CControlUI*> items;
    items.swap(m_items);
    for (CControlUI* item : items)
        delete item;
    if (m_pVerticalScrollBar)
        m_pVerticalScrollBar->SetScrollPos(0);
    if (m_pHorizontalScrollBar)
        m_pHorizontalScrollBar->SetScrollPos(0);
    NeedUpdate();
}

CControlUI* CContainerUI::FindSubControl(std::u16string_view name)
{
    for (CControlUI* item : m_items) {
        CControlUI* found = item->FindControl([name](CControlUI* c) { return c->GetName().Str() == name; });
        if (found != nullptr)
            return found;
    }
    return nullptr;
}

void CContainerUI::SetInset(RECT rc)
{
    m_rcInset = rc;
    NeedUpdate();
}

void CContainerUI::SetChildPadding(int padding)
{
    m_iChildPadding = padding;
    NeedUpdate();
}

void CContainerUI::EnableScrollBar(bool vertical, bool horizontal)
{
    if (vertical && !m_pVerticalScrollBar) {
        m_pVerticalScrollBar = std::make_unique<CScrollBarUI>();
        m_pVerticalScrollBar->SetOwner(this);
        m_pVerticalScrollBar->SetManager(m_pManager, this, false);
        m_pVerticalScrollBar->SetVisible(false);
        if (m_pManager != nullptr) {
            if (const CDuiString* list = m_pManager->GetDefaultAttributeList(u"VScrollBar"))
                m_pVerticalScrollBar->ApplyAttributeList(*list);
        }
    } else if (!vertical && m_pVerticalScrollBar) {
        if (m_pManager != nullptr)
            m_pManager->ReapObjects(m_pVerticalScrollBar.get());
        m_pVerticalScrollBar.reset();
    }
    if (horizontal && !m_pHorizontalScrollBar) {
        m_pHorizontalScrollBar = std::make_unique<CScrollBarUI>();
        m_pHorizontalScrollBar->SetHorizontal(true);
        m_pHorizontalScrollBar->SetOwner(this);
        m_pHorizontalScrollBar->SetManager(m_pManager, this, false);
        m_pHorizontalScrollBar->SetVisible(false);
    } else if (!horizontal && m_pHorizontalScrollBar) {
        if (m_pManager != nullptr)
            m_pManager->ReapObjects(m_pHorizontalScrollBar.get());
        m_pHorizontalScrollBar.reset();
    }
    NeedUpdate();
}

SIZE CContainerUI::GetScrollPos() const
{
    SIZE pos;
    if (m_pVerticalScrollBar && m_pVerticalScrollBar->IsOwnVisible())
        pos.cy = m_pVerticalScrollBar->GetScrollPos();
    if (m_pHorizontalScrollBar && m_pHorizontalScrollBar->IsOwnVisible())
        pos.cx = m_pHorizontalScrollBar->GetScrollPos();
    return pos;
}

SIZE CContainerUI::GetScrollRange() const
{
    SIZE range;
    if (m_pVerticalScrollBar && m_pVerticalScrollBar->IsOwnVisible())
        range.cy = m_pVerticalScrollBar->GetScrollRange();
    if (m_pHorizontalScrollBar && m_pHorizontalScrollBar->IsOwnVisible())
        range.cx = m_pHorizontalScrollBar->GetScrollRange();
    return range;
}

void CContainerUI::SetScrollPos(SIZE pos)
{
    SIZE old = GetScrollPos();
    if (m_pVerticalScrollBar && m_pVerticalScrollBar->IsOwnVisible())
        m_pVerticalScrollBar->SetScrollPos(pos.cy);
    if (m_pHorizontalScrollBar && m_pHorizontalScrollBar->IsOwnVisible())
        m_pHorizontalScrollBar->SetScrollPos(pos.cx);
    SIZE now = GetScrollPos();
    if (now.cx == old.cx && now.cy == old.cy)
        return;
    // Move the children by the difference instead of laying everything out again.
    int dx = old.cx - now.cx;
    int dy = old.cy - now.cy;
    std::function<void(CControlUI*)> shift = [&](CControlUI* c) {
        RECT rc = c->GetPos();
        c->SetPos(RECT{rc.left + dx, rc.top + dy, rc.right + dx, rc.bottom + dy}, false);
    };
    for (CControlUI* item : m_items) {
        if (!item->IsVisible() || item->IsFloat())
            continue;
        shift(item);
    }
    Invalidate();
}

void CContainerUI::LineUp()
{
    SIZE pos = GetScrollPos();
    pos.cy -= m_nScrollStepSize;
    SetScrollPos(pos);
}

void CContainerUI::LineDown()
{
    SIZE pos = GetScrollPos();
    pos.cy += m_nScrollStepSize;
    SetScrollPos(pos);
}

void CContainerUI::PageUp()
{
    SIZE pos = GetScrollPos();
    pos.cy -= std::max(m_nScrollStepSize, ContentRect().Height() - m_nScrollStepSize);
    SetScrollPos(pos);
}

void CContainerUI::PageDown()
{
    SIZE pos = GetScrollPos();
    pos.cy += std::max(m_nScrollStepSize, ContentRect().Height() - m_nScrollStepSize);
    SetScrollPos(pos);
}

void CContainerUI::HomeUp()
{
    SIZE pos = GetScrollPos();
    pos.cy = 0;
    SetScrollPos(pos);
}

void CContainerUI::EndDown()
{
    SIZE pos = GetScrollPos();
    pos.cy = GetScrollRange().cy;
    SetScrollPos(pos);
}

void CContainerUI::LineLeft()
{
    SIZE pos = GetScrollPos();
    pos.cx -= m_nScrollStepSize;
    SetScrollPos(pos);
}

void CContainerUI::LineRight()
{
    SIZE pos = GetScrollPos();
    pos.cx += m_nScrollStepSize;
    SetScrollPos(pos);
}

void CContainerUI::PageLeft()
{
    SIZE pos = GetScrollPos();
    pos.cx -= std::max(m_nScrollStepSize, ContentRect().Width() - m_nScrollStepSize);
    SetScrollPos(pos);
}

void CContainerUI::PageRight()
{
    SIZE pos = GetScrollPos();
    pos.cx += std::max(m_nScrollStepSize, ContentRect().Width() - m_nScrollStepSize);
    SetScrollPos(pos);
}

void CContainerUI::HomeLeft()
{
    SIZE pos = GetScrollPos();
    pos.cx = 0;
    SetScrollPos(pos);
}

void CContainerUI::EndRight()
{
    SIZE pos = GetScrollPos();
    pos.cx = GetScrollRange().cx;
    SetScrollPos(pos);
}

void CContainerUI::SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init)
{
    for (CControlUI* item : m_items)
        item->SetManager(manager, this, init);
    if (m_pVerticalScrollBar)
        m_pVerticalScrollBar->SetManager(manager, this, false);
    if (m_pHorizontalScrollBar)
        m_pHorizontalScrollBar->SetManager(manager, this, false);
    CControlUI::SetManager(manager, parent, init);
}

CControlUI* CContainerUI::FindControl(const std::function<bool(CControlUI*)>& match)
{
    if (match(this))
        return this;
    for (CControlUI* item : m_items) {
        if (CControlUI* found = item->FindControl(match))
            return found;
    }
    return nullptr;
}

CControlUI* CContainerUI::FindControlAt(POINT pt)
{
    if (!IsVisible() || !m_rcItem.Contains(pt))
        return nullptr;
    if (m_pVerticalScrollBar && m_pVerticalScrollBar->IsVisible() &&
        m_pVerticalScrollBar->GetPos().Contains(pt))
        return m_pVerticalScrollBar.get();
    if (m_pHorizontalScrollBar && m_pHorizontalScrollBar->IsVisible() &&
        m_pHorizontalScrollBar->GetPos().Contains(pt))
        return m_pHorizontalScrollBar.get();
    if (m_bMouseChildEnabled) {
        // Later children are drawn on top, so they are hit first; floats before the flow.
        for (auto it = m_items.rbegin(); it != m_items.rend(); ++it) {
            if ((*it)->IsFloat()) {
                if (CControlUI* found = (*it)->FindControlAt(pt))
                    return found;
            }
        }
        RECT content = ContentRect();
        RECT visible;
        IntersectRect(visible, content, m_rcItem);
        for (auto it = m_items.rbegin(); it != m_items.rend(); ++it) {
            if ((*it)->IsFloat())
                continue;
            if (!visible.Contains(pt) && !(*it)->GetPos().Contains(pt))
                continue;
            if (CControlUI* found = (*it)->FindControlAt(pt))
                return found;
        }
    }
    return m_bMouseEnabled ? this : nullptr;
}

void CContainerUI::SetVisible(bool visible)
{
    if (m_bVisible == visible)
        return;
    CControlUI::SetVisible(visible);
    for (CControlUI* item : m_items)
        item->SetInternVisible(IsVisible());
}

void CContainerUI::SetInternVisible(bool visible)
{
    CControlUI::SetInternVisible(visible);
    for (CControlUI* item : m_items)
        item->SetInternVisible(IsVisible());
}

void CContainerUI::SetEnabled(bool enabled)
{
    CControlUI::SetEnabled(enabled);
}

RECT CContainerUI::ContentRect() const
{
    RECT rc{m_rcItem.left + m_rcInset.left, m_rcItem.top + m_rcInset.top, m_rcItem.right - m_rcInset.right,
            m_rcItem.bottom - m_rcInset.bottom};
    if (m_pVerticalScrollBar && m_pVerticalScrollBar->IsOwnVisible())
        rc.right -= m_pVerticalScrollBar->GetThickness();
    if (m_pHorizontalScrollBar && m_pHorizontalScrollBar->IsOwnVisible())
        rc.bottom -= m_pHorizontalScrollBar->GetThickness();
    if (rc.right < rc.left)
        rc.right = rc.left;
    if (rc.bottom < rc.top)
        rc.bottom = rc.top;
    return rc;
}

void CContainerUI::SetFloatPos(CControlUI* child)
{
    RECT fixed = child->GetFixedXY();
    RECT rc{m_rcItem.left + fixed.left, m_rcItem.top + fixed.top, m_rcItem.left + fixed.right,
            m_rcItem.top + fixed.bottom};
    if (fixed.right <= fixed.left && child->GetFixedWidth() > 0)
        rc.right = rc.left + child->GetFixedWidth();
    if (fixed.bottom <= fixed.top && child->GetFixedHeight() > 0)
        rc.bottom = rc.top + child->GetFixedHeight();
    child->SetPos(rc, false);
}

void CContainerUI::SetPos(RECT rc, bool needInvalidate)
{
    CControlUI::SetPos(rc, needInvalidate);
    RECT content = ContentRect();
    for (CControlUI* item : m_items) {
        if (!item->IsVisible())
            continue;
        if (item->IsFloat()) {
            SetFloatPos(item);
            continue;
        }
        RECT padding = item->GetPadding();
        item->SetPos(RECT{content.left + padding.left, content.top + padding.top,
                          content.right - padding.right, content.bottom - padding.bottom},
                     false);
    }
}

void CContainerUI::ProcessScrollBar(RECT rc, int cxRequired, int cyRequired)
{
    if (m_bScrollProcess)
        return;
    m_bScrollProcess = true;
    // The required extents include the insets, as the viewport (rc) does.
    if (m_pVerticalScrollBar) {
        int range = std::max(0, cyRequired - rc.Height());
        bool show = range > 0;
        bool changed = show != m_pVerticalScrollBar->IsOwnVisible();
        m_pVerticalScrollBar->SetVisible(show);
        m_pVerticalScrollBar->SetScrollRange(range);
        m_pVerticalScrollBar->SetLineSize(m_nScrollStepSize);
        int t = m_pVerticalScrollBar->GetThickness();
        m_pVerticalScrollBar->SetPos(RECT{rc.right - t, rc.top, rc.right, rc.bottom}, false);
        if (changed) {
            // The bar takes width from the content: lay out again with the new width.
            SetPos(m_rcItem, false);
        }
    }
    if (m_pHorizontalScrollBar) {
        int range = std::max(0, cxRequired - rc.Width());
        bool show = range > 0;
        bool changed = show != m_pHorizontalScrollBar->IsOwnVisible();
        m_pHorizontalScrollBar->SetVisible(show);
        m_pHorizontalScrollBar->SetScrollRange(range);
        m_pHorizontalScrollBar->SetLineSize(m_nScrollStepSize);
        int t = m_pHorizontalScrollBar->GetThickness();
        m_pHorizontalScrollBar->SetPos(RECT{rc.left, rc.bottom - t, rc.right, rc.bottom}, false);
        if (changed) {
            // The bar takes height from the content: lay out again with the new height.
            SetPos(m_rcItem, false);
        }
    }
    m_bScrollProcess = false;
}

void CContainerUI::DoEvent(TEventUI& event)
{
    if (event.Type == UIEVENT_SCROLLWHEEL) {
        bool vertical = m_pVerticalScrollBar && m_pVerticalScrollBar->IsVisible() &&
                        m_pVerticalScrollBar->GetScrollRange() > 0;
        bool horizontal = m_pHorizontalScrollBar && m_pHorizontalScrollBar->IsVisible() &&
                          m_pHorizontalScrollBar->GetScrollRange() > 0;
        bool shift = (event.wKeyState & MK_SHIFT) != 0;
        int delta = static_cast<int>(static_cast<std::intptr_t>(event.wParam));
        if (horizontal && (shift || !vertical)) {
            if (delta > 0)
                LineLeft();
            else if (delta < 0)
                LineRight();
            return;
        }
        if (vertical) {
            if (delta > 0)
                LineUp();
            else if (delta < 0)
                LineDown();
            return;
        }
    }
    CControlUI::DoEvent(event);
}

void CContainerUI::DoPaint(HDC hDC, const RECT& rcPaint)
{
    RECT clip;
    if (!IntersectRect(clip, rcPaint, m_rcItem))
        return;
    CControlUI::DoPaint(hDC, clip);
    QPainter* painter = hDC != nullptr ? hDC->painter : nullptr;
    if (!m_items.empty()) {
        // Children are clipped once, to the content rectangle (they may be scrolled past it).
        RECT content = ContentRect();
        RECT childClip;
        if (IntersectRect(childClip, clip, content)) {
            if (painter != nullptr) {
                painter->save();
                painter->setClipRect(ToQRect(childClip), Qt::IntersectClip);
            }
            for (CControlUI* item : m_items) {
                if (!item->IsVisible() || item->IsFloat())
                    continue;
                RECT tmp;
                if (IntersectRect(tmp, childClip, item->GetPos()))
                    item->DoPaint(hDC, childClip);
            }
            if (painter != nullptr)
                painter->restore();
        }
        for (CControlUI* item : m_items) {
            if (!item->IsVisible() || !item->IsFloat())
                continue;
            RECT tmp;
            if (IntersectRect(tmp, clip, item->GetPos()))
                item->DoPaint(hDC, clip);
        }
    }
    if (m_pVerticalScrollBar && m_pVerticalScrollBar->IsVisible())
        m_pVerticalScrollBar->DoPaint(hDC, clip);
    if (m_pHorizontalScrollBar && m_pHorizontalScrollBar->IsVisible())
        m_pHorizontalScrollBar->DoPaint(hDC, clip);
}

void CContainerUI::SetAttribute(std::u16string_view name, std::u16string_view value)
{
    if (name == u"inset") {
        RECT rc;
        if (ParseRect(value, rc))
            SetInset(rc);
    } else if (name == u"childpadding") {
        SetChildPadding(ParseBoundedInt(value));
    } else if (name == u"mousechild") {
        SetMouseChildEnabled(ParseBool(value));
    } else if (name == u"vscrollbar") {
        EnableScrollBar(ParseBool(value), m_pHorizontalScrollBar != nullptr);
    } else if (name == u"hscrollbar") {
        EnableScrollBar(m_pVerticalScrollBar != nullptr, ParseBool(value));
    } else if (name == u"scrollstepsize") {
        SetScrollStepSize(ParseBoundedInt(value, 40));
    } else {
        CControlUI::SetAttribute(name, value);
    }
}

} // namespace UiLib
