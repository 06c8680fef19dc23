#include "foundation/HttpClient.h"
#include "foundation/NetGlobal.h"
#include "platform/CodePage.h"
#include "server/StandInServer.h"
#include "tests/support/RequestLog.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

const std::string kFileContent = [] {
    std::string content;
    for (int i = 0; i < 5000; ++i)
        content += static_cast<char>('a' + i % 26);
    return content;
}();

// A stand-in server on a free loopback port with a small data folder: a 5000-byte file, a chain
// of redirects hop0 -> hop1 -> ... -> hop50 -> the file, and an update manifest.
class HttpClientTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(NetGlobalInit()); }
    static void TearDownTestSuite() { NetGlobalCleanup(); }

    void SetUp() override
    {
        const std::string data = m_dir.Path() + "data/";
        std::filesystem::create_directories(data + "download");
        std::filesystem::create_directories(data + "update");
        ASSERT_TRUE(WriteFile(data + "download/file.bin", kFileContent));
        ASSERT_TRUE(WriteFile(data + "update/index.json", R"({"version":"0.0.15","description":"d"})"));
        Json::Value redirects;
        for (int hop = 0; hop < 50; ++hop)
            redirects["/download/hop" + std::to_string(hop)] = "/download/hop" + std::to_string(hop + 1);
        redirects["/download/hop50"] = "/download/file.bin";
        ASSERT_TRUE(WriteFile(data + "redirects.json", redirects.toStyledString()));

        StandInServerOptions options;
        options.dataDir = data;
        options.logPath = m_dir.Path() + "requests.log";
        m_server = std::make_unique<CStandInServer>(options);
        std::string error;
        ASSERT_TRUE(m_server->Start(error)) << error;
    }

    std::string Url(const std::string& path) const { return m_server->Origin() + path; }

    void Faults(const std::string& json)
    {
        std::string error;
        ASSERT_TRUE(m_server->SetFaults(json, error)) << error;
    }

    // The logged requests, oldest first.
    std::vector<Json::Value> Log() const
    {
        return testsupport::ReadRequestLog(m_dir.Path() + "requests.log");
    }

    testsupport::TempDir m_dir;
    std::unique_ptr<CStandInServer> m_server;
};

// A port that refuses connections: bound by a server that then stops.
int ClosedPort()
{
    testsupport::TempDir dir;
    StandInServerOptions options;
    options.dataDir = dir.Path();
    CStandInServer server(options);
    std::string error;
    if (!server.Start(error))
        return 1;
    int port = server.Port();
    server.Stop();
    return port;
}

TEST_F(HttpClientTest, NetPostSendsTheFormAndAnExtraHeaderAndReadsTheAnswer)
{
    std::string body;
    ASSERT_TRUE(
        NetPost(body, Url("/clientapi/"), "Cookie: a=b", "model=user&action=register&password=10000042", 10));
    Json::Value answer;
    std::stringstream(body) >> answer;
    EXPECT_FALSE(answer["uid"].asString().empty());
    auto log = Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0]["method"].asString(), "POST");
    EXPECT_EQ(log[0]["body"].asString(), "model=user&action=register&password=10000042");
    EXPECT_EQ(log[0]["cookie"].asString(), "a=b");
}

TEST_F(HttpClientTest, NetPostWithAnEmptyBodyIsStillAPost)
{
    std::string body;
    ASSERT_TRUE(NetPost(body, Url("/download/pc/update/index.php"), "", "", 5));
    EXPECT_EQ(body, R"({"version":"0.0.15","description":"d"})");
    auto log = Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0]["method"].asString(), "POST");
    EXPECT_EQ(log[0]["body"].asString(), "");
}

TEST_F(HttpClientTest, NetPostFailsOnRedirectsErrorStatusesCutsAndTimeOuts)
{
    std::string body;
    Faults(R"([{"path": "/clientapi/", "status": 302, "location": "/clientapi/x", "times": 1}])");
    EXPECT_FALSE(NetPost(body, Url("/clientapi/"), "", "model=user&action=register", 10))
        << "302 is not followed";
    Faults(R"([{"path": "/clientapi/", "status": 404, "times": 1}])");
    EXPECT_FALSE(NetPost(body, Url("/clientapi/"), "", "model=user&action=register", 10));
    Faults(R"([{"path": "/clientapi/", "cutAfter": 5, "times": 1}])");
    EXPECT_FALSE(NetPost(body, Url("/clientapi/"), "", "model=user&action=register", 10));
    Faults(R"([{"path": "/clientapi/", "delayMs": 3000, "times": 1}])");
    EXPECT_FALSE(NetPost(body, Url("/clientapi/"), "", "model=user&action=register", 1));
    EXPECT_FALSE(
        NetPost(body, "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/clientapi/", "", "", 5));
    body.clear();
    EXPECT_TRUE(NetPost(body, Url("/clientapi/"), "", "model=user&action=register", 10))
        << "faults were used up";
}

