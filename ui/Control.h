#pragma once

// CControlUI: the base of every control. Controls are not widgets: they form a tree that a
// window's CPaintManagerUI lays out, hit-tests and paints. A control belongs to its parent
// container (or, for the root, to the paint manager) and is deleted by it.

#include <functional>
#include <string_view>

#include "ui/DuiString.h"
#include "ui/Notify.h"
#include "ui/UiTypes.h"

namespace UiLib {

class CPaintManagerUI;
class CContainerUI;

// Control flags (GetControlFlags).
constexpr UINT UIFLAG_TABSTOP = 0x01;
constexpr UINT UIFLAG_SETCURSOR = 0x02;

// Cursor shapes a control asks for while hovered.
enum class UiCursor { Arrow, Hand, IBeam };

class CControlUI {
public:
    CControlUI();
    virtual ~CControlUI();
    CControlUI(const CControlUI&) = delete;
    CControlUI& operator=(const CControlUI&) = delete;

    // Identity. GetClass answers the class name ("ControlUI", "ButtonUI", ...); GetInterface
    // answers this object for the names its class implements ("Control", "Button", ...), else null.
    virtual LPCTSTR GetClass() const;
    virtual void* GetInterface(std::u16string_view name);
    virtual UINT GetControlFlags() const;
    // The container view of this control, or null when it holds no children.
    virtual CContainerUI* AsContainer() { return nullptr; }

    const CDuiString& GetName() const { return m_sName; }
    void SetName(const CDuiString& name);
    virtual CDuiString GetText() const { return m_sText; }
    // Keeps at most kMaxControlText UTF-16 units of the text (see CapText): every control's text,
    // whoever sets it, stays short enough to lay out at once.
    virtual void SetText(const CDuiString& text);
    const CDuiString& GetToolTip() const { return m_sToolTip; }
    // Keeps at most kMaxToolTipText UTF-16 units (see CapText).
    void SetToolTip(const CDuiString& text);
    UINT_PTR GetTag() const { return m_tag; }
    void SetTag(UINT_PTR tag) { m_tag = tag; }
    const CDuiString& GetUserData() const { return m_sUserData; }
    void SetUserData(const CDuiString& data) { m_sUserData = data; }

    // Tree.
    CPaintManagerUI* GetManager() const { return m_pManager; }
    CControlUI* GetParent() const { return m_pParent; }
    // Attaches the control (and its children) to a manager; called by containers and AttachDialog.
    virtual void SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init = true);
    // Walks the subtree (this first); stops at and returns the first control for which `match` is true.
    virtual CControlUI* FindControl(const std::function<bool(CControlUI*)>& match);
    // The deepest visible control at the point (client coordinates) that takes the mouse, or null.
    virtual CControlUI* FindControlAt(POINT pt);

    // State.
    virtual bool IsVisible() const { return m_bVisible && m_bInternVisible; }
    virtual void SetVisible(bool visible = true);
    // Visibility set by a parent (a tab layout hides its other pages); not the control's own flag.
    virtual void SetInternVisible(bool visible = true);
    bool IsOwnVisible() const { return m_bVisible; }
    virtual bool IsEnabled() const { return m_bEnabled; }
    virtual void SetEnabled(bool enabled = true);
    bool IsMouseEnabled() const { return m_bMouseEnabled; }
    void SetMouseEnabled(bool enabled) { m_bMouseEnabled = enabled; }
    bool IsFocused() const { return m_bFocused; }
    virtual void SetFocus();
    bool IsFloat() const { return m_bFloat; }
    void SetFloat(bool f) { m_bFloat = f; }
    // Dropped files: a control that accepts drops (attribute "acceptdrop") is offered files
    // dragged over it or over its descendants that do not accept them themselves. A drop gives it
    // UIEVENT_DROPFILES and then a "dropfiles" notification, both with lParam = the
    // const TDropFiles* of the drop (valid during the call; wParam of the notification: the count
    // of files).
    bool IsAcceptDrop() const { return m_bAcceptDrop; }
    void SetAcceptDrop(bool accept) { m_bAcceptDrop = accept; }
    UiCursor GetCursor() const { return m_cursor; }
    void SetCursor(UiCursor cursor) { m_cursor = cursor; }
    // A click: buttons and options act, then notify. Returns false when disabled or hidden.
    virtual bool Activate();
    // Whether keyboard navigation may put the focus here, by the control's own choice: the
    // "navigable" attribute when the layout gives one, else whether it takes clicks (a button, an
    // option, a check box that the mouse reaches). Visibility, enabled state and clipping are the
    // navigator's to judge.
    bool IsNavigable() const;
    void SetNavigable(bool navigable) { m_navigable = navigable ? Navigable::Yes : Navigable::No; }

    // Geometry. GetPos is the rectangle in window client coordinates after layout.
    const RECT& GetPos() const { return m_rcItem; }
    virtual void SetPos(RECT rc, bool needInvalidate = true);
    int GetWidth() const { return m_rcItem.Width(); }
    int GetHeight() const { return m_rcItem.Height(); }
    // Fixed position of a float control, relative to its parent ("pos" attribute).
    RECT GetFixedXY() const { return m_rcFixedPos; }
    void SetFixedPos(RECT rc);
    int GetFixedWidth() const { return m_cxyFixed.cx; }
    void SetFixedWidth(int cx);
    int GetFixedHeight() const { return m_cxyFixed.cy; }
    void SetFixedHeight(int cy);
    SIZE GetMinSize() const { return m_cxyMin; }
    SIZE GetMaxSize() const { return m_cxyMax; }
    void SetMinWidth(int cx);
    void SetMinHeight(int cy);
    void SetMaxWidth(int cx);
    void SetMaxHeight(int cy);
    // Margin around the control inside its parent's layout ("padding").
    RECT GetPadding() const { return m_rcPadding; }
    void SetPadding(RECT rc);
    // The size the control wants inside `available`; 0 in a dimension means "stretch".
    virtual SIZE EstimateSize(SIZE available);

