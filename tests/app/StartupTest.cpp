#include "app/Startup.h"
#include "emulator/EmulatorManager.h"
#include "emulator/GameLauncher.h"
#include "foundation/AppPaths.h"
#include "foundation/StringHelpers.h"
#include "platform/Paths.h"
#include "store/GameStore.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using testsupport::ChildProcess;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(StartupTest, WorkingFoldersAndPathsAreLaidOut)
{
    TempDir program;
    TempDir temp;
    PrepareAppPaths(program.Path(), temp.Path());

    AppPaths paths = GetAppPaths();
    EXPECT_EQ(paths.InstancePath, program.Path());
    EXPECT_EQ(paths.WorkDir, temp.Path() + "QuokkaAppStore/");
    EXPECT_EQ(paths.ArcadeImageDir, temp.Path() + "QuokkaAppStore/cache/image/arcade/");
    EXPECT_EQ(paths.MameImageDir, temp.Path() + "QuokkaAppStore/cache/image/mame/");
    EXPECT_EQ(paths.PcImageDir, temp.Path() + "QuokkaAppStore/cache/image/pc/");
    EXPECT_EQ(paths.ImageCacheDir, temp.Path() + "QuokkaAppStore//cache/image/");
    EXPECT_EQ(paths.ConfigFilePath, program.Path() + "quokka.cfg");
    for (const std::string& folder :
         {paths.ArcadeImageDir, paths.MameImageDir, paths.PcImageDir, paths.ImageCacheDir})
        EXPECT_TRUE(fs::is_directory(folder)) << folder;

    // File names are appended to the image cache folder unchanged, and still land in it.
    WriteFile(paths.ImageCacheDir + "1234.png", "png");
    EXPECT_TRUE(fs::exists(temp.Path() + "QuokkaAppStore/cache/image/1234.png"));
}

TEST(StartupTest, EmptyOrMissingRomPathCreatesNoLibraryFolders)
{
    TempDir program;
    TempDir temp;
    PrepareAppPaths(program.Path(), temp.Path());
    EXPECT_EQ(RomDir(), "");
    EXPECT_EQ(LocalGameDir(), "");

    WriteFile(program.Path() + "quokka.cfg", "[Set]\nRomPath=\n");
    PrepareAppPaths(program.Path(), temp.Path());
    EXPECT_EQ(RomDir(), "");
    EXPECT_EQ(LocalGameDir(), "");
    EXPECT_FALSE(fs::exists(program.Path() + "LocalGame"));
}

TEST(StartupTest, RomPathGivesLocalGameDirAndSeventeenPlatformFolders)
{
    TempDir program;
    TempDir temp;
    std::string games = temp.Path() + "Games/";
    WriteFile(program.Path() + "quokka.cfg", "[Set]\nRomPath=" + games + "\n");
    PrepareAppPaths(program.Path(), temp.Path());

    EXPECT_EQ(RomDir(), games);
    EXPECT_EQ(LocalGameDir(), games + "LocalGame/");
    std::vector<std::string> names = SplitString(PlatformDirNames, ",");
    ASSERT_EQ(names.size(), 17u);
    EXPECT_EQ(names.front(), "FC");
    EXPECT_EQ(names.back(), "MAMEPLUS");
    for (const std::string& name : names)
        EXPECT_TRUE(fs::is_directory(games + "LocalGame/" + name)) << name;
}

TEST(StartupTest, RomPathWithoutTrailingSeparatorIsUsedUnchanged)
{
    TempDir program;
    TempDir temp;
    std::string games = temp.Path() + "Lib";
    WriteFile(program.Path() + "quokka.cfg", "[Set]\nRomPath=" + games + "\n");
    PrepareAppPaths(program.Path(), temp.Path());
    EXPECT_EQ(LocalGameDir(), games + "LocalGame/");
    EXPECT_TRUE(fs::is_directory(games + "LocalGame/FC"));
}

