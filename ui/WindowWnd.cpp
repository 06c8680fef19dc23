#include "ui/WindowWnd.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDialog>
#include <QEventLoop>
#include <QIcon>
#include <QMimeData>
#include <QPixmap>
#include <QScreen>
#include <QToolTip>
#include <QUrl>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <map>

#include "platform/Trace.h"
#include "ui/PaintManager.h"
#include "ui/Resources.h"
#include "ui/private/UiPrivate.h"

namespace UiLib {

HWND RegisterWindow(CWindowWnd* window);
void UnregisterWindow(HWND hwnd);

namespace {

// The rounded outline of a window: a rectangle whose corners are quarter ellipses cornerX wide
// and cornerY high (the ellipse's full size, as window regions take it).
QRegion RoundRegion(int w, int h, int cornerX, int cornerY)
{
    if (cornerX <= 1 || cornerY <= 1)
        return QRegion(0, 0, w, h);
    double rx = cornerX / 2.0;
    double ry = cornerY / 2.0;
    int rows = std::min(static_cast<int>(std::ceil(ry)), h / 2);
    QRegion region(0, rows, w, std::max(0, h - 2 * rows));
    for (int y = 0; y < rows; ++y) {
        double dy = ry - (y + 0.5);
        double dx = rx * std::sqrt(std::max(0.0, 1.0 - (dy * dy) / (ry * ry)));
        int inset = static_cast<int>(std::lround(rx - dx));
        region += QRect(inset, y, std::max(0, w - 2 * inset), 1);
        region += QRect(inset, h - 1 - y, std::max(0, w - 2 * inset), 1);
    }
    return region;
}

// The modal loops running now (innermost last) and, per owner, how many of them it waits for.
// UI thread only.
struct ModalState {
    std::vector<HWND> running;
    std::map<HWND, int> ownerCounts;
};

ModalState& Modal()
{
    static ModalState state;
    return state;
}

// Destroys the modal windows in `windows`, innermost first, each ending its loop with `result`.
void EndModalWindows(std::vector<HWND> windows, int result)
{
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
        if (CWindowWnd* window = WindowFromHandle(*it)) {
            window->GetImpl()->modalResult = result;
            window->DestroyWindow();
        }
    }
}

} // namespace

void CPaintManagerUI::EndAllModalLoops(int result)
{
    // Qt's own dialogs (the folder picker) run their loops above the toolkit's: they are turned
    // down first, so every loop below them can end.
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<QDialog*>(widget); dialog != nullptr && dialog->isVisible())
            dialog->reject();
    }
    EndModalWindows(Modal().running, result);
}

bool CPaintManagerUI::IsInModalLoop()
{
    return !Modal().running.empty();
}

CWindowWnd::CWindowWnd() : m_impl(std::make_unique<Impl>()) {}

CWindowWnd::~CWindowWnd()
{
    if (m_hWnd != nullptr) {
        HWND h = m_hWnd;
        UnregisterWindow(h);
        m_hWnd = nullptr;
        if (m_impl->modalLoop != nullptr)
            m_impl->modalLoop->exit(m_impl->modalResult);
        if (HostWidget* host = m_impl->host.data()) {
            host->Detach();
            host->hide();
            if (host->InHandler())
                host->deleteLater();
            else
                delete host;
        }
    }
}

HWND CWindowWnd::Create(HWND parent, const CDuiString& name, DWORD style, DWORD exStyle, const RECT& rc)
{
    return Create(parent, name, style, exStyle, rc.left, rc.top, rc.Width(), rc.Height());
}

