#include "tests/server/ServerProcess.h"

#include <gtest/gtest.h>
#include <thread>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <future>

using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

const std::string kContent = [] {
    std::string content;
    for (int i = 0; i < 10000; ++i)
        content += static_cast<char>('0' + i % 10);
    return content;
}();

// A data folder with one 10000-byte file, a redirect and the two update answers.
class ServerProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(m_data.Path() + "download/sub");
        std::filesystem::create_directories(m_data.Path() + "update");
        ASSERT_TRUE(WriteFile(m_data.Path() + "download/sub/file.bin", kContent));
        ASSERT_TRUE(WriteFile(m_data.Path() + "download/empty.bin", ""));
        ASSERT_TRUE(WriteFile(m_data.Path() + "secret.txt", "secret"));
        ASSERT_TRUE(WriteFile(m_data.Path() + "redirects.json",
                              R"({"/download/old.bin": "/download/sub/file.bin"})"));
        ASSERT_TRUE(WriteFile(m_data.Path() + "update/index.json",
                              R"({"downloadurl": "{{origin}}/download/Update.zip"})"));
        m_server = std::make_unique<ServerProcess>(m_data.Path());
        ASSERT_GT(m_server->Port(), 0) << "first line: " << m_server->FirstLine();
    }

    testsupport::TempDir m_data;
    std::unique_ptr<ServerProcess> m_server;
};

TEST_F(ServerProcessTest, AnswersByteRangesWith206AndContentRange)
{
    auto client = m_server->Client();
    auto whole = client->Get("/download/sub/file.bin");
    ASSERT_TRUE(whole) << httplib::to_string(whole.error());
    EXPECT_EQ(whole->status, 200);
    EXPECT_EQ(whole->body, kContent);

    struct Case {
        const char* range;
        size_t first, last;
    } cases[] = {{"bytes=0-9", 0, 9},
                 {"bytes=9990-", 9990, 9999},
                 {"bytes=-5", 9995, 9999},
                 {"bytes=9000-20000", 9000, 9999},
                 {"bytes=9999-9999", 9999, 9999}};
    for (const Case& c : cases) {
        auto part = client->Get("/download/sub/file.bin", {{"Range", c.range}});
        ASSERT_TRUE(part) << c.range;
        EXPECT_EQ(part->status, 206) << c.range;
        EXPECT_EQ(part->get_header_value("Content-Range"),
                  "bytes " + std::to_string(c.first) + "-" + std::to_string(c.last) + "/10000")
            << c.range;
        EXPECT_EQ(part->body, kContent.substr(c.first, c.last - c.first + 1)) << c.range;
    }

    auto head = client->Head("/download/sub/file.bin", {{"Range", "bytes=100-"}});
    ASSERT_TRUE(head);
    EXPECT_EQ(head->status, 206);
    EXPECT_EQ(head->get_header_value("Content-Length"), "9900");
    EXPECT_TRUE(head->body.empty());

    // Several ranges at once are not served piecewise: the whole file comes back.
    auto whole2 = client->Get("/download/sub/file.bin", {{"Range", "bytes=0-1,5-6"}});
    ASSERT_TRUE(whole2);
    EXPECT_EQ(whole2->status, 200);
    EXPECT_EQ(whole2->body.size(), kContent.size());
    // A Range that does not parse is refused.
    auto refused = client->Get("/download/sub/file.bin", {{"Range", "lines=1-2"}});
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 416);
}

TEST_F(ServerProcessTest, ARangePastTheEndIs416)
{
    auto client = m_server->Client();
    for (const char* range : {"bytes=10000-", "bytes=20000-30000"}) {
        auto refused = client->Get("/download/sub/file.bin", {{"Range", range}});
        ASSERT_TRUE(refused) << range;
        EXPECT_EQ(refused->status, 416) << range;
        EXPECT_EQ(refused->get_header_value("Content-Range"), "bytes */10000") << range;
    }
    auto empty = client->Get("/download/empty.bin", {{"Range", "bytes=0-"}});
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->status, 416);
}

