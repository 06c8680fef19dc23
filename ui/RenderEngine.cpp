#include "ui/RenderEngine.h"

#include <QFontMetrics>
#include <QLinearGradient>
#include <QTextLayout>

#include <algorithm>
#include <deque>
#include <vector>

#include "platform/Trace.h"
#include "ui/Control.h"
#include "ui/PaintManager.h"
#include "ui/private/UiPrivate.h"

namespace UiLib {

namespace {

// Reads  key='value'  pairs; the value may also be in double quotes.
template <class F> bool ForEachPair(std::u16string_view text, F&& onPair)
{
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() &&
               (text[i] == u' ' || text[i] == u'\t' || text[i] == u'\n' || text[i] == u'\r'))
            ++i;
        if (i >= text.size())
            break;
        size_t keyStart = i;
        while (i < text.size() && text[i] != u'=' && text[i] != u' ')
            ++i;
        std::u16string_view key = text.substr(keyStart, i - keyStart);
        while (i < text.size() && text[i] == u' ')
            ++i;
        if (i >= text.size() || text[i] != u'=')
            return false;
        ++i;
        while (i < text.size() && text[i] == u' ')
            ++i;
        if (i >= text.size() || (text[i] != u'\'' && text[i] != u'"'))
            return false;
        char16_t quote = text[i++];
        size_t valueStart = i;
        while (i < text.size() && text[i] != quote)
            ++i;
        if (i >= text.size())
            return false;
        onPair(key, text.substr(valueStart, i - valueStart));
        ++i;
    }
    return true;
}

Qt::Alignment AlignmentOf(UINT style)
{
    Qt::Alignment a;
    if (style & DT_CENTER)
        a |= Qt::AlignHCenter;
    else if (style & DT_RIGHT)
        a |= Qt::AlignRight;
    else
        a |= Qt::AlignLeft;
    if (style & DT_VCENTER)
        a |= Qt::AlignVCenter;
    else if (style & DT_BOTTOM)
        a |= Qt::AlignBottom;
    else
        a |= Qt::AlignTop;
    return a;
}

// How many UTF-16 units of a paragraph are laid out at once. Qt's line breaking measures the
// rest of a run that has no break opportunity again for every line it takes from it, so a long
// run laid out whole costs its length squared; a bounded window keeps that cost per window.
constexpr qsizetype kWrapWindow = 2048;

// Calls onLine(start, length) for each line of `paragraph` wrapped at `width` (CJK text breaks
// between characters), in order, until it returns false. Work is linear in the paragraph: it is
// laid out window by window, each window's last line (which the window's end may have cut short)
// being laid out again at the start of the next one.
template <class F> void ForEachWrappedLine(const QString& paragraph, const QFont& font, int width, F&& onLine)
{
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    qsizetype start = 0;
    qsizetype window = kWrapWindow;
    struct Found {
        qsizetype start;
        qsizetype length;
    };
    std::vector<Found> found;
    while (start < paragraph.size()) {
        qsizetype end = std::min(paragraph.size(), start + window);
        bool whole = end == paragraph.size();
        if (!whole && paragraph[end - 1].isHighSurrogate())
            --end;
        QTextLayout layout(paragraph.mid(start, end - start), font);
        layout.setTextOption(option);
        layout.beginLayout();
        found.clear();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(std::max(1, width));
            found.push_back(Found{line.textStart(), line.textLength()});
        }
        layout.endLayout();
        if (!whole && found.size() < 2) {
            window *= 2; // one line is wider than the window: a wider one holds it whole
            continue;
        }
        size_t complete = whole ? found.size() : found.size() - 1;
        for (size_t i = 0; i < complete; ++i) {
            if (!onLine(start + found[i].start, found[i].length))
                return;
        }
        if (whole)
            return;
        start += found.back().start;
    }
}

struct WrappedText {
    QString text;
    QString fontKey;
    int width = 0;
    int maxHeight = 0; // 0: every line
    bool ellipsis = false;
    QStringList lines;
    int widest = -1;      // the widest line's advance, measured when first asked
    bool complete = true; // every line of the text is here
};

