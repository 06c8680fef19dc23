#include "app/Startup.h"
#include "foundation/AppPaths.h"
#include "foundation/StringHelpers.h"
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
