#include "platform/CodePage.h"

#include <gtest/gtest.h>

using platform::IconvConvert;
using platform::IconvResult;

TEST(CodePageTest, GbkRoundTripAndUnmappableCharacters)
{
    std::string gbk;
    ASSERT_EQ(IconvConvert("UTF-8", "GBK", "中文", gbk), IconvResult::Ok);
    EXPECT_EQ(gbk, "\xD6\xD0\xCE\xC4");
    std::string back;
    ASSERT_EQ(IconvConvert("GBK", "UTF-8", gbk, back), IconvResult::Ok);
    EXPECT_EQ(back, "中文");

    // An emoji has no GBK form: it becomes '?' and the rest survives.
    std::string mixed;
    ASSERT_EQ(IconvConvert("UTF-8", "GBK", "a\xF0\x9F\x98\x80" "b", mixed), IconvResult::Ok);
    EXPECT_EQ(mixed, "a?b");
}

TEST(CodePageTest, InvalidAndTruncatedInputAndUnknownEncodings)
{
    std::string out;
    EXPECT_EQ(IconvConvert("GBK", "UTF-8", "\xD6", out), IconvResult::InvalidInput);
    EXPECT_EQ(IconvConvert("GBK", "UTF-8", "\xFF\xFF", out), IconvResult::InvalidInput);
    EXPECT_EQ(IconvConvert("NO-SUCH-ENCODING", "UTF-8", "x", out), IconvResult::Failed);
    EXPECT_EQ(IconvConvert("GBK", "UTF-8", "", out), IconvResult::Ok);
    EXPECT_TRUE(out.empty());
}

TEST(CodePageTest, LongTextGrowsTheOutput)
{
    std::string text;
    for (int i = 0; i < 5000; ++i)
        text += "汉";
    std::string gbk;
    ASSERT_EQ(IconvConvert("UTF-8", "GBK", text, gbk), IconvResult::Ok);
    EXPECT_EQ(gbk.size(), 10000u);
}

TEST(CodePageTest, ProcessCodePageCanBeSetForTests)
{
    std::string saved = platform::ProcessCodePage();
    platform::SetProcessCodePage("GBK");
    EXPECT_EQ(platform::ProcessCodePage(), "GBK");
    platform::SetProcessCodePage(saved);
    EXPECT_TRUE(platform::IsUtf8Name("utf-8"));
    EXPECT_TRUE(platform::IsUtf8Name("UTF8"));
    EXPECT_FALSE(platform::IsUtf8Name("GBK"));
}
