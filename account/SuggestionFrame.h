#pragma once

#include "ui/DialogFrameWnd.h"

#include <string>

// The feedback dialog: how to reach the project (an invitation, a contact group, an e-mail address
// and the forum link) and the program's version (the one the build gave the running program, so
// a self-updated program shows its new one). A click on the forum link opens it in the
// desktop's browser; Btn_Close ends the dialog with 8.
class CSuggestionFrame : public UiLib::CDialogFrameWnd {
public:
    static constexpr char16_t kSkinFile[] = u"skin\\xmls\\SuggestionDialog.xml";
    static constexpr int kClosed = 8;
    static constexpr UiLib::DWORD kStyle = 0x96C80000;
    static constexpr UiLib::DWORD kExStyle = 0x100;

    UiLib::CDuiString GetSkinFile() const override { return kSkinFile; }
    UiLib::LPCTSTR GetWindowClassName() const override { return u"CSuggestionFrame"; }
    void InitWindow() override;
    void Notify(UiLib::TNotifyUI& msg) override;

    // The forum link's markup around an address.
    static UiLib::CDuiString LinkMarkup(const std::string& address);
    // The address in a forum link's markup: the markup removed; empty when nothing is left or what
    // is left is not an http or https address.
    static std::string LinkAddress(const UiLib::CDuiString& markup);

    // Opens the dialog over `owner` and runs it modally; returns its result (8 after Btn_Close).
    static int Run(UiLib::HWND owner);

private:
    void OpenForum(const UiLib::CDuiString& markup);
};
