// The engine's scheduling with real transfers: four slots, waiting tasks that start by themselves,
// pause and resume (also while extracting), deletion, and a new engine that takes the stored tasks
// back and resumes them where their files end; a library folder changed while the engine runs.

#include "download/DownloadProgress.h"
#include "foundation/AppMessages.h"
#include "tests/download/EngineFixture.h"
#include "tests/download/ZipTestArchive.h"
#include "tests/support/TempDir.h"

#include <algorithm>
#include <chrono>
#include <filesystem>

using namespace enginetest;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

class DownloadSchedulingTest : public EngineTest {
protected:
    std::string Folder(const std::string& gameId) const { return RomRoot() + "PS/" + gameId + "/"; }

    int64_t PartialSize(const std::string& gameId)
    {
        std::error_code error;
        auto size = std::filesystem::file_size(Folder(gameId) + gameId + ".zip", error);
        return error ? -1 : static_cast<int64_t>(size);
    }

    // Starts a 2 MiB game served at 512 KiB/s and pauses it once some of it is on disk. Returns the
    // archive.
    std::string StartAndPause(const std::string& gameId)
    {
        std::string archive = ServeSingleGame(gameId, {{"big.bin", RandomBytes(2 * 1024 * 1024, 42)}});
        EXPECT_TRUE(
            Faults(R"([{"path": "/download/games/", "prefix": true, "method": "GET", "rateKiBps": 512}])"));
        if (!m_engine)
            MakeEngine();
        m_engine->AddTask(Game(gameId), kOwnerWindow);
        EXPECT_TRUE(
            WaitFor([](const Seen& seen) { return seen.progressKind == 2 && seen.done > 300 * 1024; }));
        EXPECT_TRUE(m_engine->RequestState(gameId, kTaskPauseRequested));
        EXPECT_TRUE(WaitStatus(gameId, kDisplayPaused));
        // The whole archive fits in one slice: a pause that waited out the slice finds it whole.
        EXPECT_LT(PartialSize(gameId), static_cast<int64_t>(archive.size())) << "pause waited out a slice";
        EXPECT_TRUE(WaitFor([](const Seen& seen) { return seen.message == WM_DOWNLOAD_COUNTS; }));
        return archive;
    }
};

TEST_F(DownloadSchedulingTest, SixTasksRunFourAtOnceAndTheRestStartByThemselves)
{
    std::vector<std::string> ids = {"40001", "40002", "40003", "40004", "40005", "40006"};
    std::map<std::string, std::string> bigFiles;
    for (size_t i = 0; i < ids.size(); ++i) {
        bigFiles[ids[i]] = RandomBytes(400 * 1024, 100 + static_cast<unsigned>(i));
        ServeSingleGame(ids[i], {{"big.bin", bigFiles[ids[i]]}});
    }
    ASSERT_TRUE(
        Faults(R"([{"path": "/download/games/", "prefix": true, "method": "GET", "rateKiBps": 400}])"));
    m_server.Server().ResetStats();
    MakeEngine();
    for (const auto& id : ids)
        m_engine->AddTask(Game(id), kOwnerWindow);

    int waiting = 0;
    ASSERT_TRUE(WaitFor([&](const Seen& seen) {
        if (seen.message == WM_DOWNLOAD_PROGRESS && seen.progressKind == 4)
            ++waiting;
        return waiting == 2;
    }));
    // Games finish in any order: a later one may be installed while an earlier one still extracts.
    ASSERT_TRUE(WaitStatusAll(ids, kDisplayInstalled, 30000));
    EXPECT_EQ(m_server.Server().PeakDownloads(), DownloadManager::kSlotLimit);
    int waitedGames = 0;
    for (const auto& id : ids) {
        std::vector<int> statuses = Statuses(id);
        bool waited = std::find(statuses.begin(), statuses.end(), kDisplayWaiting) != statuses.end();
        waitedGames += waited ? 1 : 0;
        if (waited) { // a waiting game started later by itself
            EXPECT_NE(std::find(statuses.begin(), statuses.end(), kDisplayDownloading), statuses.end()) << id;
        }
        EXPECT_EQ(ReadFile(Folder(id) + "big.bin"), bigFiles[id]) << id;
    }
    EXPECT_EQ(waitedGames, 2);
    EXPECT_TRUE(StoredDownloads().empty());
    EXPECT_EQ(StoredGames().size(), ids.size());

    // The counters are there over HTTP too, and DELETE starts a new peak.
    CurlEasyPtr handle = NewCurlEasy();
    std::string body;
    curl_easy_setopt(handle.get(), CURLOPT_URL, (Origin() + "/__stats").c_str());
    curl_easy_setopt(handle.get(), CURLOPT_WRITEFUNCTION, StringWriteSink);
    curl_easy_setopt(handle.get(), CURLOPT_WRITEDATA, &body);
    ASSERT_EQ(NetPerform(handle.get(), nullptr), CURLE_OK);
    EXPECT_NE(body.find("\"peakDownloads\" : 4"), std::string::npos) << body;
    curl_easy_setopt(handle.get(), CURLOPT_CUSTOMREQUEST, "DELETE");
    body.clear();
    ASSERT_EQ(NetPerform(handle.get(), nullptr), CURLE_OK);
    EXPECT_EQ(m_server.Server().PeakDownloads(), 0);
}

