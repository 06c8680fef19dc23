#include "emulator/FcEmulatorConfig.h"
#include "emulator/FcConfigKeys.h"
#include "tests/support/TempDir.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sstream>

using testsupport::ReadFile;
using testsupport::WriteFile;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr size_t kGamePadConfigSize = 3360;

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

Bytes StorageOf(const CFcEmulatorConfig& config, const std::string& key)
{
    const Bytes* bytes = config.Storage(key);
    EXPECT_NE(bytes, nullptr) << key;
    return bytes ? *bytes : Bytes{};
}

Guid TestGuid(uint8_t seed)
{
    Guid guid;
    guid.data1 = 0x01020300u + seed;
    guid.data2 = 0x0405;
    guid.data3 = 0x0607;
    guid.data4 = {8, 9, 10, 11, 12, 13, 14, seed};
    return guid;
}

} // namespace

TEST(FcConfigKeysTest, TableHoldsEveryKeyOnceWithItsSize)
{
    const auto& keys = FcConfigKeys();
    ASSERT_EQ(keys.size(), 302u);
    std::vector<std::string> names;
    for (const FcConfigKey& key : keys)
        names.emplace_back(key.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end());

    auto sizeOf = [&](std::string_view name) {
        auto it =
            std::find_if(keys.begin(), keys.end(), [&](const FcConfigKey& k) { return name == k.name; });
        return it == keys.end() ? -1 : static_cast<int>(it->size);
    };
    EXPECT_EQ(sizeOf("GamePadConfig"), 3360);
    EXPECT_EQ(sizeOf("suborkbmap"), 8064);
    EXPECT_EQ(sizeOf("\"cpalette\""), 192);
    EXPECT_EQ(sizeOf("recentProjectsArray[9]"), 0);
    EXPECT_EQ(sizeOf("\"odbase\""), 0);
    EXPECT_EQ(sizeOf("Show_FPS"), 1);
    EXPECT_EQ(sizeOf("\"988fssync\""), 4);
    EXPECT_EQ(sizeOf("ramw_y"), 4);
    EXPECT_EQ(sizeOf("odroms"), -1); // the quotes belong to the key
}

TEST(FcEmulatorConfigTest, DefaultsAreWrittenForEveryKeyAfterTheVersion)
{
    CFcEmulatorConfig config;
    auto lines = Lines(config.SaveText());
    ASSERT_EQ(lines.size(), 303u);
    EXPECT_EQ(lines[0], "!version 1");
    EXPECT_TRUE(std::is_sorted(lines.begin(), lines.end()));
    EXPECT_EQ(config.Value("soundrate"), "48000");
    EXPECT_EQ(config.Value("recent_files[0]"), "");
    EXPECT_EQ(config.Value("GamePadConfig"), "base64:" + std::string(kGamePadConfigSize / 3 * 4, 'A'));
    EXPECT_EQ(config.Value("winsizemulx"), "base64:AAAAAAAAAEA="); // 2.0 as a double
}

TEST(FcEmulatorConfigTest, FileFormatLinesCommentsAndRepeats)
{
    CFcEmulatorConfig config;
    config.LoadText("# a comment\r\n"
                    "   # an indented comment\n"
                    "\n"
                    "\t\n"
                    "unknownKey  keeps inner  and trailing blanks  \r"
                    "soundrate 22050\r\n"
                    "soundrate\t\t44100\n"
                    "recent_files[0] /roms/a game.nes\n"
                    "recent_files[1]\n"
                    "  indentedKey value\n"
                    "!version 7");
    EXPECT_EQ(config.Value("unknownKey"), "keeps inner  and trailing blanks  ");
    EXPECT_EQ(config.Value("indentedKey"), "value");
    EXPECT_EQ(config.Value("!version"), "7");
    EXPECT_EQ(config.Text("recent_files[0]"), "/roms/a game.nes");
    EXPECT_EQ(config.Text("recent_files[1]"), std::nullopt);
    EXPECT_EQ(StorageOf(config, "soundrate"), (Bytes{0x44, 0xAC, 0, 0})); // 44100, the later line

    auto lines = Lines(config.SaveText());
    EXPECT_EQ(lines[0], "!version 7");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "unknownKey keeps inner  and trailing blanks  "),
              lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "recent_files[1] "), lines.end());
    EXPECT_EQ(std::find(lines.begin(), lines.end(), "# a comment"), lines.end());
}

