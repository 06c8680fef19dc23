#include "tests/server/ServerProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace {

const char kClientParams[] = " | |zh| | |pc1.0";

// The demo content that the build generated with quokka-demo, served by one server for the suite.
class DemoServedTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_server = new ServerProcess(QUOKKA_TEST_DEMO_DIR);
        ASSERT_GT(s_server->Port(), 0) << s_server->FirstLine();
    }
    static void TearDownTestSuite() { delete s_server; }

    // A game-list request as the catalogue client formats it: "%03d" or a single space for the
    // filters, the keyword form-encoded or a single space, the rest as it stands.
    static Json::Value GameList(int page, int pageSize, int category, int platform,
                                const std::string& keyword, const std::string& order)
    {
        auto filter = [](int value) {
            char text[8];
            std::snprintf(text, sizeof text, "%03d", value);
            return value == 0 ? std::string(" ") : std::string(text);
        };
        std::string encodedKeyword = keyword.empty() ? " " : FormEncode({{"k", keyword}}).substr(2);
        std::string body = std::string("model=appstore&action=gamelist&clientparams=") + kClientParams +
                           "&page=" + std::to_string(page) + "&pagesize=" + std::to_string(pageSize) +
                           "&categoryid=" + filter(category) + "&emulatorid=" + filter(platform) +
                           "&keyword=" + encodedKeyword + "&orderby=" + order;
        return Api(body);
    }

    static Json::Value Api(const std::string& body)
    {
        auto result = s_server->Client()->Post("/clientapi/", body, "application/x-www-form-urlencoded");
        if (!result || result->status != 200)
            return Json::Value();
        return ParseJson(result->body);
    }

    static inline ServerProcess* s_server = nullptr;
};

const int kFilterPlatforms[] = {138, 125, 121, 130, 140, 124, 120, 127, 122,
                                133, 119, 142, 129, 148, 131, 126, 123, 146};

TEST_F(DemoServedTest, TheCatalogueCoversEveryPlatformAndGenre)
{
    Json::Value all = GameList(1, 32, 0, 0, "", "recommend");
    ASSERT_GE(std::stoi(all["count"].asString()), 400);
    EXPECT_EQ(all["gamelist"].size(), 32u);
    std::set<std::string> platforms;
    for (const Json::Value& group : all["emulatorgroup"]) {
        EXPECT_GT(std::stoi(group["count"].asString()), 0) << group["id"].asString();
        platforms.insert(group["id"].asString());
    }
    for (int platform : kFilterPlatforms)
        EXPECT_TRUE(platforms.count(std::to_string(platform))) << platform;
    ASSERT_EQ(all["categorygroup"].size(), 15u);
    for (const Json::Value& group : all["categorygroup"])
        EXPECT_GT(std::stoi(group["count"].asString()), 0) << group["id"].asString();
    EXPECT_GE(all["languagegroup"].size(), 2u);

    const Json::Value& game = all["gamelist"][0];
    for (const char* key : {"gameid", "gamename", "orgname", "icon", "size", "rating", "emulatorid",
                            "categoryid", "emulatorshortname", "categoryshortname", "needsize"})
        EXPECT_TRUE(game.isMember(key)) << key;
    EXPECT_FALSE(game.isMember("description")) << "the list carries no detail keys";
    EXPECT_TRUE(game["needsize"].isIntegral());

    // Every platform offers every genre somewhere and ratings move in steps of 0.5.
    std::set<std::string> ratings;
    std::set<std::pair<std::string, std::string>> platformGenres;
    for (int page = 1; page <= 3; ++page) {
        Json::Value list = GameList(page, 200, 0, 0, "", "recommend");
        for (const Json::Value& each : list["gamelist"]) {
            ratings.insert(each["rating"].asString());
            platformGenres.emplace(each["emulatorid"].asString(), each["categoryid"].asString());
        }
    }
    EXPECT_EQ(platformGenres.size(), 18u * 15u);
    for (const std::string& rating : ratings) {
        double value = std::stod(rating);
        EXPECT_TRUE(value >= 0 && value <= 5 && value * 2 == static_cast<int>(value * 2)) << rating;
    }
}

