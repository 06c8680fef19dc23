// The UI loop's plumbing: the application object, the registry of window handles, posted
// messages and RunOnUiThread.

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <clocale>
#include <condition_variable>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/Trace.h"
#include "platform/WindowMessages.h"
#include "ui/private/QtTranslations.h"
#include "ui/private/UiPrivate.h"

// Qt hands a posted event to the UI thread under locks of its own (futexes) that ThreadSanitizer
// cannot see, so in a ThreadSanitizer build every event is marked as released by the posting thread
// and acquired where the UI thread first touches it; without these marks each message would be
// reported as a race between its writer and its reader.
#if defined(__SANITIZE_THREAD__)
#define QUOKKA_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QUOKKA_TSAN 1
#endif
#endif
#ifdef QUOKKA_TSAN
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

namespace UiLib {

namespace {

void MarkHandedOver([[maybe_unused]] void* event)
{
#ifdef QUOKKA_TSAN
    __tsan_release(event);
#endif
}

void MarkReceived([[maybe_unused]] void* event)
{
#ifdef QUOKKA_TSAN
    __tsan_acquire(event);
#endif
}

// Posts `event` to the dispatcher, which takes it over.
void PostEvent(QObject* dispatcher, QEvent* event)
{
    MarkHandedOver(event);
    QCoreApplication::postEvent(dispatcher, event);
}

const QEvent::Type kPostedMessageEvent = static_cast<QEvent::Type>(QEvent::User + 101);
const QEvent::Type kCallEvent = static_cast<QEvent::Type>(QEvent::User + 102);

// A posted window message. An undelivered message frees its payload when the event dies.
class PostedMessage : public QEvent {
public:
    PostedMessage(HWND hwnd, UINT msg, WPARAM w, LPARAM l, std::function<void()> freePayload)
        : QEvent(kPostedMessageEvent), m_hwnd(hwnd), m_msg(msg), m_w(w), m_l(l),
          m_free(std::move(freePayload))
    {
    }
    ~PostedMessage() override
    {
        MarkReceived(this); // also for a message Qt drops undelivered
        if (m_free)
            m_free();
    }
    HWND m_hwnd;
    UINT m_msg;
    WPARAM m_w;
    LPARAM m_l;
    std::function<void()> m_free;
};

// A function to run on the UI thread.
class CallEvent : public QEvent {
public:
    explicit CallEvent(std::function<void()> fn) : QEvent(kCallEvent), m_fn(std::move(fn)) {}
    ~CallEvent() override { MarkReceived(this); }
    std::function<void()> m_fn;
};

// Receives posted messages and calls on the UI thread.
class Dispatcher : public QObject {
public:
    void customEvent(QEvent* e) override;
};

// A RunOnUiThread request waiting for its answer.
struct Request {
    std::mutex mutex;
    std::condition_variable done;
    bool answered = false;
    int result = 0;
    int closedAnswer = IDCLOSE;
    bool Answered()
    {
        std::lock_guard lock(mutex);
        return answered;
    }
    void Answer(int value)
    {
        std::lock_guard lock(mutex);
        if (answered)
            return;
        answered = true;
        result = value;
        done.notify_all();
    }
};

struct Runtime {
    std::mutex mutex;
    Dispatcher* dispatcher = nullptr;       // lives on the UI thread
    std::unique_ptr<QApplication> ownedApp; // when the toolkit made the application
    std::unordered_map<std::uintptr_t, CWindowWnd*> windows;
    std::uintptr_t nextHandle = 0x1000;
    std::list<std::shared_ptr<Request>> requests;
    bool closed = false;
    int refusals = 0; // live CUiRequestRefusal objects
};

Runtime& RT()
{
    static Runtime runtime;
    return runtime;
}

int g_argc = 1;
char g_arg0[] = "quokka";
char* g_argv[] = {g_arg0, nullptr};

void Dispatcher::customEvent(QEvent* e)
{
    MarkReceived(e);
    if (e->type() == kCallEvent) {
        auto* call = static_cast<CallEvent*>(e);
        if (call->m_fn)
            call->m_fn();
        return;
    }
    if (e->type() != kPostedMessageEvent)
        return;
    auto* posted = static_cast<PostedMessage*>(e);
    HostWidget* host = HostOf(posted->m_hwnd);
    if (host == nullptr || host->Window() == nullptr)
        return;               // the window is gone: the event's destructor frees the payload
    posted->m_free = nullptr; // delivered: the window owns the payload now
    host->Send(posted->m_msg, posted->m_w, posted->m_l);
}

} // namespace

void EnsureApplication()
{
    Runtime& rt = RT();
    if (QCoreApplication::instance() == nullptr) {
        // Qt takes the whole locale from the environment; numbers keep the program's conventions.
        const std::string numeric = std::setlocale(LC_NUMERIC, nullptr);
        rt.ownedApp = std::make_unique<QApplication>(g_argc, g_argv);
        std::setlocale(LC_NUMERIC, numeric.c_str());
        QApplication::setQuitOnLastWindowClosed(false);
        InstallQtTranslations(); // the picker's and standard buttons' texts; English when missing
    }
    {
        std::lock_guard lock(rt.mutex);
        if (rt.dispatcher != nullptr)
            return;
        rt.dispatcher = new Dispatcher; // deleted by Term
        rt.closed = false;
    }
    // Services post through the platform layer; from now on their messages reach the UI loop.
    platform::SetMessagePoster(
        [](HWND hwnd, UINT msg, WPARAM w, LPARAM l, std::function<void()> freePayload) {
            return UiLib::PostMessage(hwnd, msg, w, l, std::move(freePayload));
        });
}

bool IsUiThread()
{
    QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

void PostToUi(std::function<void()> fn)
{
    std::lock_guard lock(RT().mutex);
    if (RT().dispatcher == nullptr)
        return;
    PostEvent(RT().dispatcher, new CallEvent(std::move(fn)));
}

HWND RegisterWindow(CWindowWnd* window)
{
    Runtime& rt = RT();
    std::lock_guard lock(rt.mutex);
    std::uintptr_t id = rt.nextHandle;
    rt.nextHandle += 4;
    rt.windows[id] = window;
    return reinterpret_cast<HWND>(id);
}

void UnregisterWindow(HWND hwnd)
{
    Runtime& rt = RT();
    std::lock_guard lock(rt.mutex);
    rt.windows.erase(reinterpret_cast<std::uintptr_t>(hwnd));
}

bool IsWindow(HWND hWnd)
{
    Runtime& rt = RT();
    std::lock_guard lock(rt.mutex);
    return rt.windows.count(reinterpret_cast<std::uintptr_t>(hWnd)) != 0;
}

CWindowWnd* WindowFromHandle(HWND hWnd)
{
    Runtime& rt = RT();
    std::lock_guard lock(rt.mutex);
    auto it = rt.windows.find(reinterpret_cast<std::uintptr_t>(hWnd));
    return it == rt.windows.end() ? nullptr : it->second;
}

HWND FindWindow(LPCTSTR className, LPCTSTR title)
{
    std::vector<std::pair<std::uintptr_t, CWindowWnd*>> windows;
    {
        std::lock_guard lock(RT().mutex);
        windows.assign(RT().windows.begin(), RT().windows.end());
    }
    std::sort(windows.begin(), windows.end()); // oldest first
    for (const auto& [id, window] : windows) {
        if (className != nullptr && std::u16string_view(window->GetWindowClassName()) != className)
            continue;
        if (title != nullptr && window->GetWindowText() != CDuiString(title))
            continue;
        return reinterpret_cast<HWND>(id);
    }
    return nullptr;
}

HostWidget* HostOf(HWND hwnd)
{
    CWindowWnd* window = WindowFromHandle(hwnd);
    if (window == nullptr || window->GetImpl() == nullptr)
        return nullptr;
    return window->GetImpl()->host.data();
}

bool PostMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    return UiLib::PostMessage(hWnd, uMsg, wParam, lParam, nullptr);
}

bool PostMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, std::function<void()> freePayload)
{
    auto event = std::make_unique<PostedMessage>(hWnd, uMsg, wParam, lParam, std::move(freePayload));
    Runtime& rt = RT();
    std::lock_guard lock(rt.mutex);
    if (rt.dispatcher == nullptr || rt.closed ||
        rt.windows.count(reinterpret_cast<std::uintptr_t>(hWnd)) == 0)
        return false; // `event` frees the payload
    PostEvent(rt.dispatcher, event.release());
    return true;
}

