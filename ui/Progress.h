#pragma once

#include "ui/Label.h"

namespace UiLib {

// A horizontal progress bar: the part up to the value is filled with "forecolor" (accent blue by
// default) or drawn with "foreimage" (SetForeImage); the text, if any, is centred over it.
// Attributes: min, max, value, forecolor, foreimage.
class CProgressUI : public CLabelUI {
public:
    CProgressUI();
    LPCTSTR GetClass() const override;
    void* GetInterface(std::u16string_view name) override;

    int GetMinValue() const { return m_nMin; }
    void SetMinValue(int value);
    int GetMaxValue() const { return m_nMax; }
    void SetMaxValue(int value);
    int GetValue() const { return m_nValue; }
    // Clamped to [min, max]; repaints only when the value changes.
    void SetValue(int value);

    void PaintStatusImage(HDC hDC) override;
    void SetAttribute(std::u16string_view name, std::u16string_view value) override;

private:
    int m_nMin = 0;
    int m_nMax = 100;
    int m_nValue = 0;
    DWORD m_dwForeColor = 0xFF2479E4;
};

} // namespace UiLib
