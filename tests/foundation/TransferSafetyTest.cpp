#include "foundation/HttpClient.h"
#include "foundation/NetGlobal.h"
#include "foundation/ServerEndpoints.h"
#include "server/StandInServer.h"
#include "tests/foundation/TestCertificate.h"
#include "tests/support/TempDir.h"

#include <cstdio>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

using testsupport::ReadFile;
using testsupport::WriteFile;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string kFileContent(5000, 'q');

// The paths a server has been asked for, so a test can wait until a request has arrived.
class RequestsSeen {
public:
    void Add(const std::string& path)
    {
        {
            std::lock_guard lock(m_lock);
            m_paths.insert(path);
        }
        m_arrived.notify_all();
    }
    bool WaitFor(const std::string& path, std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(m_lock);
        return m_arrived.wait_for(lock, timeout, [&] { return m_paths.count(path) > 0; });
    }
    void Clear()
    {
        std::lock_guard lock(m_lock);
        m_paths.clear();
    }

private:
    std::mutex m_lock;
    std::condition_variable m_arrived;
    std::multiset<std::string> m_paths;
};

// Restores the endpoints in force when it goes.
class EndpointsGuard {
public:
    EndpointsGuard() : m_saved(GetServerEndpoints()) {}
    ~EndpointsGuard() { SetServerEndpoints(m_saved); }

private:
    ServerEndpoints m_saved;
};

// The entries of a folder whose names hold ".part-": what a download left behind.
std::vector<std::string> PartFiles(const std::string& folder)
{
    std::vector<std::string> parts;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        if (entry.path().filename().string().find(".part-") != std::string::npos)
            parts.push_back(entry.path().string());
    return parts;
}

// A stand-in server on a free loopback port, http or (with a certificate) https, with a 5000-byte
// file, an update manifest and a redirect to it.
class TransferSafetyTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(NetGlobalInit()); }
    static void TearDownTestSuite() { NetGlobalCleanup(); }

    void StartServer(bool tls)
    {
        const std::string data = m_dir.Path() + "data/";
        fs::create_directories(data + "download");
        fs::create_directories(data + "update");
        ASSERT_TRUE(WriteFile(data + "download/file.bin", kFileContent));
        ASSERT_TRUE(WriteFile(data + "update/index.json", R"({"version":"0.0.15"})"));
        ASSERT_TRUE(WriteFile(data + "redirects.json", R"({"/download/moved.bin": "/download/file.bin"})"));
        StandInServerOptions options;
        options.dataDir = data;
        if (tls) {
            options.tlsCertFile = m_dir.Path() + "cert.pem";
            options.tlsKeyFile = m_dir.Path() + "key.pem";
            ASSERT_TRUE(WriteSelfSignedCertificate(options.tlsCertFile, options.tlsKeyFile));
        }
        m_server = std::make_unique<CStandInServer>(options);
        m_server->SetRequestObserver(
            [this](const std::string&, const std::string& path) { m_seen.Add(path); });
        std::string error;
        ASSERT_TRUE(m_server->Start(error)) << error;
    }

    std::string Url(const std::string& path) const { return m_server->Origin() + path; }

    void Faults(const std::string& json)
    {
        std::string error;
        ASSERT_TRUE(m_server->SetFaults(json, error)) << error;
    }

    // Uses `caFile` as the CaFile of servers.cfg would be used.
    void TrustCaFile(const std::string& caFile)
    {
        ServerEndpoints endpoints = GetServerEndpoints();
        endpoints.CaFile = caFile;
        SetServerEndpoints(endpoints);
    }

    // Runs `operation` on another thread, waits until the server has seen a request for `path`,
    // sets the cancel flag and expects the operation to end, failed, within a second.
    // `whileRunning`, when given, runs after the request arrived and before the flag is set.
    void ExpectCancelledPromptly(const char* what, const std::string& path,
                                 std::function<bool(const TransferCancel*)> operation,
                                 std::function<void()> whileRunning = {})
    {
        m_seen.Clear();
        TransferCancel cancel{false};
        auto result = std::async(std::launch::async, [&] { return operation(&cancel); });
        ASSERT_TRUE(m_seen.WaitFor(path, 5s)) << what << ": the request never arrived";
        if (whileRunning)
            whileRunning();
        const auto setAt = std::chrono::steady_clock::now();
        cancel = true;
        // The peer holds back for 60 s: ending well before that is the cancel's doing, however
        // loaded the machine.
        ASSERT_EQ(result.wait_for(30s), std::future_status::ready)
            << what << ": still running 30 s after cancel";
        const auto took =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - setAt);
        std::printf("%s ended %lld ms after its cancel\n", what, static_cast<long long>(took.count()));
        EXPECT_FALSE(result.get()) << what << ": a cancelled transfer is no success";
    }

    testsupport::TempDir m_dir;
    EndpointsGuard m_endpoints;
    RequestsSeen m_seen;
    std::unique_ptr<CStandInServer> m_server;
};

