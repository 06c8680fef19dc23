#pragma once

#include "platform/WindowMessages.h"

#include <string>

// The message boxes the emulator manager asks through, so that it needs no window of its own. The
// application installs an implementation that shows the toolkit's message box; tests answer
// through their own. Texts are UTF-8. Called on the UI thread; each call blocks until answered.
class IEmulatorPrompts {
public:
    virtual ~IEmulatorPrompts() = default;

    // A Yes/No question over `owner`. True for Yes; false for No and for a box closed without an
    // answer.
    virtual bool AskYesNo(platform::HWND owner, const std::string& text, const std::string& caption) = 0;

    // A notice with an OK button over `owner`.
    virtual void Tell(platform::HWND owner, const std::string& text, const std::string& caption) = 0;
};
