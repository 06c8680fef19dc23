#include "catalogue/CatalogueClient.h"
#include "catalogue/GameInfo.h"
#include "catalogue/GameList.h"
#include "foundation/AppMessages.h"
#include "foundation/AppPaths.h"
#include "foundation/NetGlobal.h"
#include "foundation/ServerEndpoints.h"
#include "server/StandInServer.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/RequestLog.h"
#include "tests/support/RequestWatch.h"
#include "tests/support/TempDir.h"

#include "catalogue/ImageLoader.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <json/json.h>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using testsupport::MessageRecorder;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

platform::HWND FakeWindow()
{
    return reinterpret_cast<platform::HWND>(0x42);
}
platform::HWND OtherWindow()
{
    return reinterpret_cast<platform::HWND>(0x43);
}

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

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
            {"gameid": "66", "gamename": "Escape", "icon": "../../x.png",
             "screens": ["../../x.png", "/etc/hostname", "screens/7/a/two.jpg"]},
            {"gameid": "9", "gamename": "Puzzle", "emulatorid": "125", "categoryid": "8"}]})");

        StandInServerOptions options;
        options.dataDir = data;
        options.logPath = m_dir.Path() + "requests.log";
        m_server = std::make_unique<CStandInServer>(options);
        m_requests.Watch(*m_server);
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
        return testsupport::ReadRequestLog(m_dir.Path() + "requests.log", prefix);
    }

    void Faults(const std::string& json)
    {
        std::string error;
        ASSERT_TRUE(m_server->SetFaults(json, error)) << error;
    }

    testsupport::TempDir m_dir;
    testsupport::RequestWatch m_requests;
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
    ASSERT_EQ(list->GameCount(), 4u);
    EXPECT_EQ(list->TotalCount(), 4);
    EXPECT_EQ(list->GameAt(1).gamename, "Racer");
    ASSERT_TRUE(list->request);
    EXPECT_EQ(*list->request, (CGameListQuery{0, 0, 0, 1, "", 42})) << "the page names its request";

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

TEST_F(CatalogueClientTest, TheLatestRequestOfAWindowAndViewWins)
{
    // While page 1 is held up, pages 2 and 3 are asked for: page 1's answer is dropped, page 2 is
    // replaced by page 3 before it was sent, and page 3 is answered.
    Faults(R"({"path": "/clientapi/", "delayMs": 400, "times": 1})");
    m_client.RequestGameList(FakeWindow(), 0, 0, 0, 1, "", 2);
    ASSERT_TRUE(m_requests.WaitFor("POST /clientapi/", 1));
    m_client.RequestGameList(FakeWindow(), 0, 0, 0, 2, "", 2);
    m_client.RequestGameList(FakeWindow(), 0, 0, 0, 3, "", 2);
    // Another view of the window and another window keep their own latest request.
    m_client.RequestGameList(FakeWindow(), 0, 0, 0, 1, "Racer", 2);
    m_client.RequestGameList(OtherWindow(), 0, 0, 0, 2, "", 2);

    auto third = m_messages.Next();
    ASSERT_TRUE(third);
    ASSERT_EQ(third->message, WM_GAMELIST_READY);
    EXPECT_EQ(third->hwnd, FakeWindow());
    EXPECT_EQ(third->wParam, 3u);
    EXPECT_EQ(third->Payload<CGameList>()->request->page, 3);
    auto search = m_messages.Next();
    ASSERT_TRUE(search);
    EXPECT_EQ(search->message, WM_SEARCHLIST_READY);
    EXPECT_EQ(search->Payload<CGameList>()->GameAt(0).gameid, "8");
    auto other = m_messages.Next();
    ASSERT_TRUE(other);
    EXPECT_EQ(other->hwnd, OtherWindow());
    EXPECT_EQ(other->wParam, 2u);

    m_client.Shutdown();
    EXPECT_EQ(m_messages.Pending(), 0u) << "page 1 was answered by nothing";
    auto posts = Logged("/clientapi/");
    ASSERT_EQ(posts.size(), 4u) << "page 2 was never sent";
    EXPECT_NE(posts[1]["body"].asString().find("&page=3&"), std::string::npos);
}

TEST_F(CatalogueClientTest, ErrorStatusWithJsonBodyFails)
{
    Faults(R"({"path": "/clientapi/", "status": 404})");
    m_client.RequestGameList(FakeWindow(), 0, 0, 0, 1, "", 42);
    auto message = m_messages.Next();
    ASSERT_TRUE(message);
    EXPECT_EQ(message->message, WM_GAMELIST_FAILED);
    ASSERT_NE(message->lParam, 0);
    EXPECT_EQ(*message->Payload<CGameListQuery>(), (CGameListQuery{0, 0, 0, 1, "", 42}))
        << "the failure names the request, so the window knows which choice to undo";
}

