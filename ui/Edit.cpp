#include "ui/Edit.h"

#include <QIntValidator>
#include <QLineEdit>
#include <QRegularExpressionValidator>

#include "ui/PaintManager.h"
#include "ui/RenderEngine.h"
#include "ui/private/UiPrivate.h"

namespace UiLib {

struct CEditUI::Host {
    QPointer<QLineEdit> editor;
};

CEditUI::CEditUI() : m_host(std::make_unique<Host>())
{
    m_uTextStyle = DT_SINGLELINE | DT_VCENTER;
    m_rcTextPadding = RECT{6, 0, 6, 0};
    m_cursor = UiCursor::IBeam;
}

CEditUI::~CEditUI()
{
    if (m_host->editor)
        delete m_host->editor.data();
}

LPCTSTR CEditUI::GetClass() const
{
    return u"EditUI";
}

void* CEditUI::GetInterface(std::u16string_view name)
{
    if (name == u"Edit")
        return this;
    return CLabelUI::GetInterface(name);
}

UINT CEditUI::GetControlFlags() const
{
    return IsEnabled() ? (UIFLAG_SETCURSOR | UIFLAG_TABSTOP) : 0;
}

void CEditUI::SetText(const CDuiString& text)
{
    CLabelUI::SetText(text);
    if (m_host->editor && FromQString(m_host->editor->text()) != m_sText)
        m_host->editor->setText(ToQString(m_sText.Str()));
}

void CEditUI::SetReadOnly(bool readOnly)
{
    m_bReadOnly = readOnly;
    if (m_host->editor)
        m_host->editor->setReadOnly(readOnly);
}

void CEditUI::SetPasswordMode(bool password)
{
    m_bPassword = password;
    if (m_host->editor)
        m_host->editor->setEchoMode(password ? QLineEdit::Password : QLineEdit::Normal);
    Invalidate();
}

void CEditUI::SetMaxChar(int maxChar)
{
    m_iMaxChar = maxChar > 0 ? maxChar : 255;
    if (m_host->editor)
        m_host->editor->setMaxLength(m_iMaxChar);
}

void CEditUI::SetPromptText(const CDuiString& text)
{
    m_sPrompt = text;
    Invalidate();
}

bool CEditUI::IsEditing() const
{
    return m_host->editor != nullptr;
}

void CEditUI::OpenEditor()
{
    if (m_host->editor || m_pManager == nullptr)
        return;
    HostWidget* window = HostOf(m_pManager->GetPaintWindow());
    if (window == nullptr)
        return;
    auto* editor = new QLineEdit(window); // a child of the window: deleted with it at the latest
    m_host->editor = editor;
    editor->setFrame(false);
    editor->setFont(FontFor(m_pManager, m_iFont));
    QColor text = ToQColor(EffectiveTextColor(m_dwTextColor));
    QColor bk = ToQColor((m_dwBackColor >> 24) != 0 ? m_dwBackColor : 0xFFFFFFFF);
    editor->setStyleSheet(QStringLiteral("QLineEdit{background:%1;color:%2;border:none;padding:0;"
                                         "selection-background-color:#2479e4;selection-color:white;}")
                              .arg(bk.name(), text.name()));
    editor->setMaxLength(m_iMaxChar);
    editor->setReadOnly(m_bReadOnly);
    editor->setEchoMode(m_bPassword ? QLineEdit::Password : QLineEdit::Normal);
    if (m_bNumberOnly)
        editor->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), editor));
    editor->setText(ToQString(m_sText.Str()));
    SetPos(m_rcItem, false);
    QObject::connect(editor, &QLineEdit::textEdited, editor, [this](const QString& value) {
        m_sText = FromQString(value);
        SendNotify(u"textchanged");
    });
    QObject::connect(editor, &QLineEdit::returnPressed, editor, [this] { SendNotify(u"return"); });
    editor->show();
    editor->setFocus(Qt::OtherFocusReason);
    editor->selectAll();
}

void CEditUI::CloseEditor()
{
    if (!m_host->editor)
        return;
    QLineEdit* editor = m_host->editor.data();
    m_host->editor = nullptr;
    m_sText = FromQString(editor->text());
    editor->hide();
    editor->disconnect();
    editor->deleteLater();
    Invalidate();
}

void CEditUI::SetPos(RECT rc, bool needInvalidate)
{
    CLabelUI::SetPos(rc, needInvalidate);
    if (m_host->editor) {
        int border = m_nBorderSize;
        RECT inner{rc.left + m_rcTextPadding.left, rc.top + std::max(border, m_rcTextPadding.top),
                   rc.right - m_rcTextPadding.right, rc.bottom - std::max(border, m_rcTextPadding.bottom)};
        m_host->editor->setGeometry(ToQRect(inner));
    }
}

void CEditUI::SetVisible(bool visible)
{
    CLabelUI::SetVisible(visible);
    if (!IsVisible())
        CloseEditor();
}

void CEditUI::SetInternVisible(bool visible)
{
    CLabelUI::SetInternVisible(visible);
    if (!IsVisible())
        CloseEditor();
}

void CEditUI::DoEvent(TEventUI& event)
{
    switch (event.Type) {
    case UIEVENT_SETFOCUS:
        CControlUI::DoEvent(event);
        OpenEditor();
        return;
    case UIEVENT_KILLFOCUS:
        CloseEditor();
        CControlUI::DoEvent(event);
        return;
    case UIEVENT_BUTTONDOWN:
    case UIEVENT_BUTTONUP:
    case UIEVENT_DBLCLICK:
    case UIEVENT_MOUSEMOVE:
        return;
    default:
        CLabelUI::DoEvent(event);
    }
}

void CEditUI::PaintText(HDC hDC)
{
    if (m_host->editor)
        return; // the editor draws while it is up
    RECT rc{m_rcItem.left + m_rcTextPadding.left, m_rcItem.top + m_rcTextPadding.top,
            m_rcItem.right - m_rcTextPadding.right, m_rcItem.bottom - m_rcTextPadding.bottom};
    if (m_sText.IsEmpty()) {
        if (!m_sPrompt.IsEmpty())
            CRenderEngine::DrawText(hDC, m_pManager, rc, m_sPrompt.Str(), m_dwPromptColor, m_iFont,
                                    DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
        return;
    }
    std::u16string shown = m_bPassword ? std::u16string(m_sText.Str().size(), u'\u25CF') : m_sText.Str();
    CRenderEngine::DrawText(hDC, m_pManager, rc, shown, EffectiveTextColor(m_dwTextColor), m_iFont,
                            m_uTextStyle);
}

void CEditUI::SetAttribute(std::u16string_view name, std::u16string_view value)
{
    DWORD color;
    if (name == u"readonly")
        SetReadOnly(ParseBool(value));
    else if (name == u"password")
        SetPasswordMode(ParseBool(value));
    else if (name == u"maxchar")
        SetMaxChar(ParseBoundedInt(value, 255));
    else if (name == u"numberonly")
        m_bNumberOnly = ParseBool(value);
    else if (name == u"prompttext" || name == u"tipvalue")
        SetPromptText(CDuiString(value));
    else if ((name == u"prompttextcolor" || name == u"tipvaluecolor") && ParseColor(value, color))
        m_dwPromptColor = color;
    else
        CLabelUI::SetAttribute(name, value);
}

} // namespace UiLib
