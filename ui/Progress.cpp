#include "ui/Progress.h"

#include <algorithm>

#include "ui/RenderEngine.h"

namespace UiLib {

CProgressUI::CProgressUI()
{
    m_uTextStyle = DT_SINGLELINE | DT_VCENTER | DT_CENTER;
}

LPCTSTR CProgressUI::GetClass() const
{
    return u"ProgressUI";
}

void* CProgressUI::GetInterface(std::u16string_view name)
{
    if (name == u"Progress")
        return this;
    return CLabelUI::GetInterface(name);
}

void CProgressUI::SetMinValue(int value)
{
    m_nMin = value;
    if (m_nMax < m_nMin)
        m_nMax = m_nMin;
    SetValue(m_nValue);
    Invalidate();
}

void CProgressUI::SetMaxValue(int value)
{
    m_nMax = std::max(value, m_nMin);
    SetValue(m_nValue);
    Invalidate();
}

void CProgressUI::SetValue(int value)
{
    value = std::clamp(value, m_nMin, m_nMax);
    if (value == m_nValue)
        return;
    m_nValue = value;
    Invalidate();
}

void CProgressUI::PaintStatusImage(HDC hDC)
{
    if (m_nMax <= m_nMin)
        return;
    long long span = static_cast<long long>(m_nMax) - m_nMin;
    int filled = static_cast<int>(m_rcItem.Width() * (static_cast<long long>(m_nValue) - m_nMin) / span);
    if (filled <= 0)
        return;
    RECT rc{m_rcItem.left, m_rcItem.top, m_rcItem.left + filled, m_rcItem.bottom};
    if (!m_sForeImage.IsEmpty()) {
        CRenderEngine::DrawImageString(hDC, m_pManager, rc, rc, m_sForeImage.Str());
        return;
    }
    if (m_cxyBorderRound.cx > 0 || m_cxyBorderRound.cy > 0)
        CRenderEngine::FillRoundRect(hDC, rc, std::min(m_cxyBorderRound.cx, filled), m_cxyBorderRound.cy,
                                     m_dwForeColor);
    else
        CRenderEngine::DrawColor(hDC, rc, m_dwForeColor);
}

void CProgressUI::SetAttribute(std::u16string_view name, std::u16string_view value)
{
    DWORD color;
    if (name == u"min")
        SetMinValue(ParseBoundedInt(value));
    else if (name == u"max")
        SetMaxValue(ParseBoundedInt(value, 100));
    else if (name == u"value")
        SetValue(ParseBoundedInt(value));
    else if (name == u"forecolor" && ParseColor(value, color))
        m_dwForeColor = color;
    else if (name == u"foreimage")
        m_sForeImage = CDuiString(value);
    else if (name == u"hor" || name == u"isstretchfore")
        return;
    else
        CLabelUI::SetAttribute(name, value);
}

} // namespace UiLib
