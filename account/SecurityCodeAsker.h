#pragma once

#include "account/SecurityCodePrompt.h"

// The program's security code prompt: runs the security code dialog (CSecurityCodeFrame) on the UI
// thread for the asking worker and blocks that worker until the user answers. When the toolkit ends
// first (shutdown, a lost display) the answer is kSecurityCodeClosed, so no worker waits for ever.
// Called on the UI thread itself, it runs the dialog at once.
class CSecurityCodeAsker : public ISecurityCodePrompt {
public:
    int AskSecurityCode(platform::HWND owner, const std::string& picturePath, const std::string& notice,
                        std::string& code) override;
};
