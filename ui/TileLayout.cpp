#include "ui/TileLayout.h"

#include <algorithm>

#include "ui/ScrollBar.h"

namespace UiLib {

CTileLayoutUI::CTileLayoutUI() = default;

LPCTSTR CTileLayoutUI::GetClass() const
{
    return u"TileLayoutUI";
}

void* CTileLayoutUI::GetInterface(std::u16string_view name)
{
    if (name == u"TileLayout")
        return this;
    return CContainerUI::GetInterface(name);
}

void CTileLayoutUI::SetItemSize(SIZE size)
{
    m_szItem = size;
    NeedUpdate();
}

void CTileLayoutUI::SetColumns(int columns)
{
    if (columns <= 0)
        return;
    m_nColumns = columns;
    m_bFixedColumns = true;
    NeedUpdate();
}

void CTileLayoutUI::SetPos(RECT rc, bool needInvalidate)
{
    CControlUI::SetPos(rc, needInvalidate);
    RECT content = ContentRect();
    int width = content.Width();
    int columns = m_nColumns;
    if (!m_bFixedColumns && m_szItem.cx > 0)
        columns = std::max(1, (width + m_iChildPadding) / std::max(1, m_szItem.cx + m_iChildPadding));
    columns = std::max(1, columns);
    m_nColumns = m_bFixedColumns ? m_nColumns : columns;
    int cellWidth = m_szItem.cx > 0 ? m_szItem.cx : (width - (columns - 1) * m_iChildPadding) / columns;

    int scrollY = GetScrollPos().cy;
    int y = content.top - scrollY;
    int column = 0;
    int rowHeight = 0;
    int required = 0;
    std::vector<CControlUI*> visible;
    for (CControlUI* item : m_items) {
        if (!item->IsVisible())
            continue;
        if (item->IsFloat()) {
            SetFloatPos(item);
            continue;
        }
        visible.push_back(item);
    }
    for (size_t i = 0; i < visible.size(); ++i) {
        if (column == 0) {
            // The row is as tall as its tallest child, unless the item size fixes it.
            rowHeight = m_szItem.cy;
            if (rowHeight <= 0) {
                for (size_t j = i; j < visible.size() && j < i + static_cast<size_t>(columns); ++j) {
                    SIZE sz = visible[j]->EstimateSize(SIZE{cellWidth, 0});
                    RECT pad = visible[j]->GetPadding();
                    rowHeight = std::max(rowHeight, sz.cy + pad.top + pad.bottom);
                }
            }
        }
        CControlUI* item = visible[i];
        RECT pad = item->GetPadding();
        int x = content.left + column * (cellWidth + m_iChildPadding);
        SIZE sz = item->EstimateSize(SIZE{cellWidth, rowHeight});
        int w =
            sz.cx > 0 ? std::min(sz.cx, cellWidth - pad.left - pad.right) : cellWidth - pad.left - pad.right;
        int h =
            sz.cy > 0 ? std::min(sz.cy, rowHeight - pad.top - pad.bottom) : rowHeight - pad.top - pad.bottom;
        // A tile that keeps its place and whose inside is laid out stays as it is: adding one game
        // to a view of thousands must not lay out every other tile again.
        const RECT place{x + pad.left, y + pad.top, x + pad.left + w, y + pad.top + h};
        if (!(item->GetPos() == place) || item->IsLayoutPending())
            item->SetPos(place, false);
        required = y + rowHeight - (content.top - scrollY);
        if (++column == columns) {
            column = 0;
            y += rowHeight + m_iChildPadding;
        }
    }
    ProcessScrollBar(rc, 0, required + m_rcInset.top + m_rcInset.bottom);
}

void CTileLayoutUI::SetAttribute(std::u16string_view name, std::u16string_view value)
{
    if (name == u"itemsize") {
        SIZE size;
        if (ParseSize(value, size))
            SetItemSize(size);
    } else if (name == u"columns") {
        SetColumns(ParseBoundedInt(value, 1));
    } else {
        CContainerUI::SetAttribute(name, value);
    }
}

} // namespace UiLib
