#pragma once

// Driving windows without a person, for tests (on Qt's offscreen platform as on a desktop).
// Input goes through the window's real event handling: hit testing, capture, focus and
// notification dispatch. Points are in the window's client coordinates.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ui/DuiString.h"
#include "ui/UiTypes.h"

namespace UiLib::TestInput {

// Runs the UI loop until nothing is pending (posted messages, deferred deletions, paints).
void ProcessEvents();
// Runs the UI loop until `done` answers true or `timeoutMs` passes; answers `done()`. The loop
// sleeps between events (it never spins): `done` is asked again after every event it handles and
// at least every 10 ms, so conditions that other threads set are seen too.
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 3000);

void MouseMove(HWND hwnd, POINT pt);
void MouseDown(HWND hwnd, POINT pt, bool right = false, bool control = false);
void MouseUp(HWND hwnd, POINT pt, bool right = false, bool control = false);
// Move, press and release at the point.
void Click(HWND hwnd, POINT pt, bool right = false, bool control = false);
void DoubleClick(HWND hwnd, POINT pt);
// A wheel turn at the point: positive delta scrolls up (120 per notch).
void Wheel(HWND hwnd, POINT pt, int delta);
// A key press (VK_*), with Shift held when `shift`, to whatever has the keyboard focus in the
// window (a hosted editor first).
void Key(HWND hwnd, UINT vk, bool shift = false);
// Types text into whatever has the keyboard focus in the window.
void TypeText(HWND hwnd, const CDuiString& text);
// Files dragged over a window and dropped, as a file manager's drag arrives: through the window
// system's drag events (enter, move, leave, drop), so the window's own drop handling answers.
// `files` are local paths (UTF-8). DragEnter answers whether the window takes part in the drag
// (it could take the files somewhere); DragMove and Drop whether it takes them at the point. Drop
// ends a drag that DragEnter began.
bool DragEnter(HWND hwnd, POINT pt, const std::vector<std::string>& files);
bool DragMove(HWND hwnd, POINT pt, const std::vector<std::string>& files);
void DragLeave(HWND hwnd);
bool Drop(HWND hwnd, POINT pt, const std::vector<std::string>& files);
// A wheel turn with Shift held (a horizontal scroll request on most desktops).
void ShiftWheel(HWND hwnd, POINT pt, int delta);
// How many times a press started a system move (the caption band) or resize of the window.
int SystemMoveRequests(HWND hwnd);

// A rendering of a window.
struct TestImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels; // ARGB, row by row
    std::uint32_t Pixel(int x, int y) const;
    bool IsNull() const { return pixels.empty(); }
};
// Paints the window (laid out, as shown) into an image; null image when the window is gone.
TestImage Grab(HWND hwnd);
// Writes the window's rendering as a PNG; false when the window is gone or the file cannot be written.
bool SaveImage(HWND hwnd, const std::string& pngPath);

} // namespace UiLib::TestInput
