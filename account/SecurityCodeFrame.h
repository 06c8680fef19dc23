#pragma once

#include "ui/DialogFrameWnd.h"

#include <string>

namespace UiLib {
class CControlUI;
class CEditUI;
} // namespace UiLib

// The security code dialog: shows a code picture and takes the four characters the user reads in
// it. A notice given to it (that the last code was wrong) stands in Lbl_Prompt in place of the
// usual request. Btn_Ok or Enter accepts a code of exactly four characters (result 1, the code kept for
// Code()); anything else leaves the dialog open without a word. Btn_Close ends it with 8. The
// keyboard focus starts in Ed_Code. UI thread only; a worker reaches it through CSecurityCodeAsker.
class CSecurityCodeFrame : public UiLib::CDialogFrameWnd {
public:
    static constexpr char16_t kSkinFile[] = u"skin\\xmls\\SecurityCodeDialog.xml";
    static constexpr int kCodeLength = 4;

    // `picturePath` is the picture file, `notice` the text shown instead of the usual request (empty
    // for none); both in the process code page.
    explicit CSecurityCodeFrame(std::string picturePath, std::string notice = {})
        : m_picturePath(std::move(picturePath)), m_notice(std::move(notice))
    {
    }

    UiLib::CDuiString GetSkinFile() const override { return kSkinFile; }
    UiLib::LPCTSTR GetWindowClassName() const override { return u"SecurityCodeFrame"; }
    void InitWindow() override;
    void Notify(UiLib::TNotifyUI& msg) override;

    // The accepted code in the process code page; empty until the dialog ended with 1.
    const std::string& Code() const { return m_code; }
    // 1 when a code was accepted, 8 when Btn_Close ended the dialog, 0 while neither happened. A
    // dialog ended any other way (owner destroyed, shutdown) keeps 0.
    int Result() const { return m_result; }

    // Creates the dialog owned by `owner` with the title "验证码", centres it and runs it modally.
    // Returns 1 with `code` set, or 8 when it was closed, ended without a code or not created.
    static int Run(UiLib::HWND owner, const std::string& picturePath, const std::string& notice,
                   std::string& code);

private:
    void Accept();
    void End(int result);

    std::string m_picturePath;
    std::string m_notice;
    std::string m_code;
    int m_result = 0;
    UiLib::CControlUI* m_image = nullptr;
    UiLib::CEditUI* m_edit = nullptr;
};
