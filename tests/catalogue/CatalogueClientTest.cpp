#include "catalogue/CatalogueClient.h"
#include "catalogue/GameInfo.h"
#include "catalogue/GameList.h"
#include "foundation/AppMessages.h"
#include "foundation/AppPaths.h"
#include "foundation/NetGlobal.h"
#include "foundation/ServerEndpoints.h"
#include "server/StandInServer.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <json/json.h>
#include <sstream>

namespace fs = std::filesystem;
using testsupport::MessageRecorder;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

platform::HWND FakeWindow() { return reinterpret_cast<platform::HWND>(0x42); }

// A stand-in server with three games, two screenshots of the first one, and the process paths set
// so that the image cache lies in a temporary folder.
class CatalogueClientTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(NetGlobalInit()); }
    static void TearDownTestSuite() { NetGlobalCleanup(); }

    void SetUp() override
    {
        std::string data = m_dir.Path() + "data/";
        fs::create_directories(data + "image/screens/7/a");
        WriteFile(data + "image/screens/7/a/one.jpg", "JPEG-ONE");
        WriteFile(data + "image/screens/7/a/two.jpg", "JPEG-TWO");
        WriteFile(data + "catalogue.json", R"({
          "categories": [{"id": "1", "name": "动作"}],
          "platforms": [{"id": "125", "name": "FC"}],
          "games": [
            {"gameid": "7", "gamename": "三国 Heroes", "emulatorid": "125", "categoryid": "1",
             "description": "简介", "screens": ["screens/7/a/one.jpg!big", "screens/7/a/two.jpg", "screens/7/a/gone.jpg"]},
            {"gameid": "8", "gamename": "Racer", "emulatorid": "120", "categoryid": "7"},
            {"gameid": "9", "gamename": "Puzzle", "emulatorid": "125", "categoryid": "8"}]})");

        StandInServerOptions options;
        options.dataDir = data;
        options.logPath = m_dir.Path() + "requests.log";
        m_server = std::make_unique<CStandInServer>(options);
        std::string error;
        ASSERT_TRUE(m_server->Start(error)) << error;

        ServerEndpoints endpoints = DefaultServerEndpoints();
        endpoints.ApiBase = m_server->Origin() + "/clientapi/";
        endpoints.ImageBase = m_server->Origin() + "/image/";
        SetServerEndpoints(endpoints);

        AppPaths paths;
        paths.WorkDir = m_dir.Path() + "work/";
        paths.ImageCacheDir = paths.WorkDir + "/cache/image/";
        SetAppPaths(paths);
    }

    // Request log lines whose path starts with `prefix`.
    std::vector<Json::Value> Logged(const std::string& prefix) const
    {
        std::vector<Json::Value> lines;
        std::istringstream in(ReadFile(m_dir.Path() + "requests.log"));
        std::string text;
        while (std::getline(in, text)) {
            Json::Value line;
            std::istringstream(text) >> line;
            if (line["path"].asString().rfind(prefix, 0) == 0)
                lines.push_back(line);
        }
        return lines;
    }

    void Faults(const std::string& json)
    {
        std::string error;
        ASSERT_TRUE(m_server->SetFaults(json, error)) << error;
    }

    testsupport::TempDir m_dir;
    std::unique_ptr<CStandInServer> m_server;
    MessageRecorder m_messages;
    CCatalogueClient m_client;
};

} // namespace

TEST_F(CatalogueClientTest, BrowsePageArrivesWithItsGamesAndTheFormAsSent)
{
    m_client.RequestGameList(FakeWindow(), 0, 0, 0, 1, "", 42);
    auto message = m_messages.Next();
    ASSERT_TRUE(message);
    EXPECT_EQ(message->hwnd, FakeWindow());
    ASSERT_EQ(message->message, WM_GAMELIST_READY);
    EXPECT_EQ(message->wParam, 1u);
    const CGameList* list = message->Payload<CGameList>();
    ASSERT_EQ(list->GameCount(), 3u);
    EXPECT_EQ(list->TotalCount(), 3);
    EXPECT_EQ(list->GameAt(1).gamename, "Racer");

    auto posts = Logged("/clientapi/");
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0]["method"].asString(), "POST");
    EXPECT_EQ(posts[0]["body"].asString(),
              "model=appstore&action=gamelist&clientparams= | |zh| | |pc1.0&page=1&pagesize=42&categoryid= "
              "&emulatorid= &keyword= &orderby=recommend");
}

