// xdnd-drop: drops files on the X window under a point, the way a file manager does, through the
// XDND protocol (version 5) with "text/uri-list". It lets a test or a person at a terminal drive a
// real drop into the running program on an X server without a desktop.
//
//   DISPLAY=:N xdnd-drop [--hold] X Y FILE...
//
// X and Y are root-window coordinates. With --hold the drag stays over the point (enter and
// position sent, the target's status read) until a line arrives on standard input; then the
// files are dropped. Exit status 0 when the target accepted the drop and said it finished, 1
// when it refused it, 2 on a usage or X error, 3 when the target did not answer within 10 s.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr long kXdndVersion = 5;
constexpr int kAnswerMs = 10000;

struct Atoms {
    Atom aware, selection, enter, position, status, leave, drop, finished, actionCopy, uriList;
    explicit Atoms(Display* display)
        : aware(XInternAtom(display, "XdndAware", False)),
          selection(XInternAtom(display, "XdndSelection", False)),
          enter(XInternAtom(display, "XdndEnter", False)),
          position(XInternAtom(display, "XdndPosition", False)),
          status(XInternAtom(display, "XdndStatus", False)), leave(XInternAtom(display, "XdndLeave", False)),
          drop(XInternAtom(display, "XdndDrop", False)),
          finished(XInternAtom(display, "XdndFinished", False)),
          actionCopy(XInternAtom(display, "XdndActionCopy", False)),
          uriList(XInternAtom(display, "text/uri-list", False))
    {
    }
};

// "file://" and the path with every byte outside the unreserved set and "/" percent-encoded.
std::string FileUri(const std::string& path)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (unsigned char c : path) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            std::strchr("-._~/", c) != nullptr) {
            uri += static_cast<char>(c);
        } else {
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 15];
        }
    }
    return uri;
}

std::string Absolute(const std::string& path)
{
    if (!path.empty() && path[0] == '/')
        return path;
    char* cwd = ::getcwd(nullptr, 0);
    std::string whole = std::string(cwd != nullptr ? cwd : ".") + "/" + path;
    std::free(cwd);
    return whole;
}

bool IsAware(Display* display, Window window, const Atoms& atoms)
{
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, atoms.aware, 0, 1, False, AnyPropertyType, &type, &format, &count,
                           &after, &data) != Success)
        return false;
    if (data != nullptr)
        XFree(data);
    return type != None && count > 0;
}

// The innermost window under the root point that says it takes XDND drops, or None.
Window AwareWindowAt(Display* display, Window root, int x, int y, const Atoms& atoms)
{
    Window found = None;
    Window from = root;
    int fx = x;
    int fy = y;
    for (int depth = 0; depth < 32; ++depth) {
        Window child = None;
        int cx = 0;
        int cy = 0;
        if (!XTranslateCoordinates(display, from, from, fx, fy, &cx, &cy, &child) || child == None)
            break;
        if (IsAware(display, child, atoms))
            found = child;
        int tx = 0;
        int ty = 0;
        Window ignored = None;
        XTranslateCoordinates(display, from, child, fx, fy, &tx, &ty, &ignored);
        from = child;
        fx = tx;
        fy = ty;
    }
    return found;
}

void SendClient(Display* display, Window target, Atom type, const long (&data)[5])
{
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.display = display;
    event.xclient.window = target;
    event.xclient.message_type = type;
    event.xclient.format = 32;
    for (int i = 0; i < 5; ++i)
        event.xclient.data.l[i] = data[i];
    XSendEvent(display, target, False, NoEventMask, &event);
    XFlush(display);
}

class DragSource {
public:
    DragSource(Display* display, Window root, std::string uris)
        : m_display(display), m_atoms(display), m_uris(std::move(uris))
    {
        m_window = XCreateSimpleWindow(display, root, -10, -10, 1, 1, 0, 0, 0);
        XSelectInput(display, m_window, PropertyChangeMask);
    }
    ~DragSource() { XDestroyWindow(m_display, m_window); }
    DragSource(const DragSource&) = delete;
    DragSource& operator=(const DragSource&) = delete;

    // Enter and position over (x, y); the target's first status, nullopt when it gave none.
    std::optional<bool> Enter(Window target, int x, int y)
    {
        m_target = target;
        m_time = CurrentTime;
        XSetSelectionOwner(m_display, m_atoms.selection, m_window, m_time);
        SendClient(
            m_display, target, m_atoms.enter,
            {static_cast<long>(m_window), kXdndVersion << 24, static_cast<long>(m_atoms.uriList), 0, 0});
        SendClient(m_display, target, m_atoms.position,
                   {static_cast<long>(m_window), 0, (static_cast<long>(x) << 16) | (y & 0xFFFF),
                    static_cast<long>(m_time), static_cast<long>(m_atoms.actionCopy)});
        return WaitFor(m_atoms.status);
    }

