#include "demo/DemoEmulators.h"
#include "emulator/EmulatorList.h"
#include "platform/Process.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <unzip.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::WriteFile;

// Every entry of a zip archive by name.
std::map<std::string, std::string> ZipEntries(const std::string& path)
{
    std::map<std::string, std::string> entries;
    unzFile zip = unzOpen64(path.c_str());
    if (zip == nullptr)
        return entries;
    for (int more = unzGoToFirstFile(zip); more == UNZ_OK; more = unzGoToNextFile(zip)) {
        char name[512];
        unz_file_info64 info{};
        if (unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK ||
            unzOpenCurrentFile(zip) != UNZ_OK)
            break;
        std::string content(info.uncompressed_size, '\0');
        int read = unzReadCurrentFile(zip, content.data(), static_cast<unsigned>(content.size()));
        unzCloseCurrentFile(zip);
        content.resize(read < 0 ? 0 : static_cast<size_t>(read));
        entries[name] = content;
    }
    unzClose(zip);
    return entries;
}

// Runs `script` (a file) through /bin/sh with `env` before it and the arguments `args`; the exit
// status.
int RunScript(const std::string& env, const std::string& script, const std::string& args)
{
    int status = std::system((env + " /bin/sh '" + script + "' " + args + " 2>/dev/null").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class DemoEmulatorsTest : public ::testing::Test {
protected:
    void SetUp() override { WriteDemoEmulators(m_dir.Path() + "data"); }

    std::string Data(const std::string& relative) const { return m_dir.Path() + "data/" + relative; }

    // A folder holding the given scripts, for PATH.
    std::string Bin(const std::map<std::string, std::string>& scripts)
    {
        std::string bin = m_dir.Path() + "bin/";
        fs::create_directories(bin);
        for (const auto& [name, body] : scripts) {
            WriteFile(bin + name, "#!/bin/sh\n" + body);
            fs::permissions(bin + name, fs::perms::owner_all);
        }
        return bin;
    }

    testsupport::TempDir m_dir;
};

TEST_F(DemoEmulatorsTest, ListNamesAWrappedEmulatorForEachPlatformItServes)
{
    auto list = ParseEmulatorList(ReadFile(Data("update/emulators.json")));
    ASSERT_TRUE(list.has_value());
    std::map<int, std::string> names;
    for (const auto& [id, record] : *list) {
        names[record.Emulatortype] = record.Name;
        EXPECT_EQ(record.Configtype, "0") << id;
        ASSERT_EQ(record.Execute.size(), 1u) << id;
        EXPECT_EQ(record.Execute[0], record.Name + ".sh");
        ASSERT_EQ(record.KeyConfig.size(), 1u) << id;
        // The package behind the address holds the launcher and both default configurations.
        const std::string prefix = "{{origin}}/download/";
        ASSERT_EQ(record.Downloadurl.rfind(prefix, 0), 0u) << record.Downloadurl;
        auto entries = ZipEntries(Data("download/" + record.Downloadurl.substr(prefix.size())));
        EXPECT_EQ(entries.count(record.Execute[0]), 1u) << id;
        EXPECT_EQ(entries.count("GamePadCfg/" + record.KeyConfig[0].Source), 1u) << id;
        EXPECT_EQ(entries.count("KeyBoardCfg/" + record.KeyConfig[0].Source), 1u) << id;
        const bool arcade = id == "1230001" || id == "1260001" || id == "1460001";
        EXPECT_EQ(record.Executeparam, arcade ? "-rompath roms ~" : "") << id;
        EXPECT_EQ(arcade, record.Name == "mame") << id;
    }
    EXPECT_EQ(names, (std::map<int, std::string>{{125, "fceux"},
                                                 {121, "mednafen"},
                                                 {122, "mednafen"},
                                                 {119, "mednafen"},
                                                 {148, "mednafen"},
                                                 {131, "mednafen"},
                                                 {120, "mgba"},
                                                 {124, "mgba"},
                                                 {130, "mupen64plus"},
                                                 {127, "desmume"},
                                                 {126, "mame"},
                                                 {123, "mame"},
                                                 {146, "mame"}}));
    // Ids that the launcher watches or rewrites configuration for are not used but for the arcade.
    for (const char* special : {"1190001", "1220001", "1250001", "1300001"})
        EXPECT_EQ(list->count(special), 0u) << special;
}

TEST_F(DemoEmulatorsTest, LauncherExecsTheDebianEmulatorOrSaysWhichPackageIsMissing)
{
    auto entries = ZipEntries(Data("download/emulators/fceux.zip"));
    const std::string folder = m_dir.Path() + "Emulator/FC/fceux/";
    fs::create_directories(folder);
    ASSERT_TRUE(WriteFile(folder + "fceux.sh", entries["fceux.sh"]));

    // Without the program: 127, so the launcher's fallback rule (exit code 1) does not apply.
    const std::string empty = Bin({});
    EXPECT_EQ(RunScript("QUOKKA_GAMES_DIR=" + empty + " PATH=" + empty + ":/usr/bin:/bin", folder + "fceux.sh",
                        "game.nes"),
              127);
    // Debian installs its emulators in its games folder, which root's PATH leaves out: found there.
    const std::string games = m_dir.Path() + "games/";
    fs::create_directories(games);
    ASSERT_TRUE(WriteFile(games + "fceux", "#!/bin/sh\nexit 5\n"));
    fs::permissions(games + "fceux", fs::perms::owner_all);
    EXPECT_EQ(RunScript("QUOKKA_GAMES_DIR=" + games + " PATH=" + empty + ":/usr/bin:/bin", folder + "fceux.sh",
                        "game.nes"),
              5);

    const std::string bin = Bin({{"fceux", "printf '%s|' \"$FCEUX_HOME\" \"$@\" > \"$OUT\"\nexit 3\n"}});
    const std::string out = m_dir.Path() + "out.txt";
    EXPECT_EQ(
        RunScript("OUT='" + out + "' PATH=" + bin + ":/usr/bin:/bin", folder + "fceux.sh", "'/g/a b.nes' x"),
        3);
    EXPECT_EQ(ReadFile(out), fs::canonical(folder).string() + "|/g/a b.nes|x|");
}

TEST_F(DemoEmulatorsTest, RuntimeStandInsNeedTheirSwitchesThenRegisterOrInstallLibraries)
{
    const std::string registered = m_dir.Path() + "registered.reg";
    const std::string bin = Bin({{"quokka-regedit", "[ \"$1\" = /s ] && cp \"$2\" \"$REG_OUT\"\n"}});
    const std::string env = "REG_OUT='" + registered + "' PATH=" + bin + ":/usr/bin:/bin";
    const std::string work = m_dir.Path() + "work/";
    fs::create_directories(work);

    struct Case {
        std::string zip;
        std::string params; // as the installer window passes them
        std::vector<std::string> needles;
    };
    const std::string msiexec = "/q:a /c:\"msiexec /i vcredist.msi /qn /l*v %temp%\\vcredist_x86.log\"";
    const std::vector<Case> cases = {
        {"Microsoft Visual C++ 2005 SP1 Redistributable Package (x64)",
         msiexec,
         {"Microsoft Visual C++ 2005", "Redistributable"}},
        {"Microsoft Visual C++ 2008 SP1 Redistributable Package (x86)",
         msiexec,
         {"Microsoft Visual C++ 2008", "Redistributable"}},
        {"Microsoft Visual C++ 2010 SP1 Redistributable Package (x64)",
         "/q",
         {"Microsoft Visual C++ 2010", "Redistributable"}},
        {"Microsoft Visual C++ 2012 Redistributable (x86)",
         "/q",
         {"Microsoft Visual C++ 2012", "Additional Runtime"}},
        {"Xinput64", "/q", {"Microsoft Xbox 360 Accessories"}},
        {"Xinput32", "/q", {"Microsoft Xbox 360 Accessories"}},
    };
    for (const Case& each : cases) {
        auto entries = ZipEntries(Data("download/" + each.zip + ".zip"));
        ASSERT_EQ(entries.size(), 1u) << each.zip;
        const std::string installer = work + entries.begin()->first;
        ASSERT_TRUE(WriteFile(installer, entries.begin()->second));
        fs::remove(registered);

        EXPECT_NE(RunScript(env, installer, ""), 0) << each.zip;
        EXPECT_NE(RunScript(env, installer, "/quiet"), 0) << each.zip;
        EXPECT_FALSE(fs::exists(registered)) << each.zip;

        // The switches split as a Windows command line splits them, each quoted for the shell.
        std::string args;
        for (const std::string& arg : platform::SplitCommandLine(each.params))
            args += "'" + arg + "' ";
        EXPECT_EQ(RunScript(env, installer, args), 0) << each.zip;
        const std::string reg = ReadFile(registered);
        EXPECT_NE(reg.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"),
                  std::string::npos)
            << reg;
        const size_t line = reg.find("\"DisplayName\"=");
        ASSERT_NE(line, std::string::npos);
        const std::string displayName = reg.substr(line, reg.find('\n', line) - line);
        for (const std::string& needle : each.needles)
            EXPECT_NE(displayName.find(needle), std::string::npos) << displayName;
    }

    auto entries = ZipEntries(Data("download/DirectX9c.zip"));
    ASSERT_EQ(entries.count("DirectX9c.exe"), 1u);
    const std::string installer = work + "DirectX9c.exe";
    ASSERT_TRUE(WriteFile(installer, entries["DirectX9c.exe"]));
    const std::string root = m_dir.Path() + "windows";
    EXPECT_NE(RunScript("SystemRoot='" + root + "'", installer, ""), 0);
    EXPECT_FALSE(fs::exists(root + "/system32"));
    EXPECT_EQ(RunScript("SystemRoot='" + root + "'", installer, "/q"), 0);
    for (int n = 24; n <= 43; ++n)
        EXPECT_TRUE(fs::exists(root + "/system32/d3dx9_" + std::to_string(n) + ".dll")) << n;
}

} // namespace

TEST_F(DemoEmulatorsTest, FceuxDefaultsBindTheKeysThatTheFcTipsPromise)
{
    // The tips shown beside an FC game say Esc ends it and F5 / F7 save and load; fceux's own
    // defaults quit with Ctrl+Q and load slots 5 and 7 with F5 and F7.
    const std::string tips =
        ReadFile(std::string(QUOKKA_SOURCE_ROOT) + "/res/LocalGameRes/keymap/keyboard/键盘FC.txt");
    ASSERT_NE(tips.find("Esc 键：退出游戏"), std::string::npos);
    ASSERT_NE(tips.find("F5 / F7：即时存档 / 读档"), std::string::npos);

    auto entries = ZipEntries(Data("download/emulators/fceux.zip"));
    for (const char* file : {"KeyBoardCfg/fceux.cfg", "GamePadCfg/fceux.cfg"}) {
        SCOPED_TRACE(file);
        ASSERT_EQ(entries.count(file), 1u);
        // fceux reads "key = value" lines; a later line wins.
        std::map<std::string, std::string> values;
        std::istringstream lines(entries[file]);
        for (std::string line; std::getline(lines, line);) {
            const size_t eq = line.find(" = ");
            if (eq == std::string::npos) {
                ADD_FAILURE() << "not a setting: " << line;
                continue;
            }
            values[line.substr(0, eq)] = line.substr(eq + 3);
        }
        EXPECT_EQ(values["SDL.Hotkeys.Quit"], "Escape");
        EXPECT_EQ(values["SDL.Hotkeys.SaveState"], "F5");
        EXPECT_EQ(values["SDL.Hotkeys.LoadState"], "F7");
        // fceux's default slot keys are unbound, so F5 and F7 do one thing each.
        ASSERT_EQ(values.count("SDL.Hotkeys.LoadState5"), 1u);
        EXPECT_EQ(values["SDL.Hotkeys.LoadState5"], "");
        ASSERT_EQ(values.count("SDL.Hotkeys.LoadState7"), 1u);
        EXPECT_EQ(values["SDL.Hotkeys.LoadState7"], "");
        EXPECT_EQ(values["SDL.Input.GamePad.0.DeviceType"],
                  std::string(file).starts_with("Key") ? "Keyboard" : "Joystick");
    }
}
