#include "ui/FocusNavigator.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <functional>

#include "ui/Container.h"

namespace UiLib {

namespace {

// Far enough that no laid-out rectangle reaches it, near enough that sums of two never overflow.
constexpr int kUnbounded = INT_MAX / 4;

// How much more a step across the direction counts than one along it: enough that the next control
// in the same row beats a nearer one in the row below.
constexpr std::int64_t kAcrossWeight = 5;

bool Overlaps(const RECT& a, const RECT& b)
{
    RECT ignored;
    return IntersectRect(ignored, a, b);
}

// The distance along `move` from `from` to `to`, and whether `to` lies that way at all: its centre
// must be past the edge of `from` in the direction (a strict half-plane would miss a taller
// neighbour that overlaps the row a little).
bool AlongDistance(const RECT& from, const RECT& to, FocusMove move, std::int64_t& along)
{
    const std::int64_t centreX2 = static_cast<std::int64_t>(to.left) + to.right;
    const std::int64_t centreY2 = static_cast<std::int64_t>(to.top) + to.bottom;
    switch (move) {
    case FocusMove::Left:
        along = std::max<std::int64_t>(0, from.left - to.right);
        return centreX2 <= 2LL * from.left;
    case FocusMove::Right:
        along = std::max<std::int64_t>(0, to.left - from.right);
        return centreX2 >= 2LL * from.right;
    case FocusMove::Up:
        along = std::max<std::int64_t>(0, from.top - to.bottom);
        return centreY2 <= 2LL * from.top;
    case FocusMove::Down:
        along = std::max<std::int64_t>(0, to.top - from.bottom);
        return centreY2 >= 2LL * from.bottom;
    default:
        return false;
    }
}

// The gap between the two rectangles across the direction (0 when their spans overlap), and the
// distance of their centres across it, doubled.
void AcrossDistance(const RECT& from, const RECT& to, FocusMove move, std::int64_t& gap,
                    std::int64_t& centres2)
{
    const bool horizontal = move == FocusMove::Left || move == FocusMove::Right;
    const std::int64_t a0 = horizontal ? from.top : from.left;
    const std::int64_t a1 = horizontal ? from.bottom : from.right;
    const std::int64_t b0 = horizontal ? to.top : to.left;
    const std::int64_t b1 = horizontal ? to.bottom : to.right;
    gap = std::max<std::int64_t>({0, b0 - a1, a0 - b1});
    centres2 = std::llabs((a0 + a1) - (b0 + b1));
}

} // namespace

std::vector<CFocusNavigator::Candidate> CFocusNavigator::Gather() const
{
    std::vector<Candidate> out;
    if (m_root != nullptr)
        Collect(m_root, m_root->GetPos(), m_root->GetPos(), nullptr, out);
    return out;
}

std::vector<CControlUI*> CFocusNavigator::Candidates() const
{
    std::vector<CControlUI*> controls;
    for (const Candidate& candidate : Gather())
        controls.push_back(candidate.control);
    return controls;
}

void CFocusNavigator::Collect(CControlUI* control, RECT reach, RECT view, CControlUI* scroller,
                              std::vector<Candidate>& out) const
{
    if (!control->IsVisible() || !control->IsEnabled())
        return;
    const RECT& rc = control->GetPos();
    if (!Overlaps(rc, reach))
        return;
    if (control->IsNavigable())
        out.push_back(Candidate{control, scroller, Overlaps(rc, view)});
    CContainerUI* container = control->AsContainer();
    if (container == nullptr)
        return;
    // The children may lie within the container's own rectangle, except along an axis it scrolls,
    // where scrolling brings any of them into view.
    IntersectRect(reach, rc, reach);
    IntersectRect(view, rc, view);
    const SIZE range = container->GetScrollRange();
    if (range.cy > 0)
        reach.top = -kUnbounded, reach.bottom = kUnbounded;
    if (range.cx > 0)
        reach.left = -kUnbounded, reach.right = kUnbounded;
    if (range.cx > 0 || range.cy > 0)
        scroller = control;
    for (int i = 0; i < container->GetCount(); ++i)
        Collect(container->GetItemAt(i), reach, view, scroller, out);
}

bool CFocusNavigator::CanFocus(const CControlUI* control) const
{
    if (control == nullptr)
        return false;
    const std::vector<Candidate> all = Gather();
    return std::any_of(all.begin(), all.end(),
                       [control](const Candidate& c) { return c.control == control; });
}

CControlUI* CFocusNavigator::Target(CControlUI* from, FocusMove move) const
{
    const std::vector<Candidate> all = Gather();
    if (all.empty())
        return nullptr;
    auto at = std::find_if(all.begin(), all.end(), [from](const Candidate& c) { return c.control == from; });
    if (at == all.end())
        return move == FocusMove::Previous ? all.back().control : all.front().control;
    if (move == FocusMove::Next)
        return std::next(at) == all.end() ? all.front().control : std::next(at)->control;
    if (move == FocusMove::Previous)
        return at == all.begin() ? all.back().control : std::prev(at)->control;

    const RECT origin = from->GetPos();
    auto nearest = [&](const std::function<bool(const Candidate&)>& allowed) -> CControlUI* {
        CControlUI* best = nullptr;
        std::int64_t bestScore = 0;
        std::int64_t bestCentres = 0;
        for (const Candidate& candidate : all) {
            if (candidate.control == from || !allowed(candidate))
                continue;
            const RECT& rc = candidate.control->GetPos();
            std::int64_t along = 0;
            if (!AlongDistance(origin, rc, move, along))
                continue;
            std::int64_t gap = 0;
            std::int64_t centres2 = 0;
            AcrossDistance(origin, rc, move, gap, centres2);
            const std::int64_t score = along + kAcrossWeight * gap;
            // Strictly better only: an equal score keeps the earlier control in tree order.
            if (best == nullptr || score < bestScore || (score == bestScore && centres2 < bestCentres)) {
                best = candidate.control;
                bestScore = score;
                bestCentres = centres2;
            }
        }
        return best;
    };
    CControlUI* ownScroller = at->scroller;
    CControlUI* target = nullptr;
    if (ownScroller != nullptr)
        target = nearest([ownScroller](const Candidate& c) { return c.scroller == ownScroller; });
    if (target == nullptr)
        target = nearest([](const Candidate& c) { return c.inView; });
    if (target == nullptr)
        target = nearest([](const Candidate&) { return true; });
    return target;
}

void CFocusNavigator::ScrollIntoView(CControlUI* control)
{
    if (control == nullptr)
        return;
    for (CControlUI* parent = control->GetParent(); parent != nullptr; parent = parent->GetParent()) {
        CContainerUI* container = parent->AsContainer();
        if (container == nullptr)
            continue;
        const SIZE range = container->GetScrollRange();
        if (range.cx <= 0 && range.cy <= 0)
            continue;
        const RECT outer = parent->GetPos();
        const RECT inset = container->GetInset();
        const RECT view{outer.left + inset.left, outer.top + inset.top, outer.right - inset.right,
                        outer.bottom - inset.bottom};
        // The whole item of the container that holds the control (a tile with its picture and
        // title) when it fits the view, else the control alone. Read afresh: an inner container's
        // scrolling has moved them already.
        CControlUI* item = control;
        while (item->GetParent() != parent)
            item = item->GetParent();
        RECT rc = item->GetPos();
        if (rc.Height() > view.Height() || rc.Width() > view.Width())
            rc = control->GetPos();
        const RECT want{rc.left - kRingOutset, rc.top - kRingOutset, rc.right + kRingOutset,
                        rc.bottom + kRingOutset};
        auto delta = [](int lo, int hi, int viewLo, int viewHi) {
            if (lo < viewLo)
                return lo - viewLo;
            if (hi > viewHi)
                return std::min(hi - viewHi, lo - viewLo); // a tall control shows its start
            return 0;
        };
        SIZE pos = container->GetScrollPos();
        if (range.cy > 0)
            pos.cy += delta(want.top, want.bottom, view.top, view.bottom);
        if (range.cx > 0)
            pos.cx += delta(want.left, want.right, view.left, view.right);
        container->SetScrollPos(pos);
    }
}

} // namespace UiLib