TEST_F(TransferSafetyTest, EveryOperationEndsSoonAfterItsCancelFlagIsSetWhileThePeerSendsNothing)
{
    StartServer(false);
    const std::string target = m_dir.Path() + "out/file.bin";
    Faults(R"([{"path": "/clientapi/", "stallAfter": 0},
               {"path": "/download/file.bin", "method": "GET", "stallAfter": 100},
               {"path": "/download/file.bin", "method": "HEAD", "delayMs": 60000}])");

    ExpectCancelledPromptly("NetPost", "/clientapi/", [&](const TransferCancel* cancel) {
        std::string body;
        return NetPost(body, Url("/clientapi/"), "", "model=user&action=register", 30, cancel);
    });
    ExpectCancelledPromptly(
        "NetDownloadFile", "/download/file.bin",
        [&](const TransferCancel* cancel) {
            return NetDownloadFile(target, Url("/download/file.bin"), cancel);
        },
        [&] { EXPECT_FALSE(fs::exists(target)) << "nothing at the destination while the transfer runs"; });
    EXPECT_FALSE(fs::exists(target)) << "a cancelled download leaves no file";
    EXPECT_TRUE(PartFiles(m_dir.Path() + "out").empty()) << "nor its temporary file";
    ExpectCancelledPromptly("NetResolveUrl", "/download/file.bin", [&](const TransferCancel* cancel) {
        std::string finalUrl;
        double length = 0;
        return NetResolveUrl(Url("/download/file.bin"), finalUrl, length, cancel);
    });
    ExpectCancelledPromptly("NetCheckUrl", "/download/file.bin", [&](const TransferCancel* cancel) {
        return NetCheckUrl(Url("/download/file.bin"), cancel);
    });
    ExpectCancelledPromptly("NetGetContentLength", "/download/file.bin", [&](const TransferCancel* cancel) {
        return NetGetContentLength(Url("/download/file.bin"), cancel) != -1.0;
    });
    ExpectCancelledPromptly("a profile through NetPerform", "/download/file.bin",
                            [&](const TransferCancel* cancel) {
                                CurlEasyPtr handle = NewCurlEasy();
                                std::string body;
                                TransferSink sink{StringWriteSink, &body, nullptr, nullptr};
                                ApplyDownloadWorkerProfile(handle.get(), Url("/download/file.bin"), 0, sink);
                                CURLcode code = NetPerform(handle.get(), cancel);
                                EXPECT_EQ(code, CURLE_ABORTED_BY_CALLBACK);
                                return code == CURLE_OK;
                            });
}

TEST_F(TransferSafetyTest, AFlagAlreadySetEndsTheTransferBeforeItStartsAndAnUnsetFlagChangesNothing)
{
    StartServer(false);
    TransferCancel cancelled{true};
    std::string body;
    EXPECT_FALSE(NetPost(body, Url("/download/pc/update/index.php"), "", "", 5, &cancelled));
    EXPECT_FALSE(NetDownloadFile(m_dir.Path() + "x.bin", Url("/download/file.bin"), &cancelled));
    EXPECT_FALSE(fs::exists(m_dir.Path() + "x.bin"));
    EXPECT_FALSE(m_seen.WaitFor("/download/file.bin", 0ms)) << "no request was sent";

    TransferCancel running{false};
    EXPECT_TRUE(NetPost(body, Url("/download/pc/update/index.php"), "", "", 5, &running));
    EXPECT_TRUE(NetDownloadFile(m_dir.Path() + "x.bin", Url("/download/file.bin"), &running));
    EXPECT_EQ(ReadFile(m_dir.Path() + "x.bin"), kFileContent);
    EXPECT_EQ(NetGetContentLength(Url("/download/file.bin"), &running), 5000.0);
}

