#pragma once

// CDialogFrameWnd: the frame every skinned dialog shares. A dialog derives from it, names its
// window class and layout, looks up its controls in InitWindow and acts on notifications in
// Notify; the frame does the rest:
//
//  - WM_CREATE: adds WS_CLIPSIBLINGS | WS_CLIPCHILDREN, builds the layout with the dialog as
//    builder callback (answering -1, so Create fails, when the layout cannot be built), attaches
//    it, registers the dialog as listener, centres the window and calls InitWindow.
//  - WM_SIZE: unless minimised, the window's outline becomes a rounded rectangle (0, 0, width + 1,
//    height + 1) with the layout's round corners; a minimised window keeps its outline.
//  - WM_NCHITTEST: inside the layout's caption band the window drags (HTCAPTION), except over
//    controls of the classes IsCaptionClientClass names ("ButtonUI", "OptionUI", "TextUI") or
//    where no control is; elsewhere HTCLIENT. Windows with a size box (EnableSizeBox) answer the
//    border codes along their edges first, unless maximised.
//  - WM_GETMINMAXINFO: maximised, the window covers its screen's work area.
//  - WM_NCACTIVATE: answers TRUE when deactivated; WM_NCCALCSIZE and WM_NCPAINT answer 0.
//  - WM_SYSCOMMAND with SC_CLOSE sends WM_CLOSE.
//  - Everything else: HandleCustomMessage, then the paint manager, then CWindowWnd's default.
//  - A "click" on "Btn_Close" closes the dialog with IDCLOSE unless Notify is overridden.

#include <string>
#include <string_view>

#include "ui/DialogBuilder.h"
#include "ui/Notify.h"
#include "ui/PaintManager.h"
#include "ui/WindowWnd.h"

namespace UiLib {

class CDialogFrameWnd : public CWindowWnd, public INotifyUI, public IDialogBuilderCallback {
public:
    CDialogFrameWnd();
    ~CDialogFrameWnd() override;

    // The layout of the dialog (a skin path such as "skin\xmls\X.xml", or XML text).
    virtual CDuiString GetSkinFile() const = 0;
    // Called at the end of WM_CREATE: find the named controls here.
    virtual void InitWindow() {}
    void Notify(TNotifyUI& msg) override;
    CControlUI* CreateControl(LPCTSTR pstrClass) override;
    // Messages the dialog handles itself before the frame; set handled to stop them there.
    virtual LRESULT HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& handled);

    CPaintManagerUI& GetPaintManager() { return m_pm; }
    // Creates the dialog owned by `owner` with the dialog style, centres it and runs it modally.
    int DoModal(HWND owner, const CDuiString& caption, DWORD style = UI_WNDSTYLE_DIALOG,
                DWORD exStyle = WS_EX_WINDOWEDGE);

protected:
    LRESULT HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) override;
    virtual LRESULT OnCreate();
    virtual LRESULT OnNcHitTest(LPARAM lParam);
    // Classes that stay clickable inside the caption band.
    virtual bool IsCaptionClientClass(std::u16string_view className) const;
    // Lets the layout's size box resize the window.
    void EnableSizeBox(bool enable) { m_bSizeBox = enable; }
    // Esc acts as a click on the named control (a cancel or close button) while it is visible and
    // enabled; by default Esc does nothing. HandleCustomMessage sees the key first.
    void SetEscapeButton(std::u16string_view name) { m_escapeButton = name; }

    CPaintManagerUI m_pm;

private:
    bool m_bSizeBox = false;
    std::u16string m_escapeButton;
};

} // namespace UiLib
