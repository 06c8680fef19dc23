#include "ui/Option.h"

#include "ui/PaintManager.h"
#include "ui/RenderEngine.h"

namespace UiLib {

COptionUI::~COptionUI()
{
    if (m_pManager != nullptr && !m_sGroupName.IsEmpty())
        m_pManager->RemoveOptionGroup(m_sGroupName.Str(), this);
}

LPCTSTR COptionUI::GetClass() const
{
    return u"OptionUI";
}

void* COptionUI::GetInterface(std::u16string_view name)
{
    if (name == u"Option")
        return this;
    return CButtonUI::GetInterface(name);
}

void COptionUI::SetGroup(const CDuiString& group)
{
    if (m_sGroupName == group)
        return;
    if (m_pManager != nullptr && !m_sGroupName.IsEmpty())
        m_pManager->RemoveOptionGroup(m_sGroupName.Str(), this);
    m_sGroupName = group;
    if (m_pManager != nullptr && !m_sGroupName.IsEmpty()) {
        m_pManager->AddOptionGroup(m_sGroupName.Str(), this);
        if (m_bSelected)
            Selected(true, false);
    }
}

void COptionUI::SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init)
{
    if (m_pManager != nullptr && m_pManager != manager && !m_sGroupName.IsEmpty())
        m_pManager->RemoveOptionGroup(m_sGroupName.Str(), this);
    CButtonUI::SetManager(manager, parent, init);
}

void COptionUI::DoInit()
{
    if (m_pManager == nullptr || m_sGroupName.IsEmpty())
        return;
    m_pManager->AddOptionGroup(m_sGroupName.Str(), this);
    if (m_bSelected) {
        m_bSelected = false;
        Selected(true, false);
    }
}

void COptionUI::Selected(bool selected, bool notify)
{
    if (m_bSelected == selected)
        return;
    m_bSelected = selected;
    if (selected)
        m_uButtonState |= UISTATE_SELECTED;
    else
        m_uButtonState &= ~UISTATE_SELECTED;
    if (m_pManager != nullptr && !m_sGroupName.IsEmpty() && selected) {
        if (const std::vector<CControlUI*>* group = m_pManager->GetOptionGroup(m_sGroupName.Str())) {
            std::vector<CControlUI*> members = *group;
            for (CControlUI* member : members) {
                if (member == this)
                    continue;
                if (auto* option = static_cast<COptionUI*>(member->GetInterface(u"Option")))
                    option->Selected(false, false);
            }
        }
    }
    Invalidate();
    if (notify && m_pManager != nullptr && (selected || m_sGroupName.IsEmpty()))
        SendNotify(u"selectchanged");
}

bool COptionUI::Activate()
{
    if (!CButtonUI::Activate())
        return false;
    if (!m_sGroupName.IsEmpty())
        Selected(true);
    else
        Selected(!m_bSelected);
    return true;
}

void COptionUI::PaintBkColor(HDC hDC)
{
    if (m_bSelected && m_dwSelectedBkColor != 0) {
        if (m_cxyBorderRound.cx > 0 || m_cxyBorderRound.cy > 0)
            CRenderEngine::FillRoundRect(hDC, m_rcItem, m_cxyBorderRound.cx, m_cxyBorderRound.cy,
                                         m_dwSelectedBkColor);
        else
            CRenderEngine::DrawColor(hDC, m_rcItem, m_dwSelectedBkColor);
        return;
    }
    CButtonUI::PaintBkColor(hDC);
}

void COptionUI::PaintStatusImage(HDC hDC)
{
    if (m_bSelected) {
        if ((m_uButtonState & UISTATE_HOT) && !m_sSelectedHotImage.IsEmpty() &&
            DrawImage(hDC, m_sSelectedHotImage))
            return;
        if (!m_sSelectedImage.IsEmpty() && DrawImage(hDC, m_sSelectedImage))
            return;
    }
    CButtonUI::PaintStatusImage(hDC);
}

void COptionUI::PaintText(HDC hDC)
{
    if (m_bSelected && m_dwSelectedTextColor != 0 && IsEnabled() && !m_sText.IsEmpty()) {
        RECT rc{m_rcItem.left + m_rcTextPadding.left, m_rcItem.top + m_rcTextPadding.top,
                m_rcItem.right - m_rcTextPadding.right, m_rcItem.bottom - m_rcTextPadding.bottom};
        CRenderEngine::DrawText(hDC, m_pManager, rc, m_sText.Str(), m_dwSelectedTextColor, m_iFont,
                                m_uTextStyle);
        return;
    }
    CButtonUI::PaintText(hDC);
}

void COptionUI::SetAttribute(std::u16string_view name, std::u16string_view value)
{
    DWORD color;
    if (name == u"group")
        SetGroup(CDuiString(value));
    else if (name == u"selected")
        Selected(ParseBool(value), false);
    else if (name == u"selectedimage")
        m_sSelectedImage = CDuiString(value);
    else if (name == u"selectedhotimage")
        m_sSelectedHotImage = CDuiString(value);
    else if (name == u"selectedtextcolor" && ParseColor(value, color))
        m_dwSelectedTextColor = color;
    else if (name == u"selectedbkcolor" && ParseColor(value, color))
        m_dwSelectedBkColor = color;
    else
        CButtonUI::SetAttribute(name, value);
}

} // namespace UiLib
