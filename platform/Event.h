#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace platform {

// A kernel-style event: manual reset stays signalled until Reset; auto reset releases exactly one
// waiter per Set and clears itself. Safe to use from any thread.
class Event {
public:
    static constexpr int64_t kInfinite = -1;

    enum class Mode { ManualReset, AutoReset };

    explicit Event(Mode mode = Mode::ManualReset, bool initiallySet = false);
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();

    // Blocks until the event is signalled or timeoutMs have passed (kInfinite waits for ever).
    // Returns true when signalled; an auto-reset event is cleared by the waiter it releases.
    bool Wait(int64_t timeoutMs = kInfinite);

    // True when signalled, without waiting or clearing.
    bool IsSet() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    const Mode m_mode;
    bool m_signalled;
};

} // namespace platform