LRESULT SendMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    HostWidget* host = HostOf(hWnd);
    if (host == nullptr)
        return 0;
    return host->Send(uMsg, wParam, lParam);
}

int RunOnUiThread(const std::function<int()>& work, int answerWhenClosed)
{
    if (IsUiThread())
        return work();
    auto request = std::make_shared<Request>();
    request->closedAnswer = answerWhenClosed;
    {
        Runtime& rt = RT();
        std::lock_guard lock(rt.mutex);
        if (rt.dispatcher == nullptr || rt.closed || rt.refusals > 0)
            return answerWhenClosed;
        rt.requests.push_back(request);
        std::weak_ptr<Request> weak = request;
        PostEvent(rt.dispatcher, new CallEvent([weak, work] {
                      std::shared_ptr<Request> r = weak.lock();
                      if (!r || r->Answered())
                          return; // refused meanwhile: the worker has its answer
                      int value = work();
                      r->Answer(value);
                  }));
    }
    std::unique_lock lock(request->mutex);
    request->done.wait(lock, [&] { return request->answered; });
    int result = request->result;
    lock.unlock();
    std::lock_guard rtLock(RT().mutex);
    RT().requests.remove(request);
    return result;
}

bool PostToUiThread(std::function<void()> work)
{
    Runtime& rt = RT();
    std::lock_guard lock(rt.mutex);
    if (rt.dispatcher == nullptr || rt.closed)
        return false;
    PostEvent(rt.dispatcher, new CallEvent(std::move(work)));
    return true;
}

