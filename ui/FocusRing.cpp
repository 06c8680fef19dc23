#include "ui/FocusRing.h"

#include <QPainter>

#include <algorithm>

#include "ui/Container.h"
#include "ui/FocusNavigator.h"
#include "ui/private/UiPrivate.h"

namespace UiLib {

bool CFocusRing::MouseMovedTo(POINT pt)
{
    const bool moved = m_mouseKnown && (pt.x != m_mouse.x || pt.y != m_mouse.y);
    m_mouse = pt;
    m_mouseKnown = true;
    return moved;
}

RECT CFocusRing::RectFor(const CControlUI* focus) const
{
    if (!m_shown || focus == nullptr || !focus->IsVisible() || !focus->IsEnabled() || !focus->IsNavigable())
        return {};
    const RECT& rc = focus->GetPos();
    if (rc.IsEmpty())
        return {};
    const int out = CFocusNavigator::kRingOutset;
    RECT ring{rc.left - out, rc.top - out, rc.right + out, rc.bottom + out};
    // Only scrolling containers and the window cut the ring: a plain container's edge running along
    // the control (a tile's button at the tile's border) must not hide part of it.
    for (CControlUI* parent = focus->GetParent(); parent != nullptr; parent = parent->GetParent()) {
        CContainerUI* container = parent->AsContainer();
        const bool scrolls = container != nullptr &&
                             (container->GetScrollRange().cx > 0 || container->GetScrollRange().cy > 0);
        if (!scrolls && parent->GetParent() != nullptr)
            continue;
        if (!IntersectRect(ring, ring, parent->GetPos()))
            return {};
    }
    return ring;
}

RECT CFocusRing::Paint(HDC dc, const CControlUI* focus)
{
    const RECT ring = RectFor(focus);
    const RECT before = m_last;
    m_last = ring;
    if (!ring.IsEmpty() && dc != nullptr && dc->painter != nullptr) {
        QPainter* painter = dc->painter;
        painter->save();
        painter->setClipRect(ToQRect(ring), Qt::IntersectClip);
        painter->setRenderHint(QPainter::Antialiasing);
        QPen pen(ToQColor(m_color));
        pen.setWidth(kPenWidth);
        painter->setPen(pen);
        painter->setBrush(Qt::NoBrush);
        // The ring around the control itself, not its clipped part: a ring cut by a scrolling view
        // shows as open at that edge.
        const RECT& rc = focus->GetPos();
        const int out = CFocusNavigator::kRingOutset;
        const qreal half = kPenWidth / 2.0;
        QRectF shape(rc.left - out + half, rc.top - out + half, rc.Width() + 2 * out - kPenWidth,
                     rc.Height() + 2 * out - kPenWidth);
        // "borderround" gives the corner ellipse's size: its half is the control's corner radius.
        const qreal radius = std::max<qreal>(kRadius, focus->GetBorderRound().cx / 2.0 + out - half);
        painter->drawRoundedRect(shape, radius, radius);
        painter->restore();
    }
    return before == ring ? RECT{} : before;
}

} // namespace UiLib