TEST(FcEmulatorConfigTest, HexadecimalValuesFillStorageBytesAndComeBackDecodedOnSave)
{
    CFcEmulatorConfig config;
    config.LoadText("GamePadConfig 0x0102\n"
                    "ntsccol 0X0102\n"
                    "AutoResumePlay 0xff\n"
                    "\"InputType\" 0x02zz\n"
                    "tvAspectX 0x\n");
    Bytes pad = StorageOf(config, "GamePadConfig");
    ASSERT_EQ(pad.size(), kGamePadConfigSize);
    EXPECT_EQ(pad[0], 1);
    EXPECT_EQ(pad[1], 2);
    EXPECT_TRUE(std::all_of(pad.begin() + 2, pad.end(), [](uint8_t b) { return b == 0; }));
    // Bytes in memory order: 01 02 is 0x0201.
    EXPECT_EQ(StorageOf(config, "ntsccol"), (Bytes{1, 2, 0, 0}));
    // The pair before the first non-hexadecimal digit is taken, the rest of the default kept.
    EXPECT_EQ(StorageOf(config, "\"InputType\""), (Bytes{2, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}));
    // "0x" alone is not hexadecimal and not a number: a block fails and keeps its default.
    EXPECT_EQ(config.Value("tvAspectX"), "0x");

    config.SaveText();
    EXPECT_EQ(config.Value("ntsccol"), "513");
    EXPECT_EQ(config.Value("AutoResumePlay"), "255");
    EXPECT_EQ(config.Value("GamePadConfig")->substr(0, 12), "base64:AQIAA");
    EXPECT_EQ(config.Value("tvAspectX"), "base64:AAAAAAAAEEA="); // 4.0
}

TEST(FcEmulatorConfigTest, NumbersFollowTheLeadingDigitsRuleCutToWidth)
{
    CFcEmulatorConfig config;
    config.LoadText("soundrate   -12abc\n"
                    "\"sound\" +7\n"
                    "soundvolume abc\n"
                    "AutoResumePlay 300\n"
                    "\"fs\" 4294967297\n"
                    "\"vgamode\" 2147483648\n");
    config.SaveText();
    EXPECT_EQ(config.Value("soundrate"), "-12");
    EXPECT_EQ(config.Value("\"sound\""), "7");
    EXPECT_EQ(config.Value("soundvolume"), "0");
    EXPECT_EQ(config.Value("AutoResumePlay"), "44"); // 300 cut to a byte
    EXPECT_EQ(config.Value("\"fs\""), "1");
    EXPECT_EQ(config.Value("\"vgamode\""), "-2147483648");
}

