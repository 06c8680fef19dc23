#pragma once

#include "maintenance/RuntimeChecks.h"
#include "platform/WindowMessages.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Runs the runtime checks for a window on a thread of its own, so that a large registry never holds
// the window's thread. Each result is posted to the window as `message` with lParam a
// RuntimeStates* that the window frees (a message that is not delivered frees it itself).
//
// The thread starts with the first Request and waits for the next one; the destructor tells it to
// end and joins it, which blocks for at most the check under way. Request never blocks on a check:
// a request made while a check runs is taken up once that one is done, and requests made meanwhile
// are answered by that one check. Requests and the destructor come from one thread (the window's).
class CRuntimeCheckWorker {
public:
    using Check = std::function<RuntimeStates()>;

    // `check` runs on the worker's thread; by default the checks on the current user's registry.
    explicit CRuntimeCheckWorker(Check check = [] { return ReadRuntimeStates(); });
    ~CRuntimeCheckWorker();
    CRuntimeCheckWorker(const CRuntimeCheckWorker&) = delete;
    CRuntimeCheckWorker& operator=(const CRuntimeCheckWorker&) = delete;

    // Asks for a check whose result goes to `window` as `message`.
    void Request(platform::HWND window, platform::UINT message);

private:
    void Run();

    Check m_check;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_requested = false;
    bool m_stopping = false;
    platform::HWND m_window = nullptr;
    platform::UINT m_message = 0;
    std::thread m_thread;
};
