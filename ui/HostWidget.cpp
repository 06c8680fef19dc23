// HostWidget: the Qt window behind each CWindowWnd, turning Qt's events into window messages.

#include <QCloseEvent>
#include <QDragMoveEvent>

#include <QMimeData>
#include <QUrl>
#include <QWindow>
#include <algorithm>

#include "ui/private/UiPrivate.h"

namespace UiLib {

namespace {

UINT MouseKeys(Qt::MouseButtons buttons, Qt::KeyboardModifiers mods)
{
    UINT keys = 0;
    if (buttons & Qt::LeftButton)
        keys |= MK_LBUTTON;
    if (buttons & Qt::RightButton)
        keys |= MK_RBUTTON;
    if (mods & Qt::ShiftModifier)
        keys |= MK_SHIFT;
    if (mods & Qt::ControlModifier)
        keys |= MK_CONTROL;
    return static_cast<UINT>(keys);
}

UINT VirtualKey(int key)
{
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return VK_RETURN;
    case Qt::Key_Escape:
        return VK_ESCAPE;
    case Qt::Key_Tab:
        return VK_TAB;
    case Qt::Key_Backspace:
        return VK_BACK;
    case Qt::Key_Delete:
        return VK_DELETE;
    case Qt::Key_Left:
        return VK_LEFT;
    case Qt::Key_Right:
        return VK_RIGHT;
    case Qt::Key_Up:
        return VK_UP;
    case Qt::Key_Down:
        return VK_DOWN;
    case Qt::Key_Home:
        return VK_HOME;
    case Qt::Key_End:
        return VK_END;
    case Qt::Key_PageUp:
        return VK_PRIOR;
    case Qt::Key_PageDown:
        return VK_NEXT;
    case Qt::Key_Space:
        return VK_SPACE;
    default:
        break;
    }
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9))
        return static_cast<UINT>(key);
    return 0;
}

} // namespace

HostWidget::HostWidget(CWindowWnd* window, HWND hwnd, Qt::WindowFlags flags)
    : QWidget(nullptr, flags), m_window(window), m_hwnd(hwnd)
{
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    // Whether a drop is taken depends on the point (the window, or a control under the point).
    setAcceptDrops(true);
}

HostWidget::~HostWidget() = default;

LRESULT HostWidget::Send(UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (m_window == nullptr)
        return 0;
    QPointer<HostWidget> self(this);
    ++m_depth;
    LRESULT result = m_window->Dispatch(msg, wParam, lParam);
    if (self)
        --m_depth;
    return result;
}

bool HostWidget::event(QEvent* e)
{
    if (e->type() == QEvent::ToolTip) {
        // The window's paint manager shows the tool tip of the control under the point
        // (WM_SETCURSOR with wParam 1 and the point in lParam).
        auto* help = static_cast<QHelpEvent*>(e);
        Send(WM_SETCURSOR, 1, MAKELPARAM(help->pos().x(), help->pos().y()));
        return true;
    }
    if (e->type() == QEvent::KeyPress) {
        // Tab and Shift+Tab move the toolkit's focus among the controls, not Qt's among widgets.
        auto* key = static_cast<QKeyEvent*>(e);
        if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) &&
            !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            keyPressEvent(key);
            return true;
        }
    }
    return QWidget::event(e);
}

void HostWidget::paintEvent(QPaintEvent* e)
{
    QPainter painter(this);
    m_painter = &painter;
    m_paintRect = e->rect();
    Send(WM_PAINT, 0, 0);
    m_painter = nullptr;
}

void HostWidget::resizeEvent(QResizeEvent*)
{
    WPARAM kind = isMinimized() ? SIZE_MINIMIZED : (isMaximized() ? SIZE_MAXIMIZED : SIZE_RESTORED);
    Send(WM_SIZE, kind, MAKELPARAM(width(), height()));
}

void HostWidget::moveEvent(QMoveEvent*)
{
    Send(WM_MOVE, 0, MAKELPARAM(x(), y()));
}

