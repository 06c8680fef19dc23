#pragma once

#include "platform/Event.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace platform {

// Window states a caller may ask for. A started program draws its own windows here, so the state is
// accepted and not applied.
inline constexpr int kShowHidden = 0;
inline constexpr int kShowNormal = 1;

// Splits a parameter text the way a Windows program splits its command line: blanks (space, tab)
// separate arguments outside double quotes; 2n backslashes before a quote give n backslashes and the
// quote opens or closes a quoted part, 2n+1 backslashes before a quote give n backslashes and a
// literal quote, backslashes before anything else stay as they are; inside a quoted part a doubled
// quote gives a literal quote. "" alone is an empty argument.
std::vector<std::string> SplitCommandLine(std::string_view params);

enum class WaitResult {
    Exited,   // the process has ended; ExitCode has its status
    TimedOut, // the time given passed first
    Stopped,  // the stop event was set first
    Failed,   // no process (an empty handle)
};

// A started process. The handle is the only owner of the child: it waits for it, reads its exit
// code and ends it. Dropping a handle does not end the process; a child that is still running then
// is reaped later, when it has ended, by the next StartProcess or handle destruction, so none stays
// a zombie for long. Wait, ExitCode, IsRunning and Terminate may be called from different threads.
class ProcessHandle {
public:
    ProcessHandle();
    ~ProcessHandle();
    ProcessHandle(ProcessHandle&& other) noexcept;
    ProcessHandle& operator=(ProcessHandle&& other) noexcept;
    ProcessHandle(const ProcessHandle&) = delete;
    ProcessHandle& operator=(const ProcessHandle&) = delete;

    explicit operator bool() const { return m_state != nullptr; }

    // The child's process id, or -1 for an empty handle.
    pid_t Pid() const;

    // Blocks until the process ends, timeoutMs pass (Event::kInfinite: no limit) or `stop` is set.
    // The stop event is looked at at least every 50 ms, so a wait ends within about that after it is
    // set; the event is not reset.
    WaitResult Wait(int64_t timeoutMs = Event::kInfinite, Event* stop = nullptr);

    // The exit status once the process has ended (128 + the signal's number when a signal ended it);
    // nullopt while it runs and for an empty handle. Does not block.
    std::optional<int> ExitCode();

    // True while the process has not ended. Does not block.
    bool IsRunning();

    // Ends the process and every process still in its process group with SIGKILL, as a hard stop.
    // Returns false for an empty handle or a process that had already ended. Does not wait: call
    // Wait to reap it. ExitCode then reports 128 + SIGKILL.
    bool Terminate();
    // The same, but ExitCode reports `exitCode` once the process has been reaped, as for a program
    // that was told to end with that code.
    bool Terminate(int exitCode);

    // A handle on a process this program did not start (one left running by an earlier run of the
    // program): `pid` must still run and have started at `startTime` (ProcessStartTime), else the
    // handle is empty. Such a process cannot be reaped here: Wait notices its end through a pidfd
    // (or, without one, by looking every 10 ms), ExitCode reports -1 once it has ended, and
    // Terminate ends its process group.
    static ProcessHandle Adopt(pid_t pid, uint64_t startTime);

    struct State;

private:
    friend ProcessHandle StartProcess(const std::string&, const std::string&, const std::string&, int);
    friend ProcessHandle StartProgram(const std::string&, const std::string&, const std::string&, int);
    explicit ProcessHandle(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
};

// Starts `file` with the parameter text `params` (split by SplitCommandLine) in the folder `dir`
// (empty: the current folder); `show` is one of the kShow values. What is started depends on `file`:
// - a folder, or a file that is neither executable nor a "#!" script (a document), is opened with
//   xdg-open, and `params` is not used;
// - an executable file runs directly; a file that is not executable but starts with "#!" runs through
//   /bin/sh;
// - "regedit" or "regedit.exe" (any case, no folder) is quokka-regedit from the program folder;
// - a relative name is looked for in `dir` first; a name without '/' not found there is searched in
//   PATH, the program folder first.
// The child starts in its own process group with an empty signal mask and every signal at its
// default (PrepareCleanSpawn), with this process's environment except that PATH begins with the
// program folder and SystemRoot names the registry emulation folder (WindowsFolder, without its
// trailing '/'), so installers and launchers find quokka-regedit and system32/. Descriptors marked
// close-on-exec stay behind.
// Returns an empty handle when nothing could be started, errno saying why: ENOENT for a missing file
// (or a missing "#!" interpreter), EACCES or ENOEXEC for a file the system will not run, or the
// error of changing into `dir`. A failed exec is seen here, never as an exit code of the child, so a
// program that itself ends with 127 has started.
ProcessHandle StartProcess(const std::string& file, const std::string& params, const std::string& dir,
                           int show = kShowNormal);

// As StartProcess for a file that has to be a program: an executable file or a "#!" script (run
// through /bin/sh when it lacks the executable bit, as a package unpacked without modes leaves it).
// A folder or a document is not handed to the desktop's opener: the handle is empty, errno EACCES.
ProcessHandle StartProgram(const std::string& file, const std::string& params, const std::string& dir,
                           int show = kShowNormal);

// When the process `pid` started, in clock ticks after boot (field 22 of /proc/<pid>/stat); together
// with the pid it names one process for the life of the machine. 0 when no such process runs (a
// zombie counts as ended).
uint64_t ProcessStartTime(pid_t pid);

// The environment StartProcess gives a child, as "NAME=value" entries.
std::vector<std::string> ChildEnvironment();

} // namespace platform
