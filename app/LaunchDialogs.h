#pragma once

#include "emulator/LaunchPrompts.h"

// A launch's questions over the real dialogs: the control-method dialog, the disc dialog and the
// toolkit's message box, each modal over the owner. UI thread, but for PostNotice, which any thread
// may call: it queues the message box for the UI loop and returns at once. A queued box holds only
// copies of its texts and the owner's handle, so it may come up after this object is gone; an owner
// closed meanwhile leaves the box without one.
class CLaunchDialogs : public ILaunchPrompts {
public:
    int AskControlMethod(platform::HWND owner) override;
    int ChooseDisc(platform::HWND owner, int discCount) override;
    void Tell(platform::HWND owner, const std::string& text, const std::string& caption) override;
    void PostNotice(platform::HWND owner, const std::string& text, const std::string& caption) override;
};
