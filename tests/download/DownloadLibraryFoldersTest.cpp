// Unfinished downloads filed under a library folder the user has since left: a new engine takes them
// back from the remembered folders and finishes them where they began, while rows outside every
// folder are still dropped and a damaged list of folders is never trusted.

#include "foundation/AppMessages.h"
#include "tests/download/EngineFixture.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

using namespace enginetest;
using namespace std::string_literals;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

class DownloadLibraryFoldersTest : public EngineTest {
protected:
    std::string OldRoot() const { return RomRoot(); }
    std::string NewRoot() const { return m_server.Dir() + "library2/"; }
    std::string ListPath() const { return m_server.Dir() + "database/library-folders.lst"; }
    std::string OldFolder(const std::string& gameId) const { return OldRoot() + "PS/" + gameId + "/"; }

    // A task row under the old library folder with a partial file; the engine is then started on the
    // new folder. Returns whether the task came back.
    bool OldTaskComesBack(const std::string& gameId)
    {
        StoreRow(gameId, "PS", OldFolder(gameId));
        std::filesystem::create_directories(OldFolder(gameId));
        EXPECT_TRUE(WriteFile(OldFolder(gameId) + gameId + ".zip", std::string(4096, 'p')));
        m_libraryFolder = NewRoot();
        MakeEngine();
        int status = -1;
        bool back = m_engine->GetDisplayStatus(gameId, status);
        EXPECT_EQ(back, StoredDownloads().count(gameId) == 1) << gameId;
        // A dropped row leaves its files alone.
        EXPECT_EQ(ReadFile(OldFolder(gameId) + gameId + ".zip"), std::string(4096, 'p')) << gameId;
        StopEngine();
        return back;
    }
};

// The program starts on one library folder, the user moves to a second one and downloads there,
// pauses, picks a third and a fourth folder and ends the program; the next run starts on the
// fourth and still has the task, paused at its measured size, and resumes it into the folder it
// began in.
TEST_F(DownloadLibraryFoldersTest, TaskPausedUnderAnEarlierFolderIsBackAfterARestartAndFinishesThere)
{
    const std::string id = "45001";
    const std::string bytes = RandomBytes(2 * 1024 * 1024, 45);
    ServeSingleGame(id, {{"big.bin", bytes}});
    ASSERT_TRUE(Faults(R"([{"path": "/download/games/", "prefix": true, "method": "GET", "rateKiBps": 512}])"));
    const std::string first = m_server.Dir() + "library-first/";
    m_libraryFolder = first;
    MakeEngine();
    m_engine->SetLibraryFolder(OldRoot());
    m_engine->AddTask(Game(id), kOwnerWindow);
    ASSERT_TRUE(WaitFor([](const Seen& seen) { return seen.progressKind == 2 && seen.done > 300 * 1024; }));
    ASSERT_TRUE(m_engine->RequestState(id, kTaskPauseRequested));
    ASSERT_TRUE(WaitStatus(id, kDisplayPaused));

    const std::string middle = m_server.Dir() + "library-mid/";
    m_engine->SetLibraryFolder(middle);
    m_engine->SetLibraryFolder(NewRoot());
    StopEngine();
    const std::string archive = OldFolder(id) + id + ".zip";
    const auto partial = std::filesystem::file_size(archive);
    ASSERT_GT(partial, 0u);
    ASSERT_LT(partial, 2u * 1024 * 1024);

    ASSERT_TRUE(Faults("[]"));
    m_libraryFolder = NewRoot();
    m_seen.clear();
    MakeEngine();
    EXPECT_EQ(m_engine->LibraryFolder(), NewRoot());
    int status = -1;
    ASSERT_TRUE(m_engine->GetDisplayStatus(id, status)) << "the task was dropped";
    EXPECT_EQ(status, kDisplayPaused);
    ASSERT_TRUE(WaitFor([&](const Seen& seen) { return seen.message == WM_DOWNLOAD_ADDED && seen.gameId == id; }));
    ASSERT_TRUE(WaitFor([](const Seen& seen) { return seen.progressKind == 3; }));
    EXPECT_NEAR(m_seen.back().done, static_cast<double>(partial) / 1048576.0, 0.01);
    EXPECT_TRUE(m_engine->FolderInsideLibrary(OldFolder(id)));
    // The folders passed through on the way hold no task: forgotten.
    EXPECT_FALSE(m_engine->FolderInsideLibrary(middle + "PS/" + id + "/"));
    EXPECT_FALSE(m_engine->FolderInsideLibrary(first + "PS/" + id + "/"));

    ASSERT_TRUE(m_engine->RequestState(id, kTaskReady));
    ASSERT_TRUE(WaitStatus(id, kDisplayInstalled));
    EXPECT_EQ(Ranges("/download/games/" + id + ".zip").back(), "bytes=" + std::to_string(partial) + "-");
    EXPECT_EQ(ReadFile(OldFolder(id) + "big.bin"), bytes);
    EXPECT_FALSE(std::filesystem::exists(NewRoot() + "PS/" + id));
    EXPECT_EQ(StoredGames()[id].FilePath, OldFolder(id));
    EXPECT_TRUE(StoredDownloads().empty());

    // Nothing is left under the old folder to finish: the run after forgets it.
    StopEngine();
    MakeEngine();
    EXPECT_FALSE(m_engine->FolderInsideLibrary(OldFolder("45002")));
    EXPECT_TRUE(m_engine->FolderInsideLibrary(NewRoot() + "PS/45002/"));
}

