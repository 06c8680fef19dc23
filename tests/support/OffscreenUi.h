#pragma once

// For test programs whose tests open real windows on Qt's offscreen platform: the toolkit started
// and ended around the tests, controls found and clicked by name, and modal dialogs driven from
// inside their own loops.

#include <gtest/gtest.h>

#include <functional>
#include <string_view>

#include "ui/Control.h"
#include "ui/UiTypes.h"

// What LeakSanitizer is to leave out in a program that opens windows: allocations that the system
// libraries under Qt keep for the life of the process. A string literal, so that a program can add
// its own entries; each program still defines __lsan_default_suppressions once, in one of its files.
#define QUOKKA_QT_LEAK_SUPPRESSIONS                                                                          \
    "leak:libfontconfig\nleak:libdbus\nleak:libglib\nleak:FcPattern\nleak:QFontDatabase\n"

namespace testsupport {

// Starts the toolkit on Qt's offscreen platform, with this thread as the UI thread.
void StartOffscreenUi();
// Ends the toolkit: its windows, queued messages and pending RunOnUiThread requests go. Call it
// before the program's static objects are destroyed: the application object must not outlive Qt's.
void StopOffscreenUi();

// The toolkit for every test of a program: started before the first test and ended after the last.
// A program that needs more around the toolkit derives from it.
class OffscreenUiEnvironment : public ::testing::Environment {
public:
    void SetUp() override { StartOffscreenUi(); }
    void TearDown() override { StopOffscreenUi(); }
};

// Registers an OffscreenUiEnvironment for this program the first time it is called, and answers
// that one every time after: each test file whose tests open windows calls it (at namespace scope),
// so none relies on another file of its program to start the toolkit.
::testing::Environment* UseOffscreenUi();

// The middle of a control, in its window's client coordinates.
UiLib::POINT CentreOf(UiLib::CControlUI* control);
// The control named `name` in the toolkit dialog `hwnd`; null when there is no such window or
// control (UI thread only).
UiLib::CControlUI* ControlIn(UiLib::HWND hwnd, std::u16string_view name);
// Clicks the middle of the named control through the window's real input handling; a test failure
// when there is no such control (UI thread only).
void ClickOn(UiLib::HWND hwnd, std::u16string_view name);

// Where the call that shows a modal dialog runs.
enum class AskedFrom {
    UiThread, // the test's own thread, the UI thread: a window's own dialogs
    Worker,   // a thread of its own, the way the program's services ask through RunOnUiThread
};

// Runs `ask`, which shows a modal dialog of window class `className` and returns its answer, while
// `script` drives the dialog from inside the dialog's own modal loop, where its input must come
// from. The script gets the dialog's handle once it is shown, or null when none was shown within
// five seconds or before `ask` returned. Whatever would keep the test waiting is a test failure and
// ends every modal loop: a dialog the script leaves open (three seconds on), an `ask` still running
// when no dialog was shown, an `ask` that has not answered eight seconds on. Returns `ask`'s answer.
// Call it on the UI thread.
int DriveModalDialog(AskedFrom from, const char16_t* className, const std::function<int()>& ask,
                     const std::function<void(UiLib::HWND)>& script);

} // namespace testsupport
