// SIGTERM ends the real program at once whatever the network does: with the stand-in server
// holding the catalogue, the icons or the statistics counter half-answered, the program aborts
// those transfers, shuts down normally and exits with 0. The figure goes to the test's output.
#include "tests/e2e/EndToEnd.h"

#include <csignal>

namespace {

using testsupport::ChildProcess;

// Within a second on an idle machine; the assertion leaves room for a loaded one.
constexpr long long kPromisedMs = 1000;
constexpr long long kAssertedMs = 3000;

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
        EXPECT_LT(end.elapsedMs, kAssertedMs) << end.Joined();
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

} // namespace
