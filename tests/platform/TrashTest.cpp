// Moving files to the desktop's trash, with the home trash and the second file system's trash inside
// the test's own folders (XDG_DATA_HOME and HOME point there; the real home is never touched).

#include "platform/Trash.h"

#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::WriteFile;

using EnvGuard = testsupport::ScopedEnv;

class TrashTest : public ::testing::Test {
protected:
    std::string Put(const std::string& relative, const std::string& content = "rom")
    {
        const std::string path = m_dir.Path() + relative;
        fs::create_directories(fs::path(path).parent_path());
        EXPECT_TRUE(WriteFile(path, content)) << path;
        return path;
    }

    // Checks the info file of `name` in `trash` and that it names `original`.
    static void ExpectInfo(const std::string& trash, const std::string& name, const std::string& encodedPath)
    {
        const std::string info = ReadFile(trash + "/info/" + name + ".trashinfo");
        const std::regex shape(
            "\\[Trash Info\\]\nPath=(.*)\nDeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n");
        std::smatch match;
        ASSERT_TRUE(std::regex_match(info, match, shape)) << info;
        EXPECT_EQ(match[1].str(), encodedPath);
    }

    testsupport::TempDir m_dir;
    EnvGuard m_home{"HOME", m_dir.Path() + "home"};
    EnvGuard m_dataHome{"XDG_DATA_HOME", m_dir.Path() + "data"};
};

TEST_F(TrashTest, ItemsGoToTheHomeTrashWithTheirInfoAndNeverShareAName)
{
    const std::string trash = m_dir.Path() + "data/Trash";
    ASSERT_EQ(platform::HomeTrashFolder(), trash);
    const std::string first = Put("games/a b%\xc3\xa9.nes", "first");
    const std::string second = Put("other/a b%\xc3\xa9.nes", "second");
    const std::string hidden = Put("games/.hidden");
    std::string error;
    ASSERT_TRUE(platform::MoveToTrash(first, &error)) << error;
    ASSERT_TRUE(platform::MoveToTrash(second, &error)) << error;
    ASSERT_TRUE(platform::MoveToTrash(hidden, &error)) << error;
    EXPECT_FALSE(fs::exists(first));
    EXPECT_FALSE(fs::exists(second));
    EXPECT_EQ(ReadFile(trash + "/files/a b%\xc3\xa9.nes"), "first");
    EXPECT_EQ(ReadFile(trash + "/files/a b%\xc3\xa9.2.nes"), "second");
    EXPECT_TRUE(fs::exists(trash + "/files/.hidden"));
    ExpectInfo(trash, "a b%\xc3\xa9.nes", m_dir.Path() + "games/a%20b%25%C3%A9.nes");
    ExpectInfo(trash, "a b%\xc3\xa9.2.nes", m_dir.Path() + "other/a%20b%25%C3%A9.nes");
    EXPECT_EQ(fs::status(trash).permissions() & fs::perms::all, fs::perms::owner_all);

    // A name held by an item whose info file is missing is not taken over.
    ASSERT_TRUE(WriteFile(trash + "/files/third.nes", "stray"));
    ASSERT_TRUE(platform::MoveToTrash(Put("games/third.nes", "third"), &error)) << error;
    EXPECT_EQ(ReadFile(trash + "/files/third.nes"), "stray");
    EXPECT_EQ(ReadFile(trash + "/files/third.2.nes"), "third");
    EXPECT_FALSE(fs::exists(trash + "/info/third.nes.trashinfo"));

    // A link goes itself and its target stays; a folder goes whole.
    const std::string target = Put("target.nes");
    fs::create_symlink(target, m_dir.Path() + "games/link.nes");
    ASSERT_TRUE(platform::MoveToTrash(m_dir.Path() + "games/link.nes", &error)) << error;
    EXPECT_TRUE(fs::is_symlink(trash + "/files/link.nes"));
    EXPECT_EQ(ReadFile(target), "rom");
    Put("games/folder/inside.nes");
    ASSERT_TRUE(platform::MoveToTrash(m_dir.Path() + "games/folder/", &error)) << error;
    EXPECT_TRUE(fs::exists(trash + "/files/folder/inside.nes"));
    ExpectInfo(trash, "folder", m_dir.Path() + "games/folder");
}