TEST_F(DemoServedTest, FiltersPagingAndOrdersAnswerAsAsked)
{
    Json::Value action = GameList(1, 200, 7, 0, "", "recommend");
    ASSERT_GT(action["gamelist"].size(), 0u);
    for (const Json::Value& game : action["gamelist"])
        EXPECT_EQ(game["categoryid"].asString(), "7");

    Json::Value fc = GameList(1, 200, 0, 125, "", "recommend");
    ASSERT_GT(fc["gamelist"].size(), 0u);
    for (const Json::Value& game : fc["gamelist"]) {
        EXPECT_EQ(game["emulatorid"].asString(), "125");
        EXPECT_EQ(game["emulatorshortname"].asString(), "FC");
    }

    const int count = std::stoi(GameList(1, 40, 0, 0, "", "recommend")["count"].asString());
    std::set<std::string> seen;
    int pages = (count + 39) / 40;
    for (int page = 1; page <= pages; ++page) {
        Json::Value list = GameList(page, 40, 0, 0, "", "recommend");
        EXPECT_EQ(static_cast<int>(list["gamelist"].size()), page < pages ? 40 : count - 40 * (pages - 1));
        for (const Json::Value& game : list["gamelist"])
            seen.insert(game["gameid"].asString());
    }
    EXPECT_EQ(static_cast<int>(seen.size()), count) << "pages neither overlap nor skip";
    EXPECT_EQ(GameList(pages + 1, 40, 0, 0, "", "recommend")["gamelist"].size(), 0u);

    Json::Value newest = GameList(1, 50, 0, 0, "", "new");
    for (Json::ArrayIndex i = 1; i < newest["gamelist"].size(); ++i)
        EXPECT_GE(newest["gamelist"][i - 1]["updatedtime"].asString(),
                  newest["gamelist"][i]["updatedtime"].asString());
    Json::Value hot = GameList(1, 50, 0, 0, "", "hot");
    for (Json::ArrayIndex i = 1; i < hot["gamelist"].size(); ++i)
        EXPECT_GE(std::stoi(hot["gamelist"][i - 1]["downloads"].asString()),
                  std::stoi(hot["gamelist"][i]["downloads"].asString()));
}

TEST_F(DemoServedTest, EachGroupCountsWhatTheOtherFiltersLetThrough)
{
    auto sum = [](const Json::Value& group) {
        int total = 0;
        for (const Json::Value& entry : group)
            total += std::stoi(entry["count"].asString());
        return total;
    };
    Json::Value fcAction = GameList(1, 10, 1, 125, "", "recommend");
    const int count = std::stoi(fcAction["count"].asString());
    ASSERT_GT(count, 0);
    // Categories among FC games, platforms among action games, languages among FC action games.
    EXPECT_EQ(sum(fcAction["categorygroup"]),
              std::stoi(GameList(1, 1, 0, 125, "", "recommend")["count"].asString()));
    EXPECT_EQ(sum(fcAction["emulatorgroup"]),
              std::stoi(GameList(1, 1, 1, 0, "", "recommend")["count"].asString()));
    EXPECT_EQ(sum(fcAction["languagegroup"]), count);
}

TEST_F(DemoServedTest, SearchMatchesChineseAndEnglishNames)
{
    Json::Value chinese = GameList(1, 40, 0, 0, "龙之", "recommend");
    ASSERT_GT(chinese["gamelist"].size(), 0u);
    for (const Json::Value& game : chinese["gamelist"])
        EXPECT_NE(game["gamename"].asString().find("龙之"), std::string::npos);

    Json::Value english = GameList(1, 40, 0, 0, "dragon's knight", "recommend");
    ASSERT_GT(english["gamelist"].size(), 0u);
    for (const Json::Value& game : english["gamelist"])
        EXPECT_NE(game["orgname"].asString().find("Dragon's Knight"), std::string::npos);

    EXPECT_EQ(GameList(1, 40, 0, 0, "no such game at all", "recommend")["count"].asString(), "0");
}

TEST_F(DemoServedTest, ABrowserPagesThroughTheCatalogueWithGetRequests)
{
    auto client = s_server->Client();
    auto index = client->Get("/");
    ASSERT_TRUE(index);
    EXPECT_NE(index->body.find("/clientapi/?model=appstore&action=gamelist&page=2"), std::string::npos);
    auto page =
        client->Get("/clientapi/?model=appstore&action=gamelist&page=2&pagesize=5&categoryid=+&orderby=hot");
    ASSERT_TRUE(page);
    Json::Value list = ParseJson(page->body);
    EXPECT_EQ(list["gamelist"].size(), 5u);
    EXPECT_EQ(list["gamelist"][0]["gameid"], GameList(2, 5, 0, 0, "", "hot")["gamelist"][0]["gameid"]);
}

