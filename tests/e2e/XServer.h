#pragma once

// An X server of the tests' own: Xvfb on a display number it picks itself, so tests can run beside
// a desktop and beside each other. The tests end it to take the display away from a program.
#include "tests/support/ChildProcess.h"

#include <memory>
#include <string>

namespace e2e {

class XServer {
public:
    // True when Xvfb can be found on PATH; tests that need it skip without it.
    static bool Available();

    // Starts Xvfb and waits until it takes connections. False when it does not start in 20 s.
    bool Start();
    // ":N", valid after a successful Start.
    const std::string& Display() const { return m_display; }
    // Ends the server at once (SIGKILL), as a crash would, and reaps it; every client's connection
    // breaks. Returns once the server is gone.
    void Kill();
    // Stops the server without letting it run further (SIGSTOP): clients' requests go unanswered.
    void Freeze();

private:
    std::unique_ptr<testsupport::ChildProcess> m_process;
    std::string m_display;
};

} // namespace e2e
