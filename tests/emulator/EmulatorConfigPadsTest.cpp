#include "controller/ControllerDetection.h"
#include "controller/SdlContext.h"
#include "emulator/EmulatorConfig.h"
#include "emulator/EmulatorManager.h"
#include "emulator/FcEmulatorConfig.h"
#include "emulator/GameLauncher.h"
#include "foundation/AppPaths.h"
#include "foundation/AppSettings.h"
#include "foundation/IniFile.h"
#include "store/GameStore.h"
#include "tests/controller/VirtualPad.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::WriteFile;

constexpr size_t kGamePadConfigSize = 3360;

EmulatorRecord Emulator(const std::string& id, int type, const std::string& target)
{
    EmulatorRecord record;
    record.EmulatorId = id;
    record.Name = "Emu" + id;
    record.Emulatortype = type;
    record.Configtype = "0";
    record.KeyConfig = {{"keys.cfg", target, ""}, {"other.cfg", "other.cfg", ""}};
    return record;
}

// Three emulators whose key files take the attached pads, with virtual pads attached one by one.
class EmulatorConfigPadsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_sdl.Ok()) << SDL_GetError();
        CControllerDetection present;
        present.Enumerate();
        if (!present.Devices().empty())
            GTEST_SKIP() << "pads attached to this machine would come before the virtual ones";
        m_savedPaths = GetAppPaths();
        AppPaths paths = m_savedPaths;
        paths.InstancePath = m_dir.Path() + "app/";
        SetAppPaths(paths);
    }

    void TearDown() override { SetAppPaths(m_savedPaths); }

    // The emulator's key file, made with `content`.
    static std::string Prepare(const EmulatorRecord& record, const std::string& name,
                               const std::string& content)
    {
        std::string path = EmulatorManager::EmulatorDirectory(record) + "/" + name;
        fs::create_directories(fs::path(path).parent_path());
        EXPECT_TRUE(WriteFile(path, content));
        return path;
    }

    testsupport::TempDir m_dir;
    AppPaths m_savedPaths;
    CSdlContext m_sdl;
};

TEST_F(EmulatorConfigPadsTest, NoneToThreePadsIntoTheFcN64AndMdFiles)
{
    const EmulatorRecord fc = Emulator("1250001", 125, "cfg\\nes.cfg");
    const EmulatorRecord n64 = Emulator("1300001", 130, "Config/n64.ini");
    const EmulatorRecord md = Emulator("1220001", 122, "md.ini");
    const EmulatorRecord other = Emulator("1250002", 125, "nes.cfg");
    const std::string fcBlock = "GamePadConfig 0x" + std::string(kGamePadConfigSize * 2, 'a') + "\n";
    const std::string n64Text = "[DirectInput-Controller 0]\r\nGUID=old\r\nPlugged=1\r\n";
    const std::string mdText = "; pads\n[Options]\nJoystick1Using=0\n";

    std::vector<std::unique_ptr<VirtualPad>> pads;
    for (size_t count = 0; count <= 3; ++count) {
        SCOPED_TRACE(count);
        if (count > 0) {
            pads.push_back(std::make_unique<VirtualPad>(("pad " + std::to_string(count)).c_str()));
            ASSERT_TRUE(pads.back()->Attached()) << SDL_GetError();
        }
        // A joystick that is not an XInput pad is never counted.
        VirtualPad stick("flight stick", SDL_JOYSTICK_TYPE_FLIGHT_STICK);
        CControllerDetection detection;
        detection.Enumerate();
        ASSERT_EQ(detection.Devices().size(), count);
        const std::vector<Guid> guids = detection.InstanceGuids();

        const std::string fcFile = Prepare(fc, "cfg/nes.cfg", fcBlock + "ownKey 5\n");
        const std::string n64File = Prepare(n64, "Config/n64.ini", n64Text);
        const std::string mdFile = Prepare(md, "md.ini", mdText);
        const std::string otherFile = Prepare(other, "nes.cfg", fcBlock);
        emulator_config::WriteControllers(fc);
        emulator_config::WriteControllers(n64);
        emulator_config::WriteControllers(md);
        emulator_config::WriteControllers(other);

        // FC: gamepad i takes controller i; gamepads without one keep their bytes.
        CFcEmulatorConfig config;
        ASSERT_TRUE(config.Load(fcFile));
        EXPECT_EQ(config.Value("ownKey"), "5");
        const std::vector<uint8_t>* block = config.Storage("GamePadConfig");
        ASSERT_TRUE(block != nullptr);
        ASSERT_EQ(block->size(), kGamePadConfigSize);
        for (size_t record = 0; record < 40; ++record) {
            const size_t at = record * 84 + 20;
            const size_t pad = record / 10;
            if (pad < count) {
                const auto bytes = guids[pad].Bytes();
                EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), block->begin() + static_cast<long>(at)))
                    << record;
            } else {
                EXPECT_TRUE(std::all_of(block->begin() + static_cast<long>(at),
                                        block->begin() + static_cast<long>(at + 16),
                                        [](uint8_t b) { return b == 0xAA; }))
                    << record;
            }
        }

        // N64 and MD: one or two pads are written, none or three leave the file as it was.
        if (count == 0 || count == 3) {
            EXPECT_EQ(ReadFile(n64File), n64Text);
            EXPECT_EQ(ReadFile(mdFile), mdText);
        } else {
            EXPECT_EQ(IniFile::GetString(n64File, "DirectInput-Controller 0", "GUID", ""),
                      detection.GuidText(0));
            EXPECT_EQ(IniFile::GetString(n64File, "DirectInput-Controller 0", "Plugged", ""), "1");
            EXPECT_EQ(IniFile::GetString(n64File, "DirectInput-Controller 1", "GUID", "none"),
                      count == 2 ? detection.GuidText(1) : "none");
            EXPECT_EQ(detection.GuidText(0).size(), 36u);
            EXPECT_EQ(detection.GuidText(0).find_first_of("{}abcdef"), std::string::npos);
            // MD keys live before any section header, the Options section keeps its own.
            const std::string expected = count == 1
                                             ? "; pads\nJoystick1Using=2\n[Options]\nJoystick1Using=0\n"
                                             : "; pads\nJoystick1Using=2\nJoystick2Using=3\n[Options]\n"
                                               "Joystick1Using=0\n";
            EXPECT_EQ(ReadFile(mdFile), expected);
        }
        // Emulators without pad entries are left alone.
        EXPECT_EQ(ReadFile(otherFile), fcBlock);
    }
}

