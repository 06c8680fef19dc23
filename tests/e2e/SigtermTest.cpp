// SIGTERM ends the real program at once whatever the network does: with the stand-in server
// holding the catalogue, the icons or the statistics counter half-answered, the program aborts
// those transfers, shuts down normally and exits with 0. The figure goes to the test's output.
#include "tests/e2e/EndToEnd.h"

#include "tests/support/FirstRunLibraryFolder.h"

#include <csignal>
#include <fstream>

namespace {

using testsupport::ChildProcess;

// Within a second on an idle machine; the figure is printed, not asserted, since a loaded machine
// may take longer.
constexpr long long kPromisedMs = 1000;

class SigtermTest : public e2e::EndToEndTest {
protected:
    // Starts the program with `faults` in place, waits until it has asked for `stalledPath`
    // (and, when given, for the line `line`), sends SIGTERM and checks the end.
    void ExpectPromptEnd(const std::string& faults, const std::string& stalledPath,
                         const std::string& line = {})
    {
        ASSERT_TRUE(SetFaults(faults));
        ChildProcess quokka(Command(), Env(), true);
        if (!line.empty()) {
            ASSERT_FALSE(WaitForLine(quokka, line).empty()) << line;
        }
        ASSERT_TRUE(WaitForRequest(stalledPath)) << "the program never asked for " << stalledPath;

        quokka.Signal(SIGTERM);
        e2e::RunEnd end = WaitForEnd(quokka, 20000);
        std::printf("[ figures  ] SIGTERM with %s stalled: ended after %lld ms (promised %lld ms)\n",
                    stalledPath.c_str(), end.elapsedMs, kPromisedMs);
        ASSERT_TRUE(end.exitCode.has_value()) << end.Joined();
        EXPECT_EQ(*end.exitCode, 0) << end.Joined();
        ExpectNoSanitizerReport(end);
        ExpectStoreIntact();
        ExpectNoPartialCacheFile();
    }
};

TEST_F(SigtermTest, EndsAtOnceWhileTheCatalogueStalls)
{
    ExpectPromptEnd(R"([{"path": "/clientapi/", "stallAfter": 0, "stallMs": 60000}])", "/clientapi/");
}

TEST_F(SigtermTest, EndsAtOnceWhileIconsAndTheStatisticsCounterStall)
{
    // The page arrives; every icon and every counter request is cut off after a few bytes.
    ExpectPromptEnd(R"([{"path": "/image/", "prefix": true, "stallAfter": 64, "stallMs": 60000},
                        {"path": "/stat/", "prefix": true, "stallAfter": 0, "stallMs": 60000}])",
                    "/image/", "catalogue page 1: ");
}

// SIGHUP (the terminal or the session went away) ends the program as SIGTERM does, also when it was
// started with SIGHUP ignored, as nohup starts it.
TEST_F(SigtermTest, SighupShutsDownAsSigtermDoesEvenWhenStartedIgnoringIt)
{
    for (bool ignored : {false, true}) {
        SCOPED_TRACE(ignored ? "started with SIGHUP ignored" : "started with SIGHUP as is");
        std::vector<std::string> command = Command();
        if (ignored)
            command = {"/bin/sh", "-c", "trap '' HUP; exec \"$0\"", command[0]};
        ChildProcess quokka(command, Env(), true);
        ASSERT_FALSE(WaitForLine(quokka, "start-up: main window created").empty());
        quokka.Signal(SIGHUP);
        e2e::RunEnd end = WaitForEnd(quokka, 30000);
        ASSERT_TRUE(end.exitCode.has_value()) << end.Joined();
        EXPECT_EQ(*end.exitCode, 0) << end.Joined();
        EXPECT_TRUE(end.Printed("main loop: ending on signal 1")) << end.Joined();
        EXPECT_TRUE(end.Printed("shutdown: finished")) << end.Joined();
        ExpectNoSanitizerReport(end);
    }
    ExpectStoreIntact();
}

// Start-up asks its questions (the update offer, the first-run settings window) before the main
// window's loop runs. A signal while one of them waits for the user ends the run there: the
// question closes unanswered, nothing after it is asked, and the program shuts down with 0.
class SigtermAtStartupTest : public SigtermTest {
protected:
    void WriteSettings(const std::string& text)
    {
        std::ofstream(m_program.Path() + "quokka.cfg", std::ios::trunc) << text;
    }

    // Starts the program, waits for the line that says the question is up, sends SIGTERM.
    e2e::RunEnd EndWhileAsking(const std::string& questionLine)
    {
        ChildProcess quokka(Command(), Env(), true);
        EXPECT_FALSE(WaitForLine(quokka, questionLine).empty()) << questionLine;
        quokka.Signal(SIGTERM);
        e2e::RunEnd end = WaitForEnd(quokka, 20000);
        std::printf("[ figures  ] SIGTERM at \"%s\": ended after %lld ms (promised %lld ms)\n",
                    questionLine.c_str(), end.elapsedMs, kPromisedMs);
        return end;
    }
};

TEST_F(SigtermAtStartupTest, EndsWhileTheUpdateOfferWaitsAndDownloadsNothing)
{
    WriteSettings("[Set]\nRomPath=" + m_temp.Path() + "games/\nUpdateType=1\n");
    ASSERT_TRUE(SetFaults(R"([{"path": "/download/pc/update/index.php", "body":
        "{\"version\": \"0.0.15\", \"downloadurl\": \"\", \"description\": \"next\"}"}])"));

    e2e::RunEnd end = EndWhileAsking("update: newer version 0.0.15 offered");
    ASSERT_TRUE(end.exitCode.has_value()) << end.Joined();
    EXPECT_EQ(*end.exitCode, 0) << end.Joined();
    EXPECT_TRUE(end.Printed("main loop: not entered")) << end.Joined();
    EXPECT_FALSE(WaitForRequest("/download/Update.zip", 0)) << "the unanswered offer downloaded the update";
    ExpectNoSanitizerReport(end);
}

TEST_F(SigtermAtStartupTest, EndsWhileTheFirstRunSettingsWindowWaits)
{
    // The child has the test's home folder and mounts, so it takes the same drive.
    testsupport::FirstRunLibraryFolder library;
    WriteSettings("[Set]\nIsTray=0\n");

    e2e::RunEnd end = EndWhileAsking("start-up: no library folder");
    ASSERT_TRUE(end.exitCode.has_value()) << end.Joined();
    EXPECT_EQ(*end.exitCode, 0) << end.Joined();
    EXPECT_TRUE(end.Printed("main loop: not entered")) << end.Joined();
    ExpectNoSanitizerReport(end);
    ExpectStoreIntact();
}

} // namespace