TEST_F(ServerProcessTest, PathsStayInsideTheDataFolderAndRedirectsComeFromIt)
{
    auto client = m_server->Client();
    for (const char* path : {"/download/../secret.txt", "/download/sub/../../secret.txt",
                             "/download/%2e%2e/secret.txt", "/download/", "/download/sub", "/nothing"}) {
        auto result = client->Get(path);
        ASSERT_TRUE(result) << path;
        EXPECT_EQ(result->status, 404) << path;
        EXPECT_EQ(result->body.find("secret"), std::string::npos) << path;
    }
    auto doubled = client->Get("/download//sub//file.bin");
    ASSERT_TRUE(doubled);
    EXPECT_EQ(doubled->status, 200);

    auto moved = client->Get("/download/old.bin");
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->status, 302);
    EXPECT_EQ(moved->get_header_value("Location"), "/download/sub/file.bin");

    auto update = client->Post("/download/pc/update/index.php", "", "application/x-www-form-urlencoded");
    ASSERT_TRUE(update);
    EXPECT_EQ(update->status, 200);
    EXPECT_EQ(ParseJson(update->body)["downloadurl"].asString(), m_server->Origin() + "/download/Update.zip");
    auto emulators =
        client->Post("/download/pc/update/emulators.php", "", "application/x-www-form-urlencoded");
    ASSERT_TRUE(emulators);
    EXPECT_EQ(emulators->status, 404) << "no emulator list in this data folder";
}

TEST_F(ServerProcessTest, FaultsOverrideStatusRedirectAndApplyAGivenNumberOfTimes)
{
    ASSERT_TRUE(m_server->SetFaults(R"({"rules": [
        {"path": "/download/sub/file.bin", "method": "HEAD", "status": 500},
        {"path": "/download/sub/", "prefix": true, "status": 404, "times": 2},
        {"path": "/download/away", "redirectTo": "/download/sub/file.bin"},
        {"path": "/download/loop", "redirectLoop": true}]})"));
    auto client = m_server->Client();
    EXPECT_EQ(client->Head("/download/sub/file.bin")->status, 500);
    EXPECT_EQ(client->Get("/download/sub/file.bin")->status, 404);
    EXPECT_EQ(client->Get("/download/sub/other")->status, 404);
    EXPECT_EQ(client->Get("/download/sub/file.bin")->status, 200) << "the limited rule is used up";
    EXPECT_EQ(client->Head("/download/sub/file.bin")->status, 500) << "the unlimited rule stays";

    auto away = client->Get("/download/away");
    EXPECT_EQ(away->status, 302);
    EXPECT_EQ(away->get_header_value("Location"), "/download/sub/file.bin");
    auto loop = client->Get("/download/loop?x=1");
    EXPECT_EQ(loop->status, 302);
    EXPECT_EQ(loop->get_header_value("Location"), "/download/loop?x=1");

    // One call clears, by an empty rule list or by DELETE.
    ASSERT_TRUE(m_server->SetFaults("[]"));
    EXPECT_EQ(client->Head("/download/sub/file.bin")->status, 200);
    ASSERT_TRUE(m_server->SetFaults(R"([{"path": "/download/loop", "status": 503}])"));
    EXPECT_EQ(client->Delete("/__faults")->status, 200);
    EXPECT_EQ(client->Get("/download/loop")->status, 404);

    auto bad = client->Post("/__faults", R"([{"status": 500}])", "application/json");
    EXPECT_EQ(bad->status, 400) << "a rule without a path is refused";
    EXPECT_FALSE(m_server->SetFaults("{not json"));
}

TEST_F(ServerProcessTest, FaultsCutStallDelayAndDropTheLength)
{
    auto client = m_server->Client(2);
    std::string received;
    auto collect = [&](const char* data, size_t length) {
        received.append(data, length);
        return true;
    };

    ASSERT_TRUE(m_server->SetFaults(R"([{"path": "/download/sub/file.bin", "cutAfter": 1234, "times": 1}])"));
    auto cut = client->Get("/download/sub/file.bin", collect);
    EXPECT_FALSE(cut) << "the connection closes before the announced length";
    EXPECT_EQ(received, kContent.substr(0, 1234));

    received.clear();
    ASSERT_TRUE(
        m_server->SetFaults(R"([{"path": "/download/sub/file.bin", "stallAfter": 100, "stallMs": 20000}])"));
    auto started = std::chrono::steady_clock::now();
    auto stalled = client->Get("/download/sub/file.bin", collect);
    EXPECT_FALSE(stalled);
    EXPECT_EQ(received, kContent.substr(0, 100));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10))
        << "the client's time-out ended it";

    ASSERT_TRUE(m_server->SetFaults(R"([{"path": "/download/sub/file.bin", "delayMs": 300}])"));
    started = std::chrono::steady_clock::now();
    auto delayed = client->Get("/download/sub/file.bin");
    ASSERT_TRUE(delayed);
    EXPECT_EQ(delayed->body, kContent);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(300));

    ASSERT_TRUE(m_server->SetFaults(R"([{"path": "/download/sub/file.bin", "noLength": true}])"));
    auto chunked = client->Get("/download/sub/file.bin", {{"Range", "bytes=10-19"}});
    ASSERT_TRUE(chunked);
    EXPECT_EQ(chunked->status, 206);
    EXPECT_FALSE(chunked->has_header("Content-Length"));
    EXPECT_EQ(chunked->body, kContent.substr(10, 10));
}

