#pragma once

#include "ui/DialogFrameWnd.h"

namespace UiLib {
class CButtonUI;
}

// The download source dialog: the user picks where a new download comes from. It shows one button
// per offered source (mask bits 1 share link, 4 own server, 8 no zip), and the window is 41 pixels
// shorter for each button it hides. The modal result is the source clicked (1, 4 or 8) or 2 when it
// was closed with Btn_Close. UI thread only; a worker reaches it through CDownLoadTypeChooser.
class CDownLoadTypeFrame : public UiLib::CDialogFrameWnd {
public:
    static constexpr char16_t kSkinFile[] = u"skin\\xmls\\DownLoadTypeDialog.xml";
    static constexpr int kButtonPitch = 41;

    explicit CDownLoadTypeFrame(int offerMask) : m_offerMask(offerMask) {}

    UiLib::CDuiString GetSkinFile() const override { return kSkinFile; }
    UiLib::LPCTSTR GetWindowClassName() const override { return u"DownLoadTypeFrame"; }
    void InitWindow() override;
    void Notify(UiLib::TNotifyUI& msg) override;

    // The source the user clicked (1, 4, 8), 2 for Btn_Close, or 0 while no button has ended the
    // dialog. A dialog ended any other way (its owner destroyed, shutdown) keeps 0, so its
    // answer cannot be mistaken for a choice.
    int Choice() const { return m_choice; }

    // Creates the dialog owned by `owner` with the title "下载方式", centres it and runs it modally.
    // Returns the choice, or 2 (closed) when it was ended without one or could not be created.
    static int Run(UiLib::HWND owner, int offerMask);

private:
    void Choose(int choice);

    int m_offerMask = 0;
    int m_choice = 0;
    UiLib::CButtonUI* m_baiduPan = nullptr;
    UiLib::CButtonUI* m_quokka = nullptr;
    UiLib::CButtonUI* m_noZip = nullptr;
};
