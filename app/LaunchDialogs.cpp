#include "app/LaunchDialogs.h"

#include "emulator/HandleTypeFrame.h"
#include "emulator/MultiDiscSelectFrame.h"
#include "ui/MessageBox.h"

int CLaunchDialogs::AskControlMethod(platform::HWND owner)
{
    return CHandleTypeFrame::Ask(owner);
}

int CLaunchDialogs::ChooseDisc(platform::HWND owner, int discCount)
{
    return CMultiDiscSelectFrame::Ask(owner, discCount);
}

void CLaunchDialogs::Tell(platform::HWND owner, const std::string& text, const std::string& caption)
{
    UiLib::MessageBox(owner, UiLib::CDuiString::FromUtf8(text), UiLib::CDuiString::FromUtf8(caption),
                      UiLib::MB_OK);
}