TEST_F(DownloadSchedulingTest, PausedTaskResumesFromItsFileSize)
{
    std::string archive = StartAndPause("40010");
    int64_t paused = PartialSize("40010");
    ASSERT_GT(paused, 0);
    ASSERT_LT(paused, static_cast<int64_t>(archive.size()));
    int status = -1;
    ASSERT_TRUE(m_engine->GetDisplayStatus("40010", status));
    EXPECT_EQ(status, kDisplayPaused);
    EXPECT_EQ(m_engine->CountPaused({"40010"}), 1);
    EXPECT_EQ(m_engine->CountActive({"40010"}), 0);
    EXPECT_EQ(m_engine->CountRunningWorkers(), 0);
    auto report =
        std::find_if(m_seen.rbegin(), m_seen.rend(), [](const Seen& seen) { return seen.progressKind == 3; });
    ASSERT_NE(report, m_seen.rend());
    EXPECT_NEAR(report->done, paused / 1048576.0, 0.01);

    ASSERT_TRUE(Faults("[]"));
    ASSERT_TRUE(m_engine->RequestState("40010", kTaskReady));
    ASSERT_TRUE(WaitStatus("40010", kDisplayInstalled));
    std::vector<std::string> ranges = Ranges("/download/games/40010.zip");
    ASSERT_GE(ranges.size(), 2u);
    EXPECT_EQ(ranges.back(), "bytes=" + std::to_string(paused) + "-");
    EXPECT_EQ(ReadFile(Folder("40010") + "big.bin"), RandomBytes(2 * 1024 * 1024, 42));
}

TEST_F(DownloadSchedulingTest, DeletingAPausedTaskRemovesItsRowFolderAndItem)
{
    StartAndPause("40020");
    ASSERT_EQ(StoredDownloads().count("40020"), 1u);
    ASSERT_TRUE(std::filesystem::exists(Folder("40020")));
    ASSERT_TRUE(m_engine->RequestState("40020", kTaskDeleteRequested));
    ASSERT_TRUE(WaitStatus("40020", kDisplayNotInstalled));
    EXPECT_FALSE(std::filesystem::exists(Folder("40020")));
    EXPECT_TRUE(std::filesystem::exists(RomRoot() + "PS/")) << "only the game's own folder goes";
    EXPECT_EQ(StoredDownloads().count("40020"), 0u);
    int status = -1;
    EXPECT_FALSE(m_engine->GetDisplayStatus("40020", status));
    EXPECT_TRUE(std::any_of(m_seen.begin(), m_seen.end(),
                            [](const Seen& seen) { return seen.message == WM_DOWNLOAD_REMOVED; }));
    // Requests for a task that is gone are refused.
    EXPECT_FALSE(m_engine->RequestState("40020", kTaskReady));

    // A task whose folder is a symbolic link: the link goes, what it points at stays.
    const std::string target = m_server.Dir() + "linked/";
    std::filesystem::create_directories(target);
    ASSERT_TRUE(WriteFile(target + "keep.bin", "keep"));
    std::filesystem::create_directory_symlink(target, RomRoot() + "PS/40021");
    StoreRow("40021", "PS", Folder("40021"));
    StopEngine();
    MakeEngine();
    ASSERT_TRUE(WaitStatus("40021", kDisplayPaused));
    ASSERT_TRUE(m_engine->RequestState("40021", kTaskDeleteRequested));
    ASSERT_TRUE(WaitStatus("40021", kDisplayNotInstalled));
    std::error_code error;
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(RomRoot() + "PS/40021", error)));
    EXPECT_EQ(ReadFile(target + "keep.bin"), "keep");
}