// The installed layout: nothing is written beside the program; settings, data and working files
// go to the folders decided for the user, which are made as needed.
TEST(StartupTest, InstalledFoldersTakeSettingsDataAndAPrivateWorkFolderAndTheProgramFolderStaysUntouched)
{
    TempDir program;
    TempDir root;
    platform::ProgramFolders folders;
    folders.mode = platform::FolderMode::Installed;
    folders.programFolder = program.Path();
    folders.configFolder = root.Path() + "config/quokka/";
    folders.dataFolder = root.Path() + "data/quokka/";
    folders.workFolder = root.Path() + "cache/quokka/";
    folders.serversFile = root.Path() + "etc/servers.cfg";
    PrepareAppPaths(folders);

    const AppPaths paths = GetAppPaths();
    EXPECT_TRUE(IsInstalledMode());
    EXPECT_EQ(paths.InstancePath, program.Path());
    EXPECT_EQ(paths.ConfigFilePath, folders.configFolder + "quokka.cfg");
    EXPECT_EQ(paths.WorkDir, folders.workFolder);
    EXPECT_TRUE(platform::IsPrivateFolder(paths.WorkDir)) << "the work folder is the user's alone";
    EXPECT_TRUE(fs::is_directory(paths.ImageCacheDir));
    EXPECT_TRUE(fs::is_directory(folders.configFolder));
    EXPECT_EQ(DataFolder(), folders.dataFolder);
    EXPECT_EQ(ServersFilePath(), folders.serversFile);
    EXPECT_EQ(CGameStore::DefaultDatabasePath(), folders.dataFolder + "database/quokka.db");
    EXPECT_EQ(GameLauncher::DefaultRunRecordPath(), folders.dataFolder + "database/running-game.rec");
    EXPECT_EQ(EmulatorManager::SettingsRunRecordPath(), folders.dataFolder + "database/settings-run.rec");
    EmulatorRecord emulator;
    emulator.Name = "fceux";
    emulator.Emulatortype = 1;
    EXPECT_EQ(EmulatorManager::EmulatorDirectory(emulator).rfind(folders.dataFolder + "Emulator/", 0), 0u)
        << EmulatorManager::EmulatorDirectory(emulator);
    EXPECT_EQ(DefaultLibraryFolder(), folders.dataFolder + "Games/");
    EXPECT_TRUE(fs::is_empty(program.Path())) << "nothing is written beside an installed program";

    // A RomPath in the user's settings is the library, as in a portable folder.
    WriteFile(paths.ConfigFilePath, "[Set]\nRomPath=" + root.Path() + "Lib/\n");
    PrepareAppPaths(folders);
    EXPECT_EQ(RomDir(), root.Path() + "Lib/");
    EXPECT_TRUE(fs::is_directory(root.Path() + "Lib/LocalGame/FC"));

    // The portable layout again, for the tests that follow.
    PrepareAppPaths(program.Path(), root.Path());
    EXPECT_FALSE(IsInstalledMode());
    EXPECT_EQ(DataFolder(), program.Path());
    EXPECT_EQ(ServersFilePath(), program.Path() + "servers.cfg");
}

namespace {

// A locale that writes decimal commas, compiled into `folder` (for LOCPATH): this machine may have
// none installed. Empty when it cannot be made.
std::string MakeCommaLocale(const std::string& folder)
{
    const std::string name = "de_DE.UTF-8";
    const std::string command = "localedef -i de_DE -f UTF-8 " + folder + name + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0 || !fs::is_directory(folder + name))
        return {};
    return name;
}

std::string Formatted(double value)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%.2f", value);
    return text;
}

} // namespace

TEST(StartupLocaleTest, NumbersKeepTheirDecimalPointUnderALocaleWithDecimalCommas)
{
    TempDir locales;
    const std::string name = MakeCommaLocale(locales.Path());
    if (name.empty())
        GTEST_SKIP() << "localedef cannot make a locale with decimal commas here";
    setenv("LOCPATH", locales.Path().c_str(), 1);
    setenv("LC_ALL", name.c_str(), 1);
    std::setlocale(LC_ALL, "");
    const std::string underTheLocale = Formatted(1.5);

    PrepareLocale();
    const std::string prepared = Formatted(1.5);
    const std::string ctype = std::setlocale(LC_CTYPE, nullptr);

    std::setlocale(LC_ALL, "C");
    unsetenv("LC_ALL");
    unsetenv("LOCPATH");
    ASSERT_EQ(underTheLocale, "1,50") << "the locale made here must write decimal commas";
    EXPECT_EQ(prepared, "1.50");
    EXPECT_EQ(ctype, name) << "everything but numbers follows the environment";
}

TEST(StartupLocaleTest, TheRunningProgramKeepsTheDecimalPointOnceItsWindowExists)
{
    // The UI toolkit's application object takes the locale from the environment again when it is
    // made; the program's numbers must not follow it.
    TempDir locales;
    const std::string name = MakeCommaLocale(locales.Path());
    if (name.empty())
        GTEST_SKIP() << "localedef cannot make a locale with decimal commas here";
    TempDir program;
    TempDir temp;
    fs::copy_file(QUOKKA_EXECUTABLE, program.Path() + "quokka");
    WriteFile(program.Path() + "quokka.cfg", "[Set]\nRomPath=" + temp.Path() + "Games/\n"); // no first run
    fs::create_directories(temp.Path() + "run");
    fs::permissions(temp.Path() + "run", fs::perms::owner_all);
    ChildProcess quokka({program.Path() + "quokka"},
                        {{"TMPDIR", temp.Path()},
                         {"XDG_RUNTIME_DIR", temp.Path() + "run"},
                         {"QUOKKA_TRACE", "1"},
                         {"QT_QPA_PLATFORM", "offscreen"},
                         {"LOCPATH", locales.Path()},
                         {"LC_ALL", name},
                         {"LSAN_OPTIONS", "suppressions=" QUOKKA_LSAN_SUPPRESSIONS}},
                        true);
    std::string created;
    while (auto line = quokka.ReadLine(15000)) {
        if (line->find("main window created") != std::string::npos) {
            created = *line;
            break;
        }
    }
    ASSERT_FALSE(created.empty()) << "the main window was never created";
    EXPECT_NE(created.find("locale " + name), std::string::npos) << created;
    EXPECT_NE(created.find("numbers as in 1.50"), std::string::npos) << created;
    quokka.Signal(SIGTERM);
    EXPECT_EQ(quokka.Wait(15000), 0);
}
