#pragma once

#include "ui/Option.h"

// An option that reports its click to the nearest ancestor receiving forwarded clicks. A click
// on an option that is already selected is not forwarded. It selects itself after the click only
// with the layout attribute checkedself="true"; otherwise the window decides its selection.
class CDispatchEventOptionUI : public UiLib::COptionUI {
public:
    CDispatchEventOptionUI();
    UiLib::LPCTSTR GetClass() const override;
    // A click, by the mouse or by a key: hands the control to the receiver above it.
    bool Activate() override;
    void DoEvent(UiLib::TEventUI& event) override;
    void SetAttribute(std::u16string_view name, std::u16string_view value) override;
    bool IsCheckedSelf() const { return m_bCheckedSelf; }

private:
    bool m_bCheckedSelf = false;
};
