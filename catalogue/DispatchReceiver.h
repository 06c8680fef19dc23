#pragma once

#include "ui/Control.h"

// A container that composes forwarding buttons and options (tiles, filters, the page selector)
// and hears which of them the user clicked, so the window's handler needs no knowledge of them.
class IDispatchReceiver {
public:
    // `child` was clicked. The receiver may send a notification whose handler changes or deletes
    // the tree, so the caller touches neither `child` nor itself afterwards.
    virtual void ReceiveDispatch(UiLib::CControlUI* child) = 0;

protected:
    ~IDispatchReceiver() = default;
};

// The nearest ancestor of `control` that receives forwarded clicks, or null.
IDispatchReceiver* FindDispatchReceiver(UiLib::CControlUI* control);
// Hands a mouse event that a forwarding control does not use to the control composing it (the
// nearest receiving ancestor, across plain layouts in between), so a tile sees the pointer leave.
void PassEventToReceiver(UiLib::CControlUI* control, UiLib::TEventUI& event);

// Interface name under which the receiving controls answer GetInterface.
inline constexpr std::u16string_view kDispatchReceiverInterface = u"DispatchReceiver";
