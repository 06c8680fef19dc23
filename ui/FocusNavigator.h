#pragma once

// CFocusNavigator: where keyboard (and pad) navigation moves a window's focus. It looks at the
// control tree as it is laid out now and keeps nothing between calls, so controls may come and go
// freely between two key presses. UI thread only, like the tree it reads.

#include <vector>

#include "ui/Control.h"

namespace UiLib {

enum class FocusMove { Left, Right, Up, Down, Next, Previous };

class CFocusNavigator {
public:
    // How far the focus ring reaches outside its control; scrolling into view keeps it visible too.
    static constexpr int kRingOutset = 5;

    explicit CFocusNavigator(CControlUI* root) : m_root(root) {}

    // The controls the focus may go to, in tree order: navigable, visible and enabled together with
    // all their ancestors, with a rectangle that some scrolling could bring into view (a container
    // that does not scroll clips its children; one that scrolls does not, along its scrolling axes).
    std::vector<CControlUI*> Candidates() const;
    bool CanFocus(const CControlUI* control) const;

    // The control a move from `from` lands on. Arrows go by screen geometry: among the candidates
    // whose centre lies past the edge of `from` in that direction, the one with the least distance
    // along it plus five times the gap across it, then the nearest centre across it, then the first in
    // tree order; null at an edge. They look first among the controls of the scrolling container
    // that holds `from` (scrolled out of view or not: moving past the last visible row scrolls),
    // then among the controls in view, then among all: a control scrolled out of its view may lie
    // anywhere on the screen, and would otherwise be taken for a neighbour of what is shown there.
    // Next and Previous go by tree order and wrap around. From null (or a control that cannot take
    // the focus) every move lands on the first candidate, Previous on the last. Null when nothing
    // can take the focus.
    CControlUI* Target(CControlUI* from, FocusMove move) const;

    // Scrolls the scrolling containers around `control`, innermost first, by the least that brings
    // into their view the container's item that holds the control (a whole tile), or the control
    // and its ring when the item does not fit (its start when the control does not fit either).
    static void ScrollIntoView(CControlUI* control);

private:
    struct Candidate {
        CControlUI* control;
        CControlUI* scroller; // the innermost scrolling container around it, or null
        bool inView;          // some of it shows now
    };
    // `reach`: where a control may lie and still be scrolled into view; `view`: what shows now.
    void Collect(CControlUI* control, RECT reach, RECT view, CControlUI* scroller,
                 std::vector<Candidate>& out) const;
    std::vector<Candidate> Gather() const;

    CControlUI* m_root;
};

} // namespace UiLib
