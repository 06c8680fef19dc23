#include "catalogue/CatalogueRequest.h"
#include "platform/CodePage.h"

#include <gtest/gtest.h>

TEST(CatalogueRequestTest, BrowseWithAllFiltersSendsSpacesAndRecommend)
{
    EXPECT_EQ(FormatGameListBody(1, 42, 0, 0, 0, ""),
              "model=appstore&action=gamelist&clientparams= | |zh| | |pc1.0&page=1&pagesize=42&categoryid= "
              "&emulatorid= &keyword= &orderby=recommend");
}

TEST(CatalogueRequestTest, FiltersAreThreeDigitsAndOrdersAreWords)
{
    std::string body = FormatGameListBody(5, 42, 7, 120, 2, "");
    EXPECT_NE(body.find("&categoryid=007&emulatorid=120&"), std::string::npos) << body;
    EXPECT_NE(body.find("&orderby=hot"), std::string::npos);
    EXPECT_NE(FormatGameListBody(1, 42, 0, 0, 1, "").find("&orderby=new"), std::string::npos);
}

TEST(CatalogueRequestTest, KeywordIsFormEncodedUtf8FromTheCodePage)
{
    EXPECT_EQ(FormEncode("Super Pixel-1_2.3~"), "Super+Pixel-1_2.3~");
    EXPECT_EQ(FormEncode("a/b&c=d%"), "a%2Fb%26c%3Dd%25");

    std::string saved = platform::ProcessCodePage();
    platform::SetProcessCodePage("GBK");
    std::string body = FormatGameListBody(1, 40, 0, 0, 0, "\xC8\xFD\xB9\xFA abc"); // "三国 abc" in GBK
    platform::SetProcessCodePage(saved);
    EXPECT_NE(body.find("&keyword=%E4%B8%89%E5%9B%BD+abc&"), std::string::npos) << body;
}

TEST(CatalogueRequestTest, LongKeywordIsNeverCutOff)
{
    std::string keyword(2000, 'k');
    std::string body = FormatGameListBody(1, 40, 0, 0, 0, keyword);
    EXPECT_NE(body.find(keyword + "&orderby=recommend"), std::string::npos);
}
