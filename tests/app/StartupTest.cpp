#include "app/Startup.h"
#include "foundation/AppPaths.h"
#include "foundation/StringHelpers.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
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
