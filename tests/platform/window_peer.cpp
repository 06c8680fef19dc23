// A small X client that the window watch tests start as another program's window. It makes one
// top-level window and runs its steps: the first at once, each further one when it receives
// SIGUSR1. After each step it prints "done <step> <window id>" once the server has taken it.
// After the last step it lingers until its input closes (or it is killed).
//
// Steps:
//   title=TEXT     sets _NET_WM_NAME (UTF-8) to TEXT
//   wmname=TEXT    sets WM_NAME (Latin-1 STRING) to TEXT
//   map, unmap     shows or hides the window
//   close          destroys the window (the process stays)
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

void RunStep(Display* display, Window& window, const std::string& step)
{
    if (step.rfind("title=", 0) == 0) {
        const std::string text = step.substr(6);
        XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False),
                        XInternAtom(display, "UTF8_STRING", False), 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    } else if (step.rfind("wmname=", 0) == 0) {
        const std::string text = step.substr(7);
        XChangeProperty(display, window, XA_WM_NAME, XA_STRING, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    } else if (step == "map") {
        XMapWindow(display, window);
    } else if (step == "unmap") {
        XUnmapWindow(display, window);
    } else if (step == "close") {
        XDestroyWindow(display, window);
    }
    XSync(display, False);
    std::printf("done %s %lu\n", step.c_str(), static_cast<unsigned long>(window));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGUSR1);
    sigprocmask(SIG_BLOCK, &mask, nullptr);
    const int signals = signalfd(-1, &mask, SFD_CLOEXEC);

    // The test's server may turn a connection away now and then: a few tries.
    Display* display = XOpenDisplay(nullptr);
    for (int attempt = 0; display == nullptr && attempt < 5; ++attempt) {
        usleep(10000 << attempt);
        display = XOpenDisplay(nullptr);
    }
    if (display == nullptr || signals < 0) {
        std::printf("no display\n");
        std::fflush(stdout);
        return 2;
    }
    Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 10, 10, 120, 80, 0, 0,
                                        WhitePixel(display, DefaultScreen(display)));
    int next = 1;
    if (next < argc)
        RunStep(display, window, argv[next++]);

    pollfd fds[2] = {{signals, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, -1) < 0)
            continue;
        if ((fds[1].revents & (POLLIN | POLLHUP)) != 0) {
            char buffer[64];
            if (read(STDIN_FILENO, buffer, sizeof(buffer)) <= 0)
                break;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            signalfd_siginfo info;
            if (read(signals, &info, sizeof(info)) == sizeof(info) && next < argc)
                RunStep(display, window, argv[next++]);
        }
    }
    XCloseDisplay(display);
    return 0;
}
