#include "account/SecurityCodeAsker.h"

#include "account/SecurityCodeFrame.h"
#include "ui/WindowWnd.h"

#include <memory>

int CSecurityCodeAsker::AskSecurityCode(platform::HWND owner, const std::string& picturePath,
                                        const std::string& notice, std::string& code)
{
    // The dialog writes into a shared slot, so an answer that comes after the worker stopped
    // waiting (the toolkit ended) writes nowhere it should not.
    auto answer = std::make_shared<std::string>();
    const int result = UiLib::RunOnUiThread(
        [owner, picturePath, notice, answer] {
            return CSecurityCodeFrame::Run(owner, picturePath, notice, *answer);
        },
        kSecurityCodeClosed);
    if (result == kSecurityCodeEntered)
        code = *answer;
    return result;
}
