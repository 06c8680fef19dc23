#include "ui/TestInput.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QTimer>
#include <QUrl>
#include <QWheelEvent>
#include <QWindow>

#include "ui/private/UiPrivate.h"

namespace UiLib::TestInput {

namespace {

// How often a wait looks at its condition when no event wakes it earlier.
constexpr int kRecheckMs = 10;

void Deliver(QWidget* target, QEvent* event)
{
    QApplication::sendEvent(target, event);
}

QWidget* MouseTarget(HWND hwnd, POINT& pt)
{
    HostWidget* host = HostOf(hwnd);
    if (host == nullptr)
        return nullptr;
    // A hosted child (an editor) under the point receives the mouse, as on a screen.
    QWidget* child = host->childAt(QPoint(pt.x, pt.y));
    if (child != nullptr) {
        QPoint local = child->mapFrom(host, QPoint(pt.x, pt.y));
        pt = {local.x(), local.y()};
        return child;
    }
    return host;
}

void SendMouse(HWND hwnd, POINT pt, QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons buttons,
               bool control)
{
    HostWidget* host = HostOf(hwnd);
    if (host == nullptr)
        return;
    POINT local = pt;
    QWidget* target = MouseTarget(hwnd, local);
    QPointF position(local.x, local.y);
    QPointF global = host->mapToGlobal(QPointF(pt.x, pt.y));
    QMouseEvent event(type, position, position, global, button, buttons,
                      control ? Qt::ControlModifier : Qt::NoModifier);
    Deliver(target, &event);
}

// The window-system window of a toolkit window: drags arrive there and go on to the widget.
QWindow* DragWindow(HWND hwnd)
{
    HostWidget* host = HostOf(hwnd);
    if (host == nullptr)
        return nullptr;
    host->winId();
    return host->windowHandle();
}

bool SendDrag(HWND hwnd, QEvent::Type type, POINT pt, const std::vector<std::string>& files)
{
    QWindow* window = DragWindow(hwnd);
    if (window == nullptr)
        return false;
    QMimeData data;
    QList<QUrl> urls;
    for (const std::string& file : files)
        urls.push_back(QUrl::fromLocalFile(QString::fromStdString(file)));
    data.setUrls(urls);
    QPoint position(pt.x, pt.y);
    Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
    if (type == QEvent::DragEnter) {
        QDragEnterEvent event(position, actions, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window, &event);
        return event.isAccepted();
    }
    if (type == QEvent::DragMove) {
        QDragMoveEvent event(position, actions, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window, &event);
        return event.isAccepted();
    }
    QDropEvent event(QPointF(position), actions, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &event);
    return event.isAccepted();
}

QWidget* KeyTarget(HWND hwnd)
{
    HostWidget* host = HostOf(hwnd);
    if (host == nullptr)
        return nullptr;
    QWidget* focus = host->focusWidget();
    return focus != nullptr ? focus : host;
}

int QtKey(UINT vk)
{
    switch (vk) {
    case VK_RETURN:
        return Qt::Key_Return;
    case VK_ESCAPE:
        return Qt::Key_Escape;
    case VK_TAB:
        return Qt::Key_Tab;
    case VK_BACK:
        return Qt::Key_Backspace;
    case VK_DELETE:
        return Qt::Key_Delete;
    case VK_LEFT:
        return Qt::Key_Left;
    case VK_RIGHT:
        return Qt::Key_Right;
    case VK_UP:
        return Qt::Key_Up;
    case VK_DOWN:
        return Qt::Key_Down;
    case VK_HOME:
        return Qt::Key_Home;
    case VK_END:
        return Qt::Key_End;
    case VK_PRIOR:
        return Qt::Key_PageUp;
    case VK_NEXT:
        return Qt::Key_PageDown;
    case VK_SPACE:
        return Qt::Key_Space;
    default:
        return static_cast<int>(vk);
    }
}

} // namespace

void ProcessEvents()
{
    EnsureApplication();
    for (int i = 0; i < 3; ++i) {
        QApplication::processEvents(QEventLoop::AllEvents);
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs)
{
    EnsureApplication();
    if (done())
        return true;
    // The loop sleeps until an event arrives. Two timers wake it besides: the deadline, and a slow
    // heartbeat for conditions that other threads change without posting anything (a counter of a
    // server thread, say). Neither keeps a core busy, so waits in parallel test runs stay cheap.
    QDeadlineTimer deadline(std::max(0, timeoutMs));
    QTimer wakeAtDeadline;
    wakeAtDeadline.setSingleShot(true);
    wakeAtDeadline.start(std::max(0, timeoutMs));
    QTimer heartbeat;
    heartbeat.start(kRecheckMs);
    while (!done()) {
        if (deadline.hasExpired())
            return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

void MouseMove(HWND hwnd, POINT pt)
{
    SendMouse(hwnd, pt, QEvent::MouseMove, Qt::NoButton, Qt::NoButton, false);
}

void MouseDown(HWND hwnd, POINT pt, bool right, bool control)
{
    Qt::MouseButton button = right ? Qt::RightButton : Qt::LeftButton;
    SendMouse(hwnd, pt, QEvent::MouseButtonPress, button, button, control);
}

void MouseUp(HWND hwnd, POINT pt, bool right, bool control)
{
    Qt::MouseButton button = right ? Qt::RightButton : Qt::LeftButton;
    SendMouse(hwnd, pt, QEvent::MouseButtonRelease, button, Qt::NoButton, control);
}

void Click(HWND hwnd, POINT pt, bool right, bool control)
{
    MouseMove(hwnd, pt);
    MouseDown(hwnd, pt, right, control);
    if (IsWindow(hwnd))
        MouseUp(hwnd, pt, right, control);
}

void DoubleClick(HWND hwnd, POINT pt)
{
    Click(hwnd, pt);
    if (IsWindow(hwnd))
        SendMouse(hwnd, pt, QEvent::MouseButtonDblClick, Qt::LeftButton, Qt::LeftButton, false);
    if (IsWindow(hwnd))
        MouseUp(hwnd, pt);
}

void Wheel(HWND hwnd, POINT pt, int delta)
{
    HostWidget* host = HostOf(hwnd);
    if (host == nullptr)
        return;
    QPointF position(pt.x, pt.y);
    QWheelEvent event(position, host->mapToGlobal(position), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    Deliver(host, &event);
}

void ShiftWheel(HWND hwnd, POINT pt, int delta)
{
    HostWidget* host = HostOf(hwnd);
    if (host == nullptr)
        return;
    QPointF position(pt.x, pt.y);
    QWheelEvent event(position, host->mapToGlobal(position), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::ShiftModifier, Qt::NoScrollPhase, false);
    Deliver(host, &event);
}

bool DragEnter(HWND hwnd, POINT pt, const std::vector<std::string>& files)
{
    return SendDrag(hwnd, QEvent::DragEnter, pt, files);
}

bool DragMove(HWND hwnd, POINT pt, const std::vector<std::string>& files)
{
    return SendDrag(hwnd, QEvent::DragMove, pt, files);
}

void DragLeave(HWND hwnd)
{
    if (QWindow* window = DragWindow(hwnd)) {
        QDragLeaveEvent event;
        QCoreApplication::sendEvent(window, &event);
    }
}

bool Drop(HWND hwnd, POINT pt, const std::vector<std::string>& files)
{
    return SendDrag(hwnd, QEvent::Drop, pt, files);
}

void Key(HWND hwnd, UINT vk, bool shift)
{
    QWidget* target = KeyTarget(hwnd);
    if (target == nullptr)
        return;
    QString text;
    if (vk == VK_RETURN)
        text = QStringLiteral("\r");
    else if (vk == VK_SPACE)
        text = QStringLiteral(" ");
    const Qt::KeyboardModifiers modifiers = shift ? Qt::ShiftModifier : Qt::NoModifier;
    const int key = shift && vk == VK_TAB ? Qt::Key_Backtab : QtKey(vk); // as a keyboard sends it
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    Deliver(target, &press);
    if (QWidget* again = KeyTarget(hwnd)) {
        QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
        Deliver(again, &release);
    }
}

void TypeText(HWND hwnd, const CDuiString& text)
{
    QString qtext = ToQString(text.Str());
    for (QChar ch : qtext) {
        QWidget* target = KeyTarget(hwnd);
        if (target == nullptr)
            return;
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
        Deliver(target, &press);
    }
}

int SystemMoveRequests(HWND hwnd)
{
    HostWidget* host = HostOf(hwnd);
    return host != nullptr ? host->m_systemMoves : 0;
}

std::uint32_t TestImage::Pixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= width || y >= height)
        return 0;
    return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
}

TestImage Grab(HWND hwnd)
{
    TestImage result;
    HostWidget* host = HostOf(hwnd);
    if (host == nullptr)
        return result;
    QImage image = host->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    result.width = image.width();
    result.height = image.height();
    result.pixels.resize(static_cast<size_t>(result.width) * static_cast<size_t>(result.height));
    for (int y = 0; y < result.height; ++y) {
        const auto* line = reinterpret_cast<const std::uint32_t*>(image.constScanLine(y));
        std::copy(line, line + result.width,
                  result.pixels.begin() + static_cast<std::ptrdiff_t>(y) * result.width);
    }
    return result;
}

bool SaveImage(HWND hwnd, const std::string& pngPath)
{
    HostWidget* host = HostOf(hwnd);
    if (host == nullptr)
        return false;
    return host->grab().save(QString::fromStdString(pngPath), "PNG");
}

} // namespace UiLib::TestInput
