#pragma once

#include "ui/Container.h"

namespace UiLib {

// Arranges children in rows of equal cells: "itemsize" (w,h) fixes the cell and the number of
// columns follows from the width; or "columns" fixes the number and cells share the width.
// Rows take the height of their tallest child when no item height is set. Scrolls vertically.
class CTileLayoutUI : public CContainerUI {
public:
    CTileLayoutUI();
    LPCTSTR GetClass() const override;
    void* GetInterface(std::u16string_view name) override;
    void SetPos(RECT rc, bool needInvalidate = true) override;
    void SetAttribute(std::u16string_view name, std::u16string_view value) override;

    SIZE GetItemSize() const { return m_szItem; }
    void SetItemSize(SIZE size);
    int GetColumns() const { return m_nColumns; }
    void SetColumns(int columns);

private:
    SIZE m_szItem;
    int m_nColumns = 1;
    bool m_bFixedColumns = false;
};

} // namespace UiLib
