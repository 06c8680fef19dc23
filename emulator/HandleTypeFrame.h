#pragma once

#include "ui/DialogFrameWnd.h"

// The control-method dialog of a launch: 手柄 (gamepad) or 键盘 (keyboard). The modal result is 1
// for the gamepad, 2 for the keyboard and -1 when it was closed with Btn_Close. The layout also
// holds a hidden 自定义 button that nothing answers. It shares its window class name with the
// download source dialog. UI thread only.
class CHandleTypeFrame : public UiLib::CDialogFrameWnd {
public:
    static constexpr char16_t kSkinFile[] = u"skin\\xmls\\HandleTypeDialog.xml";
    static constexpr int kGamePad = 1;
    static constexpr int kKeyboard = 2;
    static constexpr int kClosed = -1;

    UiLib::CDuiString GetSkinFile() const override { return kSkinFile; }
    UiLib::LPCTSTR GetWindowClassName() const override { return u"DownLoadTypeFrame"; }
    void InitWindow() override;
    void Notify(UiLib::TNotifyUI& msg) override;

    // 1, 2 or -1 once a button has ended the dialog; 0 before, and for a dialog ended from outside
    // (its owner destroyed, the program shutting down).
    int Choice() const { return m_choice; }

    // Runs the dialog modally over `owner` with the title "选择控制方式". Returns 1 (gamepad),
    // 2 (keyboard) or -1 (closed, ended from outside, or it could not be created).
    static int Ask(UiLib::HWND owner);

private:
    void Choose(int choice);

    int m_choice = 0;
};
