#include "platform/WindowMessages.h"

#include <mutex>

namespace platform {
namespace {

std::mutex& PosterMutex()
{
    static std::mutex mutex;
    return mutex;
}

MessagePoster& Poster()
{
    static MessagePoster poster;
    return poster;
}

} // namespace

void SetMessagePoster(MessagePoster poster)
{
    std::lock_guard lock(PosterMutex());
    Poster() = std::move(poster);
}

bool PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, std::function<void()> freePayload)
{
    MessagePoster poster;
    {
        std::lock_guard lock(PosterMutex());
        poster = Poster();
    }
    if (!poster) {
        if (freePayload)
            freePayload();
        return false;
    }
    return poster(hwnd, message, wParam, lParam, std::move(freePayload));
}

} // namespace platform
