#include "ui/HorizontalLayout.h"

#include <algorithm>

namespace UiLib {

LPCTSTR CHorizontalLayoutUI::GetClass() const
{
    return u"HorizontalLayoutUI";
}

void* CHorizontalLayoutUI::GetInterface(std::u16string_view name)
{
    if (name == u"HorizontalLayout")
        return this;
    return CContainerUI::GetInterface(name);
}

SIZE CHorizontalLayoutUI::EstimateSize(SIZE)
{
    return m_cxyFixed;
}

void CHorizontalLayoutUI::SetPos(RECT rc, bool needInvalidate)
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
        if (sz.cx == 0)
            ++adjustables;
        else
            fixedTotal += std::clamp(sz.cx, item->GetMinSize().cx, item->GetMaxSize().cx);
        fixedTotal += pad.left + pad.right;
    }
    if (visibleCount > 1)
        fixedTotal += (visibleCount - 1) * m_iChildPadding;
    int remaining = std::max(0, available.cx - fixedTotal);
    int share = adjustables > 0 ? remaining / adjustables : 0;
    int extra = adjustables > 0 ? remaining - share * adjustables : 0;

    int scrollX = GetScrollPos().cx;
    int x = content.left - scrollX;
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
        int width = sz.cx;
        if (width == 0) {
            width = share;
            if (--adjustables == 0)
                width += extra;
        }
        width =
            std::clamp(width, item->GetMinSize().cx, std::max(item->GetMinSize().cx, item->GetMaxSize().cx));
        int height = sz.cy > 0 ? sz.cy : available.cy - pad.top - pad.bottom;
        height =
            std::clamp(height, item->GetMinSize().cy, std::max(item->GetMinSize().cy, item->GetMaxSize().cy));
        int top = content.top + pad.top;
        if (m_bVCenter && sz.cy > 0)
            top = content.top + (available.cy - height) / 2;
        x += pad.left;
        item->SetPos(RECT{x, top, x + width, top + height}, false);
        x += width + pad.right + m_iChildPadding;
        required = x - (content.left - scrollX) - m_iChildPadding;
    }
    ProcessScrollBar(rc, required + m_rcInset.left + m_rcInset.right, 0);
}

void CHorizontalLayoutUI::SetAttribute(std::u16string_view name, std::u16string_view value)
{
    if (name == u"valign")
        m_bVCenter = value == u"center" || value == u"vcenter";
    else
        CContainerUI::SetAttribute(name, value);
}

} // namespace UiLib
