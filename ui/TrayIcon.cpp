#include "ui/TrayIcon.h"

#include <QIcon>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>

#include "ui/Resources.h"
#include "ui/WindowWnd.h"
#include "ui/private/UiPrivate.h"

namespace UiLib {

namespace {

// The tray seam of the tests; the UI thread alone reads and writes it.
std::function<bool()>& TrayProbe()
{
    static std::function<bool()> probe;
    return probe;
}
int g_trayPollMs = CDuiTrayIcon::kTrayPollMs;

bool TrayAvailableNow()
{
    return TrayProbe() ? TrayProbe()() : QSystemTrayIcon::isSystemTrayAvailable();
}

} // namespace

struct CDuiTrayIcon::Impl {
    std::unique_ptr<QSystemTrayIcon> icon;
    HWND receiver = nullptr;
    UINT id = 0;
    UINT message = 0;
    CDuiString tip;
    HWND hidden = nullptr;        // the window HideToTray last hid, shown again should the tray go
    std::unique_ptr<QTimer> poll; // declared last: it stops before the icon goes
};

CDuiTrayIcon::CDuiTrayIcon() : m_impl(std::make_unique<Impl>()) {}

CDuiTrayIcon::~CDuiTrayIcon() = default;

void CDuiTrayIcon::SetTrayProbe(std::function<bool()> probe, int pollMs)
{
    g_trayPollMs = probe ? pollMs : kTrayPollMs;
    TrayProbe() = std::move(probe);
}

bool CDuiTrayIcon::IsTrayAvailable()
{
    EnsureApplication();
    return TrayAvailableNow();
}

void CDuiTrayIcon::CreateTrayIcon(HWND receiver, UINT iconResourceId, const CDuiString& tip, UINT message)
{
    EnsureApplication();
    m_impl->receiver = receiver;
    m_impl->id = iconResourceId;
    m_impl->message = message;
    m_impl->tip = tip;
    m_impl->poll = std::make_unique<QTimer>();
    QObject::connect(m_impl->poll.get(), &QTimer::timeout, [this] { Poll(); });
    m_impl->poll->start(g_trayPollMs);
    if (TrayAvailableNow())
        ShowIcon();
}

void CDuiTrayIcon::ShowIcon()
{
    m_impl->icon = std::make_unique<QSystemTrayIcon>();
    QPixmap pixmap;
    std::string bytes;
    if (FindResource(kResourceIcon, static_cast<int>(m_impl->id), bytes))
        pixmap.loadFromData(reinterpret_cast<const uchar*>(bytes.data()), static_cast<uint>(bytes.size()));
    if (pixmap.isNull()) {
        pixmap = QPixmap(32, 32);
        pixmap.fill(QColor(0x24, 0x79, 0xe4));
    }
    m_impl->icon->setIcon(QIcon(pixmap));
    m_impl->icon->setToolTip(ToQString(m_impl->tip.Str()));
    QObject::connect(m_impl->icon.get(), &QSystemTrayIcon::activated, m_impl->icon.get(),
                     [impl = m_impl.get()](QSystemTrayIcon::ActivationReason reason) {
                         LPARAM button = reason == QSystemTrayIcon::Context ? WM_RBUTTONUP : WM_LBUTTONUP;
                         UiLib::PostMessage(impl->receiver, impl->message, impl->id, button);
                     });
    m_impl->icon->show();
}

void CDuiTrayIcon::Poll()
{
    const bool available = TrayAvailableNow();
    if (available && !m_impl->icon) {
        ShowIcon();
        return;
    }
    if (available || !m_impl->icon)
        return;
    m_impl->icon.reset();
    // Without a tray nothing could bring a hidden window back but a second start: it is shown.
    CWindowWnd* window = m_impl->hidden != nullptr ? WindowFromHandle(m_impl->hidden) : nullptr;
    m_impl->hidden = nullptr;
    if (window != nullptr && !window->IsVisible())
        window->ShowWindow(true);
}

void CDuiTrayIcon::DeleteTrayIcon()
{
    m_impl->poll.reset();
    m_impl->icon.reset();
    m_impl->receiver = nullptr;
    m_impl->hidden = nullptr;
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
        m_impl->hidden = window.GetHWND();
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
