#include "store/StoreListFormat.h"

#include <gtest/gtest.h>

namespace {

// GBK characters whose second byte is '\', '|' and '@' (乗, 亅, 丂), and 中文.
const std::string kGbkBackslash = "\x81\x5c";
const std::string kGbkBar = "\x81\x7c";
const std::string kGbkAt = "\x81\x40";
const std::string kGbkChinese = "\xd6\xd0\xce\xc4";

TEST(StoreListFormatTest, DownloadListsHaveTheStoredLayout)
{
    EXPECT_EQ(FormatPlainList({{0, "u0"}, {1, "u1"}}), "u0;u1;");
    EXPECT_EQ(FormatVolumeList({{0, {{1, "a"}, {2, "b"}}}, {3, {}}}), "0@a|1\\b|2\\;3@;");
    EXPECT_EQ(FormatKeyedList({{"data/x.bin", "10"}, {"game.iso", "2048"}}), "data/x.bin|10;game.iso|2048;");
    EXPECT_EQ(FormatPlainList({}), "");
}

TEST(StoreListFormatTest, PlainListsNumberValuesFromTheFirstKey)
{
    EXPECT_EQ(ParsePlainList("a;;c;"), (std::map<int, std::string>{{0, "a"}, {1, ""}, {2, "c"}}));
    EXPECT_EQ(ParsePlainList("1024;2048;", 1), (std::map<int, std::string>{{1, "1024"}, {2, "2048"}}));
    EXPECT_EQ(ParsePlainList("a;tail"), (std::map<int, std::string>{{0, "a"}, {1, "tail"}}));
    EXPECT_TRUE(ParsePlainList("").empty());
    // Keys are not kept: values come back in order from 0.
    EXPECT_EQ(ParsePlainList(FormatPlainList({{1, "x"}, {5, "y"}})),
              (std::map<int, std::string>{{0, "x"}, {1, "y"}}));
}

TEST(StoreListFormatTest, VolumeListsSurviveSeparatorBytesInsideTexts)
{
    std::map<int, std::map<int, std::string>> sets = {
        {0, {{1, "http://h/a.zip?u=x@y|z"}, {2, "c:\\dir\\" + kGbkBackslash + kGbkBar + "|7" + kGbkAt}}},
        {2, {{1, kGbkChinese + "'\"quoted\""}, {-3, ""}}},
        {5, {}},
    };
    EXPECT_EQ(ParseVolumeList(FormatVolumeList(sets)), sets);

    // Lenient reading: a set without '@' and an entry without its number are dropped.
    EXPECT_EQ(ParseVolumeList("junk;1@u|1\\broken\\v|2\\;"),
              (std::map<int, std::map<int, std::string>>{{1, {{1, "u"}, {2, "broken\\v"}}}}));
    EXPECT_EQ(ParseVolumeList("4@u|9"), (std::map<int, std::map<int, std::string>>{{4, {{9, "u"}}}}));
}

TEST(StoreListFormatTest, KeyedListsKeepKeysWithBars)
{
    std::map<std::string, std::string> files = {
        {"dir/" + kGbkBar + kGbkChinese + ".bin", "123"},
        {"a|b", "0"},
        {"it's \"quoted\"", ""},
    };
    EXPECT_EQ(ParseKeyedList(FormatKeyedList(files)), files);
    EXPECT_EQ(ParseKeyedList("nobar;k|1;k|2;"), (std::map<std::string, std::string>{{"k", "1"}}));
}

TEST(StoreListFormatTest, EmulatorListsEscapeEveryByte)
{
    std::vector<std::string> execute = {"bin/emu.exe", "a;b|c\\d", "", kGbkBackslash + kGbkBar};
    EXPECT_EQ(ParseExecuteList(FormatExecuteList(execute)), execute);
    EXPECT_TRUE(ParseExecuteList("").empty());

    std::vector<KeyConfigEntry> keys = {
        {"cfg/a.ini", "a.ini", "default/a.ini"}, {"x;y", "p|q", "r\\s"}, {"", "", ""}};
    EXPECT_EQ(ParseKeyConfigList(FormatKeyConfigList(keys)), keys);

    std::vector<SetConfigEntry> sets = {{"s1", "t1"}, {kGbkChinese + "'", "t|2;"}};
    EXPECT_EQ(ParseSetConfigList(FormatSetConfigList(sets)), sets);
    // Missing fields read as empty ones.
    EXPECT_EQ(ParseKeyConfigList("only;"), (std::vector<KeyConfigEntry>{{"only", "", ""}}));
}

TEST(StoreListFormatTest, LeadingIntFollowsTheLeadingDigitsRule)
{
    EXPECT_EQ(LeadingInt("125"), 125);
    EXPECT_EQ(LeadingInt("  -42abc"), -42);
    EXPECT_EQ(LeadingInt("+7"), 7);
    EXPECT_EQ(LeadingInt("abc"), 0);
    EXPECT_EQ(LeadingInt(""), 0);
    EXPECT_EQ(LeadingInt("-"), 0);
    EXPECT_EQ(LeadingInt("99999999999999999999"), 2147483647);
    EXPECT_EQ(LeadingInt("-99999999999999999999"), -2147483647 - 1);
}

} // namespace
