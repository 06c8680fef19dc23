#include "ui/MessageBox.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include <mutex>

#include "ui/private/UiPrivate.h"

namespace UiLib {

namespace {

std::mutex g_mutex;
MessageBoxAnswerer g_messageAnswerer;
FolderAnswerer g_folderAnswerer;

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
    QMessageBox box(HostOf(owner));
    box.setWindowTitle(ToQString(caption.Str()));
    box.setText(ToQString(text.Str()));
    UINT buttons = type & 0xF;
    QPushButton* yes = nullptr;
    QPushButton* no = nullptr;
    QPushButton* ok = nullptr;
    QPushButton* cancel = nullptr;
    if (buttons == MB_YESNO) {
        yes = box.addButton(QStringLiteral("是"), QMessageBox::YesRole);
        no = box.addButton(QStringLiteral("否"), QMessageBox::NoRole);
    } else {
        ok = box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
        if (buttons == MB_OKCANCEL)
            cancel = box.addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
    }
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    if (clicked != nullptr && clicked == yes)
        return IDYES;
    if (clicked != nullptr && clicked == ok)
        return IDOK;
    if (buttons == MB_YESNO)
        return IDNO;
    (void)no;
    (void)cancel;
    return buttons == MB_OKCANCEL ? IDCANCEL : IDOK;
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
    QString chosen =
        QFileDialog::getExistingDirectory(HostOf(owner), ToQString(title.Str()), ToQString(folder.Str()));
    if (chosen.isEmpty())
        return false;
    if (!chosen.endsWith(QLatin1Char('/')))
        chosen += QLatin1Char('/');
    folder = FromQString(chosen);
    return true;
}

} // namespace UiLib
