#pragma once

#include "ui/Container.h"

namespace UiLib {

// Read-only multi-line text that wraps (CJK text between characters) and scrolls vertically by
// wheel or scroll bar. Attributes: textcolor, font, textpadding, align.
class CRichEditUI : public CContainerUI {
public:
    CRichEditUI();
    LPCTSTR GetClass() const override;
    void* GetInterface(std::u16string_view name) override;

    void SetText(const CDuiString& text) override;
    void AppendText(const CDuiString& text);
    // Height of the wrapped text at the current width.
    int GetTextHeight() const { return m_nTextHeight; }

    void SetPos(RECT rc, bool needInvalidate = true) override;
    void SetScrollPos(SIZE pos) override;
    void PaintText(HDC hDC) override;
    void SetAttribute(std::u16string_view name, std::u16string_view value) override;

private:
    DWORD m_dwTextColor = 0;
    int m_iFont = -1;
    UINT m_uAlign = DT_LEFT;
    RECT m_rcTextPadding{4, 4, 4, 4};
    int m_nTextHeight = 0;
};

} // namespace UiLib
