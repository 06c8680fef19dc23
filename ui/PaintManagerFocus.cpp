// CPaintManagerUI, keyboard navigation: the keys that move the focus or act on it, and the ring
// that shows where it is.

#include "ui/PaintManager.h"

#include "ui/Control.h"
#include "ui/private/UiPrivate.h"

namespace UiLib {

bool CPaintManagerUI::MoveFocus(FocusMove move)
{
    UpdateLayout();
    CFocusNavigator navigator(m_pRoot);
    CControlUI* target = navigator.Target(m_pFocus, move);
    if (target == nullptr || target == m_pFocus)
        return false;
    CFocusNavigator::ScrollIntoView(target);
    SetFocus(target);
    return m_pFocus == target;
}

void CPaintManagerUI::SetFocusRingColor(DWORD color)
{
    m_impl->focusRing.SetColor(color);
    Invalidate(m_impl->focusRing.RectFor(m_pFocus));
}

DWORD CPaintManagerUI::GetFocusRingColor() const
{
    return m_impl->focusRing.GetColor();
}

bool CPaintManagerUI::IsFocusRingShown() const
{
    return m_impl->focusRing.IsShown();
}

RECT CPaintManagerUI::GetFocusRingRect() const
{
    return m_impl->focusRing.RectFor(m_pFocus);
}

void CPaintManagerUI::ShowFocusRing(bool shown)
{
    CFocusRing& ring = m_impl->focusRing;
    if (ring.IsShown() == shown)
        return;
    Invalidate(ring.RectFor(m_pFocus));
    ring.SetShown(shown);
    Invalidate(ring.RectFor(m_pFocus));
}

bool CPaintManagerUI::DispatchNavigationKey(UINT vk, LPARAM lParam)
{
    ShowFocusRing(true);
    const bool onNavigable = m_pFocus == nullptr || m_pFocus->IsNavigable();
    if (vk == VK_TAB) {
        MoveFocus((lParam & KF_UI_SHIFT) != 0 ? FocusMove::Previous : FocusMove::Next);
        return true;
    }
    if (!onNavigable)
        return false; // a list or an editor uses the arrows and Enter itself
    switch (vk) {
    case VK_LEFT:
        MoveFocus(FocusMove::Left);
        return true;
    case VK_RIGHT:
        MoveFocus(FocusMove::Right);
        return true;
    case VK_UP:
        MoveFocus(FocusMove::Up);
        return true;
    case VK_DOWN:
        MoveFocus(FocusMove::Down);
        return true;
    case VK_RETURN:
    case VK_SPACE: {
        CControlUI* focus = m_pFocus;
        if (focus == nullptr)
            return false;
        // A button (or option) makes its own click; a control that opted in makes it here. Either
        // may delete the control: nothing touches it afterwards.
        if (focus->GetInterface(u"Button") != nullptr)
            focus->Activate();
        else if (focus->Activate())
            SendNotify(focus, u"click");
        return true;
    }
    default:
        return false;
    }
}

} // namespace UiLib
