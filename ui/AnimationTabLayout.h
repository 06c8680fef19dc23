#pragma once

#include "ui/TabLayout.h"

namespace UiLib {

// A tab layout whose new page slides in (from the right, or from below with
// "animation_direction" = "vertical") over about 200 ms. The selection itself changes at once:
// GetCurSel and visibility are final when SelectItem returns; only the drawing moves.
class CAnimationTabLayoutUI : public CTabLayoutUI {
public:
    LPCTSTR GetClass() const override;
    void* GetInterface(std::u16string_view name) override;
    bool SelectItem(int index) override;
    void DoEvent(TEventUI& event) override;
    void SetPos(RECT rc, bool needInvalidate = true) override;
    void SetAttribute(std::u16string_view name, std::u16string_view value) override;
    bool IsAnimating() const { return m_nStep > 0; }

private:
    static constexpr UINT kTimerId = 0x7A11;
    static constexpr int kSteps = 10;
    bool m_bVertical = false;
    int m_nStep = 0;
};

} // namespace UiLib
