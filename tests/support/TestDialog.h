#pragma once

// A dialog for tests that records every notification it is sent, built from a layout given as text,
// with hooks for what a test needs its window to do besides.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/Control.h"
#include "ui/DialogFrameWnd.h"

namespace testsupport {

// One notification as the dialog received it. `control` is the sender itself, for comparisons
// while it lives.
struct Note {
    std::u16string type;
    std::u16string sender;
    UiLib::WPARAM wParam = 0;
    UiLib::LPARAM lParam = 0;
    UiLib::CControlUI* control = nullptr;
};

class TestDialog : public UiLib::CDialogFrameWnd {
public:
    explicit TestDialog(UiLib::CDuiString layout, UiLib::LPCTSTR className = u"TestDialogFrame")
        : m_layout(std::move(layout)), m_className(className)
    {
    }
    UiLib::CDuiString GetSkinFile() const override { return m_layout; }
    UiLib::LPCTSTR GetWindowClassName() const override { return m_className; }
    // Records the notification, then hands it to `onNotify` or, without one, to the dialog's own
    // handling (a click on Btn_Close closes).
    void Notify(UiLib::TNotifyUI& msg) override;
    // The control `factory` makes for a custom tag; null (the tag is unknown) without a factory.
    UiLib::CControlUI* CreateControl(UiLib::LPCTSTR pstrClass) override;
    UiLib::LRESULT HandleCustomMessage(UiLib::UINT uMsg, UiLib::WPARAM wParam, UiLib::LPARAM lParam,
                                       bool& handled) override;

    // Opens the dialog (not modal) and lets it lay out and paint; false when Create failed.
    bool Open(UiLib::DWORD style = UiLib::UI_WNDSTYLE_DIALOG, UiLib::DWORD exStyle = UiLib::WS_EX_WINDOWEDGE,
              UiLib::HWND owner = nullptr);
    UiLib::CControlUI* Find(std::u16string_view name) { return m_pm.FindControl(name); }
    // Clicks the middle of a named control through real input.
    void ClickOn(std::u16string_view name);
    // How many notifications of `type` (from `sender`, when one is named) arrived.
    int Count(std::u16string_view type, std::u16string_view sender = {}) const;
    // The last notification of `type`; null when none arrived.
    const Note* Last(std::u16string_view type) const;

    std::vector<Note> notes;
    std::function<void(UiLib::TNotifyUI&)> onNotify;
    std::function<bool(UiLib::UINT, UiLib::WPARAM, UiLib::LPARAM)> onMessage;
    std::function<UiLib::CControlUI*(std::u16string_view)> factory;

private:
    UiLib::CDuiString m_layout;
    UiLib::LPCTSTR m_className;
};

} // namespace testsupport
