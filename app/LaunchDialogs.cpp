#include "app/LaunchDialogs.h"

#include "emulator/HandleTypeFrame.h"
#include "emulator/MultiDiscSelectFrame.h"
#include "platform/Trace.h"
#include "ui/MessageBox.h"
#include "ui/WindowWnd.h"

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

void CLaunchDialogs::PostNotice(platform::HWND owner, const std::string& text, const std::string& caption)
{
    const bool queued = UiLib::PostToUiThread([owner, text, caption] {
        UiLib::MessageBox(UiLib::IsWindow(owner) ? owner : nullptr, UiLib::CDuiString::FromUtf8(text),
                          UiLib::CDuiString::FromUtf8(caption), UiLib::MB_OK);
    });
    if (!queued)
        platform::TraceF("launch: notice not shown, the UI has ended: %s", text.c_str());
}