// Breaks text into lines no wider than `width`; the last line that fits in `maxHeight` ends with
// an ellipsis when text remains and `ellipsis` is set.
void WrapLinesUncached(const QFont& font, WrappedText& out)
{
    QFontMetrics fm(font);
    const int width = out.width;
    qsizetype maxLines = out.maxHeight > 0 ? std::max(1, out.maxHeight / std::max(1, fm.height())) : -1;
    const QStringList paragraphs = out.text.split(QLatin1Char('\n'));
    QStringList& lines = out.lines;
    for (qsizetype p = 0; p < paragraphs.size(); ++p) {
        const QString& paragraph = paragraphs[p];
        bool any = false;
        ForEachWrappedLine(paragraph, font, width, [&](qsizetype start, qsizetype length) {
            any = true;
            lines << paragraph.mid(start, length);
            if (maxLines < 0 || lines.size() < maxLines)
                return true;
            bool more = start + length < paragraph.size() || p + 1 < paragraphs.size();
            if (!more)
                return true;
            out.complete = false;
            if (out.ellipsis) {
                // What fits on the line is at most its own text and one character a pixel more.
                QString rest = paragraph.mid(start, length + std::max(1, width)) + QStringLiteral("…");
                lines.back() = fm.elidedText(rest, Qt::ElideRight, width);
            }
            return false;
        });
        if (!out.complete)
            return;
        if (!any)
            lines << QString();
    }
}

// The last layouts made, most recent first: a repaint or a second measure of the same text at the
// same width answers from here instead of wrapping again. Only the UI thread lays text out; the
// cache is per thread all the same, so a measure made elsewhere never races with it.
constexpr size_t kWrapCacheSize = 32;

WrappedText& WrapLines(const QString& text, const QFont& font, int width, int maxHeight, bool ellipsis)
{
    thread_local std::deque<WrappedText> cache;
    QString fontKey = font.key();
    int lineHeight = std::max(1, QFontMetrics(font).height());
    for (auto it = cache.begin(); it != cache.end(); ++it) {
        if (it->width != width || it->fontKey != fontKey || it->text != text)
            continue;
        bool same = it->maxHeight == maxHeight && it->ellipsis == ellipsis;
        // A complete layout whose lines all fit the height is what the limited one would be.
        bool fits = it->complete && maxHeight > 0 && it->lines.size() <= std::max(1, maxHeight / lineHeight);
        if (!same && !fits)
            continue;
        if (it != cache.begin())
            std::rotate(cache.begin(), it, it + 1);
        return cache.front();
    }
    if (cache.size() == kWrapCacheSize)
        cache.pop_back();
    WrappedText wrapped;
    wrapped.text = text;
    wrapped.fontKey = fontKey;
    wrapped.width = width;
    wrapped.maxHeight = maxHeight;
    wrapped.ellipsis = ellipsis;
    WrapLinesUncached(font, wrapped);
    cache.push_front(std::move(wrapped));
    return cache.front();
}

// At most this many UTF-16 units of a single line are drawn per pixel of its box: no visible
// character is narrower than a quarter of a pixel, and the rest lies past the box's end anyway.
constexpr qsizetype kSingleLineUnitsPerPixel = 4;

} // namespace

bool CRenderEngine::ParseImageString(std::u16string_view image, TDrawInfo& info)
{
    info = TDrawInfo{};
    if (image.find(u'=') == std::u16string_view::npos) {
        info.sFile = CDuiString(image);
        return !image.empty();
    }
    bool ok = ForEachPair(image, [&](std::u16string_view key, std::u16string_view value) {
        if (key == u"file" || key == u"res")
            info.sFile = CDuiString(value);
        else if (key == u"dest")
            info.bHasDest = ParseRect(value, info.rcDest);
        else if (key == u"source")
            info.bHasSource = ParseRect(value, info.rcSource);
        else if (key == u"corner")
            ParseRect(value, info.rcCorner);
        else if (key == u"fade")
            info.nFade = static_cast<int>(std::clamp<long long>(ParseInt(value, 255), 0, 255));
    });
    return ok && !info.sFile.IsEmpty();
}

