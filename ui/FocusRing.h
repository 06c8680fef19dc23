#pragma once

// CFocusRing: the ring a window paints around its focused control for keyboard and pad users, above
// everything else. It shows from the window's start and from every key press on, and the mouse hides
// it until the next key press; the focus itself stays either way. One per paint manager, UI thread.

#include "ui/Control.h"

namespace UiLib {

class CFocusRing {
public:
    // The skin's accent blue: stands out on the light pages and on the dark tiles alike.
    static constexpr DWORD kDefaultColor = 0xFF2479E4;
    // A 3 px band that leaves 2 px of the background between itself and the control, so it never
    // reads as the control's own border; its corners follow the control's rounding.
    static constexpr int kPenWidth = 3;
    static constexpr int kRadius = 5;

    DWORD GetColor() const { return m_color; }
    // A colour without alpha (as a layout might write it) is taken as opaque.
    void SetColor(DWORD color) { m_color = (color >> 24) == 0 ? (color | 0xFF000000) : color; }
    bool IsShown() const { return m_shown; }
    void SetShown(bool shown) { m_shown = shown; }
    // Notes the mouse at `pt` and answers whether it has moved since it was last noted. The first
    // position only counts as a start: a window appearing under a resting pointer gets a move
    // without anybody touching the mouse.
    bool MouseMovedTo(POINT pt);

    // Where the ring around `focus` is painted: its rectangle grown by CFocusNavigator::kRingOutset,
    // cut to the view of every scrolling container around it and to the window. Empty when no ring
    // is painted: the ring is hidden, there is no focus, or the control is not navigable, visible and
    // enabled.
    RECT RectFor(const CControlUI* focus) const;
    // Paints the ring around `focus` over what the tree painted and remembers where. Answers the
    // rectangle of the ring painted before when the ring has moved since (it is to be repainted
    // away), else an empty one.
    RECT Paint(HDC dc, const CControlUI* focus);
    const RECT& LastPainted() const { return m_last; }

private:
    DWORD m_color = kDefaultColor;
    bool m_shown = true;
    RECT m_last;
    POINT m_mouse;
    bool m_mouseKnown = false;
};

} // namespace UiLib