TEST_F(DemoServedTest, GameInfoCarriesDescriptionAndScreensThatTheImageServerServes)
{
    Json::Value list = GameList(1, 10, 0, 0, "", "recommend");
    auto client = s_server->Client();
    bool sawSuffix = false;
    for (const Json::Value& game : list["gamelist"]) {
        Json::Value info = Api(std::string("model=appstore&action=gameinfo&clientparams=") + kClientParams +
                               "&gameid=" + game["gameid"].asString());
        const Json::Value& detail = info["gameinfo"];
        EXPECT_EQ(detail["gameid"], game["gameid"]);
        EXPECT_FALSE(detail["description"].asString().empty());
        ASSERT_GE(detail["screens"].size(), 2u);
        ASSERT_LE(detail["screens"].size(), 5u);
        for (const Json::Value& screen : detail["screens"]) {
            sawSuffix = sawSuffix || screen.asString().find('!') != std::string::npos;
            auto image = client->Get("/image/" + screen.asString());
            ASSERT_TRUE(image);
            EXPECT_EQ(image->status, 200) << screen.asString();
            EXPECT_EQ(image->body.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
        }
        auto icon = client->Get("/image/" + game["icon"].asString());
        ASSERT_TRUE(icon);
        EXPECT_EQ(icon->status, 200);
    }
    EXPECT_TRUE(sawSuffix) << "some screenshot paths carry a style suffix";
    Json::Value missing = Api("model=appstore&action=gameinfo&clientparams=x&gameid=nope");
    EXPECT_FALSE(missing.isMember("gameinfo"));
}

TEST_F(DemoServedTest, RegisterGivesATicketThatOnlyWorksWhenEncoded)
{
    Json::Value user = Api("model=user&action=register&password=10012345");
    const std::string uid = user["uid"].asString(), ticket = user["ticket"].asString();
    ASSERT_FALSE(uid.empty());
    EXPECT_NE(ticket.find(' '), std::string::npos);
    EXPECT_NE(ticket.find('/'), std::string::npos);
    EXPECT_NE(Api("model=user&action=register&password=10012345")["uid"].asString(), uid);

    Json::Value refused =
        Api("model=user&action=downfile&uid=" + uid + "&ticket=" + ticket + "&gameid=20002");
    EXPECT_EQ(refused["status"].asInt(), -2) << "an unencoded ticket is refused";
    Json::Value descriptor = Api("model=user&action=downfile&" +
                                 FormEncode({{"uid", uid}, {"ticket", ticket}, {"gameid", "20002"}}));
    EXPECT_EQ(descriptor["status"].asInt(), 1);
    EXPECT_EQ(descriptor["verify"].size(), 1u);
}

TEST_F(DemoServedTest, DescriptorsNameFilesTheServerServes)
{
    Json::Value user = Api("model=user&action=register&password=10000001");
    auto descriptorOf = [&](const std::string& gameId) {
        return Api("model=user&action=downfile&" + FormEncode({{"uid", user["uid"].asString()},
                                                               {"ticket", user["ticket"].asString()},
                                                               {"gameid", gameId}}));
    };
    auto client = s_server->Client();
    auto pathOf = [&](const std::string& url) {
        EXPECT_EQ(url.rfind(s_server->Origin(), 0), 0u) << url;
        return url.substr(s_server->Origin().size());
    };
    bool single = false, noZip = false, volumes = false, listOnly = false, arcade = false;
    bool withoutDirectSource = false;
    for (int id = 20001; id <= 20036; ++id) {
        Json::Value descriptor = descriptorOf(std::to_string(id));
        ASSERT_EQ(descriptor["status"].asInt(), 1) << id;
        // Share-only games, and the one game nothing serves, have no direct source; their share
        // links are checked by the share service's tests.
        if (descriptor["fileurl"].asString().empty() && descriptor["filelist"].empty() &&
            descriptor["volumeurl"].asString().empty()) {
            withoutDirectSource = true;
            continue;
        }
        if (descriptor["volume"].asString() == "1") {
            volumes = true;
            std::string joined;
            std::string list = descriptor["volumeurl"].asString();
            size_t start = 0;
            int expected = 1;
            while (start < list.size()) {
                size_t end = std::min(list.find(',', start), list.size());
                std::string entry = list.substr(start, end - start);
                size_t bar = entry.find('|');
                ASSERT_NE(bar, std::string::npos);
                EXPECT_EQ(entry.substr(bar + 1), std::to_string(expected++));
                auto volume = client->Get(pathOf(entry.substr(0, bar)));
                ASSERT_TRUE(volume);
                EXPECT_EQ(volume->status, 200);
                joined += volume->body;
                start = end + 1;
            }
            EXPECT_EQ(expected, 4) << "three volumes";
            EXPECT_EQ(joined.substr(0, 2), "PK") << "the volumes join into a zip archive";
            continue;
        }
        if (descriptor["fileurl"].asString().empty()) {
            listOnly = true;
            EXPECT_EQ(descriptor["filelist"].size(), 2u);
        } else {
            single = true;
            auto archive = client->Get(pathOf(descriptor["fileurl"].asString()));
            ASSERT_TRUE(archive);
            EXPECT_EQ(archive->status, 200);
            EXPECT_EQ(archive->body.substr(0, 2), "PK");
        }
        auto mirror =
            client->Head(pathOf(descriptor["filelist"][descriptor["filelist"].size() - 1].asString()));
        EXPECT_EQ(mirror->status, 302) << "the mirror redirects to the archive";
        if (!descriptor["fileurl2"].asString().empty()) {
            noZip = true;
            auto file = client->Get(pathOf(descriptor["fileurl2"].asString()));
            ASSERT_TRUE(file);
            EXPECT_EQ(std::to_string(file->body.size()), descriptor["verify"][0]["size"].asString());
        }
        arcade = arcade || !descriptor["filename"].asString().empty();
    }
    EXPECT_TRUE(single && noZip && volumes && listOnly && arcade && withoutDirectSource);

    auto emulators =
        client->Post("/download/pc/update/emulators.php", "", "application/x-www-form-urlencoded");
    ASSERT_TRUE(emulators);
    Json::Value list = ParseJson(emulators->body);
    ASSERT_TRUE(list["fc"].isArray());
    auto package = client->Head(pathOf(list["fc"][0]["downloadurl"].asString()));
    EXPECT_EQ(package->status, 200);
    auto update = client->Post("/download/pc/update/index.php", "", "application/x-www-form-urlencoded");
    EXPECT_EQ(ParseJson(update->body)["version"].asString(), "0.0.14");
    EXPECT_EQ(client->Head("/download/Update.zip")->status, 200);
}

} // namespace

