#pragma once

#include "ui/Control.h"

namespace UiLib {

// A text on one line (default: left, vertically centred), or several with "wordbreak".
// Attributes: align ("left", "center", "right"), valign ("top", "vcenter", "bottom"),
// endellipsis, wordbreak, font (index), textcolor, disabledtextcolor, textpadding (l,t,r,b),
// autocalcwidth, foreimage (drawn over the background, under the text). Mouse presses go on to the parent, so
// a label inside a row selects the row.
class CLabelUI : public CControlUI {
public:
    CLabelUI();
    LPCTSTR GetClass() const override;
    void* GetInterface(std::u16string_view name) override;

    void SetTextStyle(UINT style);
    UINT GetTextStyle() const { return m_uTextStyle; }
    void SetTextColor(DWORD color);
    DWORD GetTextColor() const { return m_dwTextColor; }
    void SetDisabledTextColor(DWORD color);
    void SetFont(int index);
    int GetFont() const { return m_iFont; }
    RECT GetTextPadding() const { return m_rcTextPadding; }
    void SetTextPadding(RECT rc);
    // An image drawn over the background and under the text (an image attribute string); the
    // progress bar draws it over its filled part only, a button under its hot fore image.
    const CDuiString& GetForeImage() const { return m_sForeImage; }
    void SetForeImage(const CDuiString& image);

    SIZE EstimateSize(SIZE available) override;
    void DoEvent(TEventUI& event) override;
    void PaintStatusImage(HDC hDC) override;
    void PaintText(HDC hDC) override;
    void SetAttribute(std::u16string_view name, std::u16string_view value) override;

protected:
    // The colour the text is drawn in now (disabled, or the given normal colour).
    DWORD EffectiveTextColor(DWORD normal) const;

    UINT m_uTextStyle = DT_VCENTER | DT_SINGLELINE;
    DWORD m_dwTextColor = 0;
    DWORD m_dwDisabledTextColor = 0;
    int m_iFont = -1;
    RECT m_rcTextPadding;
    bool m_bAutoCalcWidth = false;
    CDuiString m_sForeImage;
};

} // namespace UiLib
