#include "ui/Label.h"

#include "ui/PaintManager.h"
#include "ui/RenderEngine.h"

namespace UiLib {

CLabelUI::CLabelUI() = default;

LPCTSTR CLabelUI::GetClass() const
{
    return u"LabelUI";
}

void* CLabelUI::GetInterface(std::u16string_view name)
{
    if (name == u"Label")
        return this;
    return CControlUI::GetInterface(name);
}

void CLabelUI::SetTextStyle(UINT style)
{
    m_uTextStyle = style;
    Invalidate();
}

void CLabelUI::SetTextColor(DWORD color)
{
    m_dwTextColor = color;
    Invalidate();
}

void CLabelUI::SetDisabledTextColor(DWORD color)
{
    m_dwDisabledTextColor = color;
    Invalidate();
}

void CLabelUI::SetFont(int index)
{
    m_iFont = index;
    Invalidate();
}

void CLabelUI::SetTextPadding(RECT rc)
{
    m_rcTextPadding = rc;
    Invalidate();
}

void CLabelUI::SetForeImage(const CDuiString& image)
{
    if (m_sForeImage == image)
        return;
    m_sForeImage = image;
    Invalidate();
}

void CLabelUI::PaintStatusImage(HDC hDC)
{
    if (!m_sForeImage.IsEmpty())
        DrawImage(hDC, m_sForeImage);
}

SIZE CLabelUI::EstimateSize(SIZE available)
{
    if (!m_bAutoCalcWidth || m_cxyFixed.cx > 0)
        return m_cxyFixed;
    SIZE text =
        CRenderEngine::GetTextSize(nullptr, m_pManager, m_sText.Str(), m_iFont, m_uTextStyle | DT_SINGLELINE);
    (void)available;
    return SIZE{text.cx + m_rcTextPadding.left + m_rcTextPadding.right, m_cxyFixed.cy};
}

void CLabelUI::DoEvent(TEventUI& event)
{
    switch (event.Type) {
    case UIEVENT_BUTTONDOWN:
    case UIEVENT_BUTTONUP:
    case UIEVENT_DBLCLICK:
    case UIEVENT_RBUTTONDOWN:
    case UIEVENT_RBUTTONUP:
    case UIEVENT_MOUSEENTER:
    case UIEVENT_MOUSELEAVE:
    case UIEVENT_MOUSEMOVE:
        if (m_pParent != nullptr)
            m_pParent->DoEvent(event);
        return;
    default:
        CControlUI::DoEvent(event);
    }
}

DWORD CLabelUI::EffectiveTextColor(DWORD normal) const
{
    if (!IsEnabled())
        return m_dwDisabledTextColor != 0 ? m_dwDisabledTextColor
                                          : (m_pManager ? m_pManager->GetDefaultDisabledColor() : 0xFFA7A6AA);
    if (normal != 0)
        return normal;
    return m_pManager ? m_pManager->GetDefaultFontColor() : 0xFF333333;
}

void CLabelUI::PaintText(HDC hDC)
{
    if (m_sText.IsEmpty())
        return;
    RECT rc{m_rcItem.left + m_rcTextPadding.left, m_rcItem.top + m_rcTextPadding.top,
            m_rcItem.right - m_rcTextPadding.right, m_rcItem.bottom - m_rcTextPadding.bottom};
    CRenderEngine::DrawText(hDC, m_pManager, rc, m_sText.Str(), EffectiveTextColor(m_dwTextColor), m_iFont,
                            m_uTextStyle);
}

void CLabelUI::SetAttribute(std::u16string_view name, std::u16string_view value)
{
    DWORD color;
    RECT rc;
    if (name == u"align") {
        UINT style = m_uTextStyle & ~(DT_LEFT | DT_CENTER | DT_RIGHT);
        SetTextStyle(ParseAlign(value, style));
    } else if (name == u"valign") {
        UINT style = m_uTextStyle & ~(DT_VCENTER | DT_BOTTOM);
        SetTextStyle(ParseAlign(value == u"center" ? std::u16string_view(u"vcenter") : value, style));
    } else if (name == u"endellipsis") {
        SetTextStyle(ParseBool(value) ? (m_uTextStyle | DT_END_ELLIPSIS) : (m_uTextStyle & ~DT_END_ELLIPSIS));
    } else if (name == u"wordbreak" || name == u"multiline") {
        if (ParseBool(value))
            SetTextStyle((m_uTextStyle & ~DT_SINGLELINE) | DT_WORDBREAK);
        else
            SetTextStyle((m_uTextStyle & ~DT_WORDBREAK) | DT_SINGLELINE);
    } else if (name == u"font") {
        SetFont(ParseBoundedInt(value, -1));
    } else if (name == u"textcolor") {
        if (ParseColor(value, color))
            SetTextColor(color);
    } else if (name == u"disabledtextcolor") {
        if (ParseColor(value, color))
            SetDisabledTextColor(color);
    } else if (name == u"textpadding") {
        if (ParseRect(value, rc))
            SetTextPadding(rc);
    } else if (name == u"foreimage") {
        SetForeImage(CDuiString(value));
    } else if (name == u"autocalcwidth") {
        m_bAutoCalcWidth = ParseBool(value);
    } else {
        CControlUI::SetAttribute(name, value);
    }
}

} // namespace UiLib
