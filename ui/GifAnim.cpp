#include "ui/GifAnim.h"

#include <QBuffer>

#include "platform/Trace.h"
#include "ui/PaintManager.h"
#include "ui/RenderEngine.h"
#include "ui/private/UiPrivate.h"

namespace UiLib {

struct CGifAnimUI::Movie {
    QByteArray bytes;
    std::unique_ptr<QBuffer> buffer;
    std::unique_ptr<QMovie> movie;
    CDuiString source;
};

CGifAnimUI::CGifAnimUI() : m_movie(std::make_unique<Movie>()) {}

CGifAnimUI::~CGifAnimUI() = default;

LPCTSTR CGifAnimUI::GetClass() const
{
    return u"GifAnimUI";
}

void* CGifAnimUI::GetInterface(std::u16string_view name)
{
    if (name == u"GifAnim")
        return this;
    return CControlUI::GetInterface(name);
}

bool CGifAnimUI::Load()
{
    if (m_movie->movie && m_movie->source == m_sBkImage)
        return true;
    m_movie->movie.reset();
    m_movie->buffer.reset();
    TDrawInfo info;
    if (m_pManager == nullptr || !CRenderEngine::ParseImageString(m_sBkImage.Str(), info))
        return false;
    std::string bytes;
    if (!LoadImageFile(info.sFile, bytes))
        return false;
    m_movie->bytes = QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QBuffer probe(&m_movie->bytes);
    probe.open(QIODevice::ReadOnly);
    QImageReader reader(&probe);
    if (!ImageSizeAllowed(reader))
        return false;
    // Every frame is kept once decoded: together they may hold no more pixels than a few images.
    long long frames = std::max(1, reader.imageCount());
    long long framePixels = static_cast<long long>(reader.size().width()) * reader.size().height();
    if (frames * std::max(0LL, framePixels) > 4 * CPaintManagerUI::kMaxImagePixels) {
        platform::TraceF("UiLib: animation '%s' has too many pixels", info.sFile.ToUtf8().c_str());
        return false;
    }
    m_movie->buffer = std::make_unique<QBuffer>(&m_movie->bytes);
    m_movie->buffer->open(QIODevice::ReadOnly);
    m_movie->movie = std::make_unique<QMovie>(m_movie->buffer.get());
    m_movie->movie->setCacheMode(QMovie::CacheAll);
    if (!m_movie->movie->isValid()) {
        m_movie->movie.reset();
        return false;
    }
    m_movie->movie->jumpToFrame(0);
    m_movie->source = m_sBkImage;
    return true;
}

int CGifAnimUI::GetFrameCount() const
{
    return m_movie->movie ? m_movie->movie->frameCount() : 0;
}

int CGifAnimUI::GetCurrentFrame() const
{
    return m_movie->movie ? m_movie->movie->currentFrameNumber() : -1;
}

void CGifAnimUI::ScheduleNext()
{
    if (!m_bPlaying || m_pManager == nullptr || !m_movie->movie)
        return;
    int delay = m_movie->movie->nextFrameDelay();
    m_pManager->SetTimer(this, kTimerId, static_cast<UINT>(delay > 10 ? delay : 100));
}

void CGifAnimUI::PlayGif()
{
    if (!Load() || GetFrameCount() == 1)
        return;
    m_bPlaying = true;
    ScheduleNext();
}

void CGifAnimUI::PauseGif()
{
    m_bPlaying = false;
    if (m_pManager != nullptr)
        m_pManager->KillTimer(this, kTimerId);
}

void CGifAnimUI::StopGif()
{
    PauseGif();
    if (m_movie->movie)
        m_movie->movie->jumpToFrame(0);
    Invalidate();
}

void CGifAnimUI::DoInit()
{
    if (m_bAutoPlay && IsVisible())
        PlayGif();
}

void CGifAnimUI::SetVisible(bool visible)
{
    CControlUI::SetVisible(visible);
    if (IsVisible() && m_bAutoPlay)
        PlayGif();
    else if (!IsVisible())
        PauseGif();
}

void CGifAnimUI::SetInternVisible(bool visible)
{
    CControlUI::SetInternVisible(visible);
    if (IsVisible() && m_bAutoPlay && m_pManager != nullptr)
        PlayGif();
    else if (!IsVisible())
        PauseGif();
}

void CGifAnimUI::DoEvent(TEventUI& event)
{
    if (event.Type == UIEVENT_TIMER && event.wParam == kTimerId) {
        if (m_movie->movie) {
            if (!m_movie->movie->jumpToNextFrame())
                m_movie->movie->jumpToFrame(0);
            Invalidate();
        }
        ScheduleNext();
        return;
    }
    CControlUI::DoEvent(event);
}

void CGifAnimUI::PaintBkImage(HDC hDC)
{
    if (!Load() || hDC == nullptr || hDC->painter == nullptr) {
        CControlUI::PaintBkImage(hDC);
        return;
    }
    QImage frame = m_movie->movie->currentImage();
    if (frame.isNull())
        return;
    QRect target = ToQRect(m_rcItem);
    QSize size = frame.size().scaled(target.size(), Qt::KeepAspectRatio);
    QRect placed(target.left() + (target.width() - size.width()) / 2,
                 target.top() + (target.height() - size.height()) / 2, size.width(), size.height());
    hDC->painter->drawImage(placed, frame);
}

void CGifAnimUI::SetAttribute(std::u16string_view name, std::u16string_view value)
{
    if (name == u"autoplay")
        m_bAutoPlay = ParseBool(value);
    else
        CControlUI::SetAttribute(name, value);
}

} // namespace UiLib