TEST_F(ServerProcessTest, LogsEachRequestWithTheHeadersThatMatterAndTheForm)
{
    auto client = m_server->Client();
    client->Get("/download/sub/file.bin?a=1&b=%20", {{"Range", "bytes=5-"},
                                                     {"Referer", "http://ref/"},
                                                     {"User-Agent", "QuokkaTest"},
                                                     {"Cookie", "k=v;"}});
    client->Post("/clientapi/", "model=user&action=register&password=10004242",
                 "application/x-www-form-urlencoded");
    auto log = m_server->Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0]["method"].asString(), "GET");
    EXPECT_EQ(log[0]["path"].asString(), "/download/sub/file.bin");
    EXPECT_EQ(log[0]["query"].asString(), "a=1&b=%20");
    EXPECT_EQ(log[0]["range"].asString(), "bytes=5-");
    EXPECT_EQ(log[0]["referer"].asString(), "http://ref/");
    EXPECT_EQ(log[0]["userAgent"].asString(), "QuokkaTest");
    EXPECT_EQ(log[0]["cookie"].asString(), "k=v;");
    EXPECT_EQ(log[1]["method"].asString(), "POST");
    EXPECT_EQ(log[1]["body"].asString(), "model=user&action=register&password=10004242");
}

TEST_F(ServerProcessTest, StopsCleanlyOnSigtermEvenWhileATransferStalls)
{
    ASSERT_TRUE(
        m_server->SetFaults(R"([{"path": "/download/sub/file.bin", "stallAfter": 10, "stallMs": 60000}])"));
    std::thread stalled([port = m_server->Port()] {
        httplib::Client client("127.0.0.1", port);
        client.set_read_timeout(30, 0);
        client.Get("/download/sub/file.bin");
    });
    // The stall has begun once the log holds the request.
    for (int i = 0; i < 500 && m_server->Log().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    m_server->Process().Signal(SIGTERM);
    EXPECT_EQ(m_server->Process().Wait(10000), std::optional<int>(0));
    stalled.join();
}

TEST(ServerCommandLineTest, WritesServersCfgWithTheBoundPortAndRefusesBadArguments)
{
    testsupport::TempDir dir;
    {
        ServerProcess server(dir.Path(), {"--write-servers-cfg", dir.Path() + "servers.cfg"});
        ASSERT_GT(server.Port(), 0) << server.FirstLine();
        const std::string origin = server.Origin();
        EXPECT_EQ(ReadFile(dir.Path() + "servers.cfg"),
                  "[Servers]\nApiBase=" + origin + "/clientapi/\nDownloadBase=" + origin +
                      "\nImageBase=" + origin + "/image/\nShareBase=" + origin + "\nPcsBase=" + origin +
                      "\nStatBase=" + origin + "/stat/hm.gif?si=quokka\nSiteBase=" + origin + "/site/\n");
        auto stat = server.Client()->Head("/stat/hm.gif?si=quokka&r=x&rnd=01234567");
        ASSERT_TRUE(stat);
        EXPECT_EQ(stat->status, 200);
    }
    for (std::vector<std::string> args : {std::vector<std::string>{"--port"},
                                          {"--port", "x", "--data", "/tmp"},
                                          {"--data", "/tmp"},
                                          {"--port", "0", "--data", "/tmp", "--bogus", "1"}}) {
        args.insert(args.begin(), QUOKKA_SERVER_EXECUTABLE);
        testsupport::ChildProcess process(args);
        EXPECT_EQ(process.Wait(10000), std::optional<int>(2)) << args[1];
    }
    ASSERT_TRUE(WriteFile(dir.Path() + "catalogue.json", "{broken"));
    testsupport::ChildProcess broken({QUOKKA_SERVER_EXECUTABLE, "--port", "0", "--data", dir.Path()});
    EXPECT_EQ(broken.Wait(10000), std::optional<int>(1)) << "a broken catalogue is reported, not served";
}

} // namespace

namespace {

TEST_F(ServerProcessTest, FaultsPaceTheBodyAndClaimAnotherLength)
{
    auto client = m_server->Client(5);
    ASSERT_TRUE(m_server->SetFaults(R"([{"path": "/download/sub/file.bin", "rateKiBps": 20}])"));
    auto started = std::chrono::steady_clock::now();
    auto paced = client->Get("/download/sub/file.bin");
    ASSERT_TRUE(paced);
    EXPECT_EQ(paced->body, kContent);
    // 10000 bytes at 20 KiB/s take about half a second.
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(400));

