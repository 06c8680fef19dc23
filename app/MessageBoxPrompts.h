#pragma once

#include "emulator/EmulatorPrompts.h"

// The emulator manager's questions and notices as the toolkit's message box, modal over the owner.
class CMessageBoxPrompts : public IEmulatorPrompts {
public:
    bool AskYesNo(platform::HWND owner, const std::string& text, const std::string& caption) override;
    void Tell(platform::HWND owner, const std::string& text, const std::string& caption) override;
};
