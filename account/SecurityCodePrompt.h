#pragma once

#include "platform/WindowMessages.h"

#include <memory>
#include <string>

// The results of asking for a picture code.
enum SecurityCodeResult : int {
    kSecurityCodeEntered = 1, // the user typed four characters
    kSecurityCodeClosed = 8,  // the dialog was closed, the program is shutting down, or none is available
};

// How a service asks the user for the code in a picture. The worker thread calls AskSecurityCode
// and blocks until the answer: kSecurityCodeEntered with the code (in the process code page) in
// `code`, or kSecurityCodeClosed. The program's prompt runs the security code dialog on the UI
// thread (CSecurityCodeAsker); tests answer with their own.
class ISecurityCodePrompt {
public:
    virtual ~ISecurityCodePrompt() = default;
    // `owner` owns the dialog (may be null); `picturePath` is the picture file (process code page).
    // `notice` (process code page) is shown above the picture in place of the usual request, for
    // instance that the previous code was wrong; empty for the usual request.
    virtual int AskSecurityCode(platform::HWND owner, const std::string& picturePath,
                                const std::string& notice, std::string& code) = 0;
};

// The prompt in force for the process. The program installs its own when the main window starts and
// removes it (null) at shutdown; callers hold the returned pointer for the length of a call. Without
// one installed the answer is a prompt that always says kSecurityCodeClosed. Safe from any thread.
void InstallSecurityCodePrompt(std::shared_ptr<ISecurityCodePrompt> prompt);
std::shared_ptr<ISecurityCodePrompt> InstalledSecurityCodePrompt();
