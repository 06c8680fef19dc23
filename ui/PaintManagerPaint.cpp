// CPaintManagerUI, painting: layout before paint, invalidation, the paint itself and the fonts
// that text is drawn with.

#include "ui/PaintManager.h"

#include <QElapsedTimer>

#include <algorithm>

#include "ui/Control.h"
#include "ui/private/UiPrivate.h"

namespace UiLib {

QFont FontFor(const CPaintManagerUI* manager, int index)
{
    static const TFontInfo kFallback{u"Noto Sans CJK SC", 13, false, false, false};
    if (manager != nullptr) {
        auto& cache = manager->GetImpl()->fonts;
        auto it = cache.find(index);
        if (it != cache.end())
            return it->second;
    }
    const TFontInfo* info = manager != nullptr ? manager->GetFontInfo(index) : &kFallback;
    QFont font;
    // The layout's face first; Noto Sans CJK SC for everything it lacks (and for Chinese text).
    QStringList families;
    if (!info->sFontName.IsEmpty())
        families << ToQString(info->sFontName.Str());
    families << QStringLiteral("Noto Sans CJK SC");
    font.setFamilies(families);
    font.setPixelSize(std::max(1, info->iSize));
    font.setBold(info->bBold);
    font.setUnderline(info->bUnderline);
    font.setItalic(info->bItalic);
    font.setHintingPreference(QFont::PreferNoHinting);
    if (manager != nullptr)
        manager->GetImpl()->fonts.emplace(index, font);
    return font;
}

// ---- painting and layout -----------------------------------------------------------------------

void CPaintManagerUI::Invalidate()
{
    if (m_impl->host)
        m_impl->host->update();
}

void CPaintManagerUI::Invalidate(const RECT& rc)
{
    if (m_impl->host && !rc.IsEmpty())
        m_impl->host->update(ToQRect(rc));
}

void CPaintManagerUI::UpdateLayout()
{
    if (m_pRoot == nullptr)
        return;
    SIZE client = GetClientSize();
    RECT rc{0, 0, client.cx, client.cy};
    if (!m_bUpdateNeeded && m_pRoot->GetPos() == rc)
        return;
    m_bUpdateNeeded = false;
    if (!rc.IsEmpty())
        m_pRoot->SetPos(rc, false);
    m_bFirstLayout = false;
}

void CPaintManagerUI::Paint()
{
    HostWidget* host = m_impl->host.data();
    if (host == nullptr || m_pRoot == nullptr)
        return;
    QPainter* painter = host->CurrentPainter();
    if (painter == nullptr)
        return;
    QElapsedTimer timer;
    timer.start();
    UpdateLayout();
    QRect clip = host->CurrentPaintRect();
    if (clip.isEmpty())
        clip = host->rect();
    RECT rcPaint = FromQRect(clip);
    if ((m_pRoot->GetBkColor() >> 24) != 0xFF)
        painter->fillRect(clip, QColor(0xFF, 0xFF, 0xFF)); // the root does not cover everything
    painter->setRenderHint(QPainter::TextAntialiasing);
    HDC__ dc{painter, this};
    m_pRoot->DoPaint(&dc, rcPaint);
    const RECT stale = m_impl->focusRing.Paint(&dc, m_pFocus);
    Invalidate(stale); // the ring has moved since it was painted there (its control scrolled)
    ++m_stats.nPaints;
    m_stats.rcLastPaint = rcPaint;
    m_stats.dLastPaintMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    if (!m_bWindowInitSent) {
        m_bWindowInitSent = true;
        SendNotify(m_pRoot, u"windowinit", 0, 0, true);
    }
}

} // namespace UiLib
