#pragma once

#include <vector>

#include "ui/HorizontalLayout.h"
#include "ui/VerticalLayout.h"

namespace UiLib {

class CListUI;

// A row of a list: a horizontal layout that can be selected. Pressing it selects it (with Ctrl
// in a multi-selection list it toggles); releasing the button over it sends "itemclick";
// a double click sends "itemactivate".
class CListContainerElementUI : public CHorizontalLayoutUI {
public:
    LPCTSTR GetClass() const override;
    void* GetInterface(std::u16string_view name) override;

    CListUI* GetOwner() const { return m_pOwner; }
    void SetOwner(CListUI* owner) { m_pOwner = owner; }
    int GetIndex() const { return m_iIndex; }
    void SetIndex(int index) { m_iIndex = index; }
    bool IsSelected() const { return m_bSelected; }
    // Changes the mark only; CListUI::SelectItem keeps the list's selection and notifies.
    // A change of the mark calls OnSelectChanged.
    void SetSelectedMark(bool selected);
    // Called whenever the row's selection changes, by a click, by the keyboard or by the list's
    // own calls, before the list sends "itemselect". A row that changes its height or contents
    // when selected does it here (a change of fixed height lays the list out again).
    virtual void OnSelectChanged(bool selected) { (void)selected; }
    bool IsHot() const { return m_bHot; }

    void DoEvent(TEventUI& event) override;
    void PaintBkColor(HDC hDC) override;

protected:
    CListUI* m_pOwner = nullptr;
    int m_iIndex = -1;
    bool m_bSelected = false;
    bool m_bHot = false;
};

// A row that is just a text.
class CListLabelElementUI : public CListContainerElementUI {
public:
    LPCTSTR GetClass() const override;
    void* GetInterface(std::u16string_view name) override;
    void PaintText(HDC hDC) override;
};

// A vertical, scrolling list of rows. SelectItem sends "itemselect" (wParam: new index, lParam:
// previous). With "multiselect" Ctrl-clicks add and remove rows from the selection.
// Attributes: multiselect, itemselectedbkcolor, itemhotbkcolor, itemtextcolor, itemfont.
class CListUI : public CVerticalLayoutUI {
public:
    CListUI();
    LPCTSTR GetClass() const override;
    void* GetInterface(std::u16string_view name) override;
    UINT GetControlFlags() const override;

    bool Add(CControlUI* control) override;
    bool AddAt(CControlUI* control, int index) override;
    bool Remove(CControlUI* control, bool doNotDestroy = false) override;
    bool RemoveAt(int index, bool doNotDestroy = false) override;
    void RemoveAll() override;

    int GetCurSel() const { return m_iCurSel; }
    bool SelectItem(int index, bool takeFocus = false);
    // Multi-selection: adds or removes one row; false when not a multi-selection list.
    bool SetItemSelected(int index, bool selected);
    std::vector<int> GetSelectedIndexes() const;
    void ClearSelection();
    bool IsMultiSelect() const { return m_bMultiSelect; }
    void SetMultiSelect(bool multi) { m_bMultiSelect = multi; }
    void EnsureVisible(int index);

    DWORD GetItemSelectedBkColor() const { return m_dwSelectedBkColor; }
    DWORD GetItemHotBkColor() const { return m_dwHotBkColor; }
    DWORD GetItemTextColor() const { return m_dwItemTextColor; }
    int GetItemFont() const { return m_iItemFont; }

    void DoEvent(TEventUI& event) override;
    void SetAttribute(std::u16string_view name, std::u16string_view value) override;

protected:
    void Reindex();

    int m_iCurSel = -1;
    bool m_bMultiSelect = false;
    DWORD m_dwSelectedBkColor = 0xFFDCEBFC;
    DWORD m_dwHotBkColor = 0xFFF2F6FC;
    DWORD m_dwItemTextColor = 0;
    int m_iItemFont = -1;
};

} // namespace UiLib
