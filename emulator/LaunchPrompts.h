#pragma once

#include "platform/WindowMessages.h"

#include <string>

// The dialogs and message boxes a launch asks through, so that the launcher needs no window of its
// own. The application installs an implementation over the control-method dialog, the disc dialog
// and the toolkit's message box; tests answer through their own. Called on the UI thread, each call
// blocking until answered, except PostNotice, which the run workers call.
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

    // The same notice without waiting for it, such as "无法启动：" and a path from a run's worker. Any
    // thread; returns at once, and the box comes up on the UI thread when its loop gets to it (not
    // at all once the loop has ended). The texts are copied: nothing of the caller's is kept.
    virtual void PostNotice(platform::HWND owner, const std::string& text, const std::string& caption) = 0;
};

// The notice for a program that could not be started: "无法启动：" followed by its full path.
inline std::string CannotStartText(const std::string& path)
{
    return "无法启动：" + path;
}
