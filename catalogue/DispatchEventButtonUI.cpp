#include "catalogue/DispatchEventButtonUI.h"

#include "catalogue/DispatchReceiver.h"

using namespace UiLib;

IDispatchReceiver* FindDispatchReceiver(CControlUI* control)
{
    for (CControlUI* up = control != nullptr ? control->GetParent() : nullptr; up != nullptr;
         up = up->GetParent()) {
        if (void* receiver = up->GetInterface(kDispatchReceiverInterface))
            return static_cast<IDispatchReceiver*>(receiver);
    }
    return nullptr;
}

void PassEventToReceiver(CControlUI* control, TEventUI& event)
{
    for (CControlUI* up = control->GetParent(); up != nullptr; up = up->GetParent()) {
        if (up->GetInterface(kDispatchReceiverInterface) != nullptr) {
            up->DoEvent(event);
            return;
        }
    }
    if (control->GetParent() != nullptr)
        control->GetParent()->DoEvent(event);
}

namespace {

// Mouse events a forwarding control passes on after its own handling, so that the container
// around it sees the pointer enter, move and leave.
bool IsPassedOn(int type)
{
    return type == UIEVENT_MOUSEENTER || type == UIEVENT_MOUSELEAVE || type == UIEVENT_MOUSEMOVE ||
           type == UIEVENT_RBUTTONDOWN || type == UIEVENT_RBUTTONUP;
}

} // namespace

CDispatchEventButtonUI::CDispatchEventButtonUI()
{
    SetCursor(UiCursor::Hand);
}

LPCTSTR CDispatchEventButtonUI::GetClass() const
{
    return u"DispatchEventButtonUI";
}

bool CDispatchEventButtonUI::Activate()
{
    if (!CControlUI::Activate())
        return false;
    if (IDispatchReceiver* receiver = FindDispatchReceiver(this))
        receiver->ReceiveDispatch(this); // may delete this control: nothing after it
    return true;
}

void CDispatchEventButtonUI::DoEvent(TEventUI& event)
{
    if (event.Type == UIEVENT_BUTTONUP) {
        bool wasPushed = (m_uButtonState & UISTATE_PUSHED) != 0;
        m_uButtonState &= ~UISTATE_PUSHED;
        Invalidate();
        if (wasPushed && m_rcItem.Contains(event.ptMouse))
            Activate(); // may delete this control: nothing after it
        return;
    }
    CButtonUI::DoEvent(event);
    if (IsPassedOn(event.Type))
        PassEventToReceiver(this, event);
}
