// Deleting games' files on real folders: what lies strictly inside the library goes, links go
// themselves, and every path that leaves the library, names its root or a platform folder is kept.
// Under an earlier library folder only a game's own place goes; look-alikes are kept.

#include "app/LibraryFiles.h"
#include "app/LibraryText.h"
#include "tests/support/ScopedEnv.h"
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
    // Local games' files go to the trash in the test's folder.
    testsupport::ScopedEnv m_home{"HOME", m_dir.Path() + "home"};
    testsupport::ScopedEnv m_dataHome{"XDG_DATA_HOME", m_dir.Path() + "data"};
    const std::string m_trash = m_dir.Path() + "data/Trash/";
    const std::string m_rom = m_dir.Path() + "rom/";
    const std::string m_local = m_rom + "LocalGame/";
    const std::string m_outside = m_dir.Path() + "outside/";
};

TEST_F(LibraryFilesTest, LocalGameFilesOnlyInsideTheLibrary)
{
    EXPECT_TRUE(DeleteLocalGameFile(m_local + "FC/a.nes", m_rom));
    EXPECT_FALSE(fs::exists(m_local + "FC/a.nes"));
    EXPECT_EQ(testsupport::ReadFile(m_trash + "files/a.nes"), "x") << "the user's own file is in the trash";

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
    EXPECT_TRUE(fs::is_symlink(m_trash + "files/link.nes"));

    // Without a trash the file is kept, never unlinked, and the reason comes back; a refusal by the
    // rules above is no trash failure.
    ASSERT_TRUE(testsupport::WriteFile(m_local + "FC/b.nes", "x"));
    fs::remove_all(m_dir.Path() + "data");
    ASSERT_TRUE(testsupport::WriteFile(m_dir.Path() + "data", ""));
    std::string trashError;
    EXPECT_FALSE(DeleteLocalGameFile(m_local + "FC/b.nes", m_rom, &trashError));
    EXPECT_FALSE(trashError.empty());
    EXPECT_TRUE(fs::exists(m_local + "FC/b.nes"));
    trashError.clear();
    EXPECT_FALSE(DeleteLocalGameFile(m_local + "linked/keep.nes", m_rom, &trashError));
    EXPECT_EQ(trashError, "");
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

TEST_F(LibraryFilesTest, GamesOfAnEarlierLibraryFolderGoOnlyFromTheirOwnFolder)
{
    const std::string old = m_dir.Path() + "old/";
    for (const char* game :
         {"FC/1001/sub", "FC/1002", "FC/1003", "SFC/1004", "home/user", "LocalGame/FC/1005", "FC/1006/rom"}) {
        fs::create_directories(old + game);
        ASSERT_TRUE(testsupport::WriteFile(old + game + "/keep", "x"));
    }
    fs::create_directory_symlink(m_outside, old + "FC/1007");
    fs::create_directory_symlink(m_outside, old + "PS");
    fs::create_directories(m_outside + "1008");

    // The library folder changed since the game was installed: its own folder goes, with what is in it.
    fs::create_directory_symlink(m_outside, old + "FC/1001/sub/linked");
    EXPECT_TRUE(DeleteDownloadedGame(old + "FC/1001/", "1001", "FC", m_rom, m_local));
    EXPECT_FALSE(fs::exists(old + "FC/1001"));
    EXPECT_TRUE(fs::is_directory(old + "FC"));
    EXPECT_TRUE(fs::exists(m_outside + "keep.nes"));

    struct Refused {
        std::string folder, gameId, platform;
    };
    for (const Refused& refused : std::initializer_list<Refused>{
             {old + "FC/1002/", "1003", "FC"},           // another game's folder
             {old + "FC/1003/", "1003", "SFC"},          // another platform's
             {old + "FC/1003/", "1003", "fc"},           // short names compare exactly
             {old + "home/user/", "user", "home"},       // no platform is named so
             {old + "FC/1007/", "1007", "FC"},           // a link in the game's place
             {old + "PS/1008/", "1008", "PS"},           // resolves to outside/1008
             {old + "LocalGame/FC/1005/", "1005", "FC"}, // an earlier library's local games
             {old + "FC/1002/../1003/", "1003", "FC"},   // written with ".."
             {old + "FC/./1003/", "1003", "FC"},         // written with "."
             {old, "old", "FC"},                         // the root itself
             {old + "FC/", "FC", "FC"},                  // the platform folder
             {"/FC/1003/", "1003", "FC"},                // nothing above the platform
             {"FC/1003/", "1003", "FC"},                 // relative
             {old + "FC/1003/", "", "FC"},               // a row without its id
             {old + "FC/1003/", "1003", ""}})
        EXPECT_FALSE(DeleteDownloadedGame(refused.folder, refused.gameId, refused.platform, m_rom, m_local))
            << refused.folder << " " << refused.gameId << " " << refused.platform;
    for (const char* kept :
         {"FC/1002/keep", "FC/1003/keep", "SFC/1004/keep", "home/user/keep", "LocalGame/FC/1005/keep"})
        EXPECT_TRUE(fs::exists(old + kept)) << kept;
    EXPECT_TRUE(fs::exists(fs::symlink_status(old + "FC/1007")));
    EXPECT_TRUE(fs::exists(m_outside + "1008"));
    EXPECT_TRUE(fs::exists(m_outside + "keep.nes"));

    // A game folder that holds the library or the local games in use is kept, whatever its shape.
    EXPECT_FALSE(DeleteDownloadedGame(old + "FC/1006/", "1006", "FC", old + "FC/1006/rom/", m_local));
    EXPECT_FALSE(DeleteDownloadedGame(old + "FC/1006/", "1006", "FC", m_rom, old + "FC/1006/rom/"));
    EXPECT_TRUE(fs::exists(old + "FC/1006/rom/keep"));

    // Inside the library in use the earlier rule holds: no platform folder or local game, whatever the row
    // says.
    EXPECT_FALSE(DeleteDownloadedGame(m_rom + "FC/", "FC", "FC", m_rom, m_local));
    EXPECT_FALSE(DeleteDownloadedGame(m_local + "FC/", "FC", "FC", m_rom, m_local));
    EXPECT_TRUE(DeleteDownloadedGame(m_rom + "FC/1001/", "1001", "FC", m_rom, m_local));
    EXPECT_FALSE(fs::exists(m_rom + "FC/1001"));
    EXPECT_TRUE(fs::exists(m_local + "FC/a.nes"));

    // Without a library folder chosen an earlier game still goes from its own folder.
    EXPECT_TRUE(DeleteDownloadedGame(old + "SFC/1004/", "1004", "SFC", "", ""));
    EXPECT_FALSE(fs::exists(old + "SFC/1004"));
}

TEST_F(LibraryFilesTest, LocalGamesOfAnEarlierLibraryFolderGoOnlyFromTheirPlatformFolder)
{
    const std::string old = m_dir.Path() + "old/";
    const std::string local = old + "LocalGame/";
    for (const char* file :
         {"LocalGame/FC/a.nes", "LocalGame/FC/c.NES", "LocalGame/FC/sub/b.nes", "LocalGame/FC/notes.txt",
          "LocalGame/PC/run.exe", "FC/d.nes", "LocalGame/SFC/e.sfc"}) {
        fs::create_directories(fs::path(old + file).parent_path());
        ASSERT_TRUE(testsupport::WriteFile(old + file, "x"));
    }
    fs::create_directories(local + "FC/folder.nes");
    fs::create_symlink(m_outside + "keep.nes", local + "FC/link.nes");
    // A platform folder, and a whole LocalGame folder, linked to where the user keeps other files.
    fs::create_directories(m_outside + "ps");
    ASSERT_TRUE(testsupport::WriteFile(m_outside + "ps/x.bin", "x"));
    fs::create_directory_symlink(m_outside + "ps", local + "PS");
    fs::create_directories(m_outside + "lg/FC");
    ASSERT_TRUE(testsupport::WriteFile(m_outside + "lg/FC/y.nes", "x"));
    fs::create_directories(m_dir.Path() + "linkedlg");
    fs::create_directory_symlink(m_outside + "lg", m_dir.Path() + "linkedlg/LocalGame");

    // The library folder changed since the watcher found the file there: the file goes, its folder stays.
    EXPECT_TRUE(DeleteLocalGame(local + "FC/a.nes", "FC", m_rom, m_local));
    EXPECT_FALSE(fs::exists(local + "FC/a.nes"));
    EXPECT_TRUE(fs::is_directory(local + "FC"));
    // Extensions match without regard to case; an earlier library folder reached through a link still
    // resolves to a game's place.
    EXPECT_TRUE(DeleteLocalGame(local + "FC/c.NES", "FC", m_rom, m_local));
    fs::create_directory_symlink(old, m_dir.Path() + "oldlink");
    EXPECT_TRUE(DeleteLocalGame(m_dir.Path() + "oldlink/LocalGame/SFC/e.sfc", "SFC", m_rom, m_local));
    EXPECT_FALSE(fs::exists(local + "SFC/e.sfc"));
    ASSERT_TRUE(testsupport::WriteFile(local + "FC/c.nes", "x"));

    struct Refused {
        std::string path, platform;
    };
    for (const Refused& refused : std::initializer_list<Refused>{
             {m_outside + "keep.nes", "FC"},                       // dropped from where the user keeps it
             {local + "FC/sub/b.nes", "FC"},                       // a subfolder of the user's own
             {local + "FC/c.nes", "SFC"},                          // another platform's folder
             {local + "FC/c.nes", "fc"},                           // short names compare exactly
             {local + "FC/c.nes", ""},                             // a row without its platform
             {local + "FC/notes.txt", "FC"},                       // no game file of the platform
             {local + "PC/run.exe", "PC"},                         // no folder the watcher scans
             {old + "FC/d.nes", "FC"},                             // not below a LocalGame folder
             {local + "FC/link.nes", "FC"},                        // a link: whose file it is is unknown
             {local + "FC/folder.nes", "FC"},                      // a folder
             {local + "PS/x.bin", "PS"},                           // resolves to outside/ps/x.bin
             {m_dir.Path() + "linkedlg/LocalGame/FC/y.nes", "FC"}, // resolves to outside/lg/FC/y.nes
             {local + "FC/sub/../c.nes", "FC"},                    // written with ".."
             {old + "LocalGame/./FC/c.nes", "FC"},                 // written with "."
             {"/LocalGame/FC/c.nes", "FC"},                        // nothing above LocalGame
             {"old/LocalGame/FC/c.nes", "FC"},                     // relative
             {"", "FC"}})
        EXPECT_FALSE(DeleteLocalGame(refused.path, refused.platform, m_rom, m_local))
            << refused.path << " " << refused.platform;
    for (const char* kept : {"LocalGame/FC/c.nes", "LocalGame/FC/sub/b.nes", "LocalGame/FC/notes.txt",
                             "LocalGame/PC/run.exe", "FC/d.nes", "LocalGame/FC/folder.nes"})
        EXPECT_TRUE(fs::exists(old + kept)) << kept;
    EXPECT_TRUE(fs::exists(fs::symlink_status(local + "FC/link.nes")));
    for (const char* kept : {"keep.nes", "ps/x.bin", "lg/FC/y.nes"})
        EXPECT_TRUE(fs::exists(m_outside + kept)) << kept;

    // A file in the local games in use, even when that folder lies apart from the library folder.
    EXPECT_FALSE(DeleteLocalGame(local + "FC/c.nes", "FC", m_rom, local));
    EXPECT_TRUE(fs::exists(local + "FC/c.nes"));

    // Inside the library in use the earlier rule holds; without a library folder chosen an earlier
    // library's file still goes from its place.
    EXPECT_FALSE(DeleteLocalGame(m_local + "FC", "FC", m_rom, m_local));
    EXPECT_TRUE(DeleteLocalGame(m_local + "FC/a.nes", "FC", m_rom, m_local));
    EXPECT_FALSE(fs::exists(m_local + "FC/a.nes"));
    EXPECT_TRUE(DeleteLocalGame(local + "FC/c.nes", "FC", "", ""));
    EXPECT_FALSE(fs::exists(local + "FC/c.nes"));
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
