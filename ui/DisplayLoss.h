#pragma once

// Ending the program when its display goes away.
//
// When the connection to the display breaks (the X server ends, the session logs out), Qt's
// platform layer calls exit() from inside the UI thread's event processing. Left alone, static
// destruction would then tear down the application object and the services while the program's
// threads still run. Once armed, the toolkit catches that exit() on the UI thread before any exit
// handler or static destructor runs, whatever their order of registration (the catch is a
// thread-local object of the UI thread, and exit() destroys those first). It then answers every
// RunOnUiThread request as closed and refuses further posted messages, runs the program's
// shutdown, writes one line to stderr and ends the process with _exit and the status it was
// given. The shutdown must touch no window and nothing of the display: the connection is gone.
//
// A shutdown that has not finished after kDisplayLossShutdownBudgetMs is cut short with the same
// line and status, so a lost display never leaves a hanging process.
//
// While disarmed (the default, and in every test that does not arm it) exit() runs as usual.

#include <functional>
#include <string>

namespace UiLib {

inline constexpr int kDisplayLossShutdownBudgetMs = 3000;

// Arms the catch on the calling thread, which must be the program's main thread and the UI
// thread. `shutdown` runs on it; `message` is written to stderr as one line after it;
// `exitStatus` is the status the process ends with. Arming again replaces all three.
void ArmDisplayLossExit(int exitStatus, std::string message, std::function<void()> shutdown);

// Disarms the catch (same thread): from now on exit() runs as usual. Called once the program's
// normal shutdown has finished, before main returns.
void DisarmDisplayLossExit();

// True while the catch is armed on the calling thread.
bool DisplayLossExitArmed();

} // namespace UiLib
