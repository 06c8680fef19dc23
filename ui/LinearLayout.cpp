#include "ui/LinearLayout.h"

#include <algorithm>

namespace UiLib {

namespace {

// Reads sizes and rectangles along ("main") and across ("cross") one axis.
struct AxisView {
    bool horizontal;

    int Main(SIZE s) const { return horizontal ? s.cx : s.cy; }
    int Cross(SIZE s) const { return horizontal ? s.cy : s.cx; }
    int MainBefore(const RECT& r) const { return horizontal ? r.left : r.top; }
    int MainAfter(const RECT& r) const { return horizontal ? r.right : r.bottom; }
    int CrossBefore(const RECT& r) const { return horizontal ? r.top : r.left; }
    int CrossAfter(const RECT& r) const { return horizontal ? r.bottom : r.right; }
    RECT Make(int mainStart, int mainEnd, int crossStart, int crossEnd) const
    {
        return horizontal ? RECT{mainStart, crossStart, mainEnd, crossEnd}
                          : RECT{crossStart, mainStart, crossEnd, mainEnd};
    }
};

int ClampTo(int value, int minimum, int maximum)
{
    return std::clamp(value, minimum, std::max(minimum, maximum));
}

} // namespace

CLinearLayoutUI::CLinearLayoutUI(Axis axis) : m_axis(axis) {}

LPCTSTR CLinearLayoutUI::GetClass() const
{
    return u"LinearLayoutUI";
}

void* CLinearLayoutUI::GetInterface(std::u16string_view name)
{
    if (name == u"LinearLayout")
        return this;
    return CContainerUI::GetInterface(name);
}

SIZE CLinearLayoutUI::EstimateSize(SIZE)
{
    return m_cxyFixed;
}

void CLinearLayoutUI::SetPos(RECT rc, bool needInvalidate)
{
    CControlUI::SetPos(rc, needInvalidate);
    const AxisView ax{m_axis == Axis::Horizontal};
    RECT content = ContentRect();
    SIZE available{content.Width(), content.Height()};
    const int availableMain = ax.Main(available);
    const int availableCross = ax.Cross(available);

    // First pass: what the fixed children and the gaps take along the axis.
    int adjustables = 0;
    int fixedTotal = 0;
    int visibleCount = 0;
    for (CControlUI* item : m_items) {
        if (!item->IsVisible() || item->IsFloat())
            continue;
        ++visibleCount;
        SIZE sz = item->EstimateSize(available);
        RECT pad = item->GetPadding();
        if (ax.Main(sz) == 0)
            ++adjustables;
        else
            fixedTotal += std::clamp(ax.Main(sz), ax.Main(item->GetMinSize()), ax.Main(item->GetMaxSize()));
        fixedTotal += ax.MainBefore(pad) + ax.MainAfter(pad);
    }
    if (visibleCount > 1)
        fixedTotal += (visibleCount - 1) * m_iChildPadding;
    int remaining = std::max(0, availableMain - fixedTotal);
    int share = adjustables > 0 ? remaining / adjustables : 0;
    int extra = adjustables > 0 ? remaining - share * adjustables : 0;

    // Second pass: place them, the stretching ones sharing the rest (the last takes the odd pixels).
    const int scroll = ax.Main(GetScrollPos());
    const int start = ax.MainBefore(content) - scroll;
    int at = start;
    int required = 0;
    for (CControlUI* item : m_items) {
        if (!item->IsVisible())
            continue;
        if (item->IsFloat()) {
            SetFloatPos(item);
            continue;
        }
        SIZE sz = item->EstimateSize(available);
        RECT pad = item->GetPadding();
        int length = ax.Main(sz);
        if (length == 0) {
            length = share;
            if (--adjustables == 0)
                length += extra;
        }
        length = ClampTo(length, ax.Main(item->GetMinSize()), ax.Main(item->GetMaxSize()));
        int fixedCross = ax.Cross(sz);
        int thickness =
            fixedCross > 0 ? fixedCross : availableCross - ax.CrossBefore(pad) - ax.CrossAfter(pad);
        thickness = ClampTo(thickness, ax.Cross(item->GetMinSize()), ax.Cross(item->GetMaxSize()));
        int crossStart = ax.CrossBefore(content) + ax.CrossBefore(pad);
        if (m_bCenterCross && fixedCross > 0)
            crossStart = ax.CrossBefore(content) + (availableCross - thickness) / 2;
        at += ax.MainBefore(pad);
        item->SetPos(ax.Make(at, at + length, crossStart, crossStart + thickness), false);
        at += length + ax.MainAfter(pad) + m_iChildPadding;
        required = at - start - m_iChildPadding;
    }
    if (ax.horizontal)
        ProcessScrollBar(rc, required + m_rcInset.left + m_rcInset.right, 0);
    else
        ProcessScrollBar(rc, 0, required + m_rcInset.top + m_rcInset.bottom);
}

void CLinearLayoutUI::SetAttribute(std::u16string_view name, std::u16string_view value)
{
    bool crossAlign = m_axis == Axis::Horizontal ? name == u"valign" : name == u"halign";
    if (crossAlign)
        m_bCenterCross = value == u"center" || value == u"vcenter";
    else
        CContainerUI::SetAttribute(name, value);
}

} // namespace UiLib
