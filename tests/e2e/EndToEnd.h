#pragma once

// What the end-to-end tests share: the real quokka copied into a temporary portable folder, the
// real stand-in server on a free port (its servers.cfg beside the program, its request log in the
// temp folder), and the checks made on a finished run.
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

// How a run ended: its exit code (nullopt when it did not end in time), every line it wrote after
// the point the test stopped reading, and the milliseconds from the start of the wait to its end.
struct RunEnd {
    std::optional<int> exitCode;
    std::vector<std::string> output;
    long long elapsedMs = 0;
    bool Printed(const std::string& text) const;
    std::string Joined() const;
};

class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::vector<std::string> Command() const { return {m_program.Path() + "quokka"}; }
    // The program's environment: its temp and runtime folders, traces on, the screenshot path and
    // the leak checker's suppressions; Qt's offscreen platform unless `extra` says otherwise.
    std::map<std::string, std::string> Env(const std::map<std::string, std::string>& extra = {}) const;
    std::string Screenshot() const { return m_temp.Path() + "shot.png"; }
    std::string ImageCache() const { return m_temp.Path() + "QuokkaAppStore/cache/image"; }
    std::string StorePath() const { return m_program.Path() + "database/quokka.db"; }

    // Replaces the server's fault rules (see server/FaultRules.h); false when it refuses them.
    bool SetFaults(const std::string& json);
    // Blocks until the server's log holds a request whose path starts with `pathPrefix`, or
    // timeoutMs pass; true when it came.
    bool WaitForRequest(const std::string& pathPrefix, int timeoutMs = 30000);

    // Reads output lines until one contains `text` (and `also`, when given); the line, or empty
    // when the output ends first or nothing came for 30 s.
    static std::string WaitForLine(testsupport::ChildProcess& child, const std::string& text,
                                   const std::string& also = {});
    // Reads the rest of the child's output and waits for it to end, for at most timeoutMs.
    static RunEnd WaitForEnd(testsupport::ChildProcess& child, int timeoutMs);

    // No sanitizer reported anything in the output.
    static void ExpectNoSanitizerReport(const RunEnd& end);
    // Ends a program that has shown its main window with SIGTERM and expects a clean end (status 0,
    // no sanitizer report); returns the end.
    static RunEnd EndRunning(testsupport::ChildProcess& child)
    {
        child.Signal(SIGTERM);
        RunEnd end = WaitForEnd(child, 30000);
        EXPECT_EQ(end.exitCode, std::optional<int>(0)) << end.Joined();
        ExpectNoSanitizerReport(end);
        return end;
    }
    // When the run made the game store's database, it passes SQLite's integrity check.
    void ExpectStoreIntact() const;
    // Every file in the image cache is whole: as long as the server's file of the same name.
    void ExpectNoPartialCacheFile() const;

    testsupport::TempDir m_program;
    testsupport::TempDir m_temp;
    std::unique_ptr<testsupport::ChildProcess> m_server;
    int m_port = 0;
};

} // namespace e2e