CUiRequestRefusal::CUiRequestRefusal()
{
    Runtime& rt = RT();
    std::lock_guard lock(rt.mutex);
    ++rt.refusals;
    for (auto& request : rt.requests)
        request->Answer(request->closedAnswer);
}

CUiRequestRefusal::~CUiRequestRefusal()
{
    Runtime& rt = RT();
    std::lock_guard lock(rt.mutex);
    --rt.refusals;
}

size_t PendingUiRequestCount()
{
    Runtime& rt = RT();
    std::lock_guard lock(rt.mutex);
    size_t waiting = 0;
    for (const auto& request : rt.requests)
        waiting += request->Answered() ? 0 : 1;
    return waiting;
}

void RefuseUiRequests()
{
    Runtime& rt = RT();
    std::lock_guard lock(rt.mutex);
    rt.closed = true;
    for (auto& request : rt.requests)
        request->Answer(request->closedAnswer);
}

void CPaintManagerUI::MessageLoop()
{
    EnsureApplication();
    QApplication::exec();
}

void CPaintManagerUI::Quit(int code)
{
    QCoreApplication::exit(code);
}

void CPaintManagerUI::Term()
{
    Runtime& rt = RT();
    Dispatcher* dispatcher = nullptr;
    platform::SetMessagePoster({});
    {
        std::lock_guard lock(rt.mutex);
        rt.closed = true;
        for (auto& request : rt.requests)
            request->Answer(request->closedAnswer);
        dispatcher = rt.dispatcher;
        rt.dispatcher = nullptr;
    }
    if (QCoreApplication::instance() != nullptr)
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    // Deleting the dispatcher drops its queued messages; their payloads are freed with them.
    delete dispatcher;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (dynamic_cast<HostWidget*>(widget) != nullptr)
            delete widget;
    }
    rt.ownedApp.reset();
    std::lock_guard lock(rt.mutex);
    rt.closed = false;
}

} // namespace UiLib
