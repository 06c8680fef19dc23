#pragma once

#include "ui/DialogFrameWnd.h"

#include <string>

namespace UiLib {
class CEditUI;
} // namespace UiLib

// The rename dialog of a local game: Ed_GameName starts with the current name, selected. Btn_Ok or
// Enter in the edit ends it with 1 and the new name (an empty edit ends it with 2); Btn_Cancel and
// Btn_Close end it with 2. A name the library cannot store (a control character, a character the
// process code page cannot hold, or more than kMaxNameBytes bytes in that code page) is refused
// with a message box and the dialog stays open. UI thread only.
class CReNameFrame : public UiLib::CDialogFrameWnd {
public:
    static constexpr char16_t kSkinFile[] = u"skin\\xmls\\ReNameDialog.xml";
    static constexpr int kRenamed = 1;
    static constexpr int kCancelled = 2;
    static constexpr size_t kMaxNameBytes = 255;

    // `currentName` in the process code page; text it cannot convert shows as replacement marks.
    explicit CReNameFrame(std::string currentName) : m_currentName(std::move(currentName)) {}

    UiLib::CDuiString GetSkinFile() const override { return kSkinFile; }
    UiLib::LPCTSTR GetWindowClassName() const override { return u"ReNameFrame"; }
    void InitWindow() override;
    void Notify(UiLib::TNotifyUI& msg) override;

    // The accepted name in the process code page; empty unless the dialog ended with 1.
    const std::string& NewName() const { return m_newName; }
    // kRenamed or kCancelled once ended by its buttons or Enter; 0 while open or ended otherwise.
    int Result() const { return m_result; }

    // Runs the dialog modally over `owner` with the title "游戏重命名". Returns kRenamed with
    // `newName` set, or kCancelled (also when the dialog was closed any other way).
    static int Run(UiLib::HWND owner, const std::string& currentName, std::string& newName);

    // Why a name cannot be stored: the message box text, or empty when it can. On success `ansi`
    // holds the name in the process code page.
    static std::u16string CheckName(std::u16string_view name, std::string& ansi);

private:
    void Accept();
    void End(int result);

    std::string m_currentName;
    std::string m_newName;
    int m_result = 0;
    UiLib::CEditUI* m_edit = nullptr;
};