    ASSERT_TRUE(m_server->SetFaults(R"([{"path": "/download/sub/file.bin", "claimLength": 4000}])"));
    auto head = client->Head("/download/sub/file.bin");
    ASSERT_TRUE(head);
    EXPECT_EQ(head->get_header_value("Content-Length"), "4000");
    auto shorter = client->Get("/download/sub/file.bin");
    ASSERT_TRUE(shorter);
    EXPECT_EQ(shorter->body, kContent.substr(0, 4000));

    ASSERT_TRUE(m_server->SetFaults(R"([{"path": "/download/sub/file.bin", "claimLength": 12000}])"));
    head = client->Head("/download/sub/file.bin");
    ASSERT_TRUE(head);
    EXPECT_EQ(head->get_header_value("Content-Length"), "12000");
    std::string received;
    auto longer = client->Get("/download/sub/file.bin", [&](const char* data, size_t length) {
        received.append(data, length);
        return true;
    });
    EXPECT_FALSE(longer) << "the connection closes before the claimed length";
    EXPECT_EQ(received, kContent);
}

TEST_F(ServerProcessTest, FaultsSendBodiesPastTheirAnnouncedLength)
{
    auto client = m_server->Client(5);
    ASSERT_TRUE(m_server->SetFaults(R"([{"path": "/download/sub/file.bin", "extraBytes": 300000}])"));
    auto head = client->Head("/download/sub/file.bin");
    ASSERT_TRUE(head);
    EXPECT_EQ(head->get_header_value("Content-Length"), std::to_string(kContent.size()));
    auto longer = client->Get("/download/sub/file.bin");
    ASSERT_TRUE(longer);
    EXPECT_FALSE(longer->has_header("Content-Length"));
    ASSERT_EQ(longer->body.size(), kContent.size() + 300000);
    EXPECT_EQ(longer->body.substr(0, kContent.size()), kContent);

    // Without end: the client decides when it has had enough.
    ASSERT_TRUE(m_server->SetFaults(R"([{"path": "/download/sub/file.bin", "endlessBody": true}])"));
    size_t received = 0;
    auto endless = client->Get("/download/sub/file.bin", [&](const char*, size_t length) {
        received += length;
        return received < 4 * 1024 * 1024;
    });
    EXPECT_FALSE(endless) << "the body never ends by itself";
    EXPECT_GE(received, 4u * 1024 * 1024);
}

TEST_F(ServerProcessTest, StatsCountDownloadBodiesAndTheirPeak)
{
    auto client = m_server->Client(5);
    ASSERT_TRUE(client->Delete("/__stats"));
    // Two slow bodies at once, then one more after them.
    ASSERT_TRUE(m_server->SetFaults(R"([{"path": "/download/sub/file.bin", "rateKiBps": 10}])"));
    auto first =
        std::async(std::launch::async, [&] { return m_server->Client(5)->Get("/download/sub/file.bin"); });
    auto second =
        std::async(std::launch::async, [&] { return m_server->Client(5)->Get("/download/sub/file.bin"); });
    ASSERT_TRUE(first.get());
    ASSERT_TRUE(second.get());
    ASSERT_TRUE(client->Get("/download/sub/file.bin"));
    // A body stops counting when the server lets go of it, which may come just after the client
    // has read its last byte: the count is asked until it has come down.
    auto stats = client->Get("/__stats");
    for (int i = 0; i < 2000 && stats && stats->body.find("\"downloadsSending\" : 0") == std::string::npos;
         ++i) {
        std::this_thread::yield();
        stats = client->Get("/__stats");
    }
    ASSERT_TRUE(stats);
    EXPECT_NE(stats->body.find("\"peakDownloads\" : 2"), std::string::npos) << stats->body;
    EXPECT_NE(stats->body.find("\"downloadsSending\" : 0"), std::string::npos) << stats->body;
    ASSERT_TRUE(client->Delete("/__stats"));
    stats = client->Get("/__stats");
    ASSERT_TRUE(stats);
    EXPECT_NE(stats->body.find("\"peakDownloads\" : 0"), std::string::npos) << stats->body;
    // Neither the counters nor their reset are logged.
    for (const Json::Value& line : m_server->Log())
        EXPECT_EQ(line["path"].asString().find("__stats"), std::string::npos);
}

} // namespace
