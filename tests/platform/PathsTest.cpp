#include "platform/Paths.h"
#include "tests/support/TempDir.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>

TEST(PathsTest, FoldersEndWithASeparator)
{
    EXPECT_EQ(platform::ProgramFolder().back(), '/');
    EXPECT_EQ(platform::DocumentsFolder().back(), '/');
    EXPECT_EQ(platform::HomeFolder().back(), '/');
}

TEST(PathsTest, TempFolderFollowsTmpdir)
{
    const char* saved = std::getenv("TMPDIR");
    std::string savedValue = saved ? saved : "";
    ::setenv("TMPDIR", "/var/tmp", 1);
    EXPECT_EQ(platform::TempFolder(), "/var/tmp/");
    ::setenv("TMPDIR", "", 1);
    EXPECT_EQ(platform::TempFolder(), "/tmp/");
    if (saved)
        ::setenv("TMPDIR", savedValue.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
}

TEST(PathsTest, DocumentsFolderComesFromTheUserDirsFile)
{
    testsupport::TempDir config;
    testsupport::WriteFile(config.Path() + "user-dirs.dirs", "# comment\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
    const char* savedConfig = std::getenv("XDG_CONFIG_HOME");
    std::string savedValue = savedConfig ? savedConfig : "";
    ::setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
    EXPECT_EQ(platform::DocumentsFolder(), platform::HomeFolder() + "Dokumente/");
    if (savedConfig)
        ::setenv("XDG_CONFIG_HOME", savedValue.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
}

TEST(PathsTest, LookupIgnoresLetterCaseOfBuiltNames)
{
    testsupport::TempDir dir;
    testsupport::WriteFile(dir.Path() + "Skyrunner.NES", "x");
    EXPECT_EQ(platform::FindNoCase(dir.Path(), "skyrunner.nes"), dir.Path() + "Skyrunner.NES");
    EXPECT_EQ(platform::FindNoCase(dir.Path(), "Skyrunner.NES"), dir.Path() + "Skyrunner.NES");
    EXPECT_FALSE(platform::FindNoCase(dir.Path(), "skyrunner.sfc"));
    EXPECT_TRUE(platform::ExistsNoCase(dir.Path() + "SKYRUNNER.nes"));
    EXPECT_FALSE(platform::ExistsNoCase(dir.Path() + "missing/skyrunner.nes"));
}
