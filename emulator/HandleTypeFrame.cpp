#include "emulator/HandleTypeFrame.h"

void CHandleTypeFrame::InitWindow()
{
    // Keys: the focus starts on 手柄, Esc closes without a choice.
    m_pm.SetFocus(m_pm.FindControl(u"Btn_GamePad"));
    SetEscapeButton(u"Btn_Close");
}

void CHandleTypeFrame::Notify(UiLib::TNotifyUI& msg)
{
    if (msg.sType != u"click" || msg.pSender == nullptr)
        return;
    const UiLib::CDuiString& name = msg.pSender->GetName();
    if (name == u"Btn_GamePad")
        return Choose(kGamePad);
    if (name == u"Btn_Keyboard")
        return Choose(kKeyboard);
    if (name == u"Btn_Close")
        return Choose(kClosed);
    // Btn_Custom is laid out hidden and has no action.
}

void CHandleTypeFrame::Choose(int choice)
{
    if (m_choice != 0)
        return; // a second click before the window is gone changes nothing
    m_choice = choice;
    Close(choice);
}

int CHandleTypeFrame::Ask(UiLib::HWND owner)
{
    CHandleTypeFrame dialog;
    dialog.DoModal(owner, u"选择控制方式");
    return dialog.Choice() != 0 ? dialog.Choice() : kClosed;
}
