#include "ui/Button.h"

#include "ui/PaintManager.h"
#include "ui/RenderEngine.h"

namespace UiLib {

CButtonUI::CButtonUI()
{
    m_uTextStyle = DT_SINGLELINE | DT_VCENTER | DT_CENTER;
}

LPCTSTR CButtonUI::GetClass() const
{
    return u"ButtonUI";
}

void* CButtonUI::GetInterface(std::u16string_view name)
{
    if (name == u"Button")
        return this;
    return CLabelUI::GetInterface(name);
}

UINT CButtonUI::GetControlFlags() const
{
    return (IsEnabled() ? UIFLAG_SETCURSOR : 0) | UIFLAG_TABSTOP;
}

bool CButtonUI::Activate()
{
    if (!CControlUI::Activate())
        return false;
    SendNotify(u"click");
    return true;
}

void CButtonUI::SetNormalImage(const CDuiString& image)
{
    m_sNormalImage = image;
    Invalidate();
}

void CButtonUI::SetHotImage(const CDuiString& image)
{
    m_sHotImage = image;
    Invalidate();
}

void CButtonUI::SetPushedImage(const CDuiString& image)
{
    m_sPushedImage = image;
    Invalidate();
}

void CButtonUI::SetDisabledImage(const CDuiString& image)
{
    m_sDisabledImage = image;
    Invalidate();
}

void CButtonUI::DoEvent(TEventUI& event)
{
    switch (event.Type) {
    case UIEVENT_SETFOCUS:
        m_uButtonState |= UISTATE_FOCUSED;
        CControlUI::DoEvent(event);
        return;
    case UIEVENT_KILLFOCUS:
        m_uButtonState &= ~UISTATE_FOCUSED;
        CControlUI::DoEvent(event);
        return;
    case UIEVENT_KEYDOWN:
        if (event.chKey == VK_SPACE || event.chKey == VK_RETURN)
            Activate();
        return;
    case UIEVENT_BUTTONDOWN:
    case UIEVENT_DBLCLICK:
        if (m_rcItem.Contains(event.ptMouse) && IsEnabled()) {
            m_uButtonState |= UISTATE_PUSHED;
            Invalidate();
        }
        return;
    case UIEVENT_MOUSEMOVE:
        if (event.wKeyState & MK_LBUTTON) {
            UINT before = m_uButtonState;
            if (m_rcItem.Contains(event.ptMouse))
                m_uButtonState |= UISTATE_PUSHED;
            else
                m_uButtonState &= ~UISTATE_PUSHED;
            if (before != m_uButtonState)
                Invalidate();
        }
        return;
    case UIEVENT_BUTTONUP: {
        bool wasPushed = (m_uButtonState & UISTATE_PUSHED) != 0;
        m_uButtonState &= ~UISTATE_PUSHED;
        Invalidate();
        if (wasPushed && m_rcItem.Contains(event.ptMouse))
            Activate(); // may delete this control: nothing after it
        return;
    }
    case UIEVENT_MOUSEENTER:
        if (IsEnabled()) {
            m_uButtonState |= UISTATE_HOT;
            Invalidate();
        }
        return;
    case UIEVENT_MOUSELEAVE:
        if (m_uButtonState & UISTATE_HOT) {
            m_uButtonState &= ~UISTATE_HOT;
            Invalidate();
        }
        return;
    default:
        CControlUI::DoEvent(event);
    }
}

void CButtonUI::PaintBkColor(HDC hDC)
{
    DWORD color = m_dwBackColor;
    if (IsEnabled()) {
        if ((m_uButtonState & UISTATE_PUSHED) && m_dwPushedBkColor != 0)
            color = m_dwPushedBkColor;
        else if ((m_uButtonState & (UISTATE_HOT | UISTATE_PUSHED)) && m_dwHotBkColor != 0)
            color = m_dwHotBkColor;
    }
    if ((color >> 24) == 0)
        return;
    if (m_cxyBorderRound.cx > 0 || m_cxyBorderRound.cy > 0)
        CRenderEngine::FillRoundRect(hDC, m_rcItem, m_cxyBorderRound.cx, m_cxyBorderRound.cy, color);
    else
        CRenderEngine::DrawColor(hDC, m_rcItem, color);
}

void CButtonUI::PaintStatusImage(HDC hDC)
{
    // The first image that exists for the current state wins; the normal image is the fallback.
    if (!IsEnabled()) {
        if (!m_sDisabledImage.IsEmpty() && DrawImage(hDC, m_sDisabledImage))
            return;
    } else if (m_uButtonState & UISTATE_PUSHED) {
        if (!m_sPushedImage.IsEmpty() && DrawImage(hDC, m_sPushedImage))
            return;
        if (!m_sHotImage.IsEmpty() && DrawImage(hDC, m_sHotImage))
            return;
    } else if (m_uButtonState & UISTATE_HOT) {
        if (!m_sHotImage.IsEmpty() && DrawImage(hDC, m_sHotImage))
            return;
    } else if (m_uButtonState & UISTATE_FOCUSED) {
        if (!m_sFocusedImage.IsEmpty() && DrawImage(hDC, m_sFocusedImage))
            return;
    }
    if (!m_sNormalImage.IsEmpty())
        DrawImage(hDC, m_sNormalImage);
    if ((m_uButtonState & UISTATE_HOT) && !m_sHotForeImage.IsEmpty())
        DrawImage(hDC, m_sHotForeImage);
    else if (!m_sForeImage.IsEmpty())
        DrawImage(hDC, m_sForeImage);
}

void CButtonUI::PaintText(HDC hDC)
{
    if (m_sText.IsEmpty())
        return;
    DWORD color = m_dwTextColor;
    if (IsEnabled()) {
        if ((m_uButtonState & UISTATE_PUSHED) && m_dwPushedTextColor != 0)
            color = m_dwPushedTextColor;
        else if ((m_uButtonState & UISTATE_HOT) && m_dwHotTextColor != 0)
            color = m_dwHotTextColor;
        else if ((m_uButtonState & UISTATE_FOCUSED) && m_dwFocusedTextColor != 0)
            color = m_dwFocusedTextColor;
    }
    RECT rc{m_rcItem.left + m_rcTextPadding.left, m_rcItem.top + m_rcTextPadding.top,
            m_rcItem.right - m_rcTextPadding.right, m_rcItem.bottom - m_rcTextPadding.bottom};
    CRenderEngine::DrawText(hDC, m_pManager, rc, m_sText.Str(), EffectiveTextColor(color), m_iFont,
                            m_uTextStyle);
}

void CButtonUI::SetAttribute(std::u16string_view name, std::u16string_view value)
{
    DWORD color;
    if (name == u"normalimage")
        SetNormalImage(CDuiString(value));
    else if (name == u"hotimage")
        SetHotImage(CDuiString(value));
    else if (name == u"pushedimage")
        SetPushedImage(CDuiString(value));
    else if (name == u"focusedimage")
        m_sFocusedImage = CDuiString(value);
    else if (name == u"disabledimage")
        SetDisabledImage(CDuiString(value));
    else if (name == u"foreimage")
        m_sForeImage = CDuiString(value);
    else if (name == u"hotforeimage")
        m_sHotForeImage = CDuiString(value);
    else if (name == u"hotbkcolor" && ParseColor(value, color))
        m_dwHotBkColor = color;
    else if (name == u"pushedbkcolor" && ParseColor(value, color))
        m_dwPushedBkColor = color;
    else if (name == u"hottextcolor" && ParseColor(value, color))
        m_dwHotTextColor = color;
    else if (name == u"pushedtextcolor" && ParseColor(value, color))
        m_dwPushedTextColor = color;
    else if (name == u"focusedtextcolor" && ParseColor(value, color))
        m_dwFocusedTextColor = color;
    else
        CLabelUI::SetAttribute(name, value);
}

} // namespace UiLib
