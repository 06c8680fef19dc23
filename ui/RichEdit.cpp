#include "ui/RichEdit.h"

#include "ui/PaintManager.h"
#include "ui/RenderEngine.h"
#include "ui/ScrollBar.h"

namespace UiLib {

CRichEditUI::CRichEditUI()
{
    EnableScrollBar(true, false);
}

LPCTSTR CRichEditUI::GetClass() const
{
    return u"RichEditUI";
}

void* CRichEditUI::GetInterface(std::u16string_view name)
{
    if (name == u"RichEdit")
        return this;
    return CContainerUI::GetInterface(name);
}

void CRichEditUI::SetText(const CDuiString& text)
{
    m_sText = CapText(text, kMaxControlText);
    NeedUpdate();
}

void CRichEditUI::AppendText(const CDuiString& text)
{
    // Once the text is full (it then ends in the cap's ellipsis) nothing more is added.
    if (static_cast<size_t>(m_sText.GetLength()) >= kMaxControlText)
        return;
    m_sText = CapText(m_sText + text.Str(), kMaxControlText);
    NeedUpdate();
}

void CRichEditUI::SetPos(RECT rc, bool needInvalidate)
{
    CControlUI::SetPos(rc, needInvalidate);
    RECT content = ContentRect();
    int width = content.Width() - m_rcTextPadding.left - m_rcTextPadding.right;
    m_nTextHeight =
        CRenderEngine::GetWrappedTextHeight(m_pManager, m_sText.Str(), m_iFont, std::max(1, width));
    ProcessScrollBar(rc, 0,
                     m_nTextHeight + m_rcTextPadding.top + m_rcTextPadding.bottom + m_rcInset.top +
                         m_rcInset.bottom);
}

void CRichEditUI::SetScrollPos(SIZE pos)
{
    CContainerUI::SetScrollPos(pos);
    Invalidate();
}

void CRichEditUI::PaintText(HDC hDC)
{
    RECT content = ContentRect();
    int scroll = GetScrollPos().cy;
    RECT rc{content.left + m_rcTextPadding.left, content.top + m_rcTextPadding.top - scroll,
            content.right - m_rcTextPadding.right,
            content.top + m_rcTextPadding.top - scroll + m_nTextHeight + 2};
    DWORD color =
        m_dwTextColor != 0 ? m_dwTextColor : (m_pManager ? m_pManager->GetDefaultFontColor() : 0xFF333333);
    CRenderEngine::DrawText(hDC, m_pManager, rc, m_sText.Str(), color, m_iFont, DT_WORDBREAK | m_uAlign);
}

void CRichEditUI::SetAttribute(std::u16string_view name, std::u16string_view value)
{
    DWORD color;
    RECT rc;
    if (name == u"textcolor" && ParseColor(value, color))
        m_dwTextColor = color;
    else if (name == u"font")
        m_iFont = ParseBoundedInt(value, -1);
    else if (name == u"textpadding" && ParseRect(value, rc))
        m_rcTextPadding = rc;
    else if (name == u"align")
        m_uAlign = ParseAlign(value, DT_LEFT);
    else if (name == u"readonly" || name == u"multiline" || name == u"wordbreak")
        return; // always read-only, multi-line and wrapping
    else if (name == u"text")
        SetText(CDuiString(value));
    else
        CContainerUI::SetAttribute(name, value);
}

} // namespace UiLib
