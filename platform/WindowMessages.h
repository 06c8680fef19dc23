#pragma once

#include <cstdint>
#include <functional>
#include <memory>

// Window handles and posted messages, for the services that reach windows without knowing the
// toolkit. The toolkit installs the poster when its UI loop starts; a service posts through it from
// any thread. The toolkit's own handle and parameter types are these same types.
namespace platform {

// An opaque window handle; handles are never reused during a run.
struct WindowHandle;
using HWND = WindowHandle*;
using UINT = unsigned int;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;

// Delivers a message into the UI loop. `freePayload` (may be empty) runs when the message is not
// delivered: the window is gone, or the loop ended first. Returns whether the message was queued.
using MessagePoster = std::function<bool(HWND, UINT, WPARAM, LPARAM, std::function<void()> freePayload)>;

// Installs (or, with an empty function, removes) the poster. Tests of services install their own.
void SetMessagePoster(MessagePoster poster);

// Posts through the installed poster. Without one the message cannot be delivered: `freePayload`
// runs at once and the result is false.
bool PostMessage(HWND hwnd, UINT message, WPARAM wParam = 0, LPARAM lParam = 0,
                 std::function<void()> freePayload = {});

// Posts a record that the message owns: lParam is its address; the receiving window frees it, and
// an undelivered message frees it with itself.
template <class T>
bool PostMessage(HWND hwnd, UINT message, WPARAM wParam, std::unique_ptr<T> record)
{
    T* raw = record.release();
    return PostMessage(hwnd, message, wParam, reinterpret_cast<LPARAM>(raw), [raw] { delete raw; });
}

} // namespace platform
