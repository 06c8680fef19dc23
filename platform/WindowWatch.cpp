#include "platform/WindowWatch.h"

#include "platform/Trace.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace platform {

namespace {

// Xlib reports protocol errors through one handler for the whole process, and its default handler
// ends the process. A window can vanish between the listing and the look at it, which is an
// ordinary event for a watch, so errors on the watches' own connections are counted and ignored;
// errors on any other Xlib connection go on to whatever handler was there before.
std::mutex g_errorsMutex;
std::map<Display*, unsigned long> g_errorCounts; // only the watches' connections are keys
std::atomic<XErrorHandler> g_previousHandler{nullptr};
std::atomic<XIOErrorHandler> g_previousIoHandler{nullptr};

bool IsWatchConnection(Display* display)
{
    std::lock_guard<std::mutex> lock(g_errorsMutex);
    return g_errorCounts.count(display) != 0;
}

int IgnoreWatchErrors(Display* display, XErrorEvent* event)
{
    {
        std::lock_guard<std::mutex> lock(g_errorsMutex);
        auto it = g_errorCounts.find(display);
        if (it != g_errorCounts.end()) {
            ++it->second;
            return 0;
        }
    }
    XErrorHandler previous = g_previousHandler.load();
    return previous != nullptr ? previous(display, event) : 0;
}

// A broken connection goes to the I/O error handler, whose default ends the process, and then to
// the connection's exit handler. For a watch's connection both return (the exit handler marks the
// watch lost); other connections keep the handler they had.
int IgnoreWatchConnectionLoss(Display* display)
{
    if (IsWatchConnection(display))
        return 0;
    XIOErrorHandler previous = g_previousIoHandler.load();
    return previous != nullptr ? previous(display) : 0;
}

void InstallErrorHandlerOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        XInitThreads();
        g_previousHandler = XSetErrorHandler(&IgnoreWatchErrors);
        g_previousIoHandler = XSetIOErrorHandler(&IgnoreWatchConnectionLoss);
    });
}

unsigned long ErrorCount(Display* display)
{
    std::lock_guard<std::mutex> lock(g_errorsMutex);
    auto it = g_errorCounts.find(display);
    return it != g_errorCounts.end() ? it->second : 0;
}

// Latin-1 (the STRING type of WM_NAME) to UTF-8.
std::string Latin1ToUtf8(const unsigned char* text, unsigned long length)
{
    std::string out;
    out.reserve(length);
    for (unsigned long i = 0; i < length; ++i) {
        const unsigned char c = text[i];
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Frees what Xlib allocated.
struct XFreeDeleter {
    void operator()(void* p) const
    {
        if (p != nullptr)
            XFree(p);
    }
};

class X11WindowWatch final : public IWindowWatch {
public:
    explicit X11WindowWatch(Display* display) : m_display(display)
    {
        {
            std::lock_guard<std::mutex> lock(g_errorsMutex);
            g_errorCounts[m_display] = 0;
        }
        // A lost server must not end the process (Xlib's default ends it): the watch goes blind.
        XSetIOErrorExitHandler(m_display, &X11WindowWatch::OnConnectionLost, this);
        m_root = DefaultRootWindow(m_display);
        m_clientList = XInternAtom(m_display, "_NET_CLIENT_LIST", False);
        m_netWmName = XInternAtom(m_display, "_NET_WM_NAME", False);
        m_utf8String = XInternAtom(m_display, "UTF8_STRING", False);
    }

    ~X11WindowWatch() override
    {
        // A lost connection is closed too: Xlib only frees it then (its errors still come to the
        // handlers above, which let them pass).
        XCloseDisplay(m_display);
        std::lock_guard<std::mutex> lock(g_errorsMutex);
        g_errorCounts.erase(m_display);
    }

    bool Available() const override { return !m_lost; }

    std::vector<TopLevelWindow> ListWindows() override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<TopLevelWindow> result;
        if (m_lost)
            return result;
        for (Window id : TopLevelIds()) {
            if (m_lost)
                break;
            XWindowAttributes attributes;
            if (XGetWindowAttributes(m_display, id, &attributes) == 0)
                continue; // gone since the listing
            TopLevelWindow window;
            window.id = id;
            window.visible = attributes.map_state == IsViewable;
            window.title = Title(id);
            result.push_back(std::move(window));
        }
        if (m_lost)
            result.clear();
        return result;
    }

    bool HideWindow(unsigned long id) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_lost || id == 0)
            return false;
        XWindowAttributes attributes;
        if (XGetWindowAttributes(m_display, id, &attributes) == 0)
            return false;
        const unsigned long before = ErrorCount(m_display);
        XUnmapWindow(m_display, id);
        XSync(m_display, False);
        return !m_lost && ErrorCount(m_display) == before;
    }