void HostWidget::mousePressEvent(QMouseEvent* e)
{
    QPoint global = e->globalPosition().toPoint();
    QPoint local = e->position().toPoint();
    if (e->button() == Qt::LeftButton) {
        LRESULT hit = Send(WM_NCHITTEST, 0, MAKELPARAM(global.x(), global.y()));
        if (m_window == nullptr)
            return;
        if (hit == HTCAPTION) {
            ++m_systemMoves;
            if (windowHandle() != nullptr)
                windowHandle()->startSystemMove();
            return;
        }
        Qt::Edges edges;
        switch (hit) {
        case HTLEFT:
            edges = Qt::LeftEdge;
            break;
        case HTRIGHT:
            edges = Qt::RightEdge;
            break;
        case HTTOP:
            edges = Qt::TopEdge;
            break;
        case HTBOTTOM:
            edges = Qt::BottomEdge;
            break;
        case HTTOPLEFT:
            edges = Qt::TopEdge | Qt::LeftEdge;
            break;
        case HTTOPRIGHT:
            edges = Qt::TopEdge | Qt::RightEdge;
            break;
        case HTBOTTOMLEFT:
            edges = Qt::BottomEdge | Qt::LeftEdge;
            break;
        case HTBOTTOMRIGHT:
            edges = Qt::BottomEdge | Qt::RightEdge;
            break;
        default:
            break;
        }
        if (edges != Qt::Edges()) {
            ++m_systemMoves;
            if (windowHandle() != nullptr)
                windowHandle()->startSystemResize(edges);
            return;
        }
        Send(WM_LBUTTONDOWN, MouseKeys(e->buttons(), e->modifiers()), MAKELPARAM(local.x(), local.y()));
    } else if (e->button() == Qt::RightButton) {
        Send(WM_RBUTTONDOWN, MouseKeys(e->buttons(), e->modifiers()), MAKELPARAM(local.x(), local.y()));
    }
}

void HostWidget::mouseReleaseEvent(QMouseEvent* e)
{
    QPoint local = e->position().toPoint();
    UINT msg =
        e->button() == Qt::LeftButton ? WM_LBUTTONUP : (e->button() == Qt::RightButton ? WM_RBUTTONUP : 0);
    if (msg != 0)
        Send(msg, MouseKeys(e->buttons(), e->modifiers()), MAKELPARAM(local.x(), local.y()));
}

void HostWidget::mouseDoubleClickEvent(QMouseEvent* e)
{
    QPoint local = e->position().toPoint();
    if (e->button() == Qt::LeftButton)
        Send(WM_LBUTTONDBLCLK, MouseKeys(e->buttons(), e->modifiers()), MAKELPARAM(local.x(), local.y()));
}

void HostWidget::mouseMoveEvent(QMouseEvent* e)
{
    QPoint local = e->position().toPoint();
    Send(WM_MOUSEMOVE, MouseKeys(e->buttons(), e->modifiers()), MAKELPARAM(local.x(), local.y()));
}

void HostWidget::wheelEvent(QWheelEvent* e)
{
    QPoint global = e->globalPosition().toPoint();
    // A horizontal wheel (or a sideways swipe) arrives as a turn with Shift, as on the desktop
    // the design was made for; positive is up (or left).
    QPoint angle = e->angleDelta();
    bool sideways = angle.y() == 0 && angle.x() != 0;
    int delta = sideways ? angle.x() : angle.y();
    UINT keys = MouseKeys(e->buttons(), e->modifiers()) | (sideways ? static_cast<UINT>(MK_SHIFT) : 0U);
    WPARAM w = (static_cast<WPARAM>(static_cast<std::uint16_t>(static_cast<short>(delta))) << 16) | keys;
    Send(WM_MOUSEWHEEL, w, MAKELPARAM(global.x(), global.y()));
}

