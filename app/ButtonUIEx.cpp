#include "app/ButtonUIEx.h"

#include "ui/RenderEngine.h"

using namespace UiLib;

LPCTSTR CButtonUIEx::GetClass() const
{
    return u"ButtonUIEx";
}

void* CButtonUIEx::GetInterface(std::u16string_view name)
{
    if (name == u"CButtonUIEx")
        return this;
    return CButtonUI::GetInterface(name);
}

void CButtonUIEx::SetAttribute(std::u16string_view name, std::u16string_view value)
{
    if (name == u"NumBkImage")
        m_sNumBkImage = CDuiString(value);
    else
        CButtonUI::SetAttribute(name, value);
}

void CButtonUIEx::SetNumber(int number)
{
    if (number == m_number)
        return;
    m_number = number;
    Invalidate();
}

void CButtonUIEx::PaintStatusImage(HDC hDC)
{
    CButtonUI::PaintStatusImage(hDC);
    if (m_number <= 0)
        return;
    if (!m_sNumBkImage.IsEmpty())
        DrawImage(hDC, m_sNumBkImage);
    RECT rc{m_rcItem.left + 33, m_rcItem.top + 1, m_rcItem.right, m_rcItem.bottom - 21};
    CRenderEngine::DrawText(hDC, m_pManager, rc, CDuiString::FromInt(m_number).Str(), m_dwTextColor, m_iFont,
                            DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}
