#include "emulator/GameFiles.h"

#include "platform/Event.h"
#include "platform/Process.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::WriteFile;

TEST(LaunchParametersTest, FourTemplatesAndPathsThatNeedQuoting)
{
    const std::string path = "/games/my games/mario.nes";
    EXPECT_EQ(BuildLaunchParameters("", path), "\"/games/my games/mario.nes\"");
    EXPECT_EQ(BuildLaunchParameters("-rompath roms ~", "/g/a.b/mario.zip"), "-rompath roms \"mario\"");
    EXPECT_EQ(BuildLaunchParameters("-n ~ ~", "/g/noext"), "-n \"noext\" ~") << "only the first tilde";
    EXPECT_EQ(BuildLaunchParameters("--load @ @", path), "--load \"/games/my games/mario.nes\" @");
    EXPECT_EQ(BuildLaunchParameters("~@", path), "\"mario\"@") << "a tilde wins over an at sign";
    EXPECT_EQ(BuildLaunchParameters("-game", path), "-game\"/games/my games/mario.nes\"");

    // Whatever the path holds, splitting the parameters gives it back as one argument.
    for (const std::string odd : {"/g/say \"hi\".nes", "/g/back\\slash\\", "/g/tab\tand\\\"quote"}) {
        auto args = platform::SplitCommandLine(BuildLaunchParameters("-x @ -y", odd));
        ASSERT_EQ(args.size(), 3u) << odd;
        EXPECT_EQ(args[1], odd);
    }
}

TEST(LaunchParametersTest, TheGamesNameIsOneArgumentWhereverTheTemplatePutsIt)
{
    // Each template with the arguments it means for a name N.
    struct Case {
        std::string executeParam;
        std::function<std::vector<std::string>(const std::string&)> args;
    } cases[] = {
        {"-rompath roms ~",
         [](const std::string& n) {
             return std::vector<std::string>{"-rompath", "roms", n};
         }},
        {"\"~\"", [](const std::string& n) { return std::vector<std::string>{n}; }},
        {"-o \"roms/~.zip\" -x",
         [](const std::string& n) {
             return std::vector<std::string>{"-o", "roms/" + n + ".zip", "-x"};
         }},
        {"~.zip", [](const std::string& n) { return std::vector<std::string>{n + ".zip"}; }},
        {"~\"a b\"", [](const std::string& n) { return std::vector<std::string>{n + "a b"}; }},
        {"-o \"a\"\"~\"",
         [](const std::string& n) {
             return std::vector<std::string>{"-o", "a\"" + n};
         }},
        {"\\\"~", [](const std::string& n) { return std::vector<std::string>{"\"" + n}; }},
        {"\"~\\\"\"", [](const std::string& n) { return std::vector<std::string>{n + "\""}; }},
        {"@", [](const std::string& n) { return std::vector<std::string>{"/g/" + n + ".zip"}; }},
        {"\"-f=@\"", [](const std::string& n) { return std::vector<std::string>{"-f=/g/" + n + ".zip"}; }},
    };
    // Names with blanks, options, quotes that try to end the quoted part, and backslashes before
    // quotes and at the end.
    for (const std::string name : {"Street Fighter", "sf2 -listxml --evil", "a\" --evil \"b", "tab\tname",
                                   "back\\", "odd\\\"quote\\\\", ""}) {
        for (const Case& c : cases) {
            const std::string params = BuildLaunchParameters(c.executeParam, "/g/" + name + ".zip");
            EXPECT_EQ(platform::SplitCommandLine(params), c.args(name))
                << "template " << c.executeParam << ", name " << name << ", parameters " << params;
        }
    }
}

// Copies into roms: whole or not at all, never over a file already there, and not after a stop.
TEST(CopyGameIntoRomsTest, CopiesWholeOnceAndNothingAfterAStop)
{
    testsupport::TempDir dir;
    const std::string roms = dir.Path() + "emu/roms";
    const std::string game = dir.Path() + "sf2.zip";
    ASSERT_TRUE(WriteFile(game, std::string(3 << 20, 'r') + "end"));
    platform::Event stop;
    ASSERT_TRUE(CopyGameIntoRoms(game, roms, stop));
    EXPECT_EQ(ReadFile(roms + "/sf2.zip"), ReadFile(game));
    ASSERT_TRUE(WriteFile(game, "newer"));
    ASSERT_TRUE(CopyGameIntoRoms(game, roms, stop));
    EXPECT_EQ(ReadFile(roms + "/sf2.zip").size(), (3u << 20) + 3) << "the file there stays";

    EXPECT_FALSE(CopyGameIntoRoms(dir.Path() + "missing.zip", roms, stop));
    EXPECT_FALSE(CopyGameIntoRoms(dir.Path() + "emu", roms, stop)) << "a folder is no game";
    ASSERT_TRUE(WriteFile(dir.Path() + "kof.zip", "kof"));
    stop.Set();
    EXPECT_FALSE(CopyGameIntoRoms(dir.Path() + "kof.zip", roms, stop));
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(roms))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"sf2.zip"}) << "no partial copy stays";
}

} // namespace
