#pragma once

#include "ui/Label.h"

namespace UiLib {

// Button states (bits).
constexpr UINT UISTATE_HOT = 0x01;
constexpr UINT UISTATE_PUSHED = 0x02;
constexpr UINT UISTATE_FOCUSED = 0x04;
constexpr UINT UISTATE_SELECTED = 0x08;

// A push button: sends "click" when the left button is pressed and released over it (or Space or
// Enter while focused). Images per state: normalimage, hotimage, pushedimage, focusedimage,
// disabledimage; colours: hotbkcolor, pushedbkcolor, hottextcolor, pushedtextcolor.
// Text is centred by default.
class CButtonUI : public CLabelUI {
public:
    CButtonUI();
    LPCTSTR GetClass() const override;
    void* GetInterface(std::u16string_view name) override;
    UINT GetControlFlags() const override;

    bool Activate() override;
    UINT GetButtonState() const { return m_uButtonState; }
    void SetNormalImage(const CDuiString& image);
    void SetHotImage(const CDuiString& image);
    void SetPushedImage(const CDuiString& image);
    void SetDisabledImage(const CDuiString& image);
    const CDuiString& GetNormalImage() const { return m_sNormalImage; }

    void DoEvent(TEventUI& event) override;
    void PaintBkColor(HDC hDC) override;
    void PaintStatusImage(HDC hDC) override;
    void PaintText(HDC hDC) override;
    void SetAttribute(std::u16string_view name, std::u16string_view value) override;

protected:
    UINT m_uButtonState = 0;
    CDuiString m_sNormalImage;
    CDuiString m_sHotImage;
    CDuiString m_sPushedImage;
    CDuiString m_sFocusedImage;
    CDuiString m_sDisabledImage;
    CDuiString m_sHotForeImage;
    DWORD m_dwHotBkColor = 0;
    DWORD m_dwPushedBkColor = 0;
    DWORD m_dwHotTextColor = 0;
    DWORD m_dwPushedTextColor = 0;
    DWORD m_dwFocusedTextColor = 0;
};

} // namespace UiLib
