// The installer's worker without a window: resuming, restarting, refusing and cancelling downloads
// against the stand-in server, with packages made in the tests.

#include "maintenance/PackageInstaller.h"
#include "foundation/NetGlobal.h"
#include "tests/maintenance/PackageServer.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <mutex>
#include <thread>

using namespace maintenancetest;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

class NetEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(NetGlobalInit()); }
    void TearDown() override { NetGlobalCleanup(); }
};
[[maybe_unused]] ::testing::Environment* const g_net =
    ::testing::AddGlobalTestEnvironment(new NetEnvironment);

const std::string kPackageName = "Microsoft Visual C++ 2010 SP1 Redistributable Package (x64).zip";

class PackageInstallerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(m_world.Start(error)) << error;
        m_payload = NoiseBytes(600 * 1024, 7);
        m_package = MakePackage({{"payload.bin", m_payload}});
        ASSERT_FALSE(m_package.empty());
        ASSERT_TRUE(m_world.Put(kPackageName, m_package));
        // A VC2010 job without its installer: resumable, unpacking into the work folder.
        ASSERT_TRUE(MakePopJob(kPopVc2010, 64, m_world.WorkDir(), nullptr, m_job));
        m_job.installer.clear();
    }

    // Runs the job on this thread and keeps every report.
    int Run()
    {
        CPackageInstaller installer(m_job, [this](const PopReport& report) { m_reports.push_back(report); });
        return installer.Run();
    }

    std::string Zip() const { return m_world.WorkDir() + "VC2010.zip"; }
    std::string Ranges() const
    {
        std::string ranges;
        for (const LoggedRequest& request : m_world.Requests("GET", kPackageName))
            ranges += "[" + request.range + "]";
        return ranges;
    }

    PackageWorld m_world;
    std::string m_payload;
    std::string m_package;
    PopJob m_job;
    std::vector<PopReport> m_reports;
};

TEST_F(PackageInstallerTest, CutConnectionsResumeWhereTheFileEnds)
{
    ASSERT_TRUE(m_world.Faults(R"([{"path": "/download/", "prefix": true, "method": "GET",
                                  "cutAfter": 200000, "times": 2}])"));
    ASSERT_EQ(Run(), CPackageInstaller::kFinished);
    EXPECT_EQ(Ranges(), "[][bytes=200000-][bytes=400000-]");
    EXPECT_EQ(ReadFile(Zip()), m_package); // kept for the next run
    EXPECT_EQ(ReadFile(m_world.WorkDir() + "payload.bin"), m_payload);
    ASSERT_FALSE(m_reports.empty());
    EXPECT_EQ(m_reports.back().state, 10);
    bool sawDownload = false, sawExtract = false;
    for (const PopReport& report : m_reports) {
        sawDownload |= report.state == 2 && report.total == m_package.size() && report.done > 0;
        sawExtract |= report.state == 5 && report.done == report.total && report.total == m_payload.size();
    }
    EXPECT_TRUE(sawDownload && sawExtract);
}

TEST_F(PackageInstallerTest, ACompletePackageIsNotFetchedAgain)
{
    ASSERT_TRUE(WriteFile(Zip(), m_package));
    ASSERT_EQ(Run(), CPackageInstaller::kFinished);
    EXPECT_EQ(m_world.Requests("HEAD", kPackageName).size(), 1u);
    EXPECT_EQ(Ranges(), "");
    EXPECT_EQ(ReadFile(m_world.WorkDir() + "payload.bin"), m_payload);
}

TEST_F(PackageInstallerTest, APartialLargerThanTheServersFileStartsAgainFromZero)
{
    ASSERT_TRUE(WriteFile(Zip(), m_package + "left over from another version"));
    ASSERT_EQ(Run(), CPackageInstaller::kFinished);
    EXPECT_EQ(Ranges(), "[]");
    EXPECT_EQ(ReadFile(Zip()), m_package);
}

TEST_F(PackageInstallerTest, APartialFromAnEarlierRunIsContinued)
{
    ASSERT_TRUE(WriteFile(Zip(), m_package.substr(0, 123456)));
    ASSERT_EQ(Run(), CPackageInstaller::kFinished);
    EXPECT_EQ(Ranges(), "[bytes=123456-]");
    EXPECT_EQ(ReadFile(m_world.WorkDir() + "payload.bin"), m_payload);
}

