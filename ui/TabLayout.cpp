#include "ui/TabLayout.h"

#include "ui/PaintManager.h"

namespace UiLib {

LPCTSTR CTabLayoutUI::GetClass() const
{
    return u"TabLayoutUI";
}

void* CTabLayoutUI::GetInterface(std::u16string_view name)
{
    if (name == u"TabLayout")
        return this;
    return CContainerUI::GetInterface(name);
}

bool CTabLayoutUI::Add(CControlUI* control)
{
    return AddAt(control, GetCount());
}

bool CTabLayoutUI::AddAt(CControlUI* control, int index)
{
    if (!CContainerUI::AddAt(control, index))
        return false;
    int at = GetItemIndex(control);
    bool wanted = m_iInitSel >= 0 ? at == m_iInitSel : control->IsOwnVisible();
    if (m_iCurSel == -1 && wanted) {
        m_iCurSel = at;
        control->SetVisible(true);
    } else {
        if (index <= m_iCurSel && m_iCurSel >= 0 && GetItemAt(m_iCurSel + 1) != nullptr)
            ++m_iCurSel;
        control->SetVisible(false);
    }
    return true;
}

bool CTabLayoutUI::Remove(CControlUI* control, bool doNotDestroy)
{
    int index = GetItemIndex(control);
    if (!CContainerUI::Remove(control, doNotDestroy))
        return false;
    if (m_iCurSel == index) {
        m_iCurSel = -1;
        if (GetCount() > 0)
            SelectItem(0);
    } else if (m_iCurSel > index) {
        --m_iCurSel;
    }
    return true;
}

void CTabLayoutUI::RemoveAll()
{
    m_iCurSel = -1;
    CContainerUI::RemoveAll();
}

bool CTabLayoutUI::SelectItem(int index)
{
    if (index < 0 || index >= GetCount())
        return false;
    if (index == m_iCurSel)
        return true;
    int old = m_iCurSel;
    m_iCurSel = index;
    for (int i = 0; i < GetCount(); ++i)
        GetItemAt(i)->SetVisible(i == index);
    NeedUpdate();
    if (m_pManager != nullptr) {
        m_pManager->SetFocus(nullptr);
        m_pManager->SendNotify(this, u"tabselect", static_cast<WPARAM>(index), old);
    }
    return true;
}

bool CTabLayoutUI::SelectItem(CControlUI* control)
{
    return SelectItem(GetItemIndex(control));
}

void CTabLayoutUI::SetPos(RECT rc, bool needInvalidate)
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
        RECT pad = item->GetPadding();
        item->SetPos(RECT{content.left + pad.left, content.top + pad.top, content.right - pad.right,
                          content.bottom - pad.bottom},
                     false);
    }
}

void CTabLayoutUI::SetAttribute(std::u16string_view name, std::u16string_view value)
{
    if (name == u"selectedid") {
        int index = ParseBoundedInt(value, 0);
        if (index >= 0 && index < GetCount())
            SelectItem(index);
        else
            m_iInitSel = index; // applied when that page arrives
    } else {
        CContainerUI::SetAttribute(name, value);
    }
}

} // namespace UiLib
