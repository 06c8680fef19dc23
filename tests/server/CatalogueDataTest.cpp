#include "server/CatalogueData.h"
#include "server/FaultRules.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

using testsupport::WriteFile;

namespace {

class CatalogueDataTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string games;
        for (int i = 1; i <= 7; ++i) {
            games += std::string(i > 1 ? "," : "") + R"({"gameid": ")" + std::to_string(i) +
                     R"(", "gamename": "Game )" + std::to_string(i) + R"(", "categoryid": ")" +
                     std::to_string(i % 2 + 1) + R"(", "emulatorid": "125", "downloads": ")" +
                     std::to_string(i * 10) + R"(", "updatedtime": "2024-01-0)" + std::to_string(8 - i) +
                     R"(", "description": "d"})";
        }
        ASSERT_TRUE(WriteFile(m_dir.Path() + "catalogue.json", "{\"games\": [" + games + "]}"));
        std::string error;
        ASSERT_TRUE(m_catalogue.Load(m_dir.Path() + "catalogue.json", error)) << error;
    }

    std::vector<std::string> Ids(const GameQuery& query) const
    {
        std::vector<std::string> ids;
        const Json::Value answer = m_catalogue.GameList(query);
        for (const Json::Value& game : answer["gamelist"])
            ids.push_back(game["gameid"].asString());
        return ids;
    }

    testsupport::TempDir m_dir;
    CCatalogueData m_catalogue;
};

TEST_F(CatalogueDataTest, PagesAreClampedToSaneValues)
{
    GameQuery query;
    query.pageSize = 3;
    query.page = 0;
    EXPECT_EQ(Ids(query), (std::vector<std::string>{"1", "2", "3"})) << "page 0 counts as the first";
    query.page = -5;
    EXPECT_EQ(Ids(query).size(), 3u);
    query.page = 3;
    EXPECT_EQ(Ids(query), std::vector<std::string>{"7"});
    query.page = 2147483647;
    EXPECT_TRUE(Ids(query).empty());
    query.page = 1;
    query.pageSize = 0;
    EXPECT_EQ(Ids(query).size(), 1u);
    query.pageSize = 100000;
    EXPECT_EQ(Ids(query).size(), 7u);
    EXPECT_EQ(m_catalogue.GameList(query)["gamelist"][0].isMember("description"), false);
}

TEST_F(CatalogueDataTest, OrdersAndFilters)
{
    GameQuery query;
    query.order = "hot";
    EXPECT_EQ(Ids(query).front(), "7");
    query.order = "new";
    EXPECT_EQ(Ids(query).front(), "1");
    query.order = "whatever";
    EXPECT_EQ(Ids(query).front(), "1") << "an unknown order is the catalogue order";
    query.categoryId = 2;
    EXPECT_EQ(Ids(query), (std::vector<std::string>{"1", "3", "5", "7"}));
    query.keyword = "GAME 3";
    EXPECT_EQ(Ids(query), std::vector<std::string>{"3"});
    query.emulatorId = 999;
    EXPECT_TRUE(Ids(query).empty());
}

TEST_F(CatalogueDataTest, MissingFilesAreEmptyAndBrokenFilesAreErrors)
{
    CCatalogueData data;
    std::string error;
    EXPECT_TRUE(data.Load(m_dir.Path() + "missing.json", error));
    EXPECT_EQ(data.GameCount(), 0u);
    ASSERT_TRUE(WriteFile(m_dir.Path() + "broken.json", R"({"games": {}})"));
    EXPECT_FALSE(data.Load(m_dir.Path() + "broken.json", error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(m_catalogue.GameInfo("nope")["status"].asInt(), 0);
    EXPECT_EQ(m_catalogue.GameInfo("4")["gameinfo"]["description"].asString(), "d");
}

TEST(FaultRulesTest, ReplacingValidatesEveryRuleFirst)
{
    CFaultRules rules;
    std::string error;
    ASSERT_TRUE(rules.Replace(R"({"path": "/a", "times": 1})", error));
    EXPECT_FALSE(rules.Replace(R"([{"path": "/b"}, {"path": 5}])", error));
    EXPECT_FALSE(rules.Replace(R"([{"path": "/b", "delayMs": "long"}])", error));
    EXPECT_FALSE(rules.Replace(R"("text")", error));
    ASSERT_TRUE(rules.Take("GET", "/a")) << "the old rules stay after a refused replacement";
    EXPECT_FALSE(rules.Take("GET", "/a")) << "used up";
    ASSERT_TRUE(rules.Replace(R"([{"path": "/p/", "prefix": true, "method": "HEAD"}])", error));
    EXPECT_FALSE(rules.Take("GET", "/p/x"));
    EXPECT_TRUE(rules.Take("HEAD", "/p/x"));
    ASSERT_TRUE(rules.Replace("  ", error));
    EXPECT_FALSE(rules.Take("HEAD", "/p/x"));
}

} // namespace
