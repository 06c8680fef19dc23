#include "platform/Event.h"

#include <chrono>

namespace platform {

Event::Event(Mode mode, bool initiallySet) : m_mode(mode), m_signalled(initiallySet) {}

void Event::Set()
{
    {
        std::lock_guard lock(m_mutex);
        m_signalled = true;
    }
    if (m_mode == Mode::ManualReset)
        m_cv.notify_all();
    else
        m_cv.notify_one();
}

void Event::Reset()
{
    std::lock_guard lock(m_mutex);
    m_signalled = false;
}

bool Event::Wait(int64_t timeoutMs)
{
    std::unique_lock lock(m_mutex);
    auto ready = [this] { return m_signalled; };
    if (timeoutMs < 0) {
        m_cv.wait(lock, ready);
    } else if (!m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
        return false;
    }
    if (m_mode == Mode::AutoReset)
        m_signalled = false;
    return true;
}

bool Event::IsSet() const
{
    std::lock_guard lock(m_mutex);
    return m_signalled;
}

} // namespace platform