HWND CWindowWnd::Create(HWND parent, const CDuiString& name, DWORD style, DWORD exStyle, int x, int y, int cx,
                        int cy)
{
    EnsureApplication();
    if (m_hWnd != nullptr)
        return m_hWnd;
    m_style = style;
    m_exStyle = exStyle;
    m_hWndOwner = IsWindow(parent) ? parent : nullptr;
    m_hWnd = RegisterWindow(this);
    m_impl->destroying = false;

    Qt::WindowFlags flags = Qt::Window | Qt::FramelessWindowHint;
    if (exStyle & WS_EX_TOPMOST)
        flags |= Qt::WindowStaysOnTopHint;
    if (exStyle & WS_EX_TOOLWINDOW)
        flags |= Qt::Tool;
    if (style & WS_MINIMIZEBOX)
        flags |= Qt::WindowMinimizeButtonHint;
    if (style & WS_MAXIMIZEBOX)
        flags |= Qt::WindowMaximizeButtonHint;
    auto* host = new HostWidget(this, m_hWnd, flags); // owned through m_impl->host, deleted on destroy
    m_impl->host = host;
    host->setWindowTitle(ToQString(name));
    if (cx != CW_USEDEFAULT && cy != CW_USEDEFAULT && cx > 0 && cy > 0)
        host->resize(cx, cy);
    if (x != CW_USEDEFAULT && y != CW_USEDEFAULT)
        host->move(x, y);
    host->winId();
    if (HostWidget* owner = HostOf(m_hWndOwner)) {
        owner->winId();
        if (host->windowHandle() != nullptr && owner->windowHandle() != nullptr)
            host->windowHandle()->setTransientParent(owner->windowHandle());
    }

    if (host->Send(WM_CREATE, 0, 0) == -1) {
        platform::TraceF("CWindowWnd::Create: window '%s' refused creation", name.ToUtf8().c_str());
        DestroyWindow();
        return nullptr;
    }
    if (m_hWnd == nullptr)
        return nullptr;
    MINMAXINFO info{};
    info.ptMaxTrackSize = {QWIDGETSIZE_MAX, QWIDGETSIZE_MAX};
    host->Send(WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    if (info.ptMinTrackSize.x > 0 || info.ptMinTrackSize.y > 0)
        host->setMinimumSize(std::max(0, info.ptMinTrackSize.x), std::max(0, info.ptMinTrackSize.y));
    if (m_style & WS_VISIBLE)
        ShowWindow(true, true);
    return m_hWnd;
}

LRESULT CWindowWnd::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM)
{
    switch (uMsg) {
    case WM_CLOSE:
        m_impl->modalResult = static_cast<int>(wParam);
        DestroyWindow();
        return 0;
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_CLOSE:
            SendMessage(WM_CLOSE, IDCLOSE, 0);
            return 0;
        case SC_MINIMIZE:
            ShowWindowCmd(SW_MINIMIZE);
            return 0;
        case SC_MAXIMIZE:
            ShowWindowCmd(SW_SHOWMAXIMIZED);
            return 0;
        case SC_RESTORE:
            ShowWindowCmd(SW_RESTORE);
            return 0;
        default:
            return 0;
        }
    case WM_NCHITTEST:
        return HTCLIENT;
    default:
        return 0;
    }
}

void CWindowWnd::OnFinalMessage(HWND) {}

void CWindowWnd::DestroyWindow()
{
    if (m_hWnd == nullptr || m_impl->destroying)
        return;
    m_impl->destroying = true;
    // Modal dialogs this window owns go first: nobody could answer them any more.
    std::vector<HWND> owned;
    for (HWND modal : Modal().running) {
        CWindowWnd* window = WindowFromHandle(modal);
        if (window != nullptr && window->GetOwner() == m_hWnd)
            owned.push_back(modal);
    }
    EndModalWindows(owned, IDCLOSE);
    HostWidget* host = m_impl->host.data();
    if (host != nullptr)
        host->Send(WM_DESTROY, 0, 0);
    FinishDestroy();
}

void CWindowWnd::FinishDestroy()
{
    HWND h = m_hWnd;
    HostWidget* host = m_impl->host.data();
    if (m_impl->modalLoop != nullptr) {
        m_impl->modalLoop->exit(m_impl->modalResult);
        m_impl->modalLoop = nullptr;
    }
    if (host != nullptr) {
        host->Send(WM_NCDESTROY, 0, 0);
        host->hide();
        host->Detach();
        if (host->InHandler())
            host->deleteLater();
        else
            delete host;
    }
    m_impl->host = nullptr;
    UnregisterWindow(h);
    m_hWnd = nullptr;
    OnFinalMessage(h); // may delete this
}

