#pragma once

#include "platform/WindowMessages.h"

#include <string>

// The dialogs and message boxes a launch asks through, so that the launcher needs no window of its
// own. The application installs an implementation over the control-method dialog, the disc dialog
// and the toolkit's message box; tests answer through their own. Called on the UI thread; each call
// blocks until answered.
class ILaunchPrompts {
public:
    virtual ~ILaunchPrompts() = default;

    // The control-method dialog over `owner`: 1 gamepad, 2 keyboard, -1 when it was closed.
    virtual int AskControlMethod(platform::HWND owner) = 0;

    // The disc dialog over `owner` with `discCount` buttons (2 to 4): the chosen disc's index from
    // 0, or -1 when it was closed.
    virtual int ChooseDisc(platform::HWND owner, int discCount) = 0;

    // A notice with an OK button over `owner` (texts UTF-8), such as "游戏文件不存在".
    virtual void Tell(platform::HWND owner, const std::string& text, const std::string& caption) = 0;
};
