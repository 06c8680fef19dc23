// The installer's worker without a window: resuming, restarting, refusing and cancelling downloads
// against the stand-in server, with packages made in the tests.

#include "maintenance/PackageInstaller.h"
#include "foundation/NetGlobal.h"
#include "tests/maintenance/PackageServer.h"
#include "tests/support/Fifo.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
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

    // A disk without room for the package's files is a failure of its own, said as such.
    ASSERT_TRUE(m_world.Put(kPackageName, m_package));
    m_job.unpackLimits.freeBytes = [](const std::string&) { return int64_t{4096}; };
    m_reports.clear();
    ASSERT_EQ(Run(), CPackageInstaller::kFailed);
    EXPECT_EQ(m_reports.back().errorCode, kPopErrorDiskFull);
    EXPECT_FALSE(std::filesystem::exists(m_world.WorkDir() + "payload.bin"));

    // So is a disk that fills while the package arrives: the package file on a device that is
    // always full.
    m_job.unpackLimits.freeBytes = nullptr;
    std::filesystem::remove(Zip());
    std::filesystem::create_symlink("/dev/full", Zip());
    m_reports.clear();
    ASSERT_EQ(Run(), CPackageInstaller::kFailed);
    EXPECT_EQ(m_reports.back().errorCode, kPopErrorDiskFull);
}

TEST_F(PackageInstallerTest, CancelEndsAStalledTransferAndKeepsThePartial)
{
    // Every attempt stalls for longer than the test may take: only the cancel ends the run.
    m_job.attemptTimeoutMs = 600000;
    ASSERT_TRUE(m_world.Faults(R"({"path": "/download/", "prefix": true, "method": "GET",
                                  "stallAfter": 65536, "stallMs": 600000})"));
    std::promise<void> arrived;
    bool signalled = false;
    CPackageInstaller installer(m_job, [&](const PopReport& report) {
        if (report.state == 2 && report.done > 0 && !signalled) {
            signalled = true;
            arrived.set_value();
        }
    });
    std::future<int> result = std::async(std::launch::async, [&] { return installer.Run(); });
    arrived.get_future().wait();
    installer.Cancel();
    EXPECT_EQ(result.get(), CPackageInstaller::kCancelled);
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

TEST_F(PackageInstallerTest, NothingPastTheAnnouncedLengthIsKept)
{
    // One answer runs on past the package: that attempt fails and what it wrote goes; the next one
    // brings the package.
    ASSERT_TRUE(m_world.Faults(R"({"path": "/download/", "prefix": true, "method": "GET",
                                  "extraBytes": 1000, "times": 1})"));
    ASSERT_EQ(Run(), CPackageInstaller::kFinished) << "code " << m_reports.back().errorCode;
    EXPECT_EQ(Ranges(), "[][]");
    EXPECT_EQ(ReadFile(Zip()), m_package);

    // A body without end fails the job after a bounded number of attempts, and the partial from an
    // earlier run is left exactly as it was.
    const std::string partial = m_package.substr(0, 1000);
    ASSERT_TRUE(WriteFile(Zip(), partial));
    ASSERT_TRUE(
        m_world.Faults(R"({"path": "/download/", "prefix": true, "method": "GET", "endlessBody": true})"));
    m_reports.clear();
    ASSERT_EQ(Run(), CPackageInstaller::kFailed);
    EXPECT_EQ(m_reports.back().state, 9);
    EXPECT_EQ(m_reports.back().errorCode, kPopErrorBodyTooLong);
    EXPECT_EQ(ReadFile(Zip()), partial);
    EXPECT_EQ(m_world.Requests("GET", kPackageName).size(), 2u + CPackageInstaller::kMaxFailedAttempts);
    for (const PopReport& report : m_reports)
        EXPECT_LE(report.done, static_cast<double>(m_package.size()));
}

TEST_F(PackageInstallerTest, AttemptsThatBringNothingFailTheJobAfterABoundedNumber)
{
    m_job.attemptTimeoutMs = 300;
    struct Case {
        const char* fault;
        int code;
    };
    const Case cases[] = {
        {R"({"path": "/download/", "prefix": true, "method": "GET", "stallAfter": 0, "stallMs": 2000})",
         CURLE_OPERATION_TIMEDOUT},
        {R"({"path": "/download/", "prefix": true, "method": "GET", "body": ""})", CURLE_PARTIAL_FILE},
        {R"({"path": "/download/", "prefix": true, "method": "GET", "cutAfter": 0})", CURLE_PARTIAL_FILE},
    };
    size_t requests = 0;
    for (const Case& failing : cases) {
        ASSERT_TRUE(m_world.Faults(failing.fault));
        m_reports.clear();
        ASSERT_EQ(Run(), CPackageInstaller::kFailed) << failing.fault;
        EXPECT_EQ(m_reports.back().state, 9) << failing.fault;
        EXPECT_EQ(m_reports.back().errorCode, failing.code) << failing.fault;
        // The window shows the package's size from the start, not 0 of 0.
        EXPECT_EQ(m_reports.front().total, static_cast<double>(m_package.size())) << failing.fault;
        const size_t now = m_world.Requests("GET", kPackageName).size();
        EXPECT_EQ(now - requests, static_cast<size_t>(CPackageInstaller::kMaxFailedAttempts))
            << failing.fault;
        requests = now;
        EXPECT_EQ(ReadFile(Zip()), "") << failing.fault;
    }

    // Time-outs that bring bytes are no failures: a slow server is followed one slice after another.
    ::unlink(Zip().c_str());
    m_job.attemptTimeoutMs = 400;
    ASSERT_TRUE(
        m_world.Faults(R"({"path": "/download/", "prefix": true, "method": "GET", "rateKiBps": 512})"));
    ASSERT_EQ(Run(), CPackageInstaller::kFinished) << "code " << m_reports.back().errorCode;
    EXPECT_EQ(ReadFile(Zip()), m_package);
    EXPECT_GT(m_world.Requests("GET", kPackageName).size() - requests, 1u);
}

// Every file and folder under `folder` by its relative path, with the file's content ("/" for a
// folder); empty when there is no folder.
std::map<std::string, std::string> Tree(const std::string& folder)
{
    std::map<std::string, std::string> tree;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        const std::string name = it->path().lexically_relative(folder).string();
        tree[name] = it->is_directory() ? "/" : ReadFile(it->path().string());
    }
    return tree;
}

