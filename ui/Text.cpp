#include "ui/Text.h"

#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextDocument>

#include "ui/PaintManager.h"
#include "ui/private/UiPrivate.h"

namespace UiLib {

struct CTextUI::Doc {
    QTextDocument document;
    std::vector<CDuiString> links;
    bool dirty = true;
    int width = -1;
};

CTextUI::CTextUI() : m_doc(std::make_unique<Doc>())
{
    m_uTextStyle = DT_WORDBREAK;
}

CTextUI::~CTextUI() = default;

LPCTSTR CTextUI::GetClass() const
{
    return u"TextUI";
}

void* CTextUI::GetInterface(std::u16string_view name)
{
    if (name == u"Text")
        return this;
    return CLabelUI::GetInterface(name);
}

UINT CTextUI::GetControlFlags() const
{
    return m_bShowHtml && GetLinkCount() > 0 ? UIFLAG_SETCURSOR : 0;
}

void CTextUI::SetText(const CDuiString& text)
{
    CLabelUI::SetText(text);
    m_doc->dirty = true;
}

void CTextUI::Rebuild() const
{
    int width = m_rcItem.Width() - m_rcTextPadding.left - m_rcTextPadding.right;
    if (!m_doc->dirty && m_doc->width == width)
        return;
    QTextDocument& doc = m_doc->document;
    doc.setDocumentMargin(0);
    doc.setDefaultFont(FontFor(m_pManager, m_iFont));
    QColor text = ToQColor(EffectiveTextColor(m_dwTextColor));
    QColor link = ToQColor(m_pManager ? m_pManager->GetDefaultLinkFontColor() : 0xFF2479E4);
    doc.setDefaultStyleSheet(
        QStringLiteral("body{color:%1;} a{color:%2;text-decoration:none;}").arg(text.name(), link.name()));
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setAlignment((m_uTextStyle & DT_CENTER)  ? Qt::AlignHCenter
                        : (m_uTextStyle & DT_RIGHT) ? Qt::AlignRight
                                                    : Qt::AlignLeft);
    doc.setDefaultTextOption(option);
    QString body = ToQString(m_sText.Str());
    if (!m_bShowHtml)
        body = body.toHtmlEscaped().replace(QLatin1Char('\n'), QStringLiteral("<br>"));
    doc.setHtml(QStringLiteral("<body>") + body + QStringLiteral("</body>"));
    doc.setTextWidth(std::max(1, width));
    m_doc->links.clear();
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            QTextCharFormat format = it.fragment().charFormat();
            if (format.isAnchor()) {
                CDuiString href = FromQString(format.anchorHref());
                if (m_doc->links.empty() || !(m_doc->links.back() == href))
                    m_doc->links.push_back(href);
            }
        }
    }
    m_doc->dirty = false;
    m_doc->width = width;
}

int CTextUI::GetLinkCount() const
{
    Rebuild();
    return static_cast<int>(m_doc->links.size());
}

CDuiString CTextUI::GetLinkContent(int index) const
{
    Rebuild();
    if (index < 0 || index >= static_cast<int>(m_doc->links.size()))
        return {};
    return m_doc->links[static_cast<size_t>(index)];
}

int CTextUI::HitTestLink(POINT pt) const
{
    if (!m_bShowHtml)
        return -1;
    Rebuild();
    QPointF local(pt.x - m_rcItem.left - m_rcTextPadding.left, pt.y - m_rcItem.top - m_rcTextPadding.top);
    QString href = m_doc->document.documentLayout()->anchorAt(local);
    if (href.isEmpty())
        return -1;
    CDuiString target = FromQString(href);
    for (size_t i = 0; i < m_doc->links.size(); ++i) {
        if (m_doc->links[i] == target)
            return static_cast<int>(i);
    }
    return -1;
}

void CTextUI::DoEvent(TEventUI& event)
{
    switch (event.Type) {
    case UIEVENT_MOUSEMOVE: {
        int hot = HitTestLink(event.ptMouse);
        if (hot != m_iHotLink) {
            m_iHotLink = hot;
            m_cursor = hot >= 0 ? UiCursor::Hand : UiCursor::Arrow;
            Invalidate();
        }
        if (hot < 0)
            CLabelUI::DoEvent(event);
        return;
    }
    case UIEVENT_BUTTONDOWN:
        m_iPressedLink = HitTestLink(event.ptMouse);
        if (m_iPressedLink < 0)
            CLabelUI::DoEvent(event);
        return;
    case UIEVENT_BUTTONUP: {
        int pressed = m_iPressedLink;
        m_iPressedLink = -1;
        if (pressed >= 0 && HitTestLink(event.ptMouse) == pressed) {
            SendNotify(u"link", static_cast<WPARAM>(pressed));
            return;
        }
        if (pressed < 0)
            CLabelUI::DoEvent(event);
        return;
    }
    case UIEVENT_MOUSELEAVE:
        m_iHotLink = -1;
        CLabelUI::DoEvent(event);
        return;
    default:
        CLabelUI::DoEvent(event);
    }
}

void CTextUI::PaintText(HDC hDC)
{
    if (m_sText.IsEmpty() || hDC == nullptr || hDC->painter == nullptr)
        return;
    Rebuild();
    QPainter* p = hDC->painter;
    RECT rc{m_rcItem.left + m_rcTextPadding.left, m_rcItem.top + m_rcTextPadding.top,
            m_rcItem.right - m_rcTextPadding.right, m_rcItem.bottom - m_rcTextPadding.bottom};
    double height = m_doc->document.size().height();
    double y = rc.top;
    if (m_uTextStyle & DT_VCENTER)
        y = rc.top + (rc.Height() - height) / 2;
    else if (m_uTextStyle & DT_BOTTOM)
        y = rc.bottom - height;
    p->save();
    p->setClipRect(ToQRect(rc), Qt::IntersectClip);
    p->translate(rc.left, y);
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette.setColor(QPalette::Text, ToQColor(EffectiveTextColor(m_dwTextColor)));
    m_doc->document.documentLayout()->draw(p, context);
    p->restore();
}

void CTextUI::SetAttribute(std::u16string_view name, std::u16string_view value)
{
    if (name == u"showhtml") {
        m_bShowHtml = ParseBool(value);
        m_doc->dirty = true;
    } else {
        CLabelUI::SetAttribute(name, value);
        m_doc->dirty = true;
    }
}

} // namespace UiLib