TEST_F(HttpClientTest, NetResolveUrlFollowsRedirectsToTheFinalUrlAndLength)
{
    std::string finalUrl = "unchanged";
    double length = 0;
    ASSERT_TRUE(NetResolveUrl(Url("/download/file.bin"), finalUrl, length));
    EXPECT_EQ(finalUrl, Url("/download/file.bin"));
    EXPECT_EQ(length, 5000.0);

    finalUrl.clear();
    ASSERT_TRUE(NetResolveUrl(Url("/download/hop49"), finalUrl, length));
    EXPECT_EQ(finalUrl, Url("/download/file.bin"));
    EXPECT_EQ(length, 5000.0);
    for (const Json::Value& line : Log())
        EXPECT_EQ(line["method"].asString(), "HEAD");

    EXPECT_TRUE(NetCheckUrl(Url("/download/hop49")));
    EXPECT_FALSE(NetCheckUrl(Url("/download/missing.bin")));
}

TEST_F(HttpClientTest, HandFollowedRedirectsStopAtFifty)
{
    std::string finalUrl;
    double length = 0;
    EXPECT_TRUE(NetResolveUrl(Url("/download/hop1"), finalUrl, length)) << "exactly 50 redirects";
    EXPECT_FALSE(NetResolveUrl(Url("/download/hop0"), finalUrl, length)) << "51 redirects";
    EXPECT_TRUE(NetCheckUrl(Url("/download/hop1")));
    EXPECT_FALSE(NetCheckUrl(Url("/download/hop0")));

    Faults(R"([{"path": "/download/loop", "redirectLoop": true}])");
    size_t before = Log().size();
    EXPECT_FALSE(NetResolveUrl(Url("/download/loop"), finalUrl, length));
    EXPECT_EQ(Log().size() - before, 51u) << "the first request and 50 followed redirects";
    EXPECT_FALSE(NetCheckUrl(Url("/download/loop")));
}

TEST_F(HttpClientTest, ARedirectWithoutTargetCountsAsSuccessWithValuesUnchanged)
{
    Faults(R"([{"path": "/download/nowhere", "status": 302}])");
    std::string finalUrl = "before";
    double length = 7;
    EXPECT_TRUE(NetResolveUrl(Url("/download/nowhere"), finalUrl, length));
    EXPECT_EQ(finalUrl, "before");
    EXPECT_EQ(length, 7);
    EXPECT_TRUE(NetCheckUrl(Url("/download/nowhere")));
}

TEST_F(HttpClientTest, NetGetContentLengthIsMinusOneUnlessA200SaysHowLong)
{
    EXPECT_EQ(NetGetContentLength(Url("/download/file.bin")), 5000.0);
    EXPECT_EQ(NetGetContentLength(Url("/download/missing.bin")), -1.0);
    EXPECT_EQ(NetGetContentLength(Url("/download/hop50")), -1.0) << "redirects are not followed";
    Faults(R"([{"path": "/download/file.bin", "noLength": true}])");
    EXPECT_EQ(NetGetContentLength(Url("/download/file.bin")), -1.0);
    EXPECT_EQ(NetGetContentLength("http://127.0.0.1:" + std::to_string(ClosedPort()) + "/x"), -1.0);
}

TEST_F(HttpClientTest, NetDownloadFileCreatesFoldersAndReplacesTheFile)
{
    const std::string target = m_dir.Path() + "a/b/c/icon.png";
    ASSERT_TRUE(NetDownloadFile(target, Url("/download/file.bin")));
    EXPECT_EQ(ReadFile(target), kFileContent);
    ASSERT_TRUE(NetDownloadFile(target, Url("/download/file.bin")));
    EXPECT_EQ(ReadFile(target), kFileContent) << "wb+ truncates, never appends";
}

