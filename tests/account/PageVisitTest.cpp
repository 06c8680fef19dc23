// Usage beacons against the stand-in server over loopback, read back from its request log.

#include "account/PageVisit.h"
#include "foundation/NetGlobal.h"
#include "foundation/ServerEndpoints.h"
#include "foundation/SystemInfo.h"
#include "server/StandInServer.h"
#include "tests/support/RequestLog.h"
#include "tests/support/RequestWatch.h"
#include "tests/support/TempDir.h"

#include <json/json.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <regex>
#include <set>
#include <sstream>
#include <vector>

namespace {

class PageVisitTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(NetGlobalInit()); }
    static void TearDownTestSuite() { NetGlobalCleanup(); }

    void SetUp() override
    {
        StandInServerOptions options;
        options.dataDir = m_dir.Path();
        options.logPath = m_dir.Path() + "requests.log";
        m_server = std::make_unique<CStandInServer>(options);
        m_arrivals.Watch(*m_server);
        std::string error;
        ASSERT_TRUE(m_server->Start(error)) << error;
        ServerEndpoints endpoints = DefaultServerEndpoints();
        endpoints.StatBase = m_server->Origin() + "/stat/hm.gif?si=quokka";
        endpoints.SiteBase = m_server->Origin() + "/site/";
        SetServerEndpoints(endpoints);
    }

    // The logged requests whose path starts with `prefix`, in arrival order.
    std::vector<Json::Value> Logged(const std::string& prefix) const
    {
        return testsupport::ReadRequestLog(m_dir.Path() + "requests.log", prefix);
    }

    void Faults(const std::string& json)
    {
        std::string error;
        ASSERT_TRUE(m_server->SetFaults(json, error)) << error;
    }

    testsupport::TempDir m_dir;
    testsupport::RequestWatch m_arrivals;
    std::unique_ptr<CStandInServer> m_server;
};

TEST_F(PageVisitTest, EachVisitIsOneHeadWithItsPageAFreshRandomTextAndABrowsersAgent)
{
    CPageVisitReporter reporter;
    const std::vector<std::string> pages = {SiteUrl(""), SiteUrl("newuser/"), SiteUrl(""), SiteUrl(""),
                                            SiteUrl(""), SiteUrl("mygame/"), SiteUrl("game/20001/")};
    for (const std::string& page : pages)
        reporter.Report(page);
    ASSERT_TRUE(reporter.WaitIdle(10000));
    EXPECT_EQ(reporter.InFlight(), 0);

    const std::vector<Json::Value> beacons = Logged("/stat/");
    ASSERT_EQ(beacons.size(), pages.size());
    const std::string agent = "Mozilla/5.0 (compatible; MSIE 9.0; Windows NT " + GetOsVersionText() + "; " +
                              (GetOsBits() == 64 ? "WOW64" : "WOW32") + ")";
    const std::regex query("si=quokka&r=" + m_server->Origin() + "/site/&rnd=([0-8]{8})");
    std::set<std::string> randoms;
    std::multiset<std::string> referers;
    for (const Json::Value& beacon : beacons) {
        EXPECT_EQ(beacon["method"].asString(), "HEAD");
        EXPECT_EQ(beacon["path"].asString(), "/stat/hm.gif");
        EXPECT_EQ(beacon["userAgent"].asString(), agent);
        std::smatch match;
        const std::string text = beacon["query"].asString();
        ASSERT_TRUE(std::regex_match(text, match, query)) << text;
        randoms.insert(match[1]);
        referers.insert(beacon["referer"].asString());
    }
    EXPECT_EQ(randoms.size(), pages.size()) << "every beacon has its own random text, even within one second";
    EXPECT_EQ(referers, std::multiset<std::string>(pages.begin(), pages.end()));
}

TEST_F(PageVisitTest, RedirectsAreFollowed)
{
    Faults(R"([{"path": "/stat/hm.gif", "redirectTo": "/site/counted"}])");
    CPageVisitReporter reporter;
    reporter.Report(SiteUrl("mygame/"));
    ASSERT_TRUE(m_arrivals.WaitFor("HEAD /site/counted", 1));
    ASSERT_TRUE(reporter.WaitIdle(10000));
}

TEST_F(PageVisitTest, StalledBeaconsNeitherHoldTheCallerNorTheShutdown)
{
    Faults(R"([{"path": "/stat/", "prefix": true, "delayMs": 60000}])");
    CPageVisitReporter reporter;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 30; ++i)
        reporter.Report(SiteUrl(""));
    const double reporting = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(reporting, 0.5) << "reporting never waits on the network";
    ASSERT_TRUE(m_arrivals.WaitFor("HEAD /stat/", 30));
    EXPECT_EQ(reporter.InFlight(), 30);

    start = std::chrono::steady_clock::now();
    reporter.Shutdown();
    const double shutdown = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("30 stalled beacons ended %.3f s after shutdown began\n", shutdown);
    EXPECT_LT(shutdown, 2.0);
    EXPECT_EQ(reporter.InFlight(), 0);

    // Nothing more is sent once shut down.
    Faults("[]");
    reporter.Report(SiteUrl("mygame/"));
    EXPECT_TRUE(reporter.WaitIdle(0));
    EXPECT_EQ(reporter.InFlight(), 0);
}

TEST(BeaconText, RandomTextsAreEightDigitsFromZeroToEightAndDoNotRepeat)
{
    std::set<std::string> texts;
    std::set<char> digits;
    for (int i = 0; i < 2000; ++i) {
        const std::string text = BeaconRandomText();
        ASSERT_EQ(text.size(), 8u);
        for (char c : text) {
            ASSERT_GE(c, '0');
            ASSERT_LE(c, '8');
            digits.insert(c);
        }
        texts.insert(text);
    }
    EXPECT_EQ(digits.size(), 9u);
    EXPECT_GT(texts.size(), 1990u);

    // The address is cut to 1023 characters.
    ServerEndpoints endpoints = DefaultServerEndpoints();
    endpoints.SiteBase = "http://127.0.0.1/" + std::string(1100, 'a') + "/";
    SetServerEndpoints(endpoints);
    EXPECT_EQ(BeaconUrl("01234567").size(), 1023u);
    SetServerEndpoints(DefaultServerEndpoints());
}

} // namespace