TEST_F(EmulatorConfigPadsTest, TargetsLeavingTheEmulatorFolderAreNotWritten)
{
    VirtualPad pad("pad");
    ASSERT_TRUE(pad.Attached()) << SDL_GetError();
    const EmulatorRecord md = Emulator("1220001", 122, "..\\..\\md.ini");
    const EmulatorRecord n64 = Emulator("1300001", 130, "/tmp/quokka-pads-n64.ini");
    const EmulatorRecord fc = Emulator("1250001", 125, "~.cfg");
    fs::create_directories(EmulatorManager::EmulatorDirectory(md));
    fs::create_directories(EmulatorManager::EmulatorDirectory(fc));
    emulator_config::WriteControllers(md);
    emulator_config::WriteControllers(n64);
    EXPECT_FALSE(fs::exists(m_dir.Path() + "app/Emulator/md.ini"));
    EXPECT_FALSE(fs::exists("/tmp/quokka-pads-n64.ini"));

    // "~" in the target names the game's file, as in the transfers around the same run.
    emulator_config::WriteControllers(fc, "/games/fc/mario.nes");
    EXPECT_TRUE(fs::exists(EmulatorManager::EmulatorDirectory(fc) + "/mario.cfg"));
}

// A gamepad run of the FC emulator whose key file is named after the game: the pads go into the
// game's own file, the one the run put in place, and come back with it into the user copy.
TEST_F(EmulatorConfigPadsTest, AGamepadLaunchWritesThePadsIntoTheFileOfTheGame)
{
    VirtualPad pad("pad");
    ASSERT_TRUE(pad.Attached()) << SDL_GetError();
    CControllerDetection pads(true);
    pads.Enumerate();
    ASSERT_EQ(pads.InstanceGuids().size(), 1u);
    AppPaths paths = GetAppPaths();
    paths.ConfigFilePath = paths.InstancePath + "quokka.cfg";
    SetAppPaths(paths);
    fs::create_directories(paths.InstancePath + "database");
    CAppSettings settings;
    settings.SetHandleType("1");
    settings.SetShowKeyMapTips("0");
    settings.Save();

    EmulatorRecord fc = Emulator("1250001", 125, "~.cfg");
    fc.Version = "1.0";
    fc.Execute = {"run.sh"};
    fc.KeyConfig = {{"~.cfg", "~.cfg", "default.cfg"}};
    const std::string folder = EmulatorManager::EmulatorDirectory(fc) + "/";
    Prepare(fc, "GamePadCfg/default.cfg",
            "GamePadConfig 0x" + std::string(kGamePadConfigSize * 2, 'a') + "\n");
    Prepare(fc, "run.sh", "#!/bin/sh\nexit 0\n");
    fs::permissions(folder + "run.sh", fs::perms::owner_all);
    const std::string game = m_dir.Path() + "games/mario.nes";
    fs::create_directories(m_dir.Path() + "games");
    ASSERT_TRUE(WriteFile(game, "NES"));

    {
        CGameStore store(paths.InstancePath + "database/quokka.db");
        EmulatorRecord row = fc;
        ASSERT_TRUE(store.Submit(kStoreAddEmulator, &row, false, false));
        EmulatorManager manager(store, false);
        GameLauncher launcher(manager, GameLauncher::DefaultRunRecordPath());
        LocalGameRecord tile;
        tile.EmulatorId = "125";
        tile.FilePath = game;
        ASSERT_TRUE(launcher.LaunchLocalGame(&tile, nullptr));
        ASSERT_TRUE(launcher.WaitUntilIdle(10000));
    }

    EXPECT_FALSE(fs::exists(folder + ".cfg"));
    CFcEmulatorConfig config;
    ASSERT_TRUE(config.Load(folder + "UserGamePadCfg/mario.cfg"));
    const std::vector<uint8_t>* block = config.Storage("GamePadConfig");
    ASSERT_TRUE(block != nullptr);
    ASSERT_EQ(block->size(), kGamePadConfigSize);
    const auto bytes = pads.InstanceGuids().front().Bytes();
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), block->begin() + 20)) << "pad 0's first record";
}

} // namespace
