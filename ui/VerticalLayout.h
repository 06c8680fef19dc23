#pragma once

#include "ui/LinearLayout.h"

namespace UiLib {

// A linear layout along the vertical axis: children top to bottom; "halign"="center" centres
// children of fixed width.
class CVerticalLayoutUI : public CLinearLayoutUI {
public:
    CVerticalLayoutUI() : CLinearLayoutUI(Axis::Vertical) {}
    LPCTSTR GetClass() const override;
    void* GetInterface(std::u16string_view name) override;
};

} // namespace UiLib