TEST(FcEmulatorConfigTest, Base64DecodesIntoStorageAndMalformedTextFailsOnlyItsKey)
{
    CFcEmulatorConfig config;
    config.LoadText("winsizemulx base64:AAAAAAAA8D8=\n" // 1.0
                    "soundrate base64:AQ==\n"           // one byte into a four-byte integer
                    "winsizemuly base64:AA*AAAAA8D8=\n" // bad character
                    "tvAspectY base64:AAAAAAAA8D\n"     // ends inside a group
                    "\"cpalette\" base64:\n"            // nothing to decode
                    "suborkbmap 12\n"                   // a block needs base64 or hexadecimal
                    "ntsctint base64:BwAAAA==\n");
    EXPECT_EQ(StorageOf(config, "winsizemulx"), (Bytes{0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
    EXPECT_EQ(StorageOf(config, "soundrate"), (Bytes{1, 0xBB, 0, 0})); // low byte replaced in 48000
    EXPECT_EQ(StorageOf(config, "winsizemuly"), (Bytes{0, 0, 0, 0, 0, 0, 0, 0x40}));
    EXPECT_EQ(StorageOf(config, "tvAspectY"), (Bytes{0, 0, 0, 0, 0, 0, 0x08, 0x40}));
    EXPECT_EQ(StorageOf(config, "ntsctint"), (Bytes{7, 0, 0, 0}));
    Bytes palette = StorageOf(config, "\"cpalette\"");
    EXPECT_TRUE(std::all_of(palette.begin(), palette.end(), [](uint8_t b) { return b == 0; }));

    config.SaveText();
    EXPECT_EQ(config.Value("winsizemuly"), "base64:AAAAAAAAAEA=");
    EXPECT_EQ(config.Value("suborkbmap")->substr(0, 7), "base64:");
    EXPECT_EQ(config.Value("ntsctint"), "7");
}

TEST(FcEmulatorConfigTest, FileWithEveryKeyRoundTrips)
{
    testsupport::TempDir dir;
    std::string text = "!version 1\nzzUnknown one two\n";
    int n = 0;
    for (const FcConfigKey& key : FcConfigKeys()) {
        ++n;
        std::string value;
        if (key.size == 0) {
            value = "text " + std::to_string(n);
        } else if (key.size == 1) {
            value = std::to_string(n % 256);
        } else if (key.size == 4) {
            value = std::to_string(-n * 1000);
        } else {
            CFcEmulatorConfig scratch;
            scratch.LoadText(std::string(key.name) + " 0x" + std::string(key.size * 2, 'a' + n % 6));
            scratch.SaveText();
            value = *scratch.Value(key.name);
        }
        text += std::string(key.name) + " " + value + "\n";
    }
    WriteFile(dir.Path() + "fceu.cfg", text);

    CFcEmulatorConfig config;
    ASSERT_TRUE(config.Load(dir.Path() + "fceu.cfg"));
    ASSERT_TRUE(config.Save(dir.Path() + "fceu.cfg"));
    std::string saved = ReadFile(dir.Path() + "fceu.cfg");
    auto expected = Lines(text);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Lines(saved), expected);

    CFcEmulatorConfig again;
    ASSERT_TRUE(again.Load(dir.Path() + "fceu.cfg"));
    EXPECT_EQ(again.SaveText(), saved);
}

TEST(FcEmulatorConfigTest, ControllerUpdateWritesGuidsIntoTheirPadsRecords)
{
    testsupport::TempDir dir;
    const std::string path = dir.Path() + "fceu.cfg";
    WriteFile(path, "GamePadConfig 0x" + std::string(kGamePadConfigSize * 2, 'a') + "\nmyOwnKey 5\n");

    std::vector<Guid> five = {TestGuid(1), TestGuid(2), TestGuid(3), TestGuid(4), TestGuid(5)};
    ASSERT_TRUE(CFcEmulatorConfig::WriteControllers(path, five));

    CFcEmulatorConfig config;
    ASSERT_TRUE(config.Load(path));
    EXPECT_EQ(config.Value("myOwnKey"), "5");
    EXPECT_EQ(Lines(ReadFile(path))[0], "!version 1");
    Bytes pad = StorageOf(config, "GamePadConfig");
    ASSERT_EQ(pad.size(), kGamePadConfigSize);
    for (size_t record = 0; record < 40; ++record) {
        const auto guid = five[record / 10].Bytes();
        const size_t base = record * 84;
        EXPECT_TRUE(std::equal(guid.begin(), guid.end(), pad.begin() + base + 20)) << record;
        for (size_t i = 0; i < 84; ++i) {
            if (i < 20 || i >= 36) {
                ASSERT_EQ(pad[base + i], 0xAA) << record << ":" << i;
            }
        }
    }
    // The in-memory structure: little-endian fields, then the eight bytes.
    EXPECT_EQ(pad[20], 0x01);
    EXPECT_EQ(pad[23], 0x01);
    EXPECT_EQ(pad[24], 0x05);

    // One controller leaves the other pads as they were.
    ASSERT_TRUE(CFcEmulatorConfig::WriteControllers(path, {TestGuid(9)}));
    ASSERT_TRUE(config.Load(path));
    pad = StorageOf(config, "GamePadConfig");
    EXPECT_EQ(pad[20 + 15], 9);
    EXPECT_EQ(pad[10 * 84 + 20 + 15], 2);
}

TEST(FcEmulatorConfigTest, ControllerUpdateWithoutAFileOrAFolder)
{
    testsupport::TempDir dir;
    // A missing file is written with the defaults and the controller.
    ASSERT_TRUE(CFcEmulatorConfig::WriteControllers(dir.Path() + "new.cfg", {TestGuid(1)}));
    CFcEmulatorConfig config;
    ASSERT_TRUE(config.Load(dir.Path() + "new.cfg"));
    EXPECT_EQ(config.Value("soundrate"), "48000");
    EXPECT_EQ(StorageOf(config, "GamePadConfig")[20], 0x01);

    // A file that cannot be created: nothing is written, nothing is left behind.
    EXPECT_FALSE(CFcEmulatorConfig::WriteControllers(dir.Path() + "no/such/fceu.cfg", {TestGuid(1)}));
    EXPECT_FALSE(config.Load(dir.Path() + "no/such/fceu.cfg"));
    EXPECT_EQ(config.Entries().size(), 1u);
}