TEST_F(CatalogueClientTest, DetailPostsDescriptionAndCachesScreenshotsOnce)
{
    CGame game;
    game.gameid = "7";
    TransferCancel closing{false};
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
    EXPECT_EQ(images[0]["path"].asString(), "/image/screens/7/a/one.jpg!big")
        << "fetched with the whole entry";

    // A second opening finds the cached files and fetches only the missing one again.
    RunGameInfoRequest(FakeWindow(), game, closing, idle);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(m_messages.Next());
    EXPECT_EQ(Logged("/image/").size(), 4u);
}

TEST_F(CatalogueClientTest, ServerPathsThatLeaveTheCacheAreMissingImages)
{
    const std::string cache = m_dir.Path() + "work/cache/image/";
    EXPECT_EQ(CachedImagePath("../../x.png"), "");
    EXPECT_EQ(CachedImagePath("/etc/hostname"), "");
    EXPECT_EQ(IconCachePath("icon/../../../x.png"), "");
    EXPECT_EQ(IconCachePath("icon/a.png"), cache + "icon/a.png");

    // The detail request skips such screenshots and shows the good one.
    CGame game;
    game.gameid = "66";
    TransferCancel closing{false};
    platform::Event idle(platform::Event::Mode::ManualReset, true);
    RunGameInfoRequest(FakeWindow(), game, closing, idle);
    ASSERT_TRUE(m_messages.Next()); // the description
    auto screen = m_messages.Next();
    ASSERT_TRUE(screen);
    EXPECT_EQ(*screen->Payload<std::string>(), cache + "screens/7/a/two.jpg");
    EXPECT_EQ(m_messages.Pending(), 0u);

    // The icon loader answers such an icon with the default icon, without asking the server.
    CImageLoader loader;
    loader.Request(FakeWindow(), 0, 0, "66", "../../x.png");
    auto icon = m_messages.Next();
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->Payload<CImageAnswer>()->image, CImageLoader::kDefaultIcon);
    loader.Shutdown();

    EXPECT_EQ(Logged("/image/").size(), 1u) << "only the good screenshot was fetched";
    EXPECT_FALSE(fs::exists(m_dir.Path() + "x.png"));
    EXPECT_FALSE(fs::exists(m_dir.Path() + "work/x.png"));
}

TEST_F(CatalogueClientTest, StalledTransfersEndSoonAfterTheirOwnersStop)
{
    // The catalogue and the image server accept the requests and then send nothing for a minute.
    Faults(
        R"([{"path": "/clientapi/", "stallAfter": 0}, {"path": "/image/", "prefix": true, "stallAfter": 0}])");
    CImageLoader loader;
    m_client.RequestGameList(FakeWindow(), 0, 0, 0, 1, "", 42);
    loader.Request(FakeWindow(), 0, 0, "7", "icon/7.png");
    CGame game;
    game.gameid = "7";
    TransferCancel closing{false};
    platform::Event idle(platform::Event::Mode::ManualReset, true);
    std::thread detail([&] { RunGameInfoRequest(FakeWindow(), game, closing, idle); });
    // Two catalogue requests (the page and the detail) and the icon are in the middle of their
    // transfers.
    ASSERT_TRUE(m_requests.WaitFor("POST /clientapi/", 2));
    ASSERT_TRUE(m_requests.WaitFor("GET /image/", 1));

    // Every flag first, then every join: the whole wait is one abort.
    auto start = std::chrono::steady_clock::now();
    m_client.BeginShutdown();
    loader.BeginShutdown();
    closing = true;
    m_client.Shutdown();
    loader.Shutdown();
    detail.join();
    double seconds = SecondsSince(start);
    std::printf("stalled transfers ended %.3f s after their flags were set\n", seconds);
    EXPECT_LT(seconds, 30.0) << "the stalls (60 s) ran out instead of the flags ending them";

    EXPECT_TRUE(idle.IsSet());
    EXPECT_EQ(m_messages.Pending(), 0u) << "an aborted request is answered by nothing";
    std::error_code ec;
    int files = 0;
    for (auto it = fs::recursive_directory_iterator(m_dir.Path() + "work/", ec); !ec && it != fs::end(it);
         it.increment(ec))
        files += it->is_regular_file();
    EXPECT_EQ(files, 0) << "an aborted icon leaves no file, whole or partial";
}
