#pragma once

#include "ui/DialogFrameWnd.h"

// The disc dialog of a multi-disc game: one button per disc found ("盘 A" to "盘 D"). The modal
// result is the index of the disc clicked (0 to 3) or -1 when it was closed with Btn_Close. When
// the window is first shown it hides the buttons beyond the number of discs and becomes 46, 87 or
// 128 pixels shorter (three, two, one disc), then centres itself; with no disc it closes at once
// with -1. UI thread only.
class CMultiDiscSelectFrame : public UiLib::CDialogFrameWnd {
public:
    static constexpr char16_t kSkinFile[] = u"skin\\xmls\\MultiDiscDialog.xml";
    static constexpr int kMaxDiscs = 4;
    static constexpr int kClosed = -1;

    // A number of discs above four shows four buttons; below zero counts as none.
    explicit CMultiDiscSelectFrame(int discs) : m_discs(discs) {}

    UiLib::CDuiString GetSkinFile() const override { return kSkinFile; }
    UiLib::LPCTSTR GetWindowClassName() const override { return u"MultiDiscSelectFrame"; }
    void Notify(UiLib::TNotifyUI& msg) override;

    // The height the window loses for `discs` discs (0 for four or more).
    static int ShrinkFor(int discs);

    // The disc index once a button has ended the dialog, -1 for Btn_Close or no disc; -2 before,
    // and for a dialog ended from outside.
    int Choice() const { return m_choice; }

    // Runs the dialog modally over `owner` with the title "多盘选择". Returns the chosen disc (0 to
    // discs - 1) or -1 (closed, no disc, ended from outside, or it could not be created).
    static int Ask(UiLib::HWND owner, int discs);

private:
    static constexpr int kNoChoice = -2;

    void OnWindowInit();
    void Choose(int choice);

    int m_discs = 0;
    int m_choice = kNoChoice;
};