TEST_F(TrashTest, WithoutAnAbsoluteDataHomeTheHomesOwnIsUsed)
{
    for (const std::optional<std::string>& value :
         {std::optional<std::string>(), std::optional<std::string>("rel")}) {
        EnvGuard dataHome("XDG_DATA_HOME", value);
        const std::string trash = m_dir.Path() + "home/.local/share/Trash";
        EXPECT_EQ(platform::HomeTrashFolder(), trash);
        const std::string file = Put("games/x.nes");
        std::string error;
        ASSERT_TRUE(platform::MoveToTrash(file, &error)) << error;
        EXPECT_TRUE(fs::exists(trash + "/info/x.nes.trashinfo") ||
                    fs::exists(trash + "/info/x.2.nes.trashinfo"));
    }
}

TEST_F(TrashTest, WhatCannotBeTrashedStaysWhereItWasAndLeavesNoInfo)
{
    const std::string file = Put("games/keep.nes");
    std::string error;
    {
        // The data home is a file: no trash can be made there.
        EnvGuard dataHome("XDG_DATA_HOME", Put("not-a-folder"));
        EXPECT_FALSE(platform::MoveToTrash(file, &error));
        EXPECT_FALSE(error.empty());
    }
    {
        EnvGuard home("HOME", std::nullopt);
        EnvGuard dataHome("XDG_DATA_HOME", std::nullopt);
        EXPECT_EQ(platform::HomeTrashFolder(), "");
        EXPECT_FALSE(platform::MoveToTrash(file, &error));
    }
    EXPECT_FALSE(platform::MoveToTrash("games/keep.nes", &error)) << "a relative path";
    EXPECT_FALSE(platform::MoveToTrash(m_dir.Path() + "games/missing.nes", &error));
    EXPECT_EQ(ReadFile(file), "rom");

    // The rename fails (the trash's files folder is a file): the info file written for it is removed.
    const std::string trash = m_dir.Path() + "data/Trash";
    fs::create_directories(trash + "/info");
    ASSERT_TRUE(WriteFile(trash + "/files", ""));
    EXPECT_FALSE(platform::MoveToTrash(file, &error));
    EXPECT_EQ(ReadFile(file), "rom");
    EXPECT_TRUE(fs::is_empty(trash + "/info"));
}

TEST_F(TrashTest, AnItemOnAnotherFileSystemGoesToItsTopFoldersTrash)
{
    // The home trash on the shared-memory file system, the item in the test's folder.
    char pattern[] = "/dev/shm/quokka-trash-XXXXXX";
    if (!fs::is_directory("/dev/shm") || ::mkdtemp(pattern) == nullptr)
        GTEST_SKIP() << "no /dev/shm";
    struct Remove {
        std::string path;
        ~Remove()
        {
            std::error_code ignored;
            fs::remove_all(path, ignored);
        }
    } shm{pattern};
    struct stat a {
    }, b{};
    if (::stat(pattern, &a) != 0 || ::stat(m_dir.Path().c_str(), &b) != 0 || a.st_dev == b.st_dev)
        GTEST_SKIP() << "/dev/shm is on the test folder's file system";

    const std::string volume = m_dir.Path() + "volume";
    const auto topDir = [&](const std::string&) { return volume; };
    const std::string file = Put("volume/games/far.nes", "far");
    std::string error;
    ASSERT_TRUE(platform::MoveToTrashWith(file, shm.path + "/Trash", topDir, &error)) << error;
    const std::string trash = volume + "/.Trash-" + std::to_string(::getuid());
    EXPECT_EQ(ReadFile(trash + "/files/far.nes"), "far");
    ExpectInfo(trash, "far.nes", file);
    EXPECT_EQ(fs::status(trash).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_FALSE(fs::exists(shm.path + "/Trash/files/far.nes"));

    // A top-folder trash that is a link could lead anywhere: refused, the item stays.
    fs::remove_all(trash);
    fs::create_directory_symlink(m_dir.Path() + "elsewhere", trash);
    fs::create_directories(m_dir.Path() + "elsewhere");
    const std::string kept = Put("volume/games/kept.nes");
    EXPECT_FALSE(platform::MoveToTrashWith(kept, shm.path + "/Trash", topDir, &error));
    EXPECT_TRUE(fs::exists(kept));
    EXPECT_TRUE(fs::is_empty(m_dir.Path() + "elsewhere"));
}

} // namespace
