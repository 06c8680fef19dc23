#include "ui/MessageBox.h"

#include <QFileDialog>
#include <QPointer>

#include <mutex>

#include "ui/DialogFrameWnd.h"
#include "ui/private/UiPrivate.h"

namespace UiLib {

namespace {

std::mutex g_mutex;
MessageBoxAnswerer g_messageAnswerer;
FolderAnswerer g_folderAnswerer;

// Escapes text for an XML attribute value.
std::u16string Escape(std::u16string_view text)
{
    std::u16string out;
    for (char16_t ch : text) {
        switch (ch) {
        case u'&':
            out += u"&amp;";
            break;
        case u'<':
            out += u"&lt;";
            break;
        case u'>':
            out += u"&gt;";
            break;
        case u'"':
            out += u"&quot;";
            break;
        case u'\'':
            out += u"&apos;";
            break;
        case u'\n':
            out += u"&#10;";
            break;
        default:
            out += ch;
        }
    }
    return out;
}

// The toolkit's own message box: a small skinned dialog with the caption, the text and the buttons.
class CMessageBoxWnd : public CDialogFrameWnd {
public:
    CMessageBoxWnd(const CDuiString& text, const CDuiString& caption, UINT type)
    {
        UINT buttons = type & 0xF;
        std::u16string buttonXml;
        auto button = [&](const char16_t* name, const char16_t* label, bool primary) {
            buttonXml +=
                std::u16string(u"<Button name=\"") + name + u"\" text=\"" + label +
                (primary ? u"\" width=\"84\" bkcolor=\"#FF2479E4\" hotbkcolor=\"#FF3D8BEA\" "
                           u"pushedbkcolor=\"#FF1D66C2\" textcolor=\"#FFFFFFFF\" borderround=\"6,6\"/>"
                         : u"\" width=\"84\" bkcolor=\"#FFFFFFFF\" hotbkcolor=\"#FFF2F6FC\" bordersize=\"1\" "
                           u"bordercolor=\"#FFC9D1DC\" textcolor=\"#FF2479E4\" borderround=\"6,6\"/>");
        };
        if (buttons == MB_YESNO) {
            button(u"Btn_Yes", u"是", true);
            buttonXml += u"<Control width=\"10\"/>";
            button(u"Btn_No", u"否", false);
        } else {
            button(u"Btn_Ok", u"确定", true);
            if (buttons == MB_OKCANCEL) {
                buttonXml += u"<Control width=\"10\"/>";
                button(u"Btn_Cancel", u"取消", false);
            }
        }
        m_layout = std::u16string(
                       u"<Window size=\"380,190\" caption=\"0,0,0,44\" roundcorner=\"8,8\">"
                       u"<VerticalLayout bkcolor=\"#FFFFFFFF\" bordersize=\"1\" bordercolor=\"#FFD5DBE3\">"
                       u"<HorizontalLayout height=\"44\" bkcolor=\"#FF2479E4\" inset=\"16,0,0,0\">"
                       u"<Label text=\"") +
                   Escape(caption.Str()) +
                   u"\" textcolor=\"#FFFFFFFF\"/><Button name=\"Btn_Close\" width=\"44\" text=\"×\" "
                   u"textcolor=\"#FFFFFFFF\" hotbkcolor=\"#FFE84A4A\"/></HorizontalLayout>"
                   u"<Text name=\"Tx_Message\" padding=\"24,18,24,0\" textcolor=\"#FF333333\" text=\"" +
                   Escape(text.Str()) +
                   u"\"/><HorizontalLayout height=\"32\" padding=\"0,0,18,18\"><Control/>" + buttonXml +
                   u"</HorizontalLayout></VerticalLayout></Window>";
    }
    CDuiString GetSkinFile() const override { return CDuiString(m_layout); }
    LPCTSTR GetWindowClassName() const override { return u"MessageBoxFrame"; }
    // The keyboard starts on the first choice (是 or 确定), so Enter takes it.
    void InitWindow() override
    {
        CControlUI* primary = m_pm.FindControl(u"Btn_Yes");
        m_pm.SetFocus(primary != nullptr ? primary : m_pm.FindControl(u"Btn_Ok"));
    }
    // Esc is the cancel button where there is one, else the close button: the same answer either
    // click gives.
    LRESULT HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM, bool& handled) override
    {
        if (uMsg != WM_KEYDOWN || wParam != VK_ESCAPE)
            return 0;
        handled = true;
        CControlUI* cancel = m_pm.FindControl(u"Btn_Cancel");
        if (cancel == nullptr)
            cancel = m_pm.FindControl(u"Btn_Close");
        if (cancel != nullptr)
            cancel->Activate(); // closes the box: nothing after it
        return 0;
    }
    void Notify(TNotifyUI& msg) override
    {
        if (msg.sType != u"click" || msg.pSender == nullptr)
            return;
        const CDuiString& name = msg.pSender->GetName();
        if (name == u"Btn_Yes")
            Close(IDYES);
        else if (name == u"Btn_No")
            Close(IDNO);
        else if (name == u"Btn_Ok")
            Close(IDOK);
        else if (name == u"Btn_Cancel")
            Close(IDCANCEL);
        else if (name == u"Btn_Close")
            Close(IDCLOSE);
    }

private:
    std::u16string m_layout;
};

} // namespace

MessageBoxAnswerer SetMessageBoxAnswerer(MessageBoxAnswerer answerer)
{
    std::lock_guard lock(g_mutex);
    std::swap(g_messageAnswerer, answerer);
    return answerer;
}

FolderAnswerer SetFolderAnswerer(FolderAnswerer answerer)
{
    std::lock_guard lock(g_mutex);
    std::swap(g_folderAnswerer, answerer);
    return answerer;
}

int MessageBox(HWND owner, const CDuiString& text, const CDuiString& caption, UINT type)
{
    MessageBoxAnswerer answerer;
    {
        std::lock_guard lock(g_mutex);
        answerer = g_messageAnswerer;
    }
    if (answerer)
        return answerer(owner, text, caption, type);
    EnsureApplication();
    CMessageBoxWnd box(text, caption, type);
    int answer = box.DoModal(owner, caption, UI_WNDSTYLE_DIALOG, WS_EX_WINDOWEDGE);
    UINT buttons = type & 0xF;
    if (answer == IDOK || answer == IDYES || answer == IDNO || answer == IDCANCEL)
        return answer;
    // Closed without a choice.
    return buttons == MB_YESNO ? IDNO : (buttons == MB_OKCANCEL ? IDCANCEL : IDOK);
}

bool BrowseForFolder(HWND owner, const CDuiString& title, CDuiString& folder)
{
    FolderAnswerer answerer;
    {
        std::lock_guard lock(g_mutex);
        answerer = g_folderAnswerer;
    }
    if (answerer)
        return answerer(owner, title, folder);
    EnsureApplication();
    // On the heap and watched: the owner may go while the picker is open (every modal loop ended
    // at once), and its children go with it.
    QPointer<QFileDialog> dialog =
        new QFileDialog(HostOf(owner), ToQString(title.Str()), ToQString(folder.Str()));
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    const int code = dialog->exec();
    if (dialog.isNull())
        return false;
    QString chosen = code == QDialog::Accepted && !dialog->selectedFiles().isEmpty()
                         ? dialog->selectedFiles().constFirst()
                         : QString();
    delete dialog.data();
    if (chosen.isEmpty())
        return false;
    if (!chosen.endsWith(QLatin1Char('/')))
        chosen += QLatin1Char('/');
    folder = FromQString(chosen);
    return true;
}

} // namespace UiLib