TEST_F(DownloadSchedulingTest, NewEngineTakesTheTasksBackAndResumesWithARange)
{
    StartAndPause("40030");
    int64_t paused = PartialSize("40030");
    ASSERT_GT(paused, 0);
    StopEngine();
    m_seen.clear();
    ASSERT_TRUE(Faults("[]"));

    MakeEngine();
    ASSERT_TRUE(WaitFor(
        [](const Seen& seen) { return seen.message == WM_DOWNLOAD_ADDED && seen.gameId == "40030"; }));
    int status = -1;
    ASSERT_TRUE(m_engine->GetDisplayStatus("40030", status));
    EXPECT_EQ(status, kDisplayPaused);
    // The list's row and the game's tiles hear that it rests paused, with what its file holds.
    ASSERT_TRUE(WaitFor([](const Seen& seen) { return seen.progressKind == 3; }));
    EXPECT_EQ(m_seen.back().hwnd, kListWindow);
    EXPECT_NEAR(m_seen.back().done, paused / 1048576.0, 0.01);
    EXPECT_DOUBLE_EQ(m_seen.back().total, 1.0);
    ASSERT_TRUE(WaitStatus("40030", kDisplayPaused));
    ASSERT_TRUE(m_engine->RequestState("40030", kTaskReady));
    ASSERT_TRUE(WaitStatus("40030", kDisplayInstalled));
    EXPECT_EQ(Ranges("/download/games/40030.zip").back(), "bytes=" + std::to_string(paused) + "-");
    EXPECT_EQ(ReadFile(Folder("40030") + "big.bin"), RandomBytes(2 * 1024 * 1024, 42));
}

TEST_F(DownloadSchedulingTest, PausingDuringExtractionHoldsTheExtractor)
{
    testsupport::TempDir dir;
    ASSERT_TRUE(ziptest::WriteZeroArchive(dir.Path() + "zero.zip", "zero.bin", 1024ll * 1024 * 1024));
    ServeFile("games/40040.zip", ReadFile(dir.Path() + "zero.zip"));
    Json::Value descriptor;
    descriptor["fileurl"] = "{{origin}}/download/games/40040.zip";
    ServeDescriptor("40040", descriptor);
    MakeEngine();
    m_engine->AddTask(Game("40040"), kOwnerWindow);

    ASSERT_TRUE(WaitStatus("40040", kDisplayExtracting));
    ASSERT_TRUE(WaitFor([](const Seen& seen) { return seen.progressKind == 5 && seen.done > 0; }));
    EXPECT_EQ(m_seen.back().total, 1024.0 * 1024 * 1024);
    ASSERT_TRUE(m_engine->RequestState("40040", kTaskPauseRequested));
    ASSERT_TRUE(WaitStatus("40040", kDisplayExtractionPaused));
    EXPECT_EQ(m_engine->CountPaused({"40040"}), 1);
    EXPECT_EQ(m_engine->CountActive({"40040"}), 0);
    EXPECT_EQ(m_engine->CountRunningWorkers(), 1) << "the worker rests, it does not end";
    auto report =
        std::find_if(m_seen.rbegin(), m_seen.rend(), [](const Seen& seen) { return seen.progressKind == 6; });
    ASSERT_NE(report, m_seen.rend());
    EXPECT_EQ(report->total, 1024.0 * 1024 * 1024);
    EXPECT_GT(report->done, 0.0);

    ASSERT_TRUE(m_engine->RequestState("40040", kTaskReady));
    ASSERT_TRUE(WaitStatus("40040", kDisplayExtracting));
    ASSERT_TRUE(WaitStatus("40040", kDisplayInstalled, 60000));
    EXPECT_EQ(std::filesystem::file_size(Folder("40040") + "zero.bin"), 1024ull * 1024 * 1024);
}

TEST_F(DownloadSchedulingTest, StartDropsRowsOfInstalledGamesAndRowsOutsideTheLibrary)
{
    // Finished before a crash: the library row is there, the download row and archive are left over.
    StoreRow("40050", "PS", Folder("40050"));
    GameinfoRecord finished;
    finished.GameId = "40050";
    ASSERT_TRUE(m_store->Submit(kStoreAddGameinfo, &finished, false, false));
    std::filesystem::create_directories(Folder("40050"));
    ASSERT_TRUE(WriteFile(Folder("40050") + "40050.zip", "archive"));
    ASSERT_TRUE(WriteFile(Folder("40050") + "game.bin", "game"));
    // Folders a server or an edited file could point anywhere.
    std::string outside = m_server.Dir() + "elsewhere/";
    std::filesystem::create_directories(outside);
    ASSERT_TRUE(WriteFile(outside + "keep.txt", "keep"));
    StoreRow("40051", "PS", outside);
    StoreRow("40052", "..", RomRoot() + "../");
    StoreRow("40053", "PS", RomRoot());
    // A partial download that comes back.
    StoreRow("40054", "PS", Folder("40054"));
    std::filesystem::create_directories(Folder("40054"));
    ASSERT_TRUE(WriteFile(Folder("40054") + "40054.zip", std::string(1048576 + 524288, 'x')));

    MakeEngine();
    ASSERT_TRUE(WaitFor([](const Seen& seen) { return seen.message == WM_DOWNLOAD_ADDED; }));
    EXPECT_EQ(m_seen.back().gameId, "40054");
    EXPECT_FALSE(WaitFor([](const Seen& seen) { return seen.message == WM_DOWNLOAD_ADDED; }, 300));
    DownloadTaskMap rows = StoredDownloads();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows.begin()->first, "40054");
    EXPECT_FALSE(std::filesystem::exists(Folder("40050") + "40050.zip"));
    EXPECT_EQ(ReadFile(Folder("40050") + "game.bin"), "game");
    EXPECT_EQ(ReadFile(outside + "keep.txt"), "keep");
    int status = -1;
    EXPECT_TRUE(m_engine->GetDisplayStatus("40054", status));
    EXPECT_EQ(status, kDisplayPaused);
    for (const char* id : {"40050", "40051", "40052", "40053"})
        EXPECT_FALSE(m_engine->GetDisplayStatus(id, status)) << id;
}

