#pragma once

#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

// A program started by a test, with its standard output on a pipe. The destructor kills a child
// that is still running and reaps it, so no test leaves a process behind.
class ChildProcess {
public:
    // Starts `argv[0]` (a path) with the given arguments; `env` entries are added to (or replace
    // entries of) this process's environment. With `mergeStderr` the child's standard error goes to
    // the same pipe as its output. Throws std::runtime_error when it cannot start.
    explicit ChildProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {},
                          bool mergeStderr = false);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The next line of standard output without its newline; nullopt when the child closed its output
    // or timeoutMs passed.
    std::optional<std::string> ReadLine(int timeoutMs);

    // Waits for the child to end; its exit code (128 + signal for a signal), or nullopt on time-out.
    std::optional<int> Wait(int timeoutMs);

    void Signal(int signal);
    // Closes the child's standard input (children that wait for end of input then finish).
    void CloseInput();
    pid_t Pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    int m_stdout = -1;
    int m_stdin = -1;
    std::string m_buffer;
    std::optional<int> m_exitCode;
};

} // namespace testsupport
