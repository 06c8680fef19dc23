#pragma once

// Shared by the UiLib tests: the toolkit started once on the offscreen platform, images drawn
// for the test skin, and a dialog that records what it is told.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/OffscreenUi.h"
#include "ui/Control.h"
#include "ui/DialogFrameWnd.h"
#include "ui/TestInput.h"

namespace uitest {

// One notification as a dialog received it.
struct Note {
    std::u16string type;
    std::u16string sender;
    UiLib::WPARAM wParam = 0;
    UiLib::LPARAM lParam = 0;
};

class TestDialog : public UiLib::CDialogFrameWnd {
public:
    explicit TestDialog(UiLib::CDuiString layout, UiLib::LPCTSTR className = u"TestDialogFrame")
        : m_layout(std::move(layout)), m_className(className)
    {
    }
    UiLib::CDuiString GetSkinFile() const override { return m_layout; }
    UiLib::LPCTSTR GetWindowClassName() const override { return m_className; }
    void Notify(UiLib::TNotifyUI& msg) override;
    UiLib::CControlUI* CreateControl(UiLib::LPCTSTR pstrClass) override;
    UiLib::LRESULT HandleCustomMessage(UiLib::UINT uMsg, UiLib::WPARAM wParam, UiLib::LPARAM lParam,
                                       bool& handled) override;

    // Opens the dialog (not modal) and lets it lay out and paint; false when Create failed.
    bool Open(UiLib::DWORD style = UiLib::UI_WNDSTYLE_DIALOG, UiLib::DWORD exStyle = UiLib::WS_EX_WINDOWEDGE,
              UiLib::HWND owner = nullptr);
    UiLib::CControlUI* Find(std::u16string_view name) { return m_pm.FindControl(name); }
    // Clicks the middle of a named control through real input.
    void ClickOn(std::u16string_view name);
    int Count(std::u16string_view type, std::u16string_view sender = {}) const;

    std::vector<Note> notes;
    std::function<void(UiLib::TNotifyUI&)> onNotify;
    std::function<bool(UiLib::UINT, UiLib::WPARAM, UiLib::LPARAM)> onMessage;
    std::function<UiLib::CControlUI*(std::u16string_view)> factory;

private:
    UiLib::CDuiString m_layout;
    UiLib::LPCTSTR m_className;
};

using testsupport::CentreOf;
// RGB of an ARGB pixel, for comparisons.
inline std::uint32_t Rgb(std::uint32_t argb)
{
    return argb & 0xFFFFFF;
}
// Whether two colours are within `tolerance` on every channel.
bool Near(std::uint32_t a, std::uint32_t b, int tolerance = 12);
// The folder with the images the tests drew (skin/ui/*.png under it).
const std::string& ImageFolder();

} // namespace uitest
