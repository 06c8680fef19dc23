#include "account/SecurityCodeFrame.h"

#include "account/SecurityCodePrompt.h"
#include "foundation/StringConv.h"
#include "ui/Edit.h"
#include "ui/Label.h"

#include <stdexcept>

namespace {

// The notice stands out from the grey request it replaces.
constexpr UiLib::DWORD kNoticeColor = 0xFFE0443C;

} // namespace

void CSecurityCodeFrame::InitWindow()
{
    m_image = m_pm.FindControl(u"Ctr_ImgCode");
    m_edit = static_cast<UiLib::CEditUI*>(m_pm.FindControl(u"Ed_Code"));
    if (m_image != nullptr) {
        try {
            m_image->SetBkImage(UiLib::CDuiString(AnsiToUtf16(m_picturePath)));
        } catch (const std::exception&) {
            // A path that does not convert shows no picture; the user can still close the dialog.
        }
    }
    auto* prompt = static_cast<UiLib::CLabelUI*>(m_pm.FindControl(u"Lbl_Prompt"));
    if (prompt != nullptr && !m_notice.empty()) {
        try {
            prompt->SetText(UiLib::CDuiString(AnsiToUtf16(m_notice)));
            prompt->SetTextColor(kNoticeColor);
        } catch (const std::exception&) {
            // A notice that does not convert leaves the usual request in place.
        }
    }
    if (m_edit != nullptr)
        m_edit->SetFocus();
}

void CSecurityCodeFrame::Notify(UiLib::TNotifyUI& msg)
{
    if (msg.pSender == nullptr)
        return;
    const UiLib::CDuiString& name = msg.pSender->GetName();
    if (msg.sType == u"return")
        return Accept();
    if (msg.sType != u"click")
        return;
    if (name == u"Btn_Ok")
        return Accept();
    if (name == u"Btn_Close")
        return End(kSecurityCodeClosed);
}

void CSecurityCodeFrame::Accept()
{
    if (m_edit == nullptr)
        return;
    const UiLib::CDuiString text = m_edit->GetText();
    if (text.GetLength() != kCodeLength)
        return;
    try {
        m_code = Utf16ToOem(text.Str());
    } catch (const std::exception&) {
        return;
    }
    End(kSecurityCodeEntered);
}

void CSecurityCodeFrame::End(int result)
{
    if (m_result != 0)
        return;
    m_result = result;
    Close(result);
}

int CSecurityCodeFrame::Run(UiLib::HWND owner, const std::string& picturePath, const std::string& notice,
                            std::string& code)
{
    CSecurityCodeFrame dialog(picturePath, notice);
    dialog.DoModal(owner, u"验证码");
    if (dialog.Result() != kSecurityCodeEntered)
        return kSecurityCodeClosed;
    code = dialog.Code();
    return kSecurityCodeEntered;
}