private:
    static void OnConnectionLost(Display*, void* self)
    {
        static_cast<X11WindowWatch*>(self)->m_lost = true;
        Trace("window watch: the display connection was lost");
    }

    // The window manager's client list when it keeps one, else the root window's children (a
    // display without a window manager, such as a bare Xvfb).
    std::vector<Window> TopLevelIds()
    {
        std::vector<Window> ids;
        Atom type = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long remaining = 0;
        unsigned char* raw = nullptr;
        const int status = XGetWindowProperty(m_display, m_root, m_clientList, 0, kMaxWindows, False, XA_WINDOW,
                                              &type, &format, &count, &remaining, &raw);
        std::unique_ptr<unsigned char, XFreeDeleter> data(raw);
        if (status == Success && type == XA_WINDOW && format == 32) {
            // Format 32 items are held as longs whatever the word size.
            const auto* windows = reinterpret_cast<const unsigned long*>(data.get());
            ids.assign(windows, windows + count);
            return ids;
        }
        Window rootReturn = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned int childCount = 0;
        if (XQueryTree(m_display, m_root, &rootReturn, &parent, &children, &childCount) != 0) {
            std::unique_ptr<Window, XFreeDeleter> owned(children);
            ids.assign(children, children + childCount);
        }
        return ids;
    }

    std::string Title(Window id)
    {
        Atom type = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long remaining = 0;
        unsigned char* raw = nullptr;
        const int status = XGetWindowProperty(m_display, id, m_netWmName, 0, kMaxTitleLongs, False, m_utf8String,
                                              &type, &format, &count, &remaining, &raw);
        std::unique_ptr<unsigned char, XFreeDeleter> data(raw);
        if (status == Success && type == m_utf8String && format == 8 && data != nullptr)
            return std::string(reinterpret_cast<const char*>(data.get()), count);
        return LegacyTitle(id);
    }

    // WM_NAME: Latin-1 (STRING), UTF-8, or compound text that Xlib converts.
    std::string LegacyTitle(Window id)
    {
        XTextProperty property{};
        if (XGetWMName(m_display, id, &property) == 0 || property.value == nullptr)
            return {};
        std::unique_ptr<unsigned char, XFreeDeleter> value(property.value);
        if (property.format != 8)
            return {};
        if (property.encoding == XA_STRING)
            return Latin1ToUtf8(property.value, property.nitems);
        if (property.encoding == m_utf8String)
            return std::string(reinterpret_cast<const char*>(property.value), property.nitems);
        char** list = nullptr;
        int listCount = 0;
        std::string title;
        if (Xutf8TextPropertyToTextList(m_display, &property, &list, &listCount) >= Success && list != nullptr) {
            for (int i = 0; i < listCount; ++i)
                title += list[i];
            XFreeStringList(list);
        }
        return title;
    }

    static constexpr long kMaxWindows = 65536;
    static constexpr long kMaxTitleLongs = 1024; // 4 KiB of title is plenty

    std::mutex m_mutex;
    Display* m_display;
    std::atomic<bool> m_lost{false};
    Window m_root = 0;
    Atom m_clientList = None;
    Atom m_netWmName = None;
    Atom m_utf8String = None;
};

class UnavailableWindowWatch final : public IWindowWatch {
public:
    bool Available() const override { return false; }
    std::vector<TopLevelWindow> ListWindows() override { return {}; }
    bool HideWindow(unsigned long) override { return false; }
};

} // namespace

std::unique_ptr<IWindowWatch> OpenWindowWatch()
{
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0')
        return std::make_unique<UnavailableWindowWatch>();
    InstallErrorHandlerOnce();
    // A busy server may turn a connection away now and then (reset, or its queue full): a few
    // quick tries before the watch is given up as unavailable.
    Display* display = XOpenDisplay(name);
    for (int attempt = 0; display == nullptr && attempt < 4; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10 << attempt));
        display = XOpenDisplay(name);
    }
    if (display == nullptr) {
        Trace("window watch: cannot open the display");
        return std::make_unique<UnavailableWindowWatch>();
    }
    return std::make_unique<X11WindowWatch>(display);
}

} // namespace platform
