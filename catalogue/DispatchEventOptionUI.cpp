#include "catalogue/DispatchEventOptionUI.h"

#include "catalogue/DispatchReceiver.h"

using namespace UiLib;

CDispatchEventOptionUI::CDispatchEventOptionUI()
{
    SetCursor(UiCursor::Hand);
}

LPCTSTR CDispatchEventOptionUI::GetClass() const
{
    return u"DispatchEventOptionUI";
}

void CDispatchEventOptionUI::SetAttribute(std::u16string_view name, std::u16string_view value)
{
    if (name == u"checkedself")
        m_bCheckedSelf = ParseBool(value);
    else
        COptionUI::SetAttribute(name, value);
}

bool CDispatchEventOptionUI::Activate()
{
    if (!CControlUI::Activate() || m_bSelected)
        return false;
    if (m_bCheckedSelf)
        Selected(true);
    if (IDispatchReceiver* receiver = FindDispatchReceiver(this))
        receiver->ReceiveDispatch(this); // may delete this control: nothing after it
    return true;
}

void CDispatchEventOptionUI::DoEvent(TEventUI& event)
{
    if (event.Type == UIEVENT_BUTTONUP) {
        bool wasPushed = (m_uButtonState & UISTATE_PUSHED) != 0;
        m_uButtonState &= ~UISTATE_PUSHED;
        Invalidate();
        if (wasPushed && m_rcItem.Contains(event.ptMouse))
            Activate(); // may delete this control: nothing after it
        return;
    }
    COptionUI::DoEvent(event);
    if (event.Type == UIEVENT_MOUSEENTER || event.Type == UIEVENT_MOUSELEAVE ||
        event.Type == UIEVENT_MOUSEMOVE)
        PassEventToReceiver(this, event);
}