TEST_F(HttpClientTest, NetDownloadFileStoresErrorPagesButFailsOnBrokenTransfersAndWrites)
{
    const std::string target = m_dir.Path() + "page.png";
    EXPECT_TRUE(NetDownloadFile(target, Url("/download/missing.bin"))) << "the status is not examined";
    EXPECT_EQ(ReadFile(target), "not found\n");
    Faults(R"([{"path": "/download/file.bin", "cutAfter": 100}])");
    EXPECT_FALSE(NetDownloadFile(target, Url("/download/file.bin")));
    EXPECT_FALSE(NetDownloadFile(target, "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/x"));
    if (std::filesystem::exists("/dev/full")) {
        EXPECT_FALSE(NetDownloadFile("/dev/full", Url("/download/missing.bin")))
            << "a device at the destination is neither written nor replaced";
        struct stat info;
        ASSERT_EQ(::lstat("/dev/full", &info), 0);
        EXPECT_TRUE(S_ISCHR(info.st_mode));
    }
}

TEST_F(HttpClientTest, NetDownloadFileTakesAPathInTheProcessCodePage)
{
    const std::string saved = platform::ProcessCodePage();
    platform::SetProcessCodePage("GBK");
    // "图标" in GBK names a folder whose native (UTF-8) name is the same word.
    bool ok = NetDownloadFile(m_dir.Path() + "\xCD\xBC\xB1\xEA/x.bin", Url("/download/file.bin"));
    platform::SetProcessCodePage(saved);
    ASSERT_TRUE(ok);
    EXPECT_EQ(ReadFile(m_dir.Path() + "\xE5\x9B\xBE\xE6\xA0\x87/x.bin"), kFileContent);
}

struct Progress {
    curl_off_t lastNow = 0;
    int calls = 0;
};

int RecordProgress(void* data, curl_off_t, curl_off_t now, curl_off_t, curl_off_t)
{
    auto* progress = static_cast<Progress*>(data);
    progress->lastNow = now;
    ++progress->calls;
    return 0;
}

TEST_F(HttpClientTest, DownloadWorkerProfileResumesFollowsRedirectsAndReportsProgress)
{
    std::string received;
    Progress progress;
    TransferSink sink{StringWriteSink, &received, RecordProgress, &progress};
    CurlEasyPtr handle = NewCurlEasy();
    ApplyDownloadWorkerProfile(handle.get(), Url("/download/hop45"), 1000, sink);
    ASSERT_EQ(curl_easy_perform(handle.get()), CURLE_OK);
    long status = 0;
    curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, &status);
    EXPECT_EQ(status, 206);
    EXPECT_EQ(received, kFileContent.substr(1000));
    EXPECT_GT(progress.calls, 0);
    EXPECT_EQ(progress.lastNow, 4000);
    EXPECT_EQ(Log().back()["range"].asString(), "bytes=1000-");

    // A cut transfer ends with the partial-file error, which the worker resumes from.
    received.clear();
    Faults(R"([{"path": "/download/file.bin", "cutAfter": 100}])");
    handle = NewCurlEasy();
    ApplyDownloadWorkerProfile(handle.get(), Url("/download/file.bin"), 0, sink);
    EXPECT_EQ(curl_easy_perform(handle.get()), CURLE_PARTIAL_FILE);
    EXPECT_EQ(received.size(), 100u);
    EXPECT_EQ(Log().back()["range"].asString(), "");
}

