// Faults at home rather than on the server: a game store that does not take a row, a disk without
// room. Each ends with the task failed, its reason in the download list and its row kept, never with
// a game shown installed that the next start does not know.

#include "download/DownloadProgress.h"
#include "foundation/AppMessages.h"
#include "foundation/StringConv.h"
#include "tests/download/EngineFixture.h"
#include "tests/download/GbkLocale.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>

using namespace enginetest;
using testsupport::ReadFile;

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

class DownloadHomeFaultTest : public EngineTest {
protected:
    std::string Folder(const std::string& gameId) const { return RomRoot() + "PS/" + gameId + "/"; }

    Entries Serve(const std::string& gameId, unsigned seed)
    {
        Entries entries = {{"game.bin", RandomBytes(200 * 1024, seed)}};
        ServeSingleGame(gameId, entries);
        return entries;
    }

    bool Execute(std::string statement) { return m_store->Submit(kStoreExecute, &statement, false, false); }

    // Waits for the game's failure report; its error code, or -1 when none came.
    int FailureOf(const std::string& gameId)
    {
        int error = -1;
        EXPECT_TRUE(WaitFor([&](const Seen& seen) {
            if (seen.progressKind != 9)
                return false;
            error = seen.errorCode;
            return true;
        })) << gameId;
        EXPECT_TRUE(WaitStatus(gameId, kDisplayPaused)) << gameId;
        return error;
    }

    bool Installed(const std::string& gameId) const
    {
        return std::any_of(m_seen.begin(), m_seen.end(), [&](const Seen& seen) {
            return seen.message == WM_GAME_INSTALLED && seen.gameId == gameId;
        });
    }
};

TEST_F(DownloadHomeFaultTest, RowsTheStoreDoesNotTakeFailTheTaskUntilTheyAreStored)
{
    Entries entries = Serve("60001", 1);
    Serve("60002", 2);
    MakeEngine();
    // The store refuses every new game: the download ends, but the game is not installed.
    ASSERT_TRUE(Execute(
        "create trigger refuse_game before insert on Gameinfo begin select raise(abort, 'full'); end;"));
    m_engine->AddTask(Game("60001"), kOwnerWindow);
    EXPECT_EQ(FailureOf("60001"), kErrorNotStored);
    EXPECT_FALSE(Installed("60001"));
    EXPECT_EQ(StoredGames().count("60001"), 0u);
    EXPECT_EQ(StoredDownloads().count("60001"), 1u) << "the task is still there after a restart";
    EXPECT_TRUE(std::filesystem::exists(Folder("60001") + "60001.zip")) << "the archive stays to finish from";

    // Once the store takes it, a start finishes the game from what is on disk.
    ASSERT_TRUE(Execute("drop trigger refuse_game;"));
    ASSERT_TRUE(m_engine->RequestState("60001", kTaskReady));
    ASSERT_TRUE(WaitStatus("60001", kDisplayInstalled));
    EXPECT_EQ(ReadFile(Folder("60001") + "game.bin"), entries[0].second);
    EXPECT_EQ(StoredGames().count("60001"), 1u);
    EXPECT_EQ(StoredDownloads().count("60001"), 0u);
    EXPECT_EQ(Ranges("/download/games/60001.zip").size(), 1u) << "nothing was downloaded twice";

    // A task whose own row is refused does not start: it would be lost at the next start.
    ASSERT_TRUE(Execute(
        "create trigger refuse_task before insert on DownloadInfo begin select raise(abort, 'full'); end;"));
    m_engine->AddTask(Game("60002"), kOwnerWindow);
    EXPECT_EQ(FailureOf("60002"), kErrorNotStored);
    EXPECT_TRUE(Ranges("/download/games/60002.zip").empty());
    ASSERT_TRUE(Execute("drop trigger refuse_task;"));
    ASSERT_TRUE(m_engine->RequestState("60002", kTaskReady));
    ASSERT_TRUE(WaitStatus("60002", kDisplayInstalled));
    EXPECT_EQ(StoredGames().count("60002"), 1u);
}