    // Appearance.
    DWORD GetBkColor() const { return m_dwBackColor; }
    void SetBkColor(DWORD color);
    const CDuiString& GetBkImage() const { return m_sBkImage; }
    void SetBkImage(const CDuiString& image);
    DWORD GetBorderColor() const { return m_dwBorderColor; }
    void SetBorderColor(DWORD color);
    int GetBorderSize() const { return m_nBorderSize; }
    void SetBorderSize(int size);
    SIZE GetBorderRound() const { return m_cxyBorderRound; }
    void SetBorderRound(SIZE round);
    DWORD GetFocusBorderColor() const { return m_dwFocusBorderColor; }

    // Sets one layout attribute; unknown names and bad values are traced and ignored.
    virtual void SetAttribute(std::u16string_view name, std::u16string_view value);
    // Applies a list written as  name="value" name2="value2"  (the Default entries of a layout).
    void ApplyAttributeList(std::u16string_view list);

    // Repainting and layout.
    void Invalidate();
    bool IsUpdateNeeded() const { return m_bUpdateNeeded; }
    // True while this control or anything inside it waits for its layout: a container whose child
    // keeps its place may then leave that child as it is.
    bool IsLayoutPending() const { return m_bUpdateNeeded || m_bInnerUpdateNeeded; }
    void NeedUpdate();
    void NeedParentUpdate();

    // Events from the paint manager. Unhandled mouse-wheel events go to the parent.
    virtual void DoEvent(TEventUI& event);
    void Event(TEventUI& event) { DoEvent(event); }
    // Called once when the control joins a managed tree.
    virtual void DoInit() {}
    virtual void DoPaint(HDC hDC, const RECT& rcPaint);
    virtual void PaintBkColor(HDC hDC);
    virtual void PaintBkImage(HDC hDC);
    virtual void PaintStatusImage(HDC hDC);
    virtual void PaintText(HDC hDC);
    virtual void PaintBorder(HDC hDC);

    // Draws an image attribute string into the control's rectangle; false when the image is missing.
    bool DrawImage(HDC hDC, const CDuiString& image, std::u16string_view modify = {});

protected:
    void SendNotify(std::u16string_view type, WPARAM wParam = 0, LPARAM lParam = 0);

    CPaintManagerUI* m_pManager = nullptr;
    CControlUI* m_pParent = nullptr;
    CDuiString m_sName;
    CDuiString m_sText;
    CDuiString m_sToolTip;
    CDuiString m_sUserData;
    UINT_PTR m_tag = 0;
    RECT m_rcItem;
    RECT m_rcPadding;
    RECT m_rcFixedPos;
    SIZE m_cxyFixed;
    SIZE m_cxyMin;
    SIZE m_cxyMax{9999, 9999};
    bool m_bVisible = true;
    bool m_bInternVisible = true;
    bool m_bEnabled = true;
    bool m_bMouseEnabled = true;
    bool m_bFocused = false;
    bool m_bFloat = false;
    bool m_bAcceptDrop = false;
    bool m_bUpdateNeeded = true;
    bool m_bInnerUpdateNeeded = true; // a control inside this one waits for its layout
    UiCursor m_cursor = UiCursor::Arrow;
    enum class Navigable : unsigned char { ByKind, Yes, No };
    Navigable m_navigable = Navigable::ByKind;
    DWORD m_dwBackColor = 0;
    DWORD m_dwBackColor2 = 0;
    DWORD m_dwBorderColor = 0;
    DWORD m_dwFocusBorderColor = 0;
    int m_nBorderSize = 0;
    SIZE m_cxyBorderRound;
    CDuiString m_sBkImage;
};

// The most text a control keeps, and the most its tip keeps, in UTF-16 units. Far more than any
// window shows; a megabyte of text from a server would otherwise hold the window for seconds on
// every layout.
constexpr size_t kMaxControlText = 64 * 1024;
constexpr size_t kMaxToolTipText = 4 * 1024;

// `text` when it has at most `maxUnits` UTF-16 units; otherwise its start, cut between two
// characters (never inside a surrogate pair), followed by "…", together `maxUnits` units at most.
CDuiString CapText(const CDuiString& text, size_t maxUnits);

// Attribute value parsers shared by the controls. They answer false for values they cannot read.
bool ParseColor(std::u16string_view value, DWORD& color);
bool ParseRect(std::u16string_view value, RECT& rc);
bool ParseSize(std::u16string_view value, SIZE& size);
bool ParseBool(std::u16string_view value);
// A decimal integer clamped to +-100000 (layout numbers), or `fallback` when there is none.
int ParseBoundedInt(std::u16string_view value, int fallback = 0);
// DT_* alignment flags from "left", "center", "right", "top", "vcenter", "bottom" words.
UINT ParseAlign(std::u16string_view value, UINT current);

} // namespace UiLib