TEST_F(TransferSafetyTest, AnHttpsServerWithAnUnknownCertificateIsRefusedUntilCaFileNamesIt)
{
    StartServer(true);
    TrustCaFile("");
    const std::string target = m_dir.Path() + "tls/file.bin";
    std::string body, finalUrl;
    double length = 0;
    EXPECT_FALSE(NetPost(body, Url("/download/pc/update/index.php"), "", "", 5));
    EXPECT_FALSE(NetDownloadFile(target, Url("/download/file.bin")));
    EXPECT_FALSE(fs::exists(target));
    EXPECT_FALSE(NetResolveUrl(Url("/download/file.bin"), finalUrl, length));
    EXPECT_FALSE(NetCheckUrl(Url("/download/file.bin")));
    EXPECT_EQ(NetGetContentLength(Url("/download/file.bin")), -1.0);
    {
        // A caller that switches verification off itself does not get it off.
        CurlEasyPtr handle = NewCurlEasy();
        ApplyUsageBeaconProfile(handle.get(), Url("/stat/x"), "agent", "");
        curl_easy_setopt(handle.get(), CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(handle.get(), CURLOPT_SSL_VERIFYHOST, 0L);
        EXPECT_NE(NetPerform(handle.get(), nullptr), CURLE_OK);
    }

    // The servers.cfg that the server writes names its certificate.
    ASSERT_TRUE(m_server->WriteServersCfg(m_dir.Path() + "servers.cfg"));
    ServerEndpoints endpoints = LoadServerEndpoints(m_dir.Path() + "servers.cfg");
    EXPECT_EQ(endpoints.ApiBase, Url("/clientapi/"));
    EXPECT_EQ(endpoints.CaFile, m_dir.Path() + "cert.pem");
    SetServerEndpoints(endpoints);
    EXPECT_TRUE(NetPost(body, Url("/download/pc/update/index.php"), "", "", 5));
    EXPECT_EQ(body, R"({"version":"0.0.15"})");
    EXPECT_TRUE(NetDownloadFile(target, Url("/download/file.bin")));
    EXPECT_EQ(ReadFile(target), kFileContent);
    EXPECT_TRUE(NetResolveUrl(Url("/download/moved.bin"), finalUrl, length));
    EXPECT_EQ(finalUrl, Url("/download/file.bin"));
    EXPECT_TRUE(NetCheckUrl(Url("/download/file.bin")));
    EXPECT_EQ(NetGetContentLength(Url("/download/file.bin")), 5000.0);
    CurlEasyPtr handle = NewCurlEasy();
    ApplyUsageBeaconProfile(handle.get(), Url("/stat/x"), "agent", "");
    EXPECT_EQ(NetPerform(handle.get(), nullptr), CURLE_OK);
}

TEST_F(TransferSafetyTest, CaFileIsReadFromServersCfgBesideIt)
{
    ASSERT_TRUE(WriteFile(m_dir.Path() + "servers.cfg", "[Servers]\nCaFile=certs/own.pem\n"));
    EXPECT_EQ(LoadServerEndpoints(m_dir.Path() + "servers.cfg").CaFile, m_dir.Path() + "certs/own.pem");
    ASSERT_TRUE(WriteFile(m_dir.Path() + "servers.cfg", "[Servers]\nCaFile=/etc/own.pem\n"));
    EXPECT_EQ(LoadServerEndpoints(m_dir.Path() + "servers.cfg").CaFile, "/etc/own.pem");
    EXPECT_EQ(DefaultServerEndpoints().CaFile, "") << "the system's store by default";
}

TEST_F(TransferSafetyTest, FileUrlsAreRefusedDirectlyAndThroughRedirects)
{
    StartServer(false);
    const std::string fileUrl = "file:///etc/hostname";
    const std::string target = m_dir.Path() + "local/hostname";
    std::string body, finalUrl;
    double length = 0;
    EXPECT_FALSE(NetPost(body, fileUrl, "", "", 5));
    EXPECT_FALSE(NetDownloadFile(target, fileUrl));
    EXPECT_FALSE(fs::exists(target));
    EXPECT_FALSE(NetResolveUrl(fileUrl, finalUrl, length));
    EXPECT_FALSE(NetCheckUrl(fileUrl));
    EXPECT_EQ(NetGetContentLength(fileUrl), -1.0);

    const std::string hostname = ReadFile("/etc/hostname");
    Faults(R"([{"path": "/download/away.bin", "redirectTo": "file:///etc/hostname"},
               {"path": "/clientapi/", "redirectTo": "file:///etc/hostname"}])");
    EXPECT_FALSE(NetResolveUrl(Url("/download/away.bin"), finalUrl, length));
    EXPECT_FALSE(NetCheckUrl(Url("/download/away.bin")));
    EXPECT_EQ(NetGetContentLength(Url("/download/away.bin")), -1.0);
    body.clear();
    EXPECT_FALSE(NetPost(body, Url("/clientapi/"), "", "", 5));
    NetDownloadFile(target, Url("/download/away.bin")); // stores the redirect answer itself
    if (!hostname.empty()) {
        EXPECT_EQ(ReadFile(target).find(hostname), std::string::npos);
    }
    for (auto apply : {ApplyDownloadWorkerProfile, ApplyPackageDownloadProfile}) {
        CurlEasyPtr handle = NewCurlEasy();
        body.clear();
        apply(handle.get(), Url("/download/away.bin"), 0,
              TransferSink{StringWriteSink, &body, nullptr, nullptr});
        EXPECT_EQ(NetPerform(handle.get(), nullptr), CURLE_UNSUPPORTED_PROTOCOL);
        if (!hostname.empty()) {
            EXPECT_EQ(body.find(hostname), std::string::npos);
        }
    }
    CurlEasyPtr beacon = NewCurlEasy();
    ApplyUsageBeaconProfile(beacon.get(), Url("/download/away.bin"), "agent", "");
    EXPECT_EQ(NetPerform(beacon.get(), nullptr), CURLE_UNSUPPORTED_PROTOCOL);
}

