#include "app/ReNameFrame.h"

#include "app/LibraryText.h"
#include "foundation/StringConv.h"
#include "ui/Edit.h"
#include "ui/MessageBox.h"

#include <stdexcept>

using namespace UiLib;

void CReNameFrame::InitWindow()
{
    m_edit = static_cast<CEditUI*>(m_pm.FindControl(u"Ed_GameName"));
    if (m_edit == nullptr)
        return;
    m_edit->SetText(DisplayText(m_currentName));
    m_edit->SetFocus(); // the editor opens with its whole text selected
}

void CReNameFrame::Notify(TNotifyUI& msg)
{
    if (msg.pSender == nullptr)
        return;
    const CDuiString& name = msg.pSender->GetName();
    if (msg.sType == u"return" && name == u"Ed_GameName")
        return Accept();
    if (msg.sType != u"click")
        return;
    if (name == u"Btn_Ok")
        return Accept();
    if (name == u"Btn_Cancel" || name == u"Btn_Close")
        return End(kCancelled);
}

std::u16string CReNameFrame::CheckName(std::u16string_view name, std::string& ansi)
{
    static const std::u16string kBadCharacters = u"游戏名称中有无法保存的字符";
    for (char16_t c : name) {
        if (c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F))
            return kBadCharacters;
    }
    try {
        ansi = CWideToNarrow(std::u16string(name).c_str()).c_str();
        // The code page writes what it cannot hold as '?': only a name that comes back the same
        // is the name the user typed.
        if (AnsiToUtf16(ansi) != name)
            return kBadCharacters;
    } catch (const std::exception&) { // CConversionException among them
        return kBadCharacters;
    }
    if (ansi.size() > kMaxNameBytes)
        return u"游戏名称过长";
    return {};
}

void CReNameFrame::Accept()
{
    if (m_edit == nullptr || m_result != 0)
        return;
    const CDuiString text = m_edit->GetText();
    if (text.IsEmpty())
        return End(kCancelled);
    std::string ansi;
    std::u16string refusal = CheckName(text.Str(), ansi);
    if (!refusal.empty()) {
        UiLib::MessageBox(m_hWnd, CDuiString(refusal), u"提示", MB_OK);
        return;
    }
    m_newName = std::move(ansi);
    End(kRenamed);
}

void CReNameFrame::End(int result)
{
    if (m_result != 0)
        return;
    m_result = result;
    Close(result);
}

int CReNameFrame::Run(HWND owner, const std::string& currentName, std::string& newName)
{
    CReNameFrame dialog(currentName);
    dialog.DoModal(owner, u"游戏重命名");
    if (dialog.Result() != kRenamed)
        return kCancelled;
    newName = dialog.NewName();
    return kRenamed;
}
