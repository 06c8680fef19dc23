#pragma once

#include "ui/Container.h"

namespace UiLib {

// Places children left to right: fixed widths are kept, the others share the rest equally;
// heights stretch unless fixed (then the child is placed at the top of its slot, or centred
// with the container's "valign" attribute set to "center").
class CHorizontalLayoutUI : public CContainerUI {
public:
    LPCTSTR GetClass() const override;
    void* GetInterface(std::u16string_view name) override;
    void SetPos(RECT rc, bool needInvalidate = true) override;
    SIZE EstimateSize(SIZE available) override;
    void SetAttribute(std::u16string_view name, std::u16string_view value) override;

private:
    bool m_bVCenter = false;
};

} // namespace UiLib
