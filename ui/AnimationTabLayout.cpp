#include "ui/AnimationTabLayout.h"

#include "ui/PaintManager.h"

namespace UiLib {

LPCTSTR CAnimationTabLayoutUI::GetClass() const
{
    return u"AnimationTabLayoutUI";
}

void* CAnimationTabLayoutUI::GetInterface(std::u16string_view name)
{
    if (name == u"AnimationTabLayout")
        return this;
    return CTabLayoutUI::GetInterface(name);
}

bool CAnimationTabLayoutUI::SelectItem(int index)
{
    int old = m_iCurSel;
    if (!CTabLayoutUI::SelectItem(index))
        return false;
    if (old == index || m_pManager == nullptr || m_rcItem.IsEmpty())
        return true;
    m_nStep = kSteps;
    m_pManager->SetTimer(this, kTimerId, 20);
    SetPos(m_rcItem, false);
    Invalidate();
    return true;
}

void CAnimationTabLayoutUI::SetPos(RECT rc, bool needInvalidate)
{
    CTabLayoutUI::SetPos(rc, needInvalidate);
    if (m_nStep <= 0)
        return;
    CControlUI* page = GetItemAt(m_iCurSel);
    if (page == nullptr)
        return;
    // Ease out: the page starts one step-fraction of the size away and comes to rest.
    double t = 1.0 - static_cast<double>(m_nStep) / kSteps;
    double remaining = (1.0 - t) * (1.0 - t);
    RECT pos = page->GetPos();
    int dx = m_bVertical ? 0 : static_cast<int>(remaining * m_rcItem.Width() * 0.3);
    int dy = m_bVertical ? static_cast<int>(remaining * m_rcItem.Height() * 0.3) : 0;
    page->SetPos(RECT{pos.left + dx, pos.top + dy, pos.right + dx, pos.bottom + dy}, false);
}

void CAnimationTabLayoutUI::DoEvent(TEventUI& event)
{
    if (event.Type == UIEVENT_TIMER && event.wParam == kTimerId) {
        if (--m_nStep <= 0) {
            m_nStep = 0;
            if (m_pManager != nullptr)
                m_pManager->KillTimer(this, kTimerId);
        }
        SetPos(m_rcItem, false);
        Invalidate();
        return;
    }
    CTabLayoutUI::DoEvent(event);
}

void CAnimationTabLayoutUI::SetAttribute(std::u16string_view name, std::u16string_view value)
{
    if (name == u"animation_direction")
        m_bVertical = value == u"vertical";
    else
        CTabLayoutUI::SetAttribute(name, value);
}

} // namespace UiLib