void HostWidget::keyPressEvent(QKeyEvent* e)
{
    // Shift+Tab arrives as Backtab.
    UINT vk = e->key() == Qt::Key_Backtab ? VK_TAB : VirtualKey(e->key());
    LPARAM flags = (e->modifiers() & Qt::ShiftModifier) || e->key() == Qt::Key_Backtab ? KF_UI_SHIFT : 0;
    if (vk != 0)
        Send(WM_KEYDOWN, vk, flags);
    QString text = e->text();
    for (QChar ch : text) {
        if (ch.unicode() >= 0x20 && ch.unicode() != 0x7F && m_window != nullptr)
            Send(WM_CHAR, ch.unicode(), 0);
    }
}

void HostWidget::leaveEvent(QEvent*)
{
    Send(WM_MOUSELEAVE, 0, 0);
}

void HostWidget::closeEvent(QCloseEvent* e)
{
    // The window system asks to close (Alt+F4, the task bar): the window decides, as a system command.
    e->ignore();
    Send(WM_SYSCOMMAND, SC_CLOSE, 0);
}

void HostWidget::changeEvent(QEvent* e)
{
    if (e->type() == QEvent::ActivationChange) {
        Send(WM_NCACTIVATE, isActiveWindow() ? 1 : 0, 0);
        Send(WM_ACTIVATE, isActiveWindow() ? 1 : 0, 0);
    } else if (e->type() == QEvent::WindowStateChange) {
        WPARAM kind = isMinimized() ? SIZE_MINIMIZED : (isMaximized() ? SIZE_MAXIMIZED : SIZE_RESTORED);
        Send(WM_SIZE, kind, MAKELPARAM(width(), height()));
    }
    QWidget::changeEvent(e);
}

void HostWidget::focusOutEvent(QFocusEvent*)
{
    Send(WM_KILLFOCUS, 0, 0);
}

namespace {

bool CarriesLocalFiles(const QMimeData* data)
{
    if (data == nullptr || !data->hasUrls())
        return false;
    const QList<QUrl> urls = data->urls();
    return std::any_of(urls.begin(), urls.end(), [](const QUrl& url) { return url.isLocalFile(); });
}

} // namespace

bool HostWidget::AcceptsDropAt(const QMimeData* data, QPoint local)
{
    if (!CarriesLocalFiles(data))
        return false;
    return m_acceptDrops || Send(WM_UI_DROPQUERY, 0, MAKELPARAM(local.x(), local.y())) != 0;
}

void HostWidget::dragEnterEvent(QDragEnterEvent* e)
{
    // A window that refuses the enter gets no moves of that drag: it takes part whenever it could
    // take the files somewhere, and each move says whether they may be dropped at its point.
    bool somewhere = m_acceptDrops || Send(WM_UI_DROPQUERY, 1, 0) != 0;
    if (somewhere && AcceptsDropAt(e->mimeData(), e->position().toPoint()))
        e->acceptProposedAction();
    else if (somewhere && CarriesLocalFiles(e->mimeData()))
        e->accept(); // a drag target, though not at this point
    else
        e->ignore();
}

void HostWidget::dragMoveEvent(QDragMoveEvent* e)
{
    if (AcceptsDropAt(e->mimeData(), e->position().toPoint()))
        e->acceptProposedAction();
    else
        e->ignore();
}

void HostWidget::dragLeaveEvent(QDragLeaveEvent* e)
{
    Send(WM_UI_DRAGLEAVE, 0, 0);
    e->accept();
}

void HostWidget::dropEvent(QDropEvent* e)
{
    if (!AcceptsDropAt(e->mimeData(), e->position().toPoint())) {
        e->ignore();
        return;
    }
    TDropFiles drop;
    QPoint local = e->position().toPoint();
    drop.pt = {local.x(), local.y()};
    for (const QUrl& url : e->mimeData()->urls()) {
        if (url.isLocalFile())
            drop.files.push_back(FromQString(url.toLocalFile()));
    }
    if (!drop.files.empty())
        Send(WM_DROPFILES, 0, reinterpret_cast<LPARAM>(&drop));
    e->acceptProposedAction();
}

} // namespace UiLib
