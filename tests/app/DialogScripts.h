#pragma once

// Driving the main window's modal windows from its tests: a click opens one, and a script runs
// inside its modal loop, where its input must come from.

#include "ui/PaintManager.h"
#include "ui/TestInput.h"
#include "ui/WindowWnd.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace apptest {

// Runs `script` on the UI thread once a window of `className` is up, from a thread of the test.
// Each try returns at once while the window is not there: the UI thread may take a request up
// before the code that opens the window has run (the window cannot appear inside the request), so
// waiting there would hold it back. False (and every modal loop ended) when no such window came
// within 20 s.
inline bool RunInWindowOnceOpen(const char16_t* className, const std::function<void(UiLib::HWND)>& script)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    bool ran = false;
    while (!ran && std::chrono::steady_clock::now() < deadline) {
        UiLib::RunOnUiThread([&] {
            UiLib::HWND window = UiLib::FindWindow(className);
            if (window == nullptr)
                return 0;
            UiLib::TestInput::ProcessEvents();
            script(window);
            ran = true;
            return 0;
        });
    }
    if (!ran)
        UiLib::RunOnUiThread([] {
            UiLib::CPaintManagerUI::EndAllModalLoops(UiLib::IDCLOSE);
            return 0;
        });
    return ran;
}

// Runs `click` on the test's (UI) thread and `script` inside the modal loop the click opens, once a
// window of `className` is up. False when none came.
inline bool ClickIntoWindow(const std::function<void()>& click, const char16_t* className,
                            const std::function<void(UiLib::HWND)>& script)
{
    std::atomic<bool> ended{false};
    bool found = false;
    std::thread inside([&] {
        found = RunInWindowOnceOpen(className, script);
        ended = true;
    });
    click();
    UiLib::TestInput::WaitFor([&] { return ended.load(); }, 25000);
    inside.join();
    return found;
}

} // namespace apptest