TEST_F(PackageInstallerTest, AnEmulatorFolderIsReplacedWholeOrNotAtAll)
{
    const std::string platformFolder = m_world.ProgramDir() + "Emulator/FC/";
    const std::string folder = platformFolder + "Nes/";
    const std::map<std::string, std::string> oldVersion = {
        {"nes.sh", "old"}, {"old.dll", "kept"}, {"UserGamePadCfg", "/"}, {"UserGamePadCfg/pad.cfg", "mine"}};
    for (const auto& [name, content] : oldVersion) {
        if (content == "/")
            std::filesystem::create_directories(folder + name);
        else
            ASSERT_TRUE(WriteFile(folder + name, content));
    }
    PopEmulator emulator{"Nes", "2.0", m_world.Url("emu/nes.zip"), folder};
    ASSERT_TRUE(MakePopJob(kPopEmulator, 64, m_world.WorkDir(), &emulator, m_job));
    const std::string big = NoiseBytes(4 << 20, 9);

    // An entry that fails half-way through the package leaves the old version as it was.
    ASSERT_TRUE(m_world.Put("emu/nes.zip", MakePackage({{"nes.sh", "new"}, {"../escape", "x"}})));
    ASSERT_EQ(Run(), CPackageInstaller::kFailed);
    EXPECT_EQ(m_reports.back().errorCode, kPopErrorExtraction);
    EXPECT_EQ(Tree(folder), oldVersion);
    EXPECT_EQ(Tree(platformFolder).size(), oldVersion.size() + 1) << "a sibling stayed behind";

    // Cancelled while it unpacks: one whole version, never a mix, and nothing beside it.
    const std::string package = MakePackage({{"nes.sh", "new"}, {"a.bin", big}, {"b.bin", big}});
    ASSERT_TRUE(m_world.Put("emu/nes.zip", package));
    std::map<std::string, std::string> newVersion = oldVersion;
    newVersion["nes.sh"] = "new";
    newVersion["a.bin"] = big;
    newVersion["b.bin"] = big;
    {
        std::unique_ptr<CPackageInstaller> installer;
        installer = std::make_unique<CPackageInstaller>(m_job, [&](const PopReport& report) {
            if (report.state == 5)
                installer->Cancel();
        });
        const int result = installer->Run();
        const auto tree = Tree(folder);
        EXPECT_TRUE(tree == (result == CPackageInstaller::kFinished ? newVersion : oldVersion))
            << "result " << result << ", " << tree.size() << " entries";
        EXPECT_EQ(Tree(platformFolder).size(), tree.size() + 1) << "a sibling stayed behind";
        EXPECT_FALSE(std::filesystem::exists(m_world.WorkDir() + "Emulator.zip"));
    }

    // What a crash left beside the folder is cleaned up by the next installation, which brings the
    // new version with the files only the old one had (the user's settings among them).
    std::filesystem::create_directories(platformFolder + ".Nes.installing");
    ASSERT_TRUE(WriteFile(platformFolder + ".Nes.installing/nes.sh", "half"));
    m_reports.clear();
    ASSERT_EQ(Run(), CPackageInstaller::kFinished) << "code " << m_reports.back().errorCode;
    EXPECT_EQ(Tree(folder), newVersion);
    EXPECT_EQ(Tree(platformFolder).size(), newVersion.size() + 1) << "a sibling stayed behind";

    // A swap stopped between its two renames left the old version under its second name: it is put
    // back before anything else happens.
    std::filesystem::rename(folder, platformFolder + ".Nes.replaced");
    ASSERT_TRUE(m_world.Put("emu/nes.zip", "not a package"));
    ASSERT_EQ(Run(), CPackageInstaller::kFailed);
    EXPECT_EQ(Tree(folder), newVersion);
    EXPECT_EQ(Tree(platformFolder).size(), newVersion.size() + 1) << "a sibling stayed behind";
    EXPECT_FALSE(std::filesystem::exists(m_world.WorkDir() + "Emulator.zip"));
}

