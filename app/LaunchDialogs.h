#pragma once

#include "emulator/LaunchPrompts.h"

// A launch's questions over the real dialogs: the control-method dialog, the disc dialog and the
// toolkit's message box, each modal over the owner. UI thread.
class CLaunchDialogs : public ILaunchPrompts {
public:
    int AskControlMethod(platform::HWND owner) override;
    int ChooseDisc(platform::HWND owner, int discCount) override;
    void Tell(platform::HWND owner, const std::string& text, const std::string& caption) override;
};
