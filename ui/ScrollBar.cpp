#include "ui/ScrollBar.h"

#include <algorithm>

#include "ui/Container.h"
#include "ui/PaintManager.h"
#include "ui/RenderEngine.h"

namespace UiLib {

CScrollBarUI::CScrollBarUI()
{
    m_cxyFixed = SIZE{m_nThickness, 0};
}

LPCTSTR CScrollBarUI::GetClass() const
{
    return u"ScrollBarUI";
}

void* CScrollBarUI::GetInterface(std::u16string_view name)
{
    if (name == u"ScrollBar")
        return this;
    return CControlUI::GetInterface(name);
}

void CScrollBarUI::SetHorizontal(bool horizontal)
{
    m_bHorizontal = horizontal;
}

void CScrollBarUI::SetScrollRange(int range)
{
    m_nRange = std::max(0, range);
    if (m_nScrollPos > m_nRange)
        m_nScrollPos = m_nRange;
    Invalidate();
}

void CScrollBarUI::SetScrollPos(int pos)
{
    pos = std::clamp(pos, 0, m_nRange);
    if (pos == m_nScrollPos)
        return;
    m_nScrollPos = pos;
    Invalidate();
}

RECT CScrollBarUI::GetThumbRect() const
{
    RECT rc = m_rcItem;
    int length = m_bHorizontal ? rc.Width() : rc.Height();
    if (length <= 0)
        return {};
    int visible = length; // the owner shows as much as the bar is long
    int thumb =
        std::max(24, static_cast<int>(static_cast<long long>(length) * visible / (visible + m_nRange)));
    thumb = std::min(thumb, length);
    int travel = length - thumb;
    int offset =
        m_nRange > 0 ? static_cast<int>(static_cast<long long>(travel) * m_nScrollPos / m_nRange) : 0;
    if (m_bHorizontal)
        return RECT{rc.left + offset, rc.top, rc.left + offset + thumb, rc.bottom};
    return RECT{rc.left, rc.top + offset, rc.right, rc.top + offset + thumb};
}

void CScrollBarUI::SetPos(RECT rc, bool needInvalidate)
{
    CControlUI::SetPos(rc, needInvalidate);
}

void CScrollBarUI::DoEvent(TEventUI& event)
{
    switch (event.Type) {
    case UIEVENT_MOUSEENTER:
        m_bHot = true;
        Invalidate();
        return;
    case UIEVENT_MOUSELEAVE:
        m_bHot = false;
        Invalidate();
        return;
    case UIEVENT_BUTTONDOWN:
    case UIEVENT_DBLCLICK: {
        RECT thumb = GetThumbRect();
        if (thumb.Contains(event.ptMouse)) {
            m_bDragging = true;
            m_ptDragStart = event.ptMouse;
            m_nDragStartPos = m_nScrollPos;
            return;
        }
        if (m_pOwner == nullptr)
            return;
        if (m_bHorizontal) {
            if (event.ptMouse.x < thumb.left)
                m_pOwner->PageLeft();
            else
                m_pOwner->PageRight();
        } else if (event.ptMouse.y < thumb.top) {
            m_pOwner->PageUp();
        } else {
            m_pOwner->PageDown();
        }
        return;
    }
    case UIEVENT_MOUSEMOVE: {
        if (!m_bDragging || m_pOwner == nullptr)
            return;
        RECT thumb = GetThumbRect();
        int length = m_bHorizontal ? m_rcItem.Width() : m_rcItem.Height();
        int travel = length - (m_bHorizontal ? thumb.Width() : thumb.Height());
        if (travel <= 0)
            return;
        int moved = m_bHorizontal ? event.ptMouse.x - m_ptDragStart.x : event.ptMouse.y - m_ptDragStart.y;
        int pos = m_nDragStartPos + static_cast<int>(static_cast<long long>(moved) * m_nRange / travel);
        SIZE scroll = m_pOwner->GetScrollPos();
        if (m_bHorizontal)
            scroll.cx = pos;
        else
            scroll.cy = pos;
        m_pOwner->SetScrollPos(scroll);
        return;
    }
    case UIEVENT_BUTTONUP:
        m_bDragging = false;
        return;
    case UIEVENT_SCROLLWHEEL:
        if (m_pOwner != nullptr)
            m_pOwner->DoEvent(event);
        return;
    default:
        CControlUI::DoEvent(event);
    }
}

void CScrollBarUI::DoPaint(HDC hDC, const RECT& rcPaint)
{
    RECT clip;
    if (!IntersectRect(clip, rcPaint, m_rcItem))
        return;
    if ((m_dwTrackColor >> 24) != 0)
        CRenderEngine::DrawColor(hDC, m_rcItem, m_dwTrackColor);
    RECT thumb = GetThumbRect();
    // A slim rounded thumb, a little inset from the bar's edges.
    if (m_bHorizontal) {
        thumb.top += 2;
        thumb.bottom -= 2;
    } else {
        thumb.left += 2;
        thumb.right -= 2;
    }
    int round = m_bHorizontal ? thumb.Height() : thumb.Width();
    CRenderEngine::FillRoundRect(hDC, thumb, round, round,
                                 (m_bHot || m_bDragging) ? m_dwThumbHotColor : m_dwThumbColor);
}

void CScrollBarUI::SetAttribute(std::u16string_view name, std::u16string_view value)
{
    DWORD color;
    if (name == u"thumbcolor" && ParseColor(value, color))
        m_dwThumbColor = color;
    else if (name == u"thumbhotcolor" && ParseColor(value, color))
        m_dwThumbHotColor = color;
    else if (name == u"trackcolor" && ParseColor(value, color))
        m_dwTrackColor = color;
    else if (name == u"thickness" || name == u"width")
        m_nThickness = std::max(4, ParseBoundedInt(value, 10));
    else
        CControlUI::SetAttribute(name, value);
}

} // namespace UiLib