TEST_F(PackageInstallerTest, CancelWaitsForARunningInstallerAndEndInstallerEndsIt)
{
    // The installer says it has started, then waits for the test's word before it finishes.
    testsupport::Fifo started(m_world.Root() + "started");
    testsupport::Fifo go(m_world.Root() + "go");
    const std::string script = "#!/bin/sh\necho $$ > '" + started.Path() + "'\nread word < '" + go.Path() +
                               "'\necho done > finished.txt\n";
    ASSERT_TRUE(MakePopJob(kPopVc2010, 64, m_world.WorkDir(), nullptr, m_job));
    const std::string exe = "Microsoft Visual C++ 2010 SP1 Redistributable Package (x64).exe";
    ASSERT_TRUE(m_world.Put(kPackageName, MakePackage({{exe, script, 0100755}})));

    for (bool end : {false, true}) {
        std::promise<void> waiting;
        std::vector<int> states;
        std::mutex lock;
        CPackageInstaller installer(m_job, [&](const PopReport& report) {
            std::lock_guard<std::mutex> hold(lock);
            states.push_back(report.state);
            if (report.state == kPopStateWaitingForInstaller)
                waiting.set_value();
        });
        ::unlink((m_world.WorkDir() + "finished.txt").c_str());
        std::future<int> result = std::async(std::launch::async, [&] { return installer.Run(); });
        const std::optional<std::string> pidText = started.ReadLine(60000);
        ASSERT_TRUE(pidText);
        const pid_t pid = std::atoi(pidText->c_str());
        ASSERT_GT(pid, 0);
        installer.Cancel();
        waiting.get_future().wait();
        if (end) {
            installer.EndInstaller();
        } else {
            ASSERT_TRUE(go.WriteLine("finish"));
        }
        EXPECT_EQ(result.get(), CPackageInstaller::kCancelled);
        // The run has ended only once the installer had: it finished its work, or it is gone.
        if (end) {
            EXPECT_NE(::kill(pid, 0), 0) << "the installer still runs";
            EXPECT_FALSE(std::filesystem::exists(m_world.WorkDir() + "finished.txt"));
        } else {
            EXPECT_EQ(ReadFile(m_world.WorkDir() + "finished.txt"), "done\n");
        }
        std::lock_guard<std::mutex> hold(lock);
        EXPECT_EQ(std::count(states.begin(), states.end(), kPopStateEndingInstaller), end ? 1 : 0);
        EXPECT_NE(std::find(states.begin(), states.end(), 11), states.end());
    }
}

} // namespace
