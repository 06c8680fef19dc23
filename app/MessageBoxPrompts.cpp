#include "app/MessageBoxPrompts.h"

#include "ui/MessageBox.h"

bool CMessageBoxPrompts::AskYesNo(platform::HWND owner, const std::string& text, const std::string& caption)
{
    return UiLib::MessageBox(owner, UiLib::CDuiString::FromUtf8(text), UiLib::CDuiString::FromUtf8(caption),
                             UiLib::MB_YESNO) == UiLib::IDYES;
}

void CMessageBoxPrompts::Tell(platform::HWND owner, const std::string& text, const std::string& caption)
{
    UiLib::MessageBox(owner, UiLib::CDuiString::FromUtf8(text), UiLib::CDuiString::FromUtf8(caption),
                      UiLib::MB_OK);
}