TEST_F(PackageInstallerTest, AnErrorStatusFailsWithItAndLeavesThePartialAlone)
{
    const std::string partial = m_package.substr(0, 1000);
    ASSERT_TRUE(WriteFile(Zip(), partial));
    ASSERT_TRUE(m_world.Faults(R"({"path": "/download/", "prefix": true, "method": "GET", "status": 404})"));
    ASSERT_EQ(Run(), CPackageInstaller::kFailed);
    ASSERT_FALSE(m_reports.empty());
    EXPECT_EQ(m_reports.back().state, 9);
    EXPECT_EQ(m_reports.back().errorCode, 404);
    EXPECT_EQ(ReadFile(Zip()), partial); // the error page was not appended

    // Without the file even the header request fails: the size cannot be known.
    m_reports.clear();
    m_job.url = m_world.Url("missing.zip");
    ASSERT_EQ(Run(), CPackageInstaller::kFailed);
    EXPECT_EQ(m_reports.back().errorCode, kPopErrorSizeQuery);
}

TEST_F(PackageInstallerTest, APackageThatDoesNotUnpackIsDeletedAndFails)
{
    ASSERT_TRUE(m_world.Put(kPackageName, "not a zip archive"));
    ASSERT_EQ(Run(), CPackageInstaller::kFailed);
    EXPECT_EQ(m_reports.back().errorCode, kPopErrorExtraction);
    EXPECT_FALSE(std::filesystem::exists(Zip()));
}

TEST_F(PackageInstallerTest, CancelEndsAStalledTransferAtOnceAndKeepsThePartial)
{
    ASSERT_TRUE(m_world.Faults(R"({"path": "/download/", "prefix": true, "method": "GET",
                                  "stallAfter": 65536, "stallMs": 60000})"));
    std::promise<void> arrived;
    bool signalled = false;
    CPackageInstaller installer(m_job, [&](const PopReport& report) {
        if (report.state == 2 && report.done > 0 && !signalled) {
            signalled = true;
            arrived.set_value();
        }
    });
    std::future<int> result = std::async(std::launch::async, [&] { return installer.Run(); });
    ASSERT_EQ(arrived.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
    const auto cancelled = std::chrono::steady_clock::now();
    installer.Cancel();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    const auto elapsed = std::chrono::steady_clock::now() - cancelled;
    EXPECT_EQ(result.get(), CPackageInstaller::kCancelled);
    EXPECT_LT(elapsed, std::chrono::milliseconds(500));
    EXPECT_EQ(ReadFile(Zip()), m_package.substr(0, 65536));
}

TEST_F(PackageInstallerTest, AServerThatIgnoresTheRangeIsFollowedFromByteZero)
{
    // A server without byte ranges: every GET answers 200 with the whole package.
    httplib::Server server;
    std::mutex lock;
    std::vector<std::string> ranges;
    server.Get("/whole.zip", [&](const httplib::Request& request, httplib::Response& response) {
        if (request.method == "GET") {
            std::lock_guard<std::mutex> hold(lock);
            ranges.push_back(request.get_header_value("Range"));
        }
        response.status = 200;
        response.set_content(m_package, "application/zip");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port, 0);
    std::thread serving([&server] { server.listen_after_bind(); });
    struct Stop {
        httplib::Server& server;
        std::thread& thread;
        ~Stop()
        {
            server.stop();
            thread.join();
        }
    } stop{server, serving};

    ASSERT_TRUE(WriteFile(Zip(), m_package.substr(0, 1000)));
    m_job.url = "http://127.0.0.1:" + std::to_string(port) + "/whole.zip";
    ASSERT_EQ(Run(), CPackageInstaller::kFinished) << "code " << m_reports.back().errorCode;
    EXPECT_EQ(ReadFile(Zip()), m_package); // not the whole file appended to the partial
    EXPECT_EQ(ReadFile(m_world.WorkDir() + "payload.bin"), m_payload);
    std::lock_guard<std::mutex> hold(lock);
    EXPECT_EQ(ranges, (std::vector<std::string>{"bytes=1000-", ""}));
}

} // namespace
