#pragma once

#include <vector>

#include "ui/List.h"

namespace UiLib {

class CTreeViewUI;

// A node of a tree view: a list row that holds child nodes, indented by its depth, with an
// arrow that folds and unfolds its children (a click on the arrow, or a double click on the row).
class CTreeNodeUI : public CListContainerElementUI {
public:
    ~CTreeNodeUI() override;
    LPCTSTR GetClass() const override;
    void* GetInterface(std::u16string_view name) override;

    // Adding a CTreeNodeUI makes it a child node; other controls join the row itself.
    bool Add(CControlUI* control) override;
    bool AddChildNode(CTreeNodeUI* node);
    int GetCountChild() const { return static_cast<int>(m_children.size()); }
    CTreeNodeUI* GetChildNode(int index) const;
    CTreeNodeUI* GetParentNode() const { return m_pParentNode; }
    int GetTreeLevel() const;
    bool IsExpanded() const { return m_bExpanded; }
    void SetExpand(bool expand);
    CTreeViewUI* GetTreeView() const { return m_pTreeView; }

    void DoEvent(TEventUI& event) override;
    void PaintText(HDC hDC) override;

private:
    friend class CTreeViewUI;
    void Collect(std::vector<CTreeNodeUI*>& out);
    void UpdateChildVisibility(bool visible);
    int Indent() const { return 10 + GetTreeLevel() * 18; }

    CTreeNodeUI* m_pParentNode = nullptr;
    CTreeViewUI* m_pTreeView = nullptr;
    std::vector<CTreeNodeUI*> m_children; // owned by the tree view once the node joins one
    bool m_bExpanded = true;
};

// A list whose rows are tree nodes, shown in depth-first order.
class CTreeViewUI : public CListUI {
public:
    LPCTSTR GetClass() const override;
    void* GetInterface(std::u16string_view name) override;
    // Adds a node with all its descendants at the end.
    bool Add(CControlUI* control) override;
    // Places a child node after the last descendant of its parent.
    bool InsertChildNode(CTreeNodeUI* node);
};

} // namespace UiLib
