#include "catalogue/GameInfo.h"
#include "catalogue/GameList.h"
#include "platform/CodePage.h"

#include <gtest/gtest.h>

namespace {

const char* kPage = R"({
  "status": 1,
  "count": "412",
  "gamelist": [
    {"gameid": "1001", "gamename": "星河战记", "emulatorid": "125", "size": "1", "rating": "4.5",
     "categoryshortname": "射击游戏", "needsize": 1048576, "icon": "icon/1001.png"},
    {"gameid": "1002", "gamename": "Sky Racer", "emulatorid": "120"}
  ],
  "categorygroup": [{"count": "40", "id": "1", "name": "动作"}],
  "emulatorgroup": [{"count": "30", "id": "125", "name": "FC"}, {"count": "12", "id": "120", "name": "GBA"}],
  "languagegroup": [],
  "msg": "ok",
  "_run_time": 0.25
})";

} // namespace

TEST(CatalogueModelsTest, PageFillsGamesGroupsAndCount)
{
    CGameList list;
    ASSERT_TRUE(list.ParseText(kPage));
    EXPECT_EQ(list.status, 1);
    EXPECT_EQ(list.TotalCount(), 412);
    ASSERT_EQ(list.GameCount(), 2u);
    const CGame& first = list.GameAt(0);
    EXPECT_EQ(first.gameid, "1001");
    EXPECT_EQ(first.emulatorid, "125");
    EXPECT_EQ(first.needsize, 1048576);
    EXPECT_EQ(list.GameAt(1).gamename, "Sky Racer");
    EXPECT_EQ(list.GameAt(1).rating, "") << "a missing key leaves the field empty";
    ASSERT_EQ(list.emulatorgroup.size(), 2u);
    EXPECT_EQ(JsonElementAs<CEmulator>(list.emulatorgroup[1])->name, "GBA");
    EXPECT_NE(dynamic_cast<CCategory*>(list.categorygroup[0].get()), nullptr);
    EXPECT_FLOAT_EQ(list._run_time, 0.25f);
}

TEST(CatalogueModelsTest, MissingCountGivesZeroAndBadTextFails)
{
    CGameList list;
    ASSERT_TRUE(list.ParseText(R"({"gamelist": []})"));
    EXPECT_EQ(list.TotalCount(), 0);
    CGameList broken;
    EXPECT_FALSE(broken.ParseText("<html>404</html>"));
    EXPECT_EQ(broken.GameCount(), 0u);
}

TEST(CatalogueModelsTest, ScalarTextsArriveInTheCodePageAndScreensStayUtf8)
{
    std::string saved = platform::ProcessCodePage();
    platform::SetProcessCodePage("GBK");
    CGameInfoObj info;
    bool parsed = info.ParseText(R"({"status": 1, "gameinfo": {"gameid": "7", "gamename": "三国",
        "description": "简介", "screens": ["screens/7/a.jpg!big", "screens/7/中.jpg"]}})");
    platform::SetProcessCodePage(saved);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(info.gameinfo.gameid, "7");
    EXPECT_EQ(info.gameinfo.gamename, "\xC8\xFD\xB9\xFA");
    EXPECT_EQ(info.gameinfo.description, "\xBC\xF2\xBD\xE9");
    ASSERT_EQ(info.gameinfo.screens.size(), 2u);
    EXPECT_EQ(info.gameinfo.screens[1], "screens/7/中.jpg");
}

TEST(CatalogueModelsTest, CopiedGameIsIndependentAndStillFillable)
{
    CGameList list;
    ASSERT_TRUE(list.ParseText(kPage));
    CGame copy = list.GameAt(0);
    EXPECT_EQ(copy.gamename, "星河战记");
    ASSERT_TRUE(copy.ParseText(R"({"gamename": "New"})"));
    EXPECT_EQ(copy.gamename, "New");
    EXPECT_EQ(list.GameAt(0).gamename, "星河战记");
}
