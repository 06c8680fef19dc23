#pragma once

#include <memory>
#include <string>
#include <vector>

// Looking at other programs' top-level windows on the desktop: which exist, their titles, whether
// they are on screen, and hiding one. Over X11 with the window manager's client list where there is
// one, else the root window's children. Without a display the watch is unavailable and every look
// answers nothing.
namespace platform {

struct TopLevelWindow {
    unsigned long id = 0;
    std::string title; // UTF-8
    bool visible = false;
};

class IWindowWatch {
public:
    virtual ~IWindowWatch() = default;
    // False when no display could be opened: nothing can be seen or hidden.
    virtual bool Available() const = 0;
    // The top-level windows now, with their titles and visibility.
    virtual std::vector<TopLevelWindow> ListWindows() = 0;
    // Takes the window off the screen (unmaps it). False when it is gone or cannot be hidden.
    virtual bool HideWindow(unsigned long id) = 0;
};

// A watch on the display named by $DISPLAY; an unavailable one when there is none.
std::unique_ptr<IWindowWatch> OpenWindowWatch();

} // namespace platform
