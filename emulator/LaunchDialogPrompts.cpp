#include "emulator/LaunchDialogPrompts.h"

#include "emulator/HandleTypeFrame.h"
#include "emulator/MultiDiscSelectFrame.h"
#include "ui/MessageBox.h"

int CLaunchDialogPrompts::AskControlMethod(platform::HWND owner)
{
    return CHandleTypeFrame::Ask(owner);
}

int CLaunchDialogPrompts::ChooseDisc(platform::HWND owner, int discCount)
{
    return CMultiDiscSelectFrame::Ask(owner, discCount);
}

void CLaunchDialogPrompts::Tell(platform::HWND owner, const std::string& text, const std::string& caption)
{
    UiLib::MessageBox(owner, UiLib::CDuiString::FromUtf8(text), UiLib::CDuiString::FromUtf8(caption),
                      UiLib::MB_OK);
}