void CWindowWnd::CenterWindow()
{
    HostWidget* host = m_impl->host.data();
    if (host == nullptr)
        return;
    QRect area;
    HostWidget* owner = HostOf(m_hWndOwner);
    if (owner != nullptr && owner->isVisible() && !owner->isMinimized())
        area = owner->geometry();
    else if (QScreen* screen = host->screen() ? host->screen() : QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    QSize size = host->size();
    int x = area.left() + (area.width() - size.width()) / 2;
    int y = area.top() + (area.height() - size.height()) / 2;
    if (QScreen* screen = host->screen()) {
        QRect work = screen->availableGeometry();
        x = std::clamp(x, work.left(), std::max(work.left(), work.right() + 1 - size.width()));
        y = std::clamp(y, work.top(), std::max(work.top(), work.bottom() + 1 - size.height()));
    }
    host->move(x, y);
}

void CWindowWnd::RightWindow()
{
    HostWidget* host = m_impl->host.data();
    if (host == nullptr)
        return;
    QScreen* screen = host->screen() ? host->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    QRect work = screen->availableGeometry();
    host->move(work.right() + 1 - host->width(), work.top() + (work.height() - host->height()) / 2);
}

int CWindowWnd::ShowModal()
{
    HostWidget* host = m_impl->host.data();
    if (m_hWnd == nullptr || host == nullptr)
        return -1;
    HWND self = m_hWnd;
    HWND owner = m_hWndOwner;
    ModalState& modal = Modal();
    if (owner != nullptr && ++modal.ownerCounts[owner] == 1) {
        if (HostWidget* ownerHost = HostOf(owner))
            ownerHost->setEnabled(false);
    }
    modal.running.push_back(self);
    ShowWindow(true, true);
    QEventLoop loop;
    m_impl->modalLoop = &loop;
    m_impl->modalResult = IDCLOSE;
    int code = loop.exec();
    // The window may be gone (and this object with it) by now.
    if (CWindowWnd* still = WindowFromHandle(self))
        still->GetImpl()->modalLoop = nullptr;
    modal.running.erase(std::remove(modal.running.begin(), modal.running.end(), self), modal.running.end());
    if (owner != nullptr) {
        auto count = modal.ownerCounts.find(owner);
        if (count != modal.ownerCounts.end() && --count->second <= 0) {
            modal.ownerCounts.erase(count);
            if (HostWidget* ownerHost = HostOf(owner)) {
                ownerHost->setEnabled(true);
                ownerHost->activateWindow();
            }
        }
    }
    return code;
}

void CWindowWnd::ShowWindow(bool show, bool takeFocus)
{
    HostWidget* host = m_impl->host.data();
    if (host == nullptr)
        return;
    if (!show) {
        host->hide();
        m_style &= ~WS_VISIBLE;
        host->Send(WM_SHOWWINDOW, 0, 0);
        return;
    }
    m_style |= WS_VISIBLE;
    if (host->isMinimized())
        host->showNormal();
    else
        host->show();
    if (takeFocus) {
        host->raise();
        host->activateWindow();
    } else if ((m_exStyle & WS_EX_TOPMOST) != 0) {
        // On top even where no window manager keeps it there (a bare X server): raised, but the
        // window that has the focus keeps it.
        host->raise();
    }
    host->Send(WM_SHOWWINDOW, 1, 0);
}

void CWindowWnd::ShowWindowCmd(int cmd)
{
    HostWidget* host = m_impl->host.data();
    if (host == nullptr)
        return;
    switch (cmd) {
    case SW_HIDE:
        ShowWindow(false);
        break;
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
        host->showMinimized();
        break;
    case SW_SHOWMAXIMIZED:
        host->showMaximized();
        break;
    case SW_RESTORE:
        host->showNormal();
        break;
    case SW_SHOWNOACTIVATE:
        ShowWindow(true, false);
        break;
    default:
        ShowWindow(true, true);
        break;
    }
}

void CWindowWnd::Close(int ret)
{
    if (m_hWnd == nullptr)
        return;
    PostMessage(WM_CLOSE, static_cast<WPARAM>(ret), 0);
}

bool CWindowWnd::PostMessage(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    return UiLib::PostMessage(m_hWnd, uMsg, wParam, lParam);
}

LRESULT CWindowWnd::SendMessage(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    HostWidget* host = m_impl->host.data();
    if (host == nullptr)
        return 0;
    return host->Send(uMsg, wParam, lParam);
}

void CWindowWnd::SetIcon(UINT resourceId)
{
    HostWidget* host = m_impl->host.data();
    if (host == nullptr)
        return;
    QPixmap pixmap;
    std::string bytes;
    if (FindResource(kResourceIcon, static_cast<int>(resourceId), bytes))
        pixmap.loadFromData(reinterpret_cast<const uchar*>(bytes.data()), static_cast<uint>(bytes.size()));
    if (pixmap.isNull()) {
        // A plain accent-blue tile stands in for a missing icon.
        QImage image(32, 32, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setBrush(QColor(0x24, 0x79, 0xe4));
        p.setPen(Qt::NoPen);
        p.drawRoundedRect(QRectF(2, 2, 28, 28), 6, 6);
        p.end();
        pixmap = QPixmap::fromImage(image);
    }
    host->setWindowIcon(QIcon(pixmap));
}

void CWindowWnd::SetWindowText(const CDuiString& text)
{
    if (HostWidget* host = m_impl->host.data())
        host->setWindowTitle(ToQString(text));
}

CDuiString CWindowWnd::GetWindowText() const
{
    if (HostWidget* host = m_impl->host.data())
        return FromQString(host->windowTitle());
    return {};
}

void CWindowWnd::SetStyle(DWORD style)
{
    DWORD changed = style ^ m_style;
    m_style = style;
    HostWidget* host = m_impl->host.data();
    if (host == nullptr || (changed & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX)) == 0)
        return;
    bool visible = host->isVisible();
    host->setWindowFlag(Qt::WindowMinimizeButtonHint, (style & WS_MINIMIZEBOX) != 0);
    host->setWindowFlag(Qt::WindowMaximizeButtonHint, (style & WS_MAXIMIZEBOX) != 0);
    if (visible)
        host->show();
}

void CWindowWnd::SetExStyle(DWORD exStyle)
{
    DWORD changed = exStyle ^ m_exStyle;
    m_exStyle = exStyle;
    HostWidget* host = m_impl->host.data();
    if (host == nullptr || (changed & WS_EX_TOPMOST) == 0)
        return;
    bool visible = host->isVisible();
    host->setWindowFlag(Qt::WindowStaysOnTopHint, (exStyle & WS_EX_TOPMOST) != 0);
    if (visible)
        host->show();
}

RECT CWindowWnd::GetWindowRect() const
{
    if (HostWidget* host = m_impl->host.data())
        return FromQRect(host->frameGeometry());
    return {};
}

RECT CWindowWnd::GetClientRect() const
{
    if (HostWidget* host = m_impl->host.data())
        return RECT{0, 0, host->width(), host->height()};
    return {};
}

void CWindowWnd::MoveWindow(int x, int y, int cx, int cy)
{
    if (HostWidget* host = m_impl->host.data())
        host->setGeometry(x, y, cx, cy);
}

void CWindowWnd::ResizeClient(int cx, int cy)
{
    HostWidget* host = m_impl->host.data();
    if (host == nullptr)
        return;
    if (cx <= 0)
        cx = host->width();
    if (cy <= 0)
        cy = host->height();
    host->resize(cx, cy);
}

bool CWindowWnd::IsVisible() const
{
    HostWidget* host = m_impl->host.data();
    return host != nullptr && host->isVisible();
}

bool CWindowWnd::IsMinimized() const
{
    HostWidget* host = m_impl->host.data();
    return host != nullptr && host->isMinimized();
}

bool CWindowWnd::IsMaximized() const
{
    HostWidget* host = m_impl->host.data();
    return host != nullptr && host->isMaximized();
}

bool CWindowWnd::IsActive() const
{
    HostWidget* host = m_impl->host.data();
    return host != nullptr && host->isActiveWindow();
}

bool CWindowWnd::IsTopMost() const
{
    HostWidget* host = m_impl->host.data();
    return host != nullptr && host->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

bool CWindowWnd::HasMinimizeBox() const
{
    HostWidget* host = m_impl->host.data();
    return host != nullptr && host->windowFlags().testFlag(Qt::WindowMinimizeButtonHint);
}

void CWindowWnd::SetWindowRgn(int cx, int cy, int cornerX, int cornerY)
{
    HostWidget* host = m_impl->host.data();
    if (host == nullptr)
        return;
    m_rcRegion = RECT{0, 0, cx, cy};
    m_szRegionCorner = SIZE{cornerX, cornerY};
    if (cx <= 0 || cy <= 0) {
        host->clearMask();
        return;
    }
    host->setMask(RoundRegion(cx, cy, cornerX, cornerY));
}

void CWindowWnd::DragAcceptFiles(bool accept)
{
    if (HostWidget* host = m_impl->host.data()) {
        host->m_acceptDrops = accept;
    }
}

bool ScreenToClient(HWND hWnd, POINT& point)
{
    HostWidget* host = HostOf(hWnd);
    if (host == nullptr)
        return false;
    QPoint local = host->mapFromGlobal(QPoint(point.x, point.y));
    point = POINT{local.x(), local.y()};
    return true;
}

bool ClientToScreen(HWND hWnd, POINT& point)
{
    HostWidget* host = HostOf(hWnd);
    if (host == nullptr)
        return false;
    QPoint global = host->mapToGlobal(QPoint(point.x, point.y));
    point = POINT{global.x(), global.y()};
    return true;
}

bool GetCursorPos(POINT& point)
{
    if (QGuiApplication::instance() == nullptr)
        return false;
    QPoint pos = QCursor::pos();
    point = POINT{pos.x(), pos.y()};
    return true;
}

} // namespace UiLib
