#pragma once

#include "emulator/LaunchPrompts.h"

// The launch's questions as the program's own windows: the control-method dialog, the disc dialog
// and the toolkit's message box, each modal over the owner. UI thread only.
class CLaunchDialogPrompts : public ILaunchPrompts {
public:
    int AskControlMethod(platform::HWND owner) override;
    int ChooseDisc(platform::HWND owner, int discCount) override;
    void Tell(platform::HWND owner, const std::string& text, const std::string& caption) override;
};
