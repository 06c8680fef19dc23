#pragma once

// The requests a stand-in server receives, as they arrive, for tests that wait for them instead of
// polling the request log.

#include "server/StandInServer.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

// Keeps "METHOD /path" of each request in arrival order. The server calls in on its worker
// threads, once it has logged the request and before it answers, so a request waited for is then
// in the middle of its transfer. Declare the watch before the server it watches, so that it goes
// after the server has stopped.
class RequestWatch {
public:
    // Watches `server`; call before the server starts.
    void Watch(CStandInServer& server)
    {
        server.SetRequestObserver([this](const std::string& method, const std::string& path) {
            std::lock_guard lock(m_mutex);
            m_arrived.push_back(method + " " + path);
            m_arrival.notify_all();
        });
    }

    // How many requests whose "METHOD /path" starts with `prefix` have arrived so far.
    int Count(const std::string& prefix) const
    {
        std::lock_guard lock(m_mutex);
        return CountLocked(prefix);
    }

    // Blocks until `count` such requests have arrived; false when `timeoutMs` passes first.
    bool WaitFor(const std::string& prefix, int count, int timeoutMs = 10000)
    {
        std::unique_lock lock(m_mutex);
        return m_arrival.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return CountLocked(prefix) >= count; });
    }

private:
    int CountLocked(const std::string& prefix) const
    {
        int count = 0;
        for (const std::string& request : m_arrived)
            count += request.rfind(prefix, 0) == 0 ? 1 : 0;
        return count;
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_arrival;
    std::vector<std::string> m_arrived;
};

} // namespace testsupport