TEST_F(DemoServedTest, PcGamesNameTheProgramThatTheirArchiveHolds)
{
    // A downloaded PC game starts the file its "playurl" names inside the game's folder; the
    // descriptor's first check entry is that file as the archive holds it.
    Json::Value user = Api("model=user&action=register&password=10000001");
    Json::Value pcGames = GameList(1, 200, 0, 138, "", "recommend");
    ASSERT_GT(pcGames["gamelist"].size(), 0u);
    for (const Json::Value& game : pcGames["gamelist"]) {
        const std::string gameId = game["gameid"].asString();
        SCOPED_TRACE(gameId);
        std::string program = game["playurl"].asString();
        ASSERT_FALSE(program.empty());
        EXPECT_NE(program.find('\\'), std::string::npos) << "named inside a folder of the game's";
        std::replace(program.begin(), program.end(), '\\', '/');
        Json::Value descriptor =
            Api("model=user&action=downfile&" + FormEncode({{"uid", user["uid"].asString()},
                                                            {"ticket", user["ticket"].asString()},
                                                            {"gameid", gameId}}));
        ASSERT_EQ(descriptor["status"].asInt(), 1);
        EXPECT_EQ(descriptor["verify"][0]["path"].asString(), program);
    }
    // Other platforms' games start through their emulator and name no program.
    Json::Value fcGames = GameList(1, 5, 0, 125, "", "recommend");
    ASSERT_GT(fcGames["gamelist"].size(), 0u);
    for (const Json::Value& game : fcGames["gamelist"])
        EXPECT_EQ(game["playurl"].asString(), "") << game["gameid"].asString();
}
