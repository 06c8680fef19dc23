#include "ui/VerticalLayout.h"

#include <algorithm>

#include "ui/ScrollBar.h"

namespace UiLib {

LPCTSTR CVerticalLayoutUI::GetClass() const
{
    return u"VerticalLayoutUI";
}

void* CVerticalLayoutUI::GetInterface(std::u16string_view name)
{
    if (name == u"VerticalLayout")
        return this;
    return CContainerUI::GetInterface(name);
}

SIZE CVerticalLayoutUI::EstimateSize(SIZE available)
{
    return m_cxyFixed;
    (void)available;
}

void CVerticalLayoutUI::SetPos(RECT rc, bool needInvalidate)
{
    CControlUI::SetPos(rc, needInvalidate);
    RECT content = ContentRect();
    SIZE available{content.Width(), content.Height()};

    int adjustables = 0;
    int fixedTotal = 0;
    int visibleCount = 0;
    for (CControlUI* item : m_items) {
        if (!item->IsVisible() || item->IsFloat())
            continue;
        ++visibleCount;
        SIZE sz = item->EstimateSize(available);
        RECT pad = item->GetPadding();
        if (sz.cy == 0)
            ++adjustables;
        else
            fixedTotal += std::clamp(sz.cy, item->GetMinSize().cy, item->GetMaxSize().cy);
        fixedTotal += pad.top + pad.bottom;
    }
    if (visibleCount > 1)
        fixedTotal += (visibleCount - 1) * m_iChildPadding;
    int remaining = std::max(0, available.cy - fixedTotal);
    int share = adjustables > 0 ? remaining / adjustables : 0;
    int extra = adjustables > 0 ? remaining - share * adjustables : 0;

    int scrollY = GetScrollPos().cy;
    int y = content.top - scrollY;
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
        int height = sz.cy;
        if (height == 0) {
            height = share;
            if (--adjustables == 0)
                height += extra;
        }
        height =
            std::clamp(height, item->GetMinSize().cy, std::max(item->GetMinSize().cy, item->GetMaxSize().cy));
        int width = sz.cx > 0 ? std::min(sz.cx, available.cx - pad.left - pad.right)
                              : available.cx - pad.left - pad.right;
        if (sz.cx > 0)
            width = sz.cx;
        width =
            std::clamp(width, item->GetMinSize().cx, std::max(item->GetMinSize().cx, item->GetMaxSize().cx));
        y += pad.top;
        item->SetPos(RECT{content.left + pad.left, y, content.left + pad.left + width, y + height}, false);
        y += height + pad.bottom + m_iChildPadding;
        required = y - (content.top - scrollY) - m_iChildPadding;
    }
    ProcessScrollBar(rc, 0, required + m_rcInset.top + m_rcInset.bottom);
}

} // namespace UiLib