// Rows that no folder holds are dropped as before, even with an earlier folder remembered, and a
// deletion of the task that came back removes its own folder and nothing beside or above it.
TEST_F(DownloadLibraryFoldersTest, CraftedRowsOutsideEveryFolderAreDroppedAndNothingOutsideIsDeleted)
{
    std::filesystem::create_directories(m_server.Dir() + "database");
    ASSERT_TRUE(WriteFile(ListPath(), OldRoot() + "\n"));
    const std::string outside = m_server.Dir() + "elsewhere/";
    std::filesystem::create_directories(outside);
    ASSERT_TRUE(WriteFile(outside + "keep.txt", "keep"));
    std::filesystem::create_directories(OldRoot() + "PS/");
    ASSERT_TRUE(WriteFile(OldRoot() + "PS/sibling.txt", "sibling"));
    ASSERT_TRUE(WriteFile(OldRoot() + "top.txt", "top"));

    StoreRow("45010", "PS", outside);
    StoreRow("45011", "..", OldRoot() + "../");
    StoreRow("45012", "PS", OldRoot());
    StoreRow("45013", "PS", OldRoot() + "PS/../../elsewhere/");
    StoreRow("45014", "PS", "relative/PS/45014/");
    StoreRow("45015", "PS", OldFolder("45015"));
    std::filesystem::create_directories(OldFolder("45015"));
    ASSERT_TRUE(WriteFile(OldFolder("45015") + "45015.zip", "partial"));

    m_libraryFolder = NewRoot();
    MakeEngine();
    DownloadTaskMap rows = StoredDownloads();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows.begin()->first, "45015");
    int status = -1;
    for (const char* id : {"45010", "45011", "45012", "45013", "45014"})
        EXPECT_FALSE(m_engine->GetDisplayStatus(id, status)) << id;
    ASSERT_TRUE(m_engine->GetDisplayStatus("45015", status));

    ASSERT_TRUE(m_engine->RequestState("45015", kTaskDeleteRequested));
    ASSERT_TRUE(WaitStatus("45015", kDisplayNotInstalled));
    EXPECT_FALSE(std::filesystem::exists(OldFolder("45015")));
    EXPECT_EQ(ReadFile(OldRoot() + "PS/sibling.txt"), "sibling");
    EXPECT_EQ(ReadFile(OldRoot() + "top.txt"), "top");
    EXPECT_EQ(ReadFile(outside + "keep.txt"), "keep");
    for (const std::string& folder : {OldRoot(), outside, m_server.Dir(), OldRoot() + "../", std::string("/")})
        EXPECT_FALSE(m_engine->FolderInsideLibrary(folder)) << folder;
}