// The user picks another library folder while the engine runs: new games go there, a task filed
// under the old folder still deletes its own folder, and nothing outside the two is ever taken for
// a task's folder.
TEST_F(DownloadSchedulingTest, ANewLibraryFolderTakesNewTasksWhileOldTasksKeepTheirs)
{
    const std::string oldRoot = RomRoot();
    const std::string newRoot = m_server.Dir() + "library2/";
    StartAndPause("40060");
    ASSERT_TRUE(std::filesystem::exists(Folder("40060")));

    m_engine->SetLibraryFolder(m_server.Dir() + "library2"); // as chosen, without the separator
    EXPECT_EQ(m_engine->LibraryFolder(), newRoot);
    m_engine->SetLibraryFolder(""); // no folder is no change
    EXPECT_EQ(m_engine->LibraryFolder(), newRoot);

    ASSERT_TRUE(Faults("[]"));
    ServeSingleGame("40061", {{"small.bin", RandomBytes(64 * 1024, 61)}});
    m_engine->AddTask(Game("40061"), kOwnerWindow);
    ASSERT_TRUE(WaitStatus("40061", kDisplayInstalled));
    EXPECT_EQ(ReadFile(newRoot + "PS/40061/small.bin"), RandomBytes(64 * 1024, 61));
    EXPECT_FALSE(std::filesystem::exists(oldRoot + "PS/40061"));
    EXPECT_EQ(StoredGames()["40061"].FilePath, newRoot + "PS/40061/");

    // The task that began under the old folder keeps it: resumed there, and deleted from there.
    DownloadTaskMap rows = StoredDownloads();
    EXPECT_EQ(rows["40060"].FilePath, Folder("40060"));
    ASSERT_TRUE(m_engine->RequestState("40060", kTaskDeleteRequested));
    ASSERT_TRUE(WaitStatus("40060", kDisplayNotInstalled));
    EXPECT_FALSE(std::filesystem::exists(Folder("40060")));
    EXPECT_TRUE(std::filesystem::exists(oldRoot + "PS/"));
    EXPECT_EQ(StoredDownloads().count("40060"), 0u);

    // Folders a deletion may remove: strictly inside either library folder, nowhere else.
    EXPECT_TRUE(m_engine->FolderInsideLibrary(oldRoot + "PS/1/"));
    EXPECT_TRUE(m_engine->FolderInsideLibrary(newRoot + "PS/1"));
    for (const std::string& folder :
         {oldRoot, newRoot, m_server.Dir(), m_server.Dir() + "elsewhere/", oldRoot + "../elsewhere/",
          newRoot + "PS/../../", std::string("/"), std::string()})
        EXPECT_FALSE(m_engine->FolderInsideLibrary(folder)) << folder;
}

// A folder given before the start is the one the engine starts with.
TEST(DownloadLibraryFolderTest, AFolderSetBeforeStartIsTheOneUsed)
{
    testsupport::TempDir dir;
    DownloadEngineOptions options;
    options.romDir = dir.Path() + "first/";
    options.pictureFolder = dir.Path() + "pictures/";
    options.libraryFoldersFile = dir.Path() + "library-folders.lst";
    DownloadManager engine(options);
    EXPECT_EQ(engine.LibraryFolder(), "");
    engine.SetLibraryFolder(dir.Path() + "chosen/");
    engine.Start(nullptr, nullptr);
    EXPECT_EQ(engine.LibraryFolder(), dir.Path() + "chosen/");
    EXPECT_TRUE(engine.FolderInsideLibrary(dir.Path() + "chosen/PS/1/"));
    EXPECT_FALSE(engine.FolderInsideLibrary(dir.Path() + "first/PS/1/"));
    engine.Shutdown();
}

} // namespace
