#pragma once

#include "platform/WindowMessages.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>

namespace testsupport {

// Stands in for the UI loop in tests of services: installed as the message poster, it keeps every
// posted message until the test takes it, and frees the payloads of messages nobody took.
class MessageRecorder {
public:
    struct Message {
        platform::HWND hwnd = nullptr;
        platform::UINT message = 0;
        platform::WPARAM wParam = 0;
        platform::LPARAM lParam = 0;
        std::function<void()> freePayload;

        template <class T>
        T* Payload() const { return reinterpret_cast<T*>(lParam); }
    };

    MessageRecorder()
    {
        platform::SetMessagePoster([this](platform::HWND hwnd, platform::UINT message, platform::WPARAM wParam,
                                          platform::LPARAM lParam, std::function<void()> freePayload) {
            {
                std::lock_guard lock(m_mutex);
                m_messages.push_back({hwnd, message, wParam, lParam, std::move(freePayload)});
            }
            m_cv.notify_all();
            return true;
        });
    }

    ~MessageRecorder()
    {
        platform::SetMessagePoster({});
        for (auto& message : m_messages)
            if (message.freePayload)
                message.freePayload();
        for (auto& message : m_done)
            if (message.freePayload)
                message.freePayload();
    }

    // The next message in posting order, waiting up to timeoutMs. The recorder still frees its payload.
    std::optional<Message> Next(int timeoutMs = 10000)
    {
        std::unique_lock lock(m_mutex);
        if (!m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !m_messages.empty(); }))
            return std::nullopt;
        m_done.push_back(std::move(m_messages.front()));
        m_messages.pop_front();
        return m_done.back();
    }

    size_t Pending()
    {
        std::lock_guard lock(m_mutex);
        return m_messages.size();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<Message> m_messages;
    std::deque<Message> m_done;
};

} // namespace testsupport
