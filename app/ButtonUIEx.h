#pragma once

#include "ui/Button.h"

// A button with a number badge (the download and gamepad buttons of the title bar). With a
// number above 0 it draws "NumBkImage" and the number, centred in the rectangle from 33 pixels
// right of its left edge and 1 below its top to its right edge and 21 above its bottom.
class CButtonUIEx : public UiLib::CButtonUI {
public:
    UiLib::LPCTSTR GetClass() const override;
    void* GetInterface(std::u16string_view name) override;
    void SetAttribute(std::u16string_view name, std::u16string_view value) override;
    void PaintStatusImage(UiLib::HDC hDC) override;

    int GetNumber() const { return m_number; }
    // Repaints only when the number changes.
    void SetNumber(int number);

private:
    UiLib::CDuiString m_sNumBkImage;
    int m_number = 0;
};
