#pragma once

#include "ui/DialogFrameWnd.h"

#include <string>
#include <string_view>

namespace UiLib {
class CRichEditUI;
}

// The key map tips window: while a game runs it shows, at the right edge of the screen, which keys
// or gamepad buttons do what on the game's platform. The main window makes it once, hidden, and
// shows it for each game (ShowFor) and hides it when the game ends (HideTips). Btn_Close and the
// window system's close only minimise it; it lives until the program ends. UI thread only.
//
// The texts are files beside the program: LocalGameRes/keymap/gamepad/手柄<name>.txt and
// LocalGameRes/keymap/keyboard/键盘<name>.txt, <name> being the platform's short name (FBA for the
// arcade platform, and the MAME file also for MAMEPLUS). They are read as UTF-8 when they are
// valid UTF-8, else in the process code page.
class CKeyMapTipsFrame : public UiLib::CDialogFrameWnd {
public:
    static constexpr char16_t kSkinFile[] = u"skin\\xmls\\KeyMapTipsDialog.xml";
    // The window's styles without WS_VISIBLE: WS_CAPTION | WS_SYSMENU | WS_THICKFRAME |
    // WS_MINIMIZEBOX (with WS_VISIBLE, 0x10CE0000), on top of other windows.
    static constexpr UiLib::DWORD kStyle = 0x00CE0000;
    static constexpr UiLib::DWORD kExStyle = 0x108; // WS_EX_WINDOWEDGE | WS_EX_TOPMOST

    UiLib::CDuiString GetSkinFile() const override { return kSkinFile; }
    UiLib::LPCTSTR GetWindowClassName() const override { return u"KeyMapTipsFrame"; }
    void InitWindow() override;
    void Notify(UiLib::TNotifyUI& msg) override;
    UiLib::LRESULT HandleCustomMessage(UiLib::UINT uMsg, UiLib::WPARAM wParam, UiLib::LPARAM lParam,
                                bool& handled) override;

    // Creates the window without an owner, titled "操作提示", hidden. Returns its handle, or null
    // when the layout cannot be built. Calling it again once the window exists returns the handle.
    UiLib::HWND CreateHidden();

    // Loads the tips of `platform` (the type id as decimal text) and `controlMethod` (1 gamepad,
    // 2 keyboard) from the program folder `instancePath` (ending with '/'), shows the window (a
    // minimised one is restored) without taking the focus, and moves it to the right edge.
    void ShowFor(const std::string& instancePath, const std::string& platform, int controlMethod);
    // The same from the program folder (InstancePath).
    void ShowFor(const std::string& platform, int controlMethod);
    // Hides the window; it keeps its text until the next ShowFor.
    void HideTips();

    // The tips text now in Rd_KeyMapTis.
    UiLib::CDuiString TipsText() const;

    // The tip file for a platform and control method, relative to the program folder; empty when
    // there is none (another platform, PC included, or a method other than 1 and 2).
    static std::string TipFileName(std::string_view platform, int controlMethod);
    // The text of a tip file: its lines, each ended by a line feed (a CR before it dropped), however
    // long; UTF-8 when valid, else the process code page. A file that is missing, unreadable or
    // undecodable gives the empty text.
    static std::u16string LoadTipsText(const std::string& path);

private:
    UiLib::CRichEditUI* m_tips = nullptr;
};
