#include "foundation/FileSystem.h"
#include "foundation/AppPaths.h"
#include "foundation/StringHelpers.h"
#include "foundation/SystemInfo.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using Pieces = std::vector<std::string>;

TEST(StringHelpersTest, SplitKeepsInnerEmptyPiecesButNotATrailingOne)
{
    EXPECT_EQ(SplitString("FC,SFC,", ","), (Pieces{"FC", "SFC"}));
    EXPECT_EQ(SplitString("a,,b", ","), (Pieces{"a", "", "b"}));
    EXPECT_EQ(SplitString("", ","), Pieces{});
    EXPECT_EQ(SplitString(",", ","), Pieces{""});
    EXPECT_EQ(SplitString("one", ","), Pieces{"one"});
    EXPECT_EQ(SplitString("a||b||", "||"), (Pieces{"a", "b"}));
    EXPECT_EQ(
        SplitString("FC,SFC,N64,WII,GBC,GBA,NDS,MD,DC,PS,PS2,PSP,WSC,ARCADE,MAME,PCE,MAMEPLUS", ",").size(),
        17u);
}

TEST(FileSystemTest, EnsureDirectoryTreeCreatesFoldersButNotTheFile)
{
    testsupport::TempDir dir;
    EnsureDirectoryTree(dir.Path() + "a/b/file.txt");
    EXPECT_TRUE(fs::is_directory(dir.Path() + "a"));
    EXPECT_TRUE(fs::is_directory(dir.Path() + "a/b"));
    EXPECT_FALSE(fs::exists(dir.Path() + "a/b/file.txt"));

    // A trailing separator creates the last folder; doubled separators stand for one.
    EnsureDirectoryTree(dir.Path() + "c//d/e/");
    EXPECT_TRUE(fs::is_directory(dir.Path() + "c/d/e"));

    // Existing folders and a file in the way are ignored without harm.
    testsupport::WriteFile(dir.Path() + "blocker", "x");
    EnsureDirectoryTree(dir.Path() + "blocker/sub/");
    EXPECT_TRUE(fs::is_regular_file(dir.Path() + "blocker"));
    EnsureDirectoryTree(dir.Path() + "a/b/");
}

TEST(FileSystemTest, CollapseSeparatorsLeavesOneOfEachRun)
{
    EXPECT_EQ(CollapseSeparators("/tmp/QuokkaAppStore//cache/image///icon/1.png"),
              "/tmp/QuokkaAppStore/cache/image/icon/1.png");
    EXPECT_EQ(CollapseSeparators("//"), "/");
    EXPECT_EQ(CollapseSeparators(""), "");
    EXPECT_EQ(CollapseSeparators("a\\\\b"), "a\\\\b") << "backslashes are name characters here";
}

TEST(FileSystemTest, PathExistsSeesFilesFoldersAndNothingElse)
{
    testsupport::TempDir dir;
    testsupport::WriteFile(dir.Path() + "f", "x");
    EXPECT_TRUE(PathExists(dir.Path() + "f"));
    EXPECT_TRUE(PathExists(dir.Path()));
    EXPECT_FALSE(PathExists(dir.Path() + "missing"));
    EXPECT_FALSE(PathExists(""));
}

TEST(FileSystemTest, LargestFreeDriveIsAWritableFolder)
{
    std::string drive = GetLargestFreeDrive();
    ASSERT_FALSE(drive.empty());
    EXPECT_EQ(drive.back(), '/');
    EXPECT_TRUE(fs::is_directory(drive));
}

TEST(SystemInfoTest, BitsAndVersion)
{
    EXPECT_TRUE(GetOsBits() == 32 || GetOsBits() == 64);
    if (sizeof(void*) == 8) {
        EXPECT_EQ(GetOsBits(), 64);
    }
    std::string version = GetOsVersionText();
    EXPECT_LE(version.size(), 9u);
    EXPECT_NE(version.find('.'), std::string::npos);
    EXPECT_NE(version, "0.0");
}

TEST(FileSystemTest, JoinInsideFolderJoinsNamesInsideTheBase)
{
    std::string joined;
    ASSERT_TRUE(JoinInsideFolder("/cache/image/", "pc/12/icon.png", joined));
    EXPECT_EQ(joined, "/cache/image/pc/12/icon.png");
    ASSERT_TRUE(JoinInsideFolder("/cache/image/", "pc\\\\12//./icon.png", joined));
    EXPECT_EQ(joined, "/cache/image/pc/12/icon.png") << "both separators, doubled ones and '.' collapse";
    ASSERT_TRUE(JoinInsideFolder("/cache/image/", "pc/12/", joined));
    EXPECT_EQ(joined, "/cache/image/pc/12/") << "a folder stays a folder";
    ASSERT_TRUE(JoinInsideFolder("/cache/image/", "a..b/..c/d..", joined));
    EXPECT_EQ(joined, "/cache/image/a..b/..c/d..") << "dots inside a name are only a name";
}

TEST(FileSystemTest, JoinInsideFolderRefusesNamesThatCouldLeaveTheBase)
{
    const std::string untouched = "untouched";
    for (const std::string& hostile :
         {std::string(""), std::string("/etc/passwd"), std::string("\\etc\\passwd"), std::string("C:\\x.png"),
          std::string("c:x.png"), std::string("../../x.png"), std::string("pc/../../x.png"),
          std::string("pc\\..\\..\\x.png"), std::string("pc/.."), std::string("./"), std::string("//"),
          std::string("pc/x.png\0/../../y", 17)}) {
        std::string joined = untouched;
        EXPECT_FALSE(JoinInsideFolder("/cache/image/", hostile, joined)) << hostile;
        EXPECT_EQ(joined, untouched) << hostile;
    }
}

TEST(AppPathsTest, PrivateWorkFolderIsMadeForThisUserAloneAndNeverThroughALink)
{
    testsupport::TempDir temp;
    const std::string work = PrivateWorkFolder(temp.Path());
    EXPECT_EQ(work, temp.Path() + "QuokkaAppStore/");
    struct stat info;
    ASSERT_EQ(::lstat(work.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    testsupport::TempDir shared;
    testsupport::TempDir elsewhere;
    ASSERT_EQ(::symlink(elsewhere.Path().c_str(), (shared.Path() + "QuokkaAppStore").c_str()), 0);
    const std::string own = PrivateWorkFolder(shared.Path());
    EXPECT_EQ(own.rfind(shared.Path() + "QuokkaAppStore-" + std::to_string(::geteuid()) + "-", 0), 0u) << own;
    EXPECT_TRUE(fs::is_empty(elsewhere.Path())) << "the link's target is not used";
}
