#include "ui/List.h"

#include "ui/PaintManager.h"
#include "ui/RenderEngine.h"

namespace UiLib {

LPCTSTR CListContainerElementUI::GetClass() const
{
    return u"ListContainerElementUI";
}

void* CListContainerElementUI::GetInterface(std::u16string_view name)
{
    if (name == u"ListItem" || name == u"ListContainerElement")
        return this;
    return CHorizontalLayoutUI::GetInterface(name);
}

void CListContainerElementUI::SetSelectedMark(bool selected)
{
    if (m_bSelected == selected)
        return;
    m_bSelected = selected;
    Invalidate();
    OnSelectChanged(selected);
}

void CListContainerElementUI::DoEvent(TEventUI& event)
{
    switch (event.Type) {
    case UIEVENT_BUTTONDOWN:
        if (m_pOwner != nullptr && IsEnabled()) {
            if (m_pOwner->IsMultiSelect() && (event.wKeyState & MK_CONTROL))
                m_pOwner->SetItemSelected(m_iIndex, !m_bSelected);
            else
                m_pOwner->SelectItem(m_iIndex, true);
        }
        return;
    case UIEVENT_BUTTONUP:
        if (IsEnabled() && m_rcItem.Contains(event.ptMouse))
            SendNotify(u"itemclick");
        return;
    case UIEVENT_DBLCLICK:
        if (IsEnabled())
            SendNotify(u"itemactivate");
        return;
    case UIEVENT_MOUSEENTER:
        m_bHot = true;
        Invalidate();
        return;
    case UIEVENT_MOUSELEAVE:
        if (!m_rcItem.Contains(event.ptMouse) || event.pSender == nullptr ||
            (event.pSender != this && event.pSender->GetParent() != this)) {
            m_bHot = false;
            Invalidate();
        }
        return;
    case UIEVENT_KEYDOWN:
    case UIEVENT_SCROLLWHEEL:
        if (m_pOwner != nullptr)
            m_pOwner->DoEvent(event);
        return;
    default:
        CHorizontalLayoutUI::DoEvent(event);
    }
}

void CListContainerElementUI::PaintBkColor(HDC hDC)
{
    if (m_pOwner != nullptr) {
        if (m_bSelected) {
            CRenderEngine::DrawColor(hDC, m_rcItem, m_pOwner->GetItemSelectedBkColor());
            return;
        }
        if (m_bHot && IsEnabled()) {
            CRenderEngine::DrawColor(hDC, m_rcItem, m_pOwner->GetItemHotBkColor());
            return;
        }
    }
    CHorizontalLayoutUI::PaintBkColor(hDC);
}

LPCTSTR CListLabelElementUI::GetClass() const
{
    return u"ListLabelElementUI";
}

void* CListLabelElementUI::GetInterface(std::u16string_view name)
{
    if (name == u"ListLabelElement")
        return this;
    return CListContainerElementUI::GetInterface(name);
}

void CListLabelElementUI::PaintText(HDC hDC)
{
    if (m_sText.IsEmpty())
        return;
    RECT rc{m_rcItem.left + 10, m_rcItem.top, m_rcItem.right - 10, m_rcItem.bottom};
    DWORD color = m_pOwner != nullptr && m_pOwner->GetItemTextColor() != 0 ? m_pOwner->GetItemTextColor()
                  : m_pManager != nullptr                                  ? m_pManager->GetDefaultFontColor()
                                                                           : 0xFF333333;
    int font = m_pOwner != nullptr ? m_pOwner->GetItemFont() : -1;
    CRenderEngine::DrawText(hDC, m_pManager, rc, m_sText.Str(), color, font,
                            DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
}

// ------------------------------------------------------------------------------------------------

CListUI::CListUI()
{
    EnableScrollBar(true, false);
}

LPCTSTR CListUI::GetClass() const
{
    return u"ListUI";
}

void* CListUI::GetInterface(std::u16string_view name)
{
    if (name == u"List")
        return this;
    return CVerticalLayoutUI::GetInterface(name);
}

UINT CListUI::GetControlFlags() const
{
    return UIFLAG_TABSTOP;
}

bool CListUI::Add(CControlUI* control)
{
    return AddAt(control, GetCount());
}

bool CListUI::AddAt(CControlUI* control, int index)
{
    if (!CVerticalLayoutUI::AddAt(control, index))
        return false;
    if (auto* row = static_cast<CListContainerElementUI*>(control->GetInterface(u"ListItem")))
        row->SetOwner(this);
    if (m_iCurSel >= index)
        ++m_iCurSel;
    Reindex();
    return true;
}

bool CListUI::Remove(CControlUI* control, bool doNotDestroy)
{
    return RemoveAt(GetItemIndex(control), doNotDestroy);
}

bool CListUI::RemoveAt(int index, bool doNotDestroy)
{
    CControlUI* control = GetItemAt(index);
    if (control == nullptr)
        return false;
    if (doNotDestroy) {
        if (auto* row = static_cast<CListContainerElementUI*>(control->GetInterface(u"ListItem")))
            row->SetOwner(nullptr);
    }
    if (!CVerticalLayoutUI::RemoveAt(index, doNotDestroy))
        return false;
    if (m_iCurSel == index)
        m_iCurSel = -1;
    else if (m_iCurSel > index)
        --m_iCurSel;
    Reindex();
    return true;
}

void CListUI::RemoveAll()
{
    m_iCurSel = -1;
    CVerticalLayoutUI::RemoveAll();
}

void CListUI::Reindex()
{
    for (int i = 0; i < GetCount(); ++i) {
        if (auto* row = static_cast<CListContainerElementUI*>(GetItemAt(i)->GetInterface(u"ListItem")))
            row->SetIndex(i);
    }
}

bool CListUI::SelectItem(int index, bool takeFocus)
{
    if (index == m_iCurSel && !m_bMultiSelect)
        return true;
    CControlUI* control = GetItemAt(index);
    auto* row = control != nullptr ? static_cast<CListContainerElementUI*>(control->GetInterface(u"ListItem"))
                                   : nullptr;
    if (index >= 0 && (row == nullptr || !row->IsVisible() || !row->IsEnabled()))
        return false;
    int old = m_iCurSel;
    for (int i = 0; i < GetCount(); ++i) {
        if (auto* other = static_cast<CListContainerElementUI*>(GetItemAt(i)->GetInterface(u"ListItem")))
            other->SetSelectedMark(i == index);
    }
    m_iCurSel = index;
    if (index < 0)
        return true;
    if (takeFocus && m_pManager != nullptr)
        m_pManager->SetFocus(this);
    EnsureVisible(index);
    SendNotify(u"itemselect", static_cast<WPARAM>(index), old);
    return true;
}

bool CListUI::SetItemSelected(int index, bool selected)
{
    if (!m_bMultiSelect)
        return false;
    CControlUI* control = GetItemAt(index);
    auto* row = control != nullptr ? static_cast<CListContainerElementUI*>(control->GetInterface(u"ListItem"))
                                   : nullptr;
    if (row == nullptr)
        return false;
    int old = m_iCurSel;
    row->SetSelectedMark(selected);
    if (selected)
        m_iCurSel = index;
    else if (m_iCurSel == index) {
        std::vector<int> rest = GetSelectedIndexes();
        m_iCurSel = rest.empty() ? -1 : rest.back();
    }
    SendNotify(u"itemselect", static_cast<WPARAM>(m_iCurSel), old);
    return true;
}

std::vector<int> CListUI::GetSelectedIndexes() const
{
    std::vector<int> result;
    for (int i = 0; i < GetCount(); ++i) {
        if (auto* row = static_cast<CListContainerElementUI*>(GetItemAt(i)->GetInterface(u"ListItem"))) {
            if (row->IsSelected())
                result.push_back(i);
        }
    }
    return result;
}

void CListUI::ClearSelection()
{
    for (int i = 0; i < GetCount(); ++i) {
        if (auto* row = static_cast<CListContainerElementUI*>(GetItemAt(i)->GetInterface(u"ListItem")))
            row->SetSelectedMark(false);
    }
    m_iCurSel = -1;
}

void CListUI::EnsureVisible(int index)
{
    CControlUI* control = GetItemAt(index);
    if (control == nullptr || m_pManager == nullptr)
        return;
    m_pManager->UpdateLayout();
    RECT item = control->GetPos();
    RECT content = ContentRect();
    SIZE pos = GetScrollPos();
    if (item.top < content.top)
        pos.cy -= content.top - item.top;
    else if (item.bottom > content.bottom)
        pos.cy += item.bottom - content.bottom;
    SetScrollPos(pos);
}

void CListUI::DoEvent(TEventUI& event)
{
    if (event.Type == UIEVENT_KEYDOWN) {
        if (event.chKey == VK_UP && m_iCurSel > 0)
            SelectItem(m_iCurSel - 1);
        else if (event.chKey == VK_DOWN && m_iCurSel + 1 < GetCount())
            SelectItem(m_iCurSel + 1);
        return;
    }
    CVerticalLayoutUI::DoEvent(event);
}

void CListUI::SetAttribute(std::u16string_view name, std::u16string_view value)
{
    DWORD color;
    if (name == u"multiselect" || name == u"multipleselect")
        m_bMultiSelect = ParseBool(value);
    else if (name == u"itemselectedbkcolor" && ParseColor(value, color))
        m_dwSelectedBkColor = color;
    else if (name == u"itemhotbkcolor" && ParseColor(value, color))
        m_dwHotBkColor = color;
    else if (name == u"itemtextcolor" && ParseColor(value, color))
        m_dwItemTextColor = color;
    else if (name == u"itemfont")
        m_iItemFont = ParseBoundedInt(value, -1);
    else
        CVerticalLayoutUI::SetAttribute(name, value);
}

} // namespace UiLib
