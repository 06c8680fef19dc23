#pragma once

#include "ui/Button.h"

// A button that reports its click to the nearest ancestor receiving forwarded clicks
// (IDispatchReceiver) instead of notifying the window. Mouse events it does not use go to its
// parent, so a tile around it keeps track of the pointer. Shows the hand cursor.
class CDispatchEventButtonUI : public UiLib::CButtonUI {
public:
    CDispatchEventButtonUI();
    UiLib::LPCTSTR GetClass() const override;
    // A click, by the mouse or by a key: hands the control to the receiver above it.
    bool Activate() override;
    void DoEvent(UiLib::TEventUI& event) override;
};
