#include "ui/TreeView.h"

#include <QPainterPath>

#include <algorithm>

#include "ui/PaintManager.h"
#include "ui/RenderEngine.h"
#include "ui/private/UiPrivate.h"

namespace UiLib {

CTreeNodeUI::~CTreeNodeUI()
{
    if (m_pTreeView == nullptr) {
        for (CTreeNodeUI* child : m_children)
            delete child;
    }
}

LPCTSTR CTreeNodeUI::GetClass() const
{
    return u"TreeNodeUI";
}

void* CTreeNodeUI::GetInterface(std::u16string_view name)
{
    if (name == u"TreeNode")
        return this;
    return CListContainerElementUI::GetInterface(name);
}

bool CTreeNodeUI::Add(CControlUI* control)
{
    if (auto* node =
            static_cast<CTreeNodeUI*>(control != nullptr ? control->GetInterface(u"TreeNode") : nullptr))
        return AddChildNode(node);
    return CListContainerElementUI::Add(control);
}

bool CTreeNodeUI::AddChildNode(CTreeNodeUI* node)
{
    if (node == nullptr || node == this || node->m_pParentNode != nullptr)
        return false;
    node->m_pParentNode = this;
    m_children.push_back(node);
    if (m_pTreeView != nullptr) {
        m_pTreeView->InsertChildNode(node);
        node->SetVisible(m_bExpanded && IsVisible());
    }
    return true;
}

bool CTreeNodeUI::Remove(CControlUI* control, bool doNotDestroy)
{
    auto* node = static_cast<CTreeNodeUI*>(control != nullptr ? control->GetInterface(u"TreeNode") : nullptr);
    if (node != nullptr && node->m_pParentNode == this)
        return RemoveChildNode(node, doNotDestroy);
    return CListContainerElementUI::Remove(control, doNotDestroy);
}

bool CTreeNodeUI::RemoveChildNode(CTreeNodeUI* node, bool doNotDestroy)
{
    auto it = std::find(m_children.begin(), m_children.end(), node);
    if (node == nullptr || it == m_children.end())
        return false;
    m_children.erase(it);
    node->m_pParentNode = nullptr;
    node->LeaveTreeView();
    if (!doNotDestroy)
        delete node; // outside any tree view, a node deletes its descendants
    if (m_pTreeView != nullptr)
        m_pTreeView->NeedUpdate();
    return true;
}

void CTreeNodeUI::RemoveAllChildNodes()
{
    while (!m_children.empty())
        RemoveChildNode(m_children.back());
}

void CTreeNodeUI::LeaveTreeView()
{
    CTreeViewUI* view = m_pTreeView;
    if (view == nullptr)
        return;
    std::vector<CTreeNodeUI*> nodes;
    Collect(nodes);
    // Rows go last first, so the indexes of the rows still to go stay right.
    for (auto it = nodes.rbegin(); it != nodes.rend(); ++it) {
        (*it)->m_pTreeView = nullptr;
        view->CListUI::RemoveAt(view->GetItemIndex(*it), true);
    }
}

CTreeNodeUI* CTreeNodeUI::GetChildNode(int index) const
{
    if (index < 0 || index >= GetCountChild())
        return nullptr;
    return m_children[static_cast<size_t>(index)];
}

int CTreeNodeUI::GetTreeLevel() const
{
    int level = 0;
    for (CTreeNodeUI* p = m_pParentNode; p != nullptr; p = p->m_pParentNode)
        ++level;
    return level;
}

void CTreeNodeUI::Collect(std::vector<CTreeNodeUI*>& out)
{
    out.push_back(this);
    for (CTreeNodeUI* child : m_children)
        child->Collect(out);
}

void CTreeNodeUI::UpdateChildVisibility(bool visible)
{
    for (CTreeNodeUI* child : m_children) {
        child->SetVisible(visible);
        child->UpdateChildVisibility(visible && child->m_bExpanded);
    }
}

void CTreeNodeUI::SetExpand(bool expand)
{
    if (m_bExpanded == expand)
        return;
    m_bExpanded = expand;
    UpdateChildVisibility(expand && IsOwnVisible());
    Invalidate();
    if (m_pTreeView != nullptr)
        m_pTreeView->NeedUpdate();
}

void CTreeNodeUI::DoEvent(TEventUI& event)
{
    if (event.Type == UIEVENT_BUTTONDOWN && !m_children.empty() &&
        event.ptMouse.x < m_rcItem.left + Indent() + 14) {
        SetExpand(!m_bExpanded);
        return;
    }
    if (event.Type == UIEVENT_DBLCLICK && !m_children.empty()) {
        SetExpand(!m_bExpanded);
        CListContainerElementUI::DoEvent(event);
        return;
    }
    CListContainerElementUI::DoEvent(event);
}

void CTreeNodeUI::PaintText(HDC hDC)
{
    int indent = Indent();
    if (!m_children.empty() && hDC != nullptr && hDC->painter != nullptr) {
        QPainter* p = hDC->painter;
        p->save();
        p->setRenderHint(QPainter::Antialiasing);
        p->setPen(Qt::NoPen);
        p->setBrush(QColor(0x8A, 0x93, 0xA0));
        double cx = m_rcItem.left + indent + 5;
        double cy = (m_rcItem.top + m_rcItem.bottom) / 2.0;
        QPainterPath arrow;
        if (m_bExpanded) {
            arrow.moveTo(cx - 4, cy - 2);
            arrow.lineTo(cx + 4, cy - 2);
            arrow.lineTo(cx, cy + 3);
        } else {
            arrow.moveTo(cx - 2, cy - 4);
            arrow.lineTo(cx + 3, cy);
            arrow.lineTo(cx - 2, cy + 4);
        }
        arrow.closeSubpath();
        p->drawPath(arrow);
        p->restore();
    }
    if (m_sText.IsEmpty())
        return;
    RECT rc{m_rcItem.left + indent + 16, m_rcItem.top, m_rcItem.right - 6, m_rcItem.bottom};
    DWORD color = m_pOwner != nullptr && m_pOwner->GetItemTextColor() != 0 ? m_pOwner->GetItemTextColor()
                  : m_pManager != nullptr                                  ? m_pManager->GetDefaultFontColor()
                                                                           : 0xFF333333;
    CRenderEngine::DrawText(hDC, m_pManager, rc, m_sText.Str(), color,
                            m_pOwner ? m_pOwner->GetItemFont() : -1,
                            DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
}

// ------------------------------------------------------------------------------------------------

LPCTSTR CTreeViewUI::GetClass() const
{
    return u"TreeViewUI";
}

void* CTreeViewUI::GetInterface(std::u16string_view name)
{
    if (name == u"TreeView")
        return this;
    return CListUI::GetInterface(name);
}

bool CTreeViewUI::Add(CControlUI* control)
{
    auto* node = static_cast<CTreeNodeUI*>(control != nullptr ? control->GetInterface(u"TreeNode") : nullptr);
    if (node == nullptr)
        return CListUI::Add(control);
    std::vector<CTreeNodeUI*> nodes;
    node->Collect(nodes);
    for (CTreeNodeUI* n : nodes) {
        n->m_pTreeView = this;
        if (!CListUI::Add(n))
            return false;
        bool shown = true;
        for (CTreeNodeUI* p = n->m_pParentNode; p != nullptr; p = p->m_pParentNode)
            shown = shown && p->m_bExpanded;
        n->SetVisible(shown);
    }
    return true;
}

bool CTreeViewUI::Remove(CControlUI* control, bool doNotDestroy)
{
    return RemoveAt(GetItemIndex(control), doNotDestroy);
}

bool CTreeViewUI::RemoveAt(int index, bool doNotDestroy)
{
    CControlUI* control = GetItemAt(index);
    auto* node = static_cast<CTreeNodeUI*>(control != nullptr ? control->GetInterface(u"TreeNode") : nullptr);
    if (node == nullptr)
        return CListUI::RemoveAt(index, doNotDestroy);
    if (CTreeNodeUI* parent = node->m_pParentNode)
        return parent->RemoveChildNode(node, doNotDestroy);
    node->LeaveTreeView();
    if (!doNotDestroy)
        delete node;
    return true;
}

bool CTreeViewUI::InsertChildNode(CTreeNodeUI* node)
{
    CTreeNodeUI* parent = node->GetParentNode();
    if (parent == nullptr)
        return Add(node);
    // After the parent's last descendant (the node itself is already among the children).
    std::vector<CTreeNodeUI*> subtree;
    parent->Collect(subtree);
    int index = GetItemIndex(parent);
    for (CTreeNodeUI* n : subtree) {
        int i = GetItemIndex(n);
        if (i > index)
            index = i;
    }
    std::vector<CTreeNodeUI*> nodes;
    node->Collect(nodes);
    int at = index + 1;
    for (CTreeNodeUI* n : nodes) {
        n->m_pTreeView = this;
        if (!CListUI::AddAt(n, at++))
            return false;
    }
    return true;
}

} // namespace UiLib
