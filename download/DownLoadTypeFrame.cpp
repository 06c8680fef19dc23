#include "download/DownLoadTypeFrame.h"

#include "download/DownloadSourceChooser.h"
#include "ui/Button.h"

void CDownLoadTypeFrame::InitWindow()
{
    m_baiduPan = static_cast<UiLib::CButtonUI*>(m_pm.FindControl(u"Btn_BaiduPan"));
    m_quokka = static_cast<UiLib::CButtonUI*>(m_pm.FindControl(u"Btn_Quokka"));
    m_noZip = static_cast<UiLib::CButtonUI*>(m_pm.FindControl(u"Btn_NoZip"));

    int shrink = 0;
    const std::pair<UiLib::CButtonUI*, int> buttons[] = {
        {m_baiduPan, kSourceBaiduPan}, {m_quokka, kSourceOwnServer}, {m_noZip, kSourceNoZip}};
    for (const auto& [button, bit] : buttons) {
        if ((m_offerMask & bit) != 0)
            continue;
        if (button != nullptr)
            button->SetVisible(false);
        shrink += kButtonPitch;
    }
    if (shrink > 0) {
        const UiLib::RECT rc = GetWindowRect();
        MoveWindow(rc.left, rc.top, rc.Width(), rc.Height() - shrink);
    }
    // Keys: the focus starts on the first source offered, Esc closes without a choice.
    for (const auto& [button, bit] : buttons) {
        if (button != nullptr && (m_offerMask & bit) != 0) {
            m_pm.SetFocus(button);
            break;
        }
    }
    SetEscapeButton(u"Btn_Close");
}

void CDownLoadTypeFrame::Notify(UiLib::TNotifyUI& msg)
{
    if (msg.sType != u"click" || msg.pSender == nullptr)
        return;
    const UiLib::CDuiString& name = msg.pSender->GetName();
    if (name == u"Btn_BaiduPan")
        return Choose(kSourceBaiduPan);
    if (name == u"Btn_Quokka")
        return Choose(kSourceOwnServer);
    if (name == u"Btn_NoZip")
        return Choose(kSourceNoZip);
    if (name == u"Btn_Close")
        return Choose(kSourceClosed);
}

void CDownLoadTypeFrame::Choose(int choice)
{
    if (m_choice != 0)
        return;
    m_choice = choice;
    Close(choice);
}

int CDownLoadTypeFrame::Run(UiLib::HWND owner, int offerMask)
{
    CDownLoadTypeFrame dialog(offerMask);
    dialog.DoModal(owner, u"下载方式");
    return dialog.Choice() != 0 ? dialog.Choice() : kSourceClosed;
}
