#include "maintenance/RuntimeCheckWorker.h"

#include "platform/Trace.h"

#include <exception>
#include <memory>

CRuntimeCheckWorker::CRuntimeCheckWorker(Check check) : m_check(std::move(check)) {}

CRuntimeCheckWorker::~CRuntimeCheckWorker()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void CRuntimeCheckWorker::Request(platform::HWND window, platform::UINT message)
{
    {
        std::lock_guard lock(m_mutex);
        m_requested = true;
        m_window = window;
        m_message = message;
    }
    m_wake.notify_all();
    if (!m_thread.joinable())
        m_thread = std::thread([this] { Run(); });
}

void CRuntimeCheckWorker::Run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_requested || m_stopping; });
        if (m_stopping)
            return;
        m_requested = false;
        const platform::HWND window = m_window;
        const platform::UINT message = m_message;
        lock.unlock();
        // A check that fails (memory for a large registry) leaves the rows as they are.
        try {
            auto states = std::make_unique<RuntimeStates>(m_check());
            platform::PostMessage(window, message, 0, std::move(states));
        } catch (const std::exception& error) {
            platform::TraceF("settings: the runtime checks failed: %s", error.what());
        }
        lock.lock();
    }
}
