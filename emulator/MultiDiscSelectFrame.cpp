#include "emulator/MultiDiscSelectFrame.h"

namespace {

constexpr const char16_t* kDiscButtons[CMultiDiscSelectFrame::kMaxDiscs] = {u"Btn_Disc1", u"Btn_Disc2",
                                                                              u"Btn_Disc3", u"Btn_Disc4"};

} // namespace

int CMultiDiscSelectFrame::ShrinkFor(int discs)
{
    switch (discs) {
    case 3:
        return 46;
    case 2:
        return 87;
    case 1:
        return 128;
    default:
        return 0;
    }
}

void CMultiDiscSelectFrame::Notify(UiLib::TNotifyUI& msg)
{
    if (msg.sType == u"windowinit")
        return OnWindowInit();
    if (msg.sType != u"click" || msg.pSender == nullptr)
        return;
    const UiLib::CDuiString& name = msg.pSender->GetName();
    if (name == u"Btn_Close")
        return Choose(kClosed);
    for (int i = 0; i < kMaxDiscs; ++i)
        if (name == kDiscButtons[i])
            return Choose(i);
}

void CMultiDiscSelectFrame::OnWindowInit()
{
    if (m_discs <= 0)
        return Choose(kClosed);
    for (int i = m_discs; i < kMaxDiscs; ++i)
        if (UiLib::CControlUI* button = m_pm.FindControl(kDiscButtons[i]))
            button->SetVisible(false);
    if (const int shrink = ShrinkFor(m_discs); shrink > 0) {
        const UiLib::RECT rc = GetClientRect();
        ResizeClient(rc.Width(), rc.Height() - shrink);
    }
    CenterWindow();
}

void CMultiDiscSelectFrame::Choose(int choice)
{
    if (m_choice != kNoChoice)
        return;
    m_choice = choice;
    Close(choice);
}

int CMultiDiscSelectFrame::Ask(UiLib::HWND owner, int discs)
{
    CMultiDiscSelectFrame dialog(discs);
    dialog.DoModal(owner, u"多盘选择");
    return dialog.Choice() >= 0 ? dialog.Choice() : kClosed;
}