TEST_F(CatalogueClientTest, FiltersAndSearchReachTheServer)
{
    m_client.RequestGameList(FakeWindow(), 7, 120, 1, 1, "", 42);
    auto filtered = m_messages.Next();
    ASSERT_TRUE(filtered);
    EXPECT_EQ(filtered->Payload<CGameList>()->GameCount(), 1u);
    m_client.Shutdown();

    m_client.RequestGameList(FakeWindow(), 0, 0, 0, 1, "三国 heroes", 40);
    auto found = m_messages.Next();
    ASSERT_TRUE(found);
    EXPECT_EQ(found->message, WM_SEARCHLIST_READY) << "a keyword makes it a search";
    ASSERT_EQ(found->Payload<CGameList>()->GameCount(), 1u);
    EXPECT_EQ(found->Payload<CGameList>()->GameAt(0).gameid, "7");

    auto posts = Logged("/clientapi/");
    ASSERT_EQ(posts.size(), 2u);
    EXPECT_NE(posts[0]["body"].asString().find("&categoryid=007&emulatorid=120&"), std::string::npos);
    EXPECT_NE(posts[0]["body"].asString().find("&orderby=new"), std::string::npos);
    EXPECT_NE(posts[1]["body"].asString().find("&keyword=%E4%B8%89%E5%9B%BD+heroes&"), std::string::npos);
}

TEST_F(CatalogueClientTest, SecondRequestWhileOneRunsIsDropped)
{
    Faults(R"({"path": "/clientapi/", "delayMs": 400, "times": 1})");
    m_client.RequestGameList(FakeWindow(), 0, 0, 0, 1, "", 42);
    m_client.RequestGameList(FakeWindow(), 0, 0, 0, 2, "", 42);
    auto first = m_messages.Next();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->wParam, 1u);
    m_client.Shutdown();
    EXPECT_EQ(m_messages.Pending(), 0u);
    EXPECT_EQ(Logged("/clientapi/").size(), 1u);

    // Once it ended, the next request goes through.
    m_client.RequestGameList(FakeWindow(), 0, 0, 0, 2, "", 42);
    auto next = m_messages.Next();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->wParam, 2u);
}

TEST_F(CatalogueClientTest, ErrorStatusWithJsonBodyFails)
{
    Faults(R"({"path": "/clientapi/", "status": 404})");
    m_client.RequestGameList(FakeWindow(), 0, 0, 0, 1, "", 42);
    auto message = m_messages.Next();
    ASSERT_TRUE(message);
    EXPECT_EQ(message->message, WM_GAMELIST_FAILED);
    EXPECT_EQ(message->lParam, 0);
}

TEST_F(CatalogueClientTest, DetailPostsDescriptionAndCachesScreenshotsOnce)
{
    CGame game;
    game.gameid = "7";
    std::atomic<bool> closing{false};
    platform::Event idle(platform::Event::Mode::ManualReset, true);
    RunGameInfoRequest(FakeWindow(), game, closing, idle);
    EXPECT_TRUE(idle.IsSet());

    auto description = m_messages.Next();
    ASSERT_TRUE(description);
    ASSERT_EQ(description->message, WM_GAMEINFO_DESCRIPTION);
    EXPECT_EQ(*description->Payload<std::string>(), "简介");

    const std::string cache = m_dir.Path() + "work/cache/image/screens/7/a/";
    auto one = m_messages.Next();
    ASSERT_TRUE(one);
    EXPECT_EQ(one->message, WM_GAMEINFO_SCREEN);
    EXPECT_EQ(*one->Payload<std::string>(), cache + "one.jpg") << "cut at '!', separators collapsed";
    EXPECT_EQ(ReadFile(cache + "one.jpg"), "JPEG-ONE");
    auto two = m_messages.Next();
    ASSERT_TRUE(two);
    EXPECT_EQ(*two->Payload<std::string>(), cache + "two.jpg");
    EXPECT_EQ(m_messages.Pending(), 0u) << "a missing screenshot posts nothing";
    EXPECT_FALSE(fs::exists(cache + "gone.jpg")) << "and leaves no error page behind";

    auto images = Logged("/image/");
    ASSERT_EQ(images.size(), 3u);
    EXPECT_EQ(images[0]["path"].asString(), "/image/screens/7/a/one.jpg!big") << "fetched with the whole entry";

    // A second opening finds the cached files and fetches only the missing one again.
    RunGameInfoRequest(FakeWindow(), game, closing, idle);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(m_messages.Next());
    EXPECT_EQ(Logged("/image/").size(), 4u);
}
