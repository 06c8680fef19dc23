#include "ui/TrayIcon.h"

#include <QIcon>
#include <QPixmap>
#include <QSystemTrayIcon>

#include "ui/Resources.h"
#include "ui/WindowWnd.h"
#include "ui/private/UiPrivate.h"

namespace UiLib {

struct CDuiTrayIcon::Impl {
    std::unique_ptr<QSystemTrayIcon> icon;
    HWND receiver = nullptr;
    UINT id = 0;
    UINT message = 0;
    CDuiString tip;
};

CDuiTrayIcon::CDuiTrayIcon() : m_impl(std::make_unique<Impl>()) {}

CDuiTrayIcon::~CDuiTrayIcon() = default;

bool CDuiTrayIcon::IsTrayAvailable()
{
    EnsureApplication();
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void CDuiTrayIcon::CreateTrayIcon(HWND receiver, UINT iconResourceId, const CDuiString& tip, UINT message)
{
    EnsureApplication();
    m_impl->receiver = receiver;
    m_impl->id = iconResourceId;
    m_impl->message = message;
    m_impl->tip = tip;
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_impl->icon = std::make_unique<QSystemTrayIcon>();
    QPixmap pixmap;
    std::string bytes;
    if (FindResource(kResourceIcon, static_cast<int>(iconResourceId), bytes))
        pixmap.loadFromData(reinterpret_cast<const uchar*>(bytes.data()), static_cast<uint>(bytes.size()));
    if (pixmap.isNull()) {
        pixmap = QPixmap(32, 32);
        pixmap.fill(QColor(0x24, 0x79, 0xe4));
    }
    m_impl->icon->setIcon(QIcon(pixmap));
    m_impl->icon->setToolTip(ToQString(tip.Str()));
    QObject::connect(m_impl->icon.get(), &QSystemTrayIcon::activated, m_impl->icon.get(),
                     [impl = m_impl.get()](QSystemTrayIcon::ActivationReason reason) {
                         LPARAM button = reason == QSystemTrayIcon::Context ? WM_RBUTTONUP : WM_LBUTTONUP;
                         UiLib::PostMessage(impl->receiver, impl->message, impl->id, button);
                     });
    m_impl->icon->show();
}

void CDuiTrayIcon::DeleteTrayIcon()
{
    m_impl->icon.reset();
    m_impl->receiver = nullptr;
}

bool CDuiTrayIcon::IsCreated() const
{
    return m_impl->receiver != nullptr;
}

void CDuiTrayIcon::SetTooltipText(const CDuiString& tip)
{
    m_impl->tip = tip;
    if (m_impl->icon)
        m_impl->icon->setToolTip(ToQString(tip.Str()));
}

CDuiString CDuiTrayIcon::GetTooltipText() const
{
    return m_impl->tip;
}

void CDuiTrayIcon::SetShowIcon(bool show)
{
    if (m_impl->icon)
        m_impl->icon->setVisible(show);
}

bool CDuiTrayIcon::IsVisible() const
{
    return m_impl->icon && m_impl->icon->isVisible();
}

bool CDuiTrayIcon::HideToTray(CWindowWnd& window)
{
    if (m_impl->icon && m_impl->icon->isVisible()) {
        window.ShowWindow(false);
        return true;
    }
    window.ShowWindowCmd(SW_MINIMIZE);
    return false;
}

void CDuiTrayIcon::SimulateClick(bool right)
{
    if (m_impl->receiver != nullptr)
        UiLib::PostMessage(m_impl->receiver, m_impl->message, m_impl->id,
                           right ? WM_RBUTTONUP : WM_LBUTTONUP);
}

} // namespace UiLib
