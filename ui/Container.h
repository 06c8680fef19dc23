#pragma once

// CContainerUI: a control holding an ordered list of children that it owns and deletes. The
// plain container gives every child its whole inner rectangle (less the inset); the layouts
// (vertical, horizontal, tile, tab) arrange them. Containers can scroll: with a vertical or
// horizontal scroll bar enabled, content larger than the container scrolls by wheel, by the
// bar, or by SetScrollPos. The wheel scrolls vertically; it scrolls horizontally with Shift held
// (or a horizontal wheel), and always on a container that can only scroll horizontally.

#include <memory>
#include <vector>

#include "ui/Control.h"

namespace UiLib {

class CScrollBarUI;

class CContainerUI : public CControlUI {
public:
    CContainerUI();
    ~CContainerUI() override;

    LPCTSTR GetClass() const override;
    void* GetInterface(std::u16string_view name) override;
    CContainerUI* AsContainer() override { return this; }

    // Children. Add, AddAt and Remove take and give up ownership; Remove deletes the child
    // unless doNotDestroy is set (then the caller owns it again). Indexes out of range fail.
    CControlUI* GetItemAt(int index) const;
    int GetItemIndex(CControlUI* control) const;
    bool SetItemIndex(CControlUI* control, int index);
    int GetCount() const { return static_cast<int>(m_items.size()); }
    virtual bool Add(CControlUI* control);
    virtual bool AddAt(CControlUI* control, int index);
    virtual bool Remove(CControlUI* control, bool doNotDestroy = false);
    virtual bool RemoveAt(int index, bool doNotDestroy = false);
    virtual void RemoveAll();
    // The first descendant with this name, or null.
    CControlUI* FindSubControl(std::u16string_view name);

    RECT GetInset() const { return m_rcInset; }
    void SetInset(RECT rc);
    int GetChildPadding() const { return m_iChildPadding; }
    void SetChildPadding(int padding);
    // Whether the children take the mouse ("mousechild"); false makes the container one target.
    void SetMouseChildEnabled(bool enabled) { m_bMouseChildEnabled = enabled; }
    bool IsMouseChildEnabled() const { return m_bMouseChildEnabled; }

    // Scrolling.
    void EnableScrollBar(bool vertical = true, bool horizontal = false);
    CScrollBarUI* GetVerticalScrollBar() const { return m_pVerticalScrollBar.get(); }
    CScrollBarUI* GetHorizontalScrollBar() const { return m_pHorizontalScrollBar.get(); }
    SIZE GetScrollPos() const;
    SIZE GetScrollRange() const;
    virtual void SetScrollPos(SIZE pos);
    int GetScrollStepSize() const { return m_nScrollStepSize; }
    void SetScrollStepSize(int step) { m_nScrollStepSize = std::max(1, step); }
    void LineUp();
    void LineDown();
    void PageUp();
    void PageDown();
    void HomeUp();
    void EndDown();
    // The same along the horizontal axis: a line is the scroll step, a page the content width
    // less a step.
    void LineLeft();
    void LineRight();
    void PageLeft();
    void PageRight();
    void HomeLeft();
    void EndRight();

    void SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init = true) override;
    CControlUI* FindControl(const std::function<bool(CControlUI*)>& match) override;
    CControlUI* FindControlAt(POINT pt) override;
    void SetVisible(bool visible = true) override;
    void SetInternVisible(bool visible = true) override;
    void SetEnabled(bool enabled = true) override;
    void SetPos(RECT rc, bool needInvalidate = true) override;
    void DoEvent(TEventUI& event) override;
    void DoPaint(HDC hDC, const RECT& rcPaint) override;
    void SetAttribute(std::u16string_view name, std::u16string_view value) override;

protected:
    // The rectangle left for children: the item rectangle less inset and visible scroll bars.
    RECT ContentRect() const;
    // Places float children relative to this container.
    void SetFloatPos(CControlUI* child);
    // Shows or hides the scroll bars for content of the given size and places them.
    void ProcessScrollBar(RECT rc, int cxRequired, int cyRequired);

    std::vector<CControlUI*> m_items;
    RECT m_rcInset;
    int m_iChildPadding = 0;
    bool m_bMouseChildEnabled = true;
    bool m_bScrollProcess = false;
    int m_nScrollStepSize = 40;
    std::unique_ptr<CScrollBarUI> m_pVerticalScrollBar;
    std::unique_ptr<CScrollBarUI> m_pHorizontalScrollBar;
};

} // namespace UiLib