    void Leave()
    {
        SendClient(m_display, m_target, m_atoms.leave, {static_cast<long>(m_window), 0, 0, 0, 0});
    }

    // Drops and serves the file list until the target says it finished; its verdict, nullopt on
    // silence.
    std::optional<bool> Drop()
    {
        SendClient(m_display, m_target, m_atoms.drop,
                   {static_cast<long>(m_window), 0, static_cast<long>(m_time), 0, 0});
        return WaitFor(m_atoms.finished);
    }

    // Reads events until a client message of `type` from the target, answering selection requests
    // meanwhile. For a status, bit 0 of the second word; for finished, the same bit (version 5).
    std::optional<bool> WaitFor(Atom type)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAnswerMs);
        for (;;) {
            while (XPending(m_display) > 0) {
                XEvent event;
                XNextEvent(m_display, &event);
                if (event.type == SelectionRequest)
                    Serve(event.xselectionrequest);
                else if (event.type == ClientMessage && event.xclient.message_type == type)
                    return (event.xclient.data.l[1] & 1) != 0;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return std::nullopt;
            pollfd fd{ConnectionNumber(m_display), POLLIN, 0};
            ::poll(&fd, 1, static_cast<int>(left.count()));
        }
    }

private:
    void Serve(const XSelectionRequestEvent& request)
    {
        XEvent reply{};
        reply.xselection.type = SelectionNotify;
        reply.xselection.display = request.display;
        reply.xselection.requestor = request.requestor;
        reply.xselection.selection = request.selection;
        reply.xselection.target = request.target;
        reply.xselection.time = request.time;
        reply.xselection.property = None;
        if (request.target == m_atoms.uriList && request.property != None) {
            XChangeProperty(m_display, request.requestor, request.property, m_atoms.uriList, 8,
                            PropModeReplace, reinterpret_cast<const unsigned char*>(m_uris.data()),
                            static_cast<int>(m_uris.size()));
            reply.xselection.property = request.property;
        }
        XSendEvent(m_display, request.requestor, False, NoEventMask, &reply);
        XFlush(m_display);
    }

    Display* m_display;
    Atoms m_atoms;
    std::string m_uris;
    Window m_window = None;
    Window m_target = None;
    Time m_time = CurrentTime;
};

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    bool hold = false;
    if (!args.empty() && args[0] == "--hold") {
        hold = true;
        args.erase(args.begin());
    }
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: xdnd-drop [--hold] X Y FILE...\n");
        return 2;
    }
    const int x = std::atoi(args[0].c_str());
    const int y = std::atoi(args[1].c_str());
    std::string uris;
    for (size_t i = 2; i < args.size(); ++i)
        uris += FileUri(Absolute(args[i])) + "\r\n";

    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "xdnd-drop: cannot open the display\n");
        return 2;
    }
    const Window root = DefaultRootWindow(display);
    Atoms atoms(display);
    const Window target = AwareWindowAt(display, root, x, y, atoms);
    if (target == None) {
        std::fprintf(stderr, "xdnd-drop: no window at %d,%d takes drops\n", x, y);
        XCloseDisplay(display);
        return 2;
    }

    int status = 0;
    {
        DragSource source(display, root, uris);
        std::optional<bool> accepted = source.Enter(target, x, y);
        std::printf("xdnd-drop: over window 0x%lx, %s\n", target,
                    !accepted ? "no answer" : (*accepted ? "accepted" : "refused"));
        std::fflush(stdout);
        if (hold) {
            char line[64];
            if (std::fgets(line, sizeof(line), stdin) == nullptr) {
                // Standard input closed: the drag is given up.
            }
        }
        if (!accepted) {
            source.Leave();
            status = 3;
        } else if (!*accepted) {
            source.Leave();
            status = 1;
        } else {
            std::optional<bool> finished = source.Drop();
            std::printf("xdnd-drop: %s\n",
                        !finished ? "no answer to the drop" : (*finished ? "dropped" : "refused"));
            status = !finished ? 3 : (*finished ? 0 : 1);
        }
    }
    XCloseDisplay(display);
    return status;
}
