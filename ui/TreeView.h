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
    // Removing a child node takes its whole subtree out of the node and out of the tree view;
    // the subtree is deleted, or with doNotDestroy handed back to the caller whole (a root node
    // again, owning its descendants). Other controls leave the row as from any container.
    bool Remove(CControlUI* control, bool doNotDestroy = false) override;
    bool RemoveChildNode(CTreeNodeUI* node, bool doNotDestroy = false);
    // Removes and deletes every child node with its subtree; the node itself stays.
    void RemoveAllChildNodes();
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
    // Takes the subtree out of its tree view (if any): a free-standing subtree again.
    void LeaveTreeView();
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
    // Removing a node removes its whole subtree and takes it out of its parent node: no row is
    // left behind pointing at a deleted node. With doNotDestroy the subtree comes back whole.
    bool Remove(CControlUI* control, bool doNotDestroy = false) override;
    bool RemoveAt(int index, bool doNotDestroy = false) override;
    // Places a child node after the last descendant of its parent.
    bool InsertChildNode(CTreeNodeUI* node);
};

} // namespace UiLib