TEST_F(HttpClientTest, SharePageAndBeaconProfilesSendTheirHeaders)
{
    std::string body;
    CurlEasyPtr handle = NewCurlEasy();
    ApplySharePageProfile(handle.get(), Url("/site/s/1"), "BDUSS=x;STOKEN=y;", Url("/site/"), &body);
    ASSERT_EQ(curl_easy_perform(handle.get()), CURLE_OK);
    EXPECT_NE(body.find("Quokka"), std::string::npos);
    Json::Value line = Log().back();
    EXPECT_EQ(line["userAgent"].asString(), kShareUserAgent);
    EXPECT_EQ(line["cookie"].asString(), "BDUSS=x;STOKEN=y;");
    EXPECT_EQ(line["referer"].asString(), Url("/site/"));

    handle = NewCurlEasy();
    Faults(R"([{"path": "/stat/old.gif", "redirectTo": "/stat/hm.gif"}])");
    ApplyUsageBeaconProfile(handle.get(), Url("/stat/old.gif?si=q&r=x&rnd=12345678"), "Mozilla/5.0 (test)",
                            Url("/site/game/1/"));
    ASSERT_EQ(curl_easy_perform(handle.get()), CURLE_OK);
    long status = 0;
    curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, &status);
    EXPECT_EQ(status, 200) << "the beacon follows redirects";
    line = Log().back();
    EXPECT_EQ(line["method"].asString(), "HEAD");
    EXPECT_EQ(line["path"].asString(), "/stat/hm.gif");
    EXPECT_EQ(line["userAgent"].asString(), "Mozilla/5.0 (test)");
    EXPECT_EQ(line["referer"].asString(), Url("/site/game/1/"));

    body.clear();
    handle = NewCurlEasy();
    ApplyEmulatorListProfile(handle.get(), Url("/download/pc/update/index.php"), &body);
    ASSERT_EQ(curl_easy_perform(handle.get()), CURLE_OK);
    EXPECT_EQ(Log().back()["method"].asString(), "POST");
    EXPECT_EQ(body, R"({"version":"0.0.15","description":"d"})");
}

TEST(TransferErrorTextTest, NamesLibraryCodesAndTheEnginesOwnCodes)
{
    EXPECT_EQ(TransferErrorText(28), "CURLE_OPERATION_TIMEDOUT");
    EXPECT_EQ(TransferErrorText(1), "CURLE_UNSUPPORTED_PROTOCOL");
    EXPECT_EQ(TransferErrorText(16), "CURLE_HTTP2");
    EXPECT_EQ(TransferErrorText(20), "CURLE_OBSOLETE20");
    EXPECT_EQ(TransferErrorText(57), "CURLE_OBSOLETE57");
    EXPECT_EQ(TransferErrorText(90), "CURLE_SSL_PINNEDPUBKEYNOTMATCH");
    EXPECT_EQ(TransferErrorText(91), "CURL_LAST");

    const std::string saved = platform::ProcessCodePage();
    platform::SetProcessCodePage("UTF-8");
    EXPECT_EQ(TransferErrorText(0), "未知错误");
    EXPECT_EQ(TransferErrorText(92), "未知错误");
    EXPECT_EQ(TransferErrorText(404), "未知错误");
    EXPECT_EQ(TransferErrorText(1000), "没有可用的下载链接");
    EXPECT_EQ(TransferErrorText(1001), "获取文件长度出错");
    EXPECT_EQ(TransferErrorText(1002), "创建文件失败");
    EXPECT_EQ(TransferErrorText(1003), "解压文件出错");
    platform::SetProcessCodePage("GBK");
    std::string unknown = TransferErrorText(0);
    platform::SetProcessCodePage(saved);
    EXPECT_EQ(unknown, "\xCE\xB4\xD6\xAA\xB4\xED\xCE\xF3");
}

TEST(TransferErrorTextTest, AgreesWithTheLibraryWhereItsNamesHaveNotChanged)
{
    // Codes whose numbers the library has kept since: a typo in the table shows up here.
    EXPECT_EQ(TransferErrorText(CURLE_PARTIAL_FILE), "CURLE_PARTIAL_FILE");
    EXPECT_EQ(TransferErrorText(CURLE_WRITE_ERROR), "CURLE_WRITE_ERROR");
    EXPECT_EQ(TransferErrorText(CURLE_RANGE_ERROR), "CURLE_RANGE_ERROR");
    EXPECT_EQ(TransferErrorText(CURLE_GOT_NOTHING), "CURLE_GOT_NOTHING");
    EXPECT_EQ(TransferErrorText(CURLE_RECV_ERROR), "CURLE_RECV_ERROR");
    EXPECT_EQ(TransferErrorText(CURLE_TOO_MANY_REDIRECTS), "CURLE_TOO_MANY_REDIRECTS");
    EXPECT_EQ(TransferErrorText(CURLE_SSL_PINNEDPUBKEYNOTMATCH), "CURLE_SSL_PINNEDPUBKEYNOTMATCH");
    EXPECT_EQ(TransferErrorText(CURLE_NO_CONNECTION_AVAILABLE), "CURLE_NO_CONNECTION_AVAILABLE");
}

} // namespace
