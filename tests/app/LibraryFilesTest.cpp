// Deleting games' files on real folders: what lies strictly inside the library goes, links go
// themselves, and every path that leaves the library, names its root or a platform folder is kept.

#include "app/LibraryFiles.h"
#include "app/LibraryText.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

class LibraryFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(m_rom + "LocalGame/FC");
        fs::create_directories(m_rom + "FC/1001/sub");
        fs::create_directories(m_outside);
        for (const std::string& file : {m_rom + "LocalGame/FC/a.nes", m_rom + "FC/1001/1001.nes",
                                        m_rom + "FC/1001/sub/save.dat", m_outside + "keep.nes"})
            ASSERT_TRUE(testsupport::WriteFile(file, "x"));
    }

    testsupport::TempDir m_dir;
    const std::string m_rom = m_dir.Path() + "rom/";
    const std::string m_local = m_rom + "LocalGame/";
    const std::string m_outside = m_dir.Path() + "outside/";
};

TEST_F(LibraryFilesTest, LocalGameFilesOnlyInsideTheLibrary)
{
    EXPECT_TRUE(DeleteLocalGameFile(m_local + "FC/a.nes", m_rom));
    EXPECT_FALSE(fs::exists(m_local + "FC/a.nes"));

    // Escapes by "..", by a linked folder, and paths that are no game file at all.
    EXPECT_FALSE(DeleteLocalGameFile(m_local + "FC/../../../outside/keep.nes", m_rom));
    fs::create_directory_symlink(m_outside, m_local + "linked");
    EXPECT_FALSE(DeleteLocalGameFile(m_local + "linked/keep.nes", m_rom));
    EXPECT_TRUE(fs::exists(m_outside + "keep.nes"));
    EXPECT_FALSE(DeleteLocalGameFile("", m_rom));
    EXPECT_FALSE(DeleteLocalGameFile("rom/LocalGame/FC/a.nes", m_rom));
    EXPECT_FALSE(DeleteLocalGameFile(m_rom, m_rom));
    EXPECT_FALSE(DeleteLocalGameFile(m_local + "FC", m_rom)) << "a folder is not a game file";
    EXPECT_TRUE(fs::is_directory(m_local + "FC"));
    EXPECT_FALSE(DeleteLocalGameFile(m_local + "FC/a.nes", "")) << "no library, nothing deleted";

    // A link to a file outside goes itself.
    fs::create_symlink(m_outside + "keep.nes", m_local + "FC/link.nes");
    EXPECT_TRUE(DeleteLocalGameFile(m_local + "FC/link.nes", m_rom));
    EXPECT_FALSE(fs::exists(fs::symlink_status(m_local + "FC/link.nes")));
    EXPECT_TRUE(fs::exists(m_outside + "keep.nes"));
}

TEST_F(LibraryFilesTest, DownloadedGameFoldersOnlyBelowAPlatformFolder)
{
    EXPECT_EQ(DownloadedGameFolder(m_rom + "FC/1001/"), m_rom + "FC/1001/");
    EXPECT_EQ(DownloadedGameFolder(m_rom + "FC/1001/1001.nes"), m_rom + "FC/1001/");
    EXPECT_EQ(DownloadedGameFolder(""), "");

    for (const std::string& refused : {m_rom, m_rom + "FC/", m_local, m_local + "FC/", std::string(),
                                       m_rom + "FC/../../outside/", m_outside})
        EXPECT_FALSE(DeleteDownloadedGameFolder(refused, m_rom, m_local)) << refused;
    EXPECT_TRUE(fs::exists(m_local + "FC/a.nes"));
    EXPECT_TRUE(fs::exists(m_outside + "keep.nes"));

    // A link inside a game's folder goes with the folder, its target stays.
    fs::create_directory_symlink(m_outside, m_rom + "FC/1001/sub/linked");
    EXPECT_TRUE(DeleteDownloadedGameFolder(m_rom + "FC/1001/", m_rom, m_local));
    EXPECT_FALSE(fs::exists(m_rom + "FC/1001"));
    EXPECT_TRUE(fs::exists(m_outside + "keep.nes"));
    EXPECT_TRUE(fs::is_directory(m_rom + "FC"));

    // A game's folder that is a link goes itself.
    fs::create_directory_symlink(m_outside, m_rom + "FC/1002");
    EXPECT_TRUE(DeleteDownloadedGameFolder(m_rom + "FC/1002/", m_rom, m_local));
    EXPECT_FALSE(fs::exists(fs::symlink_status(m_rom + "FC/1002")));
    EXPECT_TRUE(fs::exists(m_outside + "keep.nes"));
}

TEST(LibraryTextTest, BytesInvalidInTheCodePageShowAsReplacementMarks)
{
    EXPECT_EQ(DisplayText("超级 Mario").Str(), u"超级 Mario");
    EXPECT_EQ(DisplayText(std::string("a\xff"
                                      "b\xe8\xb6"
                                      "c"))
                  .Str(),
              u"a\uFFFDb\uFFFD\uFFFDc");
    EXPECT_EQ(NativeOf(std::string("/x/\xff.nes")), std::string("/x/\xff.nes"));
}

} // namespace