// The list is the program's own file, but it is read as untrusted: an oversized file, a fifo and
// lines that are no plain absolute folder are ignored, and a good line among bad ones still counts.
TEST_F(DownloadLibraryFoldersTest, DamagedOrOversizedListIsIgnoredSafely)
{
    std::filesystem::create_directories(m_server.Dir() + "database");

    // Too large to be ours, though it starts with the old folder: the old task is dropped as before.
    ASSERT_TRUE(WriteFile(ListPath(), OldRoot() + "\n" + std::string(70 * 1024, '#') + "\n"));
    EXPECT_FALSE(OldTaskComesBack("45020"));
    // The run wrote a small list of its own in its place.
    EXPECT_LT(std::filesystem::file_size(ListPath()), 1024u);

    // A fifo is not waited on.
    std::filesystem::remove(ListPath());
    ASSERT_EQ(::mkfifo(ListPath().c_str(), 0600), 0);
    EXPECT_FALSE(OldTaskComesBack("45021"));

    // Bytes of no list, and lines that would take in far more than a library folder: the file
    // system's root, a relative folder, folders through "." and "..".
    std::filesystem::remove(ListPath());
    const std::string garbage = "\x7f\xff\x00\x01 binary\n"s + "/\nrelative/\n" + OldRoot() + "../\n" +
                                m_server.Dir() + "./\n" + m_server.Dir() + "\r\n";
    // Rows that one of those lines would let in, and whose deletion would reach outside.
    auto storeOutsideRows = [&](const std::string& suffix) {
        StoreRow("45030" + suffix, "PS", m_server.Dir() + "elsewhere/45030" + suffix + "/");
        StoreRow("45031" + suffix, "PS", OldRoot() + "../elsewhere/45031" + suffix + "/");
        StoreRow("45032" + suffix, "PS", m_server.Dir() + "./elsewhere/45032" + suffix + "/");
    };
    auto outsideRowsLeft = [&] {
        size_t left = 0;
        for (const auto& [id, row] : StoredDownloads())
            left += id.rfind("4503", 0) == 0 ? 1 : 0;
        return left;
    };
    ASSERT_TRUE(WriteFile(ListPath(), garbage));
    storeOutsideRows("0");
    EXPECT_FALSE(OldTaskComesBack("45022"));
    EXPECT_EQ(outsideRowsLeft(), 0u);

    // The same bad lines around one good one: the good one still counts, the rest still do not.
    ASSERT_TRUE(WriteFile(ListPath(), garbage + OldRoot() + "\n" + m_server.Dir() + "\r\n"));
    storeOutsideRows("1");
    EXPECT_TRUE(OldTaskComesBack("45024"));
    EXPECT_EQ(outsideRowsLeft(), 0u);
}

// A folder named with a line break cannot be written as one line; it is left out of the list
// rather than read back as two folders, the second of them one the user never chose.
TEST_F(DownloadLibraryFoldersTest, AFolderWithALineBreakIsNotRememberedAsTwo)
{
    MakeEngine();
    m_engine->SetLibraryFolder(m_server.Dir() + "games\n" + m_server.Dir() + "x/");
    StopEngine();
    StoreRow("45040", "PS", m_server.Dir() + "x/PS/45040/");
    m_libraryFolder = NewRoot();
    MakeEngine();
    int status = -1;
    EXPECT_FALSE(m_engine->GetDisplayStatus("45040", status));
    EXPECT_TRUE(StoredDownloads().empty());
    EXPECT_FALSE(m_engine->FolderInsideLibrary(m_server.Dir() + "x/PS/45040/"));
    EXPECT_TRUE(m_engine->FolderInsideLibrary(NewRoot() + "PS/45040/"));
}

} // namespace
