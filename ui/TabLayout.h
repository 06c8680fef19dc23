#pragma once

#include "ui/Container.h"

namespace UiLib {

// Shows one child (page) at a time over the whole inner rectangle. SelectItem switches pages,
// sends "tabselect" (wParam: new index, lParam: old) and answers false for an index out of range.
class CTabLayoutUI : public CContainerUI {
public:
    LPCTSTR GetClass() const override;
    void* GetInterface(std::u16string_view name) override;

    bool Add(CControlUI* control) override;
    bool AddAt(CControlUI* control, int index) override;
    bool Remove(CControlUI* control, bool doNotDestroy = false) override;
    void RemoveAll() override;
    int GetCurSel() const { return m_iCurSel; }
    virtual bool SelectItem(int index);
    bool SelectItem(CControlUI* control);
    void SetPos(RECT rc, bool needInvalidate = true) override;
    void SetAttribute(std::u16string_view name, std::u16string_view value) override;

protected:
    int m_iCurSel = -1;
    int m_iInitSel = -1; // "selectedid" given before the pages were added
};

} // namespace UiLib
