#pragma once

#include "ui/Container.h"

namespace UiLib {

// Places children one after another along an axis: left to right (horizontal) or top to bottom
// (vertical). Along the axis a child with a fixed size keeps it and the others share what is left
// equally, within their min/max sizes. Across the axis a child stretches to the container unless
// its size is fixed; a fixed one sits at the start, or in the middle when the container's
// cross-axis alignment says "center" ("valign" of a horizontal layout, "halign" of a vertical one).
// "padding" on a child is its margin, "childpadding" the gap between children, "inset" the
// container's inner margin. Content longer than the container scrolls along the axis when the
// matching scroll bar is enabled.
class CLinearLayoutUI : public CContainerUI {
public:
    enum class Axis { Horizontal, Vertical };

    explicit CLinearLayoutUI(Axis axis);
    LPCTSTR GetClass() const override;
    void* GetInterface(std::u16string_view name) override;
    Axis GetAxis() const { return m_axis; }
    void SetPos(RECT rc, bool needInvalidate = true) override;
    SIZE EstimateSize(SIZE available) override;
    void SetAttribute(std::u16string_view name, std::u16string_view value) override;

private:
    Axis m_axis;
    bool m_bCenterCross = false;
};

} // namespace UiLib