void CRenderEngine::DrawColor(HDC hDC, const RECT& rc, DWORD color)
{
    if (hDC == nullptr || hDC->painter == nullptr || (color >> 24) == 0)
        return;
    hDC->painter->fillRect(ToQRect(rc), ToQColor(color));
}

void CRenderEngine::DrawGradient(HDC hDC, const RECT& rc, DWORD first, DWORD second, bool vertical)
{
    if (hDC == nullptr || hDC->painter == nullptr)
        return;
    QLinearGradient gradient(rc.left, rc.top, vertical ? rc.left : rc.right, vertical ? rc.bottom : rc.top);
    gradient.setColorAt(0, ToQColor(first));
    gradient.setColorAt(1, ToQColor(second));
    hDC->painter->fillRect(ToQRect(rc), gradient);
}

void CRenderEngine::DrawRect(HDC hDC, const RECT& rc, int size, DWORD color)
{
    if (hDC == nullptr || hDC->painter == nullptr || size <= 0 || (color >> 24) == 0)
        return;
    QColor c = ToQColor(color);
    QPainter* p = hDC->painter;
    int w = rc.Width(), h = rc.Height();
    p->fillRect(rc.left, rc.top, w, std::min(size, h), c);
    p->fillRect(rc.left, rc.bottom - std::min(size, h), w, std::min(size, h), c);
    p->fillRect(rc.left, rc.top, std::min(size, w), h, c);
    p->fillRect(rc.right - std::min(size, w), rc.top, std::min(size, w), h, c);
}

void CRenderEngine::DrawRoundRect(HDC hDC, const RECT& rc, int size, int width, int height, DWORD color)
{
    if (hDC == nullptr || hDC->painter == nullptr || size <= 0 || (color >> 24) == 0)
        return;
    QPainter* p = hDC->painter;
    p->save();
    p->setRenderHint(QPainter::Antialiasing);
    p->setPen(QPen(ToQColor(color), size));
    p->setBrush(Qt::NoBrush);
    double half = size / 2.0;
    p->drawRoundedRect(QRectF(rc.left + half, rc.top + half, rc.Width() - size, rc.Height() - size),
                       width / 2.0, height / 2.0);
    p->restore();
}

void CRenderEngine::FillRoundRect(HDC hDC, const RECT& rc, int width, int height, DWORD color)
{
    if (hDC == nullptr || hDC->painter == nullptr || (color >> 24) == 0)
        return;
    QPainter* p = hDC->painter;
    p->save();
    p->setRenderHint(QPainter::Antialiasing);
    p->setPen(Qt::NoPen);
    p->setBrush(ToQColor(color));
    p->drawRoundedRect(QRectF(ToQRect(rc)), width / 2.0, height / 2.0);
    p->restore();
}

void CRenderEngine::DrawLine(HDC hDC, const RECT& rc, int size, DWORD color)
{
    if (hDC == nullptr || hDC->painter == nullptr)
        return;
    QPainter* p = hDC->painter;
    p->save();
    p->setPen(QPen(ToQColor(color), size));
    p->drawLine(rc.left, rc.top, rc.right, rc.bottom);
    p->restore();
}

