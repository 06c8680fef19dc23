#pragma once

#include "ui/LinearLayout.h"

namespace UiLib {

// A linear layout along the horizontal axis: children left to right; "valign"="center" centres
// children of fixed height.
class CHorizontalLayoutUI : public CLinearLayoutUI {
public:
    CHorizontalLayoutUI() : CLinearLayoutUI(Axis::Horizontal) {}
    LPCTSTR GetClass() const override;
    void* GetInterface(std::u16string_view name) override;
};

} // namespace UiLib
