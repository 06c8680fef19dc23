#pragma once

// Private to ui/: the Qt side of the toolkit. Nothing outside ui/ includes this header.

#include <QByteArray>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QMimeData>
#include <QMovie>
#include <QObject>
#include <QPainter>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "ui/FocusRing.h"
#include "ui/PaintManager.h"
#include "ui/WindowWnd.h"

struct UiLib::HDC__ {
    QPainter* painter = nullptr;
    UiLib::CPaintManagerUI* manager = nullptr;
};

namespace UiLib {

// Asked of a window while files are dragged over it: with wParam 0, lParam holds the client point
// and the answer is 1 when a control there takes dropped files; with wParam 1 the answer is 1 when
// any control of the window takes them.
constexpr UINT WM_UI_DROPQUERY = 0x03F0;
// Sent to a window when files dragged over it leave it without a drop.
constexpr UINT WM_UI_DRAGLEAVE = 0x03F1;

inline QRect ToQRect(const RECT& rc)
{
    return QRect(rc.left, rc.top, rc.Width(), rc.Height());
}
inline RECT FromQRect(const QRect& r)
{
    return RECT{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}
inline QColor ToQColor(DWORD argb)
{
    return QColor((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF, (argb >> 24) & 0xFF);
}
inline QString ToQString(std::u16string_view s)
{
    return QString(reinterpret_cast<const QChar*>(s.data()), static_cast<qsizetype>(s.size()));
}
inline CDuiString FromQString(const QString& s)
{
    return CDuiString(s.toStdU16String());
}

// Makes sure a QApplication exists (created by the toolkit when the program has none).
void EnsureApplication();
bool IsUiThread();
// Answers every waiting RunOnUiThread request as closed and refuses posted messages and new
// requests from then on, without touching any window (the display may be gone).
void RefuseUiRequests();

// A cached image with its pixels.
struct ImageEntry : TImageInfo {
    QImage image;
    QByteArray bytes;      // kept for animated images
    mutable QImage scaled; // the whole image at the size it was last drawn, for quick repaints
};

// The widget that stands for one CWindowWnd. It turns Qt's events into window messages.
class HostWidget : public QWidget {
public:
    HostWidget(CWindowWnd* window, HWND hwnd, Qt::WindowFlags flags);
    ~HostWidget() override;

    CWindowWnd* Window() const { return m_window; }
    HWND Handle() const { return m_hwnd; }
    void Detach() { m_window = nullptr; }
    QPainter* CurrentPainter() const { return m_painter; }
    // The part of the window being painted (during WM_PAINT).
    QRect CurrentPaintRect() const { return m_paintRect; }
    // Sends a message to the window's procedure, keeping track of nesting so the widget is not
    // deleted under its own feet.
    LRESULT Send(UINT msg, WPARAM wParam, LPARAM lParam);
    // Whether files dragged to the point (client coordinates) may be dropped there: the window
    // takes every drop (DragAcceptFiles), or a control under the point accepts drops.
    bool AcceptsDropAt(const QMimeData* data, QPoint local);
    bool InHandler() const { return m_depth > 0; }
    bool m_acceptDrops = false;
    int m_systemMoves = 0; // presses that started a system move or resize

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dragMoveEvent(QDragMoveEvent* e) override;
    void dragLeaveEvent(QDragLeaveEvent* e) override;
    void dropEvent(QDropEvent* e) override;

private:
    CWindowWnd* m_window;
    HWND m_hwnd;
    QPainter* m_painter = nullptr;
    QRect m_paintRect;
    int m_depth = 0;
};

struct CWindowWnd::Impl {
    QPointer<HostWidget> host;
    QEventLoop* modalLoop = nullptr;
    int modalResult = IDCLOSE;
    bool destroying = false;
    QByteArray iconPng;
};

// What a paint manager keeps on the Qt side.
struct CPaintManagerUI::Impl {
    QPointer<HostWidget> host;
    std::map<std::u16string, std::unique_ptr<ImageEntry>, std::less<>> images;
    std::map<std::u16string, bool, std::less<>> missingImages;
    struct Timer {
        CControlUI* control;
        UINT id;
        int qtId;
    };
    std::map<int, Timer> timers; // by Qt timer id
    std::unique_ptr<QObject> timerHost;
    bool asyncQueued = false;
    QPointer<QWidget> tooltipOwner;
    CControlUI* dragTarget = nullptr; // the control that files dragged over the window would go to
    std::map<int, QFont> fonts;       // built from the font table on first use
    CFocusRing focusRing;
};

HostWidget* HostOf(HWND hwnd);
QFont FontFor(const CPaintManagerUI* manager, int index);
const ImageEntry* ImageFor(CPaintManagerUI* manager, const CDuiString& path);
// Reads an image file as LoadSkinFile does, refusing one past kMaxImageFileBytes without reading it.
bool LoadImageFile(const CDuiString& path, std::string& bytes);
// Whether the image the reader is about to decode stays within kMaxImagePixels a frame: its header
// says a size within it, or (for a format that does not tell) Qt's allocation limit, which this sets
// to the same bound, stops the decode.
bool ImageSizeAllowed(QImageReader& reader);

// Milliseconds since the toolkit's first event: the timestamp of control events and notifications.
DWORD EventTimestamp();

// Runs a function from the UI loop soon (used for async notifications and deferred deletions).
void PostToUi(std::function<void()> fn);

} // namespace UiLib