void CRenderEngine::DrawText(HDC hDC, CPaintManagerUI* manager, RECT& rc, std::u16string_view text,
                             DWORD color, int font, UINT style)
{
    QFont qfont = FontFor(manager, font);
    QString qtext = ToQString(text);
    if (style & DT_CALCRECT) {
        SIZE size = GetTextSize(hDC, manager, text, font, style, (style & DT_WORDBREAK) ? rc.Width() : 0);
        rc.right = rc.left + size.cx;
        rc.bottom = rc.top + size.cy;
        return;
    }
    if (hDC == nullptr || hDC->painter == nullptr || qtext.isEmpty())
        return;
    QPainter* p = hDC->painter;
    QFont oldFont = p->font();
    QPen oldPen = p->pen();
    p->setFont(qfont);
    p->setPen(ToQColor(color));
    QRect box = ToQRect(rc);
    Qt::Alignment align = AlignmentOf(style);
    bool singleLine = (style & DT_SINGLELINE) != 0 || (style & DT_WORDBREAK) == 0;
    if (singleLine) {
        // drawText clips to the box itself.
        qsizetype shown = kSingleLineUnitsPerPixel * std::max(1, box.width()) + 64;
        bool cut = qtext.size() > shown;
        if (cut) {
            if (qtext[shown - 1].isHighSurrogate())
                --shown;
            qtext.truncate(shown);
        }
        qtext.replace(QLatin1Char('\n'), QLatin1Char(' '));
        if (style & DT_END_ELLIPSIS) {
            if (cut)
                qtext += QStringLiteral("…"); // text was left out: the line must say so
            qtext = p->fontMetrics().elidedText(qtext, Qt::ElideRight, box.width());
        }
        p->drawText(box, static_cast<int>(align | Qt::TextSingleLine), qtext);
    } else {
        p->save();
        p->setClipRect(box, Qt::IntersectClip);
        const QStringList lines =
            WrapLines(qtext, qfont, box.width(), box.height(), (style & DT_END_ELLIPSIS) != 0).lines;
        QFontMetrics fm(qfont);
        int total = static_cast<int>(lines.size()) * fm.height();
        // Lines outside the clip are skipped unshaped: a long scrolled text shows a few of them.
        QRect clip = p->clipBoundingRect().toAlignedRect();
        int y = box.top();
        if (style & DT_VCENTER)
            y = box.top() + (box.height() - total) / 2;
        else if (style & DT_BOTTOM)
            y = box.bottom() + 1 - total;
        Qt::Alignment h = align & Qt::AlignHorizontal_Mask;
        for (const QString& line : lines) {
            QRect lineBox(box.left(), y, box.width(), fm.height());
            if (lineBox.intersects(clip))
                p->drawText(lineBox, static_cast<int>(h | Qt::AlignVCenter), line);
            y += fm.height();
        }
        p->restore();
    }
    p->setFont(oldFont);
    p->setPen(oldPen);
}

SIZE CRenderEngine::GetTextSize(HDC, CPaintManagerUI* manager, std::u16string_view text, int font, UINT style,
                                int maxWidth)
{
    QFont qfont = FontFor(manager, font);
    QFontMetrics fm(qfont);
    QString qtext = ToQString(text);
    if ((style & DT_WORDBREAK) && !(style & DT_SINGLELINE) && maxWidth > 0) {
        WrappedText& wrapped = WrapLines(qtext, qfont, maxWidth, 0, false);
        if (wrapped.widest < 0) {
            wrapped.widest = 0;
            for (const QString& line : wrapped.lines)
                wrapped.widest = std::max(wrapped.widest, fm.horizontalAdvance(line));
        }
        return SIZE{wrapped.widest, static_cast<int>(wrapped.lines.size()) * fm.height()};
    }
    if (style & DT_SINGLELINE)
        qtext.replace(QLatin1Char('\n'), QLatin1Char(' '));
    QStringList lines = qtext.split(QLatin1Char('\n'));
    int width = 0;
    for (const QString& line : lines)
        width = std::max(width, fm.horizontalAdvance(line));
    return SIZE{width, static_cast<int>(lines.size()) * fm.height()};
}

int CRenderEngine::GetWrappedTextHeight(CPaintManagerUI* manager, std::u16string_view text, int font,
                                        int maxWidth)
{
    QFont qfont = FontFor(manager, font);
    const WrappedText& wrapped = WrapLines(ToQString(text), qfont, std::max(1, maxWidth), 0, false);
    return static_cast<int>(wrapped.lines.size()) * QFontMetrics(qfont).height();
}

