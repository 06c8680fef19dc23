#pragma once

// CScrollBarUI: the scroll bar of a scrolling container (a slim, rounded thumb over a light track).
// Dragging the thumb, clicking the track (a page) and the wheel move its owner's content.

#include "ui/Control.h"

namespace UiLib {

class CContainerUI;

class CScrollBarUI : public CControlUI {
public:
    CScrollBarUI();

    LPCTSTR GetClass() const override;
    void* GetInterface(std::u16string_view name) override;

    CContainerUI* GetOwner() const { return m_pOwner; }
    void SetOwner(CContainerUI* owner) { m_pOwner = owner; }
    bool IsHorizontal() const { return m_bHorizontal; }
    void SetHorizontal(bool horizontal);
    int GetScrollRange() const { return m_nRange; }
    void SetScrollRange(int range);
    int GetScrollPos() const { return m_nScrollPos; }
    void SetScrollPos(int pos);
    int GetLineSize() const { return m_nLineSize; }
    void SetLineSize(int size) { m_nLineSize = std::max(1, size); }
    // The thickness the owner reserves for the bar.
    int GetThickness() const { return m_nThickness; }
    RECT GetThumbRect() const;

    void SetPos(RECT rc, bool needInvalidate = true) override;
    void DoEvent(TEventUI& event) override;
    void DoPaint(HDC hDC, const RECT& rcPaint) override;
    void SetAttribute(std::u16string_view name, std::u16string_view value) override;

private:
    CContainerUI* m_pOwner = nullptr;
    bool m_bHorizontal = false;
    int m_nRange = 0;
    int m_nScrollPos = 0;
    int m_nLineSize = 40;
    int m_nThickness = 10;
    bool m_bHot = false;
    bool m_bDragging = false;
    POINT m_ptDragStart;
    int m_nDragStartPos = 0;
    DWORD m_dwTrackColor = 0x00000000;
    DWORD m_dwThumbColor = 0xFFC4CAD3;
    DWORD m_dwThumbHotColor = 0xFF9AA3AF;
};

} // namespace UiLib