TEST_F(DownloadHomeFaultTest, AFullDiskIsSaidAndAGameLargerThanTheFreeSpaceDoesNotStart)
{
    std::atomic<int64_t> free{int64_t{1} << 40};
    m_freeBytes = [&free](const std::string&) { return free.load(); };
    EXPECT_EQ(DownloadErrorText(kErrorDiskFull), Utf8ToOem("磁盘空间不足"));

    // The descriptor needs more than there is: nothing is asked or downloaded.
    Serve("60011", 11);
    Json::Value descriptor;
    descriptor["fileurl"] = "{{origin}}/download/games/60011.zip";
    descriptor["needsize"] = Json::Int64(int64_t{1} << 41);
    ServeDescriptor("60011", descriptor);
    MakeEngine();
    m_engine->AddTask(Game("60011"), kOwnerWindow);
    EXPECT_EQ(FailureOf("60011"), kErrorDiskFull);
    EXPECT_EQ(m_chooser->lastMask, -1);
    EXPECT_TRUE(Ranges("/download/games/60011.zip").empty());
    // With room made, a start asks again and downloads it.
    free = int64_t{1} << 42;
    ASSERT_TRUE(m_engine->RequestState("60011", kTaskReady));
    ASSERT_TRUE(WaitStatus("60011", kDisplayInstalled));

    // Extraction that would not fit fails with the same words, and leaves the archive.
    Serve("60012", 12);
    free = 1000;
    m_engine->AddTask(Game("60012"), kOwnerWindow);
    EXPECT_EQ(FailureOf("60012"), kErrorDiskFull);
    EXPECT_TRUE(std::filesystem::exists(Folder("60012") + "60012.zip"));
    EXPECT_FALSE(std::filesystem::exists(Folder("60012") + "game.bin"));

    // A write that finds the disk full: the game's file is a device that is always full.
    Serve("60013", 13);
    std::filesystem::create_directories(Folder("60013"));
    std::filesystem::create_symlink("/dev/full", Folder("60013") + "60013.zip");
    m_engine->AddTask(Game("60013", "125"), kOwnerWindow);
    EXPECT_EQ(FailureOf("60013"), kErrorDiskFull);
}

// A Chinese library folder under a GBK locale: the program holds its paths in GBK, and the files land
// in the folder the user chose, not in one named by GBK bytes read again as GBK.
class DownloadGbkLocaleTest : public DownloadHomeFaultTest {
protected:
    void SetUp() override
    {
        m_locale = std::make_unique<testsupport::ScopedGbkLocale>();
        if (!m_locale->Active())
            GTEST_SKIP() << "no GBK locale can be made here";
    }
    void TearDown() override
    {
        DownloadHomeFaultTest::TearDown();
        m_locale.reset();
    }

    std::unique_ptr<testsupport::ScopedGbkLocale> m_locale;
};

TEST_F(DownloadGbkLocaleTest, GamesLandInTheChineseLibraryFolder)
{
    const std::string library = m_server.Dir() + "游戏库/"; // as the file system names it
    m_libraryFolder = m_server.Dir() + Utf8ToOem("游戏库") + "/";
    ASSERT_NE(m_libraryFolder, library) << "the program's form of the folder is GBK";
    Entries entries = Serve("60021", 21);
    MakeEngine();
    m_engine->AddTask(Game("60021"), kOwnerWindow);
    ASSERT_TRUE(WaitStatus("60021", kDisplayInstalled));
    EXPECT_EQ(ReadFile(library + "PS/60021/game.bin"), entries[0].second);
    EXPECT_EQ(StoredGames()["60021"].FilePath, m_libraryFolder + "PS/60021/");
    // Nothing was made under another name beside it.
    for (const auto& entry : std::filesystem::directory_iterator(m_server.Dir())) {
        const std::string name = entry.path().filename().string();
        const bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return (c & 0x80) == 0; });
        EXPECT_TRUE(ascii || name == "游戏库") << name;
    }
}

} // namespace