TEST_F(TransferSafetyTest, AnswersCollectedInMemoryStopAtSixteenMebibytes)
{
    StartServer(false);
    const std::string manifest = m_dir.Path() + "data/update/index.json";
    ASSERT_TRUE(WriteFile(manifest, std::string(kMaxAnswerBytes, ' ')));
    std::string body;
    EXPECT_TRUE(NetPost(body, Url("/download/pc/update/index.php"), "", "", 30)) << "exactly at the cap";
    EXPECT_EQ(body.size(), kMaxAnswerBytes);

    ASSERT_TRUE(WriteFile(manifest, std::string(kMaxAnswerBytes + 1, ' ')));
    body.clear();
    EXPECT_FALSE(NetPost(body, Url("/download/pc/update/index.php"), "", "", 30)) << "one byte past it";
    EXPECT_LE(body.size(), kMaxAnswerBytes);

    ASSERT_TRUE(WriteFile(m_dir.Path() + "data/download/big.bin", std::string(kMaxAnswerBytes + 1, 'b')));
    CurlEasyPtr handle = NewCurlEasy();
    body.clear();
    ApplySharePageProfile(handle.get(), Url("/download/big.bin"), "", "", &body);
    EXPECT_EQ(NetPerform(handle.get(), nullptr), CURLE_WRITE_ERROR);
    EXPECT_LE(body.size(), kMaxAnswerBytes);
}

TEST_F(TransferSafetyTest, ADownloadReplacesTheDestinationWholeOrNotAtAll)
{
    StartServer(false);
    const std::string folder = m_dir.Path() + "cache/";
    const std::string target = folder + "icon.png";
    fs::create_directories(folder);

    // A link planted at the destination is replaced; what it pointed at stays as it was.
    const std::string victim = m_dir.Path() + "victim.txt";
    ASSERT_TRUE(WriteFile(victim, "keep me"));
    ASSERT_EQ(::symlink(victim.c_str(), target.c_str()), 0);
    ASSERT_TRUE(NetDownloadFile(target, Url("/download/file.bin")));
    EXPECT_FALSE(fs::is_symlink(target));
    EXPECT_EQ(ReadFile(target), kFileContent);
    EXPECT_EQ(ReadFile(victim), "keep me");

    // A cut or failed transfer leaves the old file as it was and no temporary file.
    ASSERT_TRUE(WriteFile(target, "old icon"));
    Faults(R"([{"path": "/download/file.bin", "cutAfter": 1000}])");
    EXPECT_FALSE(NetDownloadFile(target, Url("/download/file.bin")));
    EXPECT_EQ(ReadFile(target), "old icon");
    Faults(R"([{"path": "/download/file.bin", "noLength": true, "cutAfter": 1000}])");
    EXPECT_FALSE(NetDownloadFile(target, Url("/download/file.bin")));
    EXPECT_EQ(ReadFile(target), "old icon");
    EXPECT_TRUE(PartFiles(folder).empty());

    // A folder at the destination is neither written into nor replaced.
    fs::create_directories(folder + "dir.png");
    Faults("[]");
    EXPECT_FALSE(NetDownloadFile(folder + "dir.png", Url("/download/file.bin")));
    EXPECT_TRUE(fs::is_directory(folder + "dir.png"));
    EXPECT_TRUE(PartFiles(folder).empty());
}

} // namespace
