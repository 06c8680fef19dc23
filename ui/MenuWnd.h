#pragma once

#include <functional>

#include "ui/List.h"
#include "ui/WindowWnd.h"

namespace UiLib {

// The body of a pop-up menu layout: a list of menu elements.
class CMenuUI : public CListUI {
public:
    CMenuUI();
    LPCTSTR GetClass() const override;
    void* GetInterface(std::u16string_view name) override;
};

// One entry of a menu: its name is what the menu reports when it is chosen.
class CMenuElementUI : public CListContainerElementUI {
public:
    CMenuElementUI();
    LPCTSTR GetClass() const override;
    void* GetInterface(std::u16string_view name) override;
    void PaintBkColor(HDC hDC) override;
    void PaintText(HDC hDC) override;
};

// A pop-up menu built from a layout (a Window whose control is a Menu of MenuElements). It
// opens at a point on the screen (kept on the screen), closes when it loses activation or an
// entry is chosen, and reports the chosen entry's name: by posting `commandMessage` to the owner
// with wParam = a heap CDuiString* that the owner frees (freed with the message when the owner is
// gone), and to `onChosen` if given. The menu deletes itself when it closes.
class CMenuWnd : public CWindowWnd {
public:
    static CMenuWnd* Show(HWND owner, const CDuiString& layout, POINT screenPoint, UINT commandMessage,
                          std::function<void(const CDuiString&)> onChosen = nullptr);
    LPCTSTR GetWindowClassName() const override { return u"MenuWnd"; }
    // Chooses an entry by name, as a click would (false when the menu has no such entry).
    bool Choose(const CDuiString& name);

protected:
    LRESULT HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) override;
    void OnFinalMessage(HWND hWnd) override;

private:
    CMenuWnd() = default;
    struct Impl;
    std::shared_ptr<Impl> m_menu;
};

} // namespace UiLib
