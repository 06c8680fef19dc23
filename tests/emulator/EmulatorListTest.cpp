#include "emulator/EmulatorList.h"

#include <gtest/gtest.h>

namespace {

TEST(EmulatorListTest, EarlierPlatformKeyWinsARepeatedIdAndUnknownKeysAreIgnored)
{
    // "sfc" comes first in the text but after "fc" in the list order.
    auto map = ParseEmulatorList(R"({
        "sfc": [{"emulatorid": "1", "name": "FromSfc", "emulatortype": "121"}],
        "fc":  [{"emulatorid": "1", "name": "FromFc", "emulatortype": "125"},
                {"emulatorid": "2", "name": "Second", "emulatortype": "125"},
                {"emulatorid": "2", "name": "Repeated", "emulatortype": "125"}],
        "xbox": [{"emulatorid": "3", "name": "Unknown", "emulatortype": "999"}]
    })");
    ASSERT_TRUE(map.has_value());
    ASSERT_EQ(map->size(), 2u);
    EXPECT_EQ(map->at("1").Name, "FromFc");
    EXPECT_EQ(map->at("2").Name, "Second");
    EXPECT_EQ(map->count("3"), 0u);
}

TEST(EmulatorListTest, RecordTakesEveryFieldOfTheListedEmulator)
{
    auto map = ParseEmulatorList(R"({"mame": [{
        "emulatorid": "1230001", "name": "MameStandIn", "version": "0.251", "downloadurl": "http://h/m.zip",
        "update": "2024-01-01", "description": "d", "emulatortype": " 123abc", "system": "linux",
        "execute": ["mame.sh", "fallback.sh"], "executeparam": "-rompath roms ~", "configtype": "0",
        "keyconfig": [{"source": "a.ini", "target": "ini/a.ini", "defaultsource": "d.ini"}],
        "setconfig": [{"source": "s.ini", "target": "ini/s.ini"}]}],
        "arcade": [{"emulatorid": "9", "name": "Letters", "emulatortype": "abc"}]})");
    ASSERT_TRUE(map.has_value());
    const EmulatorRecord& mame = map->at("1230001");
    EXPECT_EQ(mame.Name, "MameStandIn");
    EXPECT_EQ(mame.Version, "0.251");
    EXPECT_EQ(mame.Downloadurl, "http://h/m.zip");
    EXPECT_EQ(mame.UpdateDate, "2024-01-01");
    EXPECT_EQ(mame.Emulatortype, 123);
    EXPECT_EQ(mame.System, "linux");
    EXPECT_EQ(mame.Execute, (std::vector<std::string>{"mame.sh", "fallback.sh"}));
    EXPECT_EQ(mame.Executeparam, "-rompath roms ~");
    EXPECT_EQ(mame.KeyConfig, (std::vector<KeyConfigEntry>{{"a.ini", "ini/a.ini", "d.ini"}}));
    EXPECT_EQ(mame.SetConfig, (std::vector<SetConfigEntry>{{"s.ini", "ini/s.ini"}}));
    EXPECT_EQ(mame.IsDefault, "0");
    EXPECT_EQ(map->at("9").Emulatortype, 0); // letters name no platform
}

TEST(EmulatorListTest, NamesThatCouldLeaveThePlatformFolderAreDropped)
{
    auto map = ParseEmulatorList(R"({"fc": [
        {"emulatorid": "1", "name": ""}, {"emulatorid": "2", "name": "."}, {"emulatorid": "3", "name": ".."},
        {"emulatorid": "4", "name": "a/b"}, {"emulatorid": "5", "name": "a\\b"},
        {"emulatorid": "1", "name": "Good"}, {"emulatorid": "6", "name": "..ok"}]})");
    ASSERT_TRUE(map.has_value());
    ASSERT_EQ(map->size(), 2u);
    EXPECT_EQ(map->at("1").Name, "Good"); // a dropped entry does not take its id
    EXPECT_EQ(map->at("6").Name, "..ok");
}

TEST(EmulatorListTest, TextThatIsNotAListObjectIsRefused)
{
    EXPECT_FALSE(ParseEmulatorList("{\"fc\": [").has_value());
    EXPECT_FALSE(ParseEmulatorList("[]").has_value());
    EXPECT_FALSE(ParseEmulatorList("").has_value());
    EXPECT_FALSE(ParseEmulatorList("<html>not found</html>").has_value());
    auto empty = ParseEmulatorList(R"({"fc": 5})");
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->empty());
}

TEST(EmulatorListTest, VersionsCompareComponentByComponentAsNumbers)
{
    EXPECT_GT(CompareVersions("2.0", "1.9.9"), 0);
    EXPECT_LT(CompareVersions("1.9.9", "2.0"), 0);
    EXPECT_EQ(CompareVersions("1.2", "1.2.0"), 0);
    EXPECT_EQ(CompareVersions("1.0.0", "1.0.0"), 0);
    EXPECT_GT(CompareVersions("1.2.10", "1.2.9"), 0);
    EXPECT_LT(CompareVersions("", "0.0.1"), 0);
    EXPECT_EQ(CompareVersions("1.x", "1.0"), 0);
    EXPECT_GT(CompareVersions("0.251b", "0.250"), 0);
}

TEST(EmulatorListTest, LeadingDigitsRule)
{
    EXPECT_EQ(LeadingInt("125"), 125);
    EXPECT_EQ(LeadingInt("  -12x"), -12);
    EXPECT_EQ(LeadingInt("+7"), 7);
    EXPECT_EQ(LeadingInt("abc"), 0);
    EXPECT_EQ(LeadingInt(""), 0);
    EXPECT_EQ(LeadingInt("99999999999"), 2147483647);
    EXPECT_EQ(LeadingInt("-99999999999"), -2147483647 - 1);
}

} // namespace