bool CRenderEngine::DrawImageString(HDC hDC, CPaintManagerUI* manager, const RECT& rcItem,
                                    const RECT& rcPaint, std::u16string_view image,
                                    std::u16string_view modify)
{
    if (image.empty() || manager == nullptr)
        return false;
    TDrawInfo info;
    if (!ParseImageString(image, info)) {
        platform::TraceF("UiLib: unreadable image attribute '%s'", CDuiString(image).ToUtf8().c_str());
        return false;
    }
    if (!modify.empty()) {
        TDrawInfo extra;
        std::u16string withFile = std::u16string(u"file='x' ") + std::u16string(modify);
        if (ParseImageString(withFile, extra)) {
            if (extra.bHasDest) {
                info.rcDest = extra.rcDest;
                info.bHasDest = true;
            }
            if (extra.bHasSource) {
                info.rcSource = extra.rcSource;
                info.bHasSource = true;
            }
        }
    }
    const TImageInfo* data = manager->GetImage(info.sFile);
    if (data == nullptr)
        return false;
    RECT dest = rcItem;
    if (info.bHasDest) {
        dest = RECT{rcItem.left + info.rcDest.left, rcItem.top + info.rcDest.top,
                    rcItem.left + info.rcDest.right, rcItem.top + info.rcDest.bottom};
        dest.right = std::min(dest.right, rcItem.right);
        dest.bottom = std::min(dest.bottom, rcItem.bottom);
    }
    RECT clip;
    if (!IntersectRect(clip, dest, rcPaint))
        return true;
    RECT source = info.bHasSource ? info.rcSource : RECT{0, 0, data->nX, data->nY};
    DrawImage(hDC, data, dest, source, info.rcCorner, info.nFade);
    return true;
}

void CRenderEngine::DrawImage(HDC hDC, const TImageInfo* image, const RECT& dest, const RECT& source,
                              const RECT& corner, int fade)
{
    if (hDC == nullptr || hDC->painter == nullptr || image == nullptr || dest.IsEmpty())
        return;
    const auto* entry = static_cast<const ImageEntry*>(image);
    const QImage& img = entry->image;
    QPainter* p = hDC->painter;
    p->save();
    p->setRenderHint(QPainter::SmoothPixmapTransform);
    if (fade < 255)
        p->setOpacity(fade / 255.0);
    QRect src = ToQRect(source).intersected(img.rect());
    QRect dst = ToQRect(dest);
    bool nine = corner.left > 0 || corner.top > 0 || corner.right > 0 || corner.bottom > 0;
    if (!nine && src == img.rect() && dst.size() != img.size()) {
        // Scaling the whole image smoothly on every paint is the costly part of a repaint: the
        // last scaled copy is kept, and a repaint at the same size is a plain copy.
        if (entry->scaled.size() != dst.size())
            entry->scaled = img.scaled(dst.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        p->drawImage(dst.topLeft(), entry->scaled);
    } else if (!nine) {
        p->drawImage(dst, img, src);
    } else {
        // Nine parts: corners unscaled, edges stretched in one direction, the middle in both.
        int sl = corner.left, st = corner.top, sr = corner.right, sb = corner.bottom;
        int sx[4] = {src.left(), src.left() + sl, src.right() + 1 - sr, src.right() + 1};
        int sy[4] = {src.top(), src.top() + st, src.bottom() + 1 - sb, src.bottom() + 1};
        int dx[4] = {dst.left(), dst.left() + sl, dst.right() + 1 - sr, dst.right() + 1};
        int dy[4] = {dst.top(), dst.top() + st, dst.bottom() + 1 - sb, dst.bottom() + 1};
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) {
                QRect s(sx[c], sy[r], sx[c + 1] - sx[c], sy[r + 1] - sy[r]);
                QRect d(dx[c], dy[r], dx[c + 1] - dx[c], dy[r + 1] - dy[r]);
                if (s.width() > 0 && s.height() > 0 && d.width() > 0 && d.height() > 0)
                    p->drawImage(d, img, s);
            }
        }
    }
    p->restore();
}

} // namespace UiLib
