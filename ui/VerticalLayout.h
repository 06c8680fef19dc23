#pragma once

#include "ui/Container.h"

namespace UiLib {

// Stacks children top to bottom. A child with a fixed height keeps it; the others share what is
// left equally (within their min/max). Widths stretch unless fixed. "padding" on a child is its
// margin; "childpadding" the gap between children; "inset" the container's inner margin.
class CVerticalLayoutUI : public CContainerUI {
public:
    LPCTSTR GetClass() const override;
    void* GetInterface(std::u16string_view name) override;
    void SetPos(RECT rc, bool needInvalidate = true) override;
    SIZE EstimateSize(SIZE available) override;
};

} // namespace UiLib
