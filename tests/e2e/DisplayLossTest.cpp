// The real quokka on an X server of the test's own, which the test then takes away: whatever the
// program is doing at that moment, it shuts its services down, says so in one line and ends with
// the display-lost status, within seconds, without a sanitizer report, its store intact.
#include "tests/e2e/EndToEnd.h"
#include "tests/e2e/XServer.h"

#include "app/Startup.h"

namespace {

using e2e::RunEnd;
using testsupport::ChildProcess;

constexpr int kEndWithinMs = 5000;

class DisplayLossTest : public e2e::EndToEndTest {
protected:
    void SetUp() override
    {
        if (!e2e::XServer::Available())
            GTEST_SKIP() << "Xvfb is not installed (scripts/install-deps.sh installs it)";
        EndToEndTest::SetUp();
        ASSERT_TRUE(m_x.Start()) << "Xvfb did not start";
    }

    std::unique_ptr<ChildProcess> StartOnX(const std::map<std::string, std::string>& extra = {})
    {
        std::map<std::string, std::string> env = {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", m_x.Display()}};
        env.insert(extra.begin(), extra.end());
        return std::make_unique<ChildProcess>(Command(), Env(env), true);
    }

    // Takes the display away and checks how the program ended.
    RunEnd LoseDisplayAndExpectCleanEnd(ChildProcess& quokka)
    {
        m_x.Kill();
        RunEnd end = WaitForEnd(quokka, kEndWithinMs);
        EXPECT_TRUE(end.exitCode.has_value())
            << "still running " << kEndWithinMs << " ms after the display went:\n"
            << end.Joined();
        EXPECT_EQ(end.exitCode.value_or(-1), kDisplayLostExitCode) << end.Joined();
        EXPECT_TRUE(end.Printed("the display connection was lost")) << end.Joined();
        EXPECT_FALSE(end.Printed("shutdown cut short")) << end.Joined();
        ExpectNoSanitizerReport(end);
        ExpectStoreIntact();
        std::printf("[ figures  ] ended %lld ms after the display went\n", end.elapsedMs);
        return end;
    }

    e2e::XServer m_x;
};

TEST_F(DisplayLossTest, AfterTheFirstPageTheProgramShutsDownAndEndsWithItsStatus)
{
    auto quokka = StartOnX();
    ASSERT_FALSE(WaitForLine(*quokka, "screenshot", "written").empty()) << "the first page never showed";
    LoseDisplayAndExpectCleanEnd(*quokka);
    ExpectNoPartialCacheFile();
}

TEST_F(DisplayLossTest, WithAModalDialogOpenItsWaitingWorkerIsAnsweredAsClosed)
{
    auto quokka = StartOnX({{"QUOKKA_TEST_MESSAGE_BOX", "测试"}});
    ASSERT_FALSE(WaitForLine(*quokka, "test message box: open").empty());
    // The page and its icons arrive through the dialog's loop: it runs by now.
    ASSERT_FALSE(WaitForLine(*quokka, "screenshot", "written").empty()) << "the first page never showed";
    RunEnd end = LoseDisplayAndExpectCleanEnd(*quokka);
    EXPECT_TRUE(end.Printed("test message box: answered 8"))
        << "the worker waiting for the box gets IDCLOSE:\n"
        << end.Joined();
}

TEST_F(DisplayLossTest, WithACatalogueRequestInFlight)
{
    ASSERT_TRUE(SetFaults(R"([{"path": "/clientapi/", "delayMs": 60000}])"));
    auto quokka = StartOnX();
    ASSERT_TRUE(WaitForRequest("/clientapi/")) << "the program never asked for its first page";
    LoseDisplayAndExpectCleanEnd(*quokka);
}

TEST_F(DisplayLossTest, DuringStartUpBeforeTheMainWindowShows)
{
    auto quokka = StartOnX();
    ASSERT_FALSE(WaitForLine(*quokka, "start-up: creating the main window").empty());
    // A frozen server answers nothing, so the program waits on it while making its window; then
    // the server goes.
    m_x.Freeze();
    LoseDisplayAndExpectCleanEnd(*quokka);
}

TEST_F(DisplayLossTest, ADisplayGoneBeforeTheProgramConnectsEndsItTheSameWay)
{
    m_x.Kill();
    auto quokka = StartOnX();
    RunEnd end = WaitForEnd(*quokka, kEndWithinMs);
    EXPECT_EQ(end.exitCode.value_or(-1), kDisplayLostExitCode) << "not Qt's abort:\n" << end.Joined();
    EXPECT_TRUE(end.Printed("the display connection was lost")) << end.Joined();
    ExpectNoSanitizerReport(end);
}

} // namespace
