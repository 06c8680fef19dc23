#include "ui/Text.h"

#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextDocument>

#include "ui/PaintManager.h"
#include "ui/private/UiPrivate.h"

namespace UiLib {

struct CTextUI::Doc {
    QTextDocument document;
    std::vector<CDuiString> links;     // targets, by index
    std::vector<CDuiString> linkTexts; // shown words, by index
    bool dirty = true;
    int width = -1;
};

namespace {

// Links are numbered in the document by an anchor of this form; the number is the link's index.
const QString kLinkPrefix = QStringLiteral("#uilink:");

QString AttributeValue(QStringView tag, QStringView name)
{
    qsizetype at = tag.indexOf(name.toString() + QLatin1Char('='));
    if (at < 0)
        return {};
    QStringView rest = tag.mid(at + name.size() + 1).trimmed();
    if (rest.isEmpty())
        return {};
    QChar quote = rest.front();
    if (quote == QLatin1Char('\'') || quote == QLatin1Char('"')) {
        qsizetype end = rest.indexOf(quote, 1);
        return (end < 0 ? rest.mid(1) : rest.mid(1, end - 1)).toString();
    }
    qsizetype end = rest.indexOf(QLatin1Char(' '));
    return (end < 0 ? rest : rest.left(end)).toString();
}

// Turns the toolkit's text markup into the HTML that QTextDocument reads. Every link gets an
// anchor numbered in order of appearance; `targets` receives its target (empty: its own text).
QString MarkupToHtml(const QString& text, const CPaintManagerUI* manager, std::vector<QString>& targets)
{
    QString html;
    html.reserve(text.size() + 64);
    qsizetype i = 0;
    // Once no '>' follows, none will for any later '<' either: the search is not made again, so a
    // text of many unclosed '<' stays linear.
    bool closable = true;
    while (i < text.size()) {
        QChar ch = text[i];
        if (ch != QLatin1Char('<')) {
            html += ch;
            ++i;
            continue;
        }
        qsizetype end = closable ? text.indexOf(QLatin1Char('>'), i) : -1;
        if (end < 0) {
            closable = false;
            html += QStringLiteral("&lt;");
            ++i;
            continue;
        }
        QStringView tag = QStringView(text).mid(i + 1, end - i - 1).trimmed();
        i = end + 1;
        QStringView name =
            tag.left(tag.indexOf(QLatin1Char(' ')) < 0 ? tag.size() : tag.indexOf(QLatin1Char(' ')));
        QStringView args = tag.mid(name.size()).trimmed();
        if (name == u"a") {
            QString target = AttributeValue(args, u"href");
            if (target.isEmpty() && !args.isEmpty() && !args.contains(QLatin1Char('=')))
                target = args.toString(); // <a target>
            html += QStringLiteral("<a href=\"%1%2\">").arg(kLinkPrefix).arg(targets.size());
            targets.push_back(target);
        } else if (name == u"f") {
            bool ok = false;
            int index = args.toInt(&ok);
            const TFontInfo* font = manager != nullptr && ok ? manager->GetFontInfo(index) : nullptr;
            if (font == nullptr) {
                html += QStringLiteral("<span>");
                continue;
            }
            html += QStringLiteral("<span style=\"font-family:'%1'; font-size:%2px; font-weight:%3;%4%5\">")
                        .arg(ToQString(font->sFontName.Str()).toHtmlEscaped())
                        .arg(font->iSize)
                        .arg(font->bBold ? 700 : 400)
                        .arg(font->bItalic ? QStringLiteral(" font-style:italic;") : QString())
                        .arg(font->bUnderline ? QStringLiteral(" text-decoration:underline;") : QString());
        } else if (name == u"c") {
            DWORD color = 0;
            std::u16string value = args.toString().toStdU16String();
            if (ParseColor(value, color))
                html += QStringLiteral("<span style=\"color:%1\">").arg(ToQColor(color).name());
            else
                html += QStringLiteral("<span>");
        } else if (name == u"/f" || name == u"/c") {
            html += QStringLiteral("</span>");
        } else if (name == u"n") {
            html += QStringLiteral("<br>");
        } else {
            html += QLatin1Char('<') + tag.toString() + QLatin1Char('>');
        }
    }
    return html;
}

} // namespace

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
    std::vector<QString> targets;
    if (m_bShowHtml)
        body = MarkupToHtml(body, m_pManager, targets);
    else
        body = body.toHtmlEscaped().replace(QLatin1Char('\n'), QStringLiteral("<br>"));
    doc.setHtml(QStringLiteral("<body>") + body + QStringLiteral("</body>"));
    doc.setTextWidth(std::max(1, width));
    std::vector<QString> texts(targets.size());
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            QTextCharFormat format = it.fragment().charFormat();
            QString href = format.anchorHref();
            if (!format.isAnchor() || !href.startsWith(kLinkPrefix))
                continue;
            bool ok = false;
            int index = QStringView(href).mid(kLinkPrefix.size()).toInt(&ok);
            if (ok && index >= 0 && index < static_cast<int>(texts.size()))
                texts[static_cast<size_t>(index)] += it.fragment().text();
        }
    }
    m_doc->links.clear();
    m_doc->linkTexts.clear();
    for (size_t i = 0; i < targets.size(); ++i) {
        m_doc->linkTexts.push_back(FromQString(texts[i]));
        m_doc->links.push_back(targets[i].isEmpty() ? m_doc->linkTexts.back() : FromQString(targets[i]));
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

CDuiString CTextUI::GetLinkText(int index) const
{
    Rebuild();
    if (index < 0 || index >= static_cast<int>(m_doc->linkTexts.size()))
        return {};
    return m_doc->linkTexts[static_cast<size_t>(index)];
}

RECT CTextUI::TextRect() const
{
    return RECT{m_rcItem.left + m_rcTextPadding.left, m_rcItem.top + m_rcTextPadding.top,
                m_rcItem.right - m_rcTextPadding.right, m_rcItem.bottom - m_rcTextPadding.bottom};
}

double CTextUI::DocumentTop() const
{
    const RECT rc = TextRect();
    const double height = m_doc->document.size().height();
    if (m_uTextStyle & DT_VCENTER)
        return rc.top + (rc.Height() - height) / 2;
    if (m_uTextStyle & DT_BOTTOM)
        return rc.bottom - height;
    return rc.top;
}

int CTextUI::HitTestLink(POINT pt) const
{
    if (!m_bShowHtml)
        return -1;
    Rebuild();
    // The point in the document where it is painted: centred or bottom text starts lower down.
    QPointF local(pt.x - TextRect().left, pt.y - DocumentTop());
    QString href = m_doc->document.documentLayout()->anchorAt(local);
    if (!href.startsWith(kLinkPrefix))
        return -1;
    bool ok = false;
    int index = QStringView(href).mid(kLinkPrefix.size()).toInt(&ok);
    return ok && index >= 0 && index < static_cast<int>(m_doc->links.size()) ? index : -1;
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
            CDuiString text = GetLinkText(pressed);
            SendNotify(u"link", static_cast<WPARAM>(pressed), reinterpret_cast<LPARAM>(&text));
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
    const RECT rc = TextRect();
    const double y = DocumentTop();
    p->save();
    p->setClipRect(ToQRect(rc), Qt::IntersectClip);
    // Only the lines inside the clip are drawn: a long text shows a few of its lines.
    QRectF visible = p->clipBoundingRect().translated(-rc.left, -y);
    p->translate(rc.left, y);
    QAbstractTextDocumentLayout::PaintContext context;
    context.clip = visible;
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
