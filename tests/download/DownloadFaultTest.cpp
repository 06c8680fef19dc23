// Faults on the download server: every run ends with the game's exact bytes or failed with its
// error in the download window, never hanging and never installed with wrong bytes.

#include "download/DownloadProgress.h"
#include "foundation/AppMessages.h"
#include "tests/download/EngineFixture.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>

using namespace enginetest;
using testsupport::ReadFile;

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

class DownloadFaultTest : public EngineTest {
protected:
    std::string Folder(const std::string& gameId) const { return RomRoot() + "PS/" + gameId + "/"; }
    static std::string Path(const std::string& gameId) { return "/download/games/" + gameId + ".zip"; }

    Entries Serve(const std::string& gameId, unsigned seed = 7)
    {
        Entries entries = {{"game.bin", RandomBytes(600 * 1024, seed)},
                           {"sub/extra.dat", RandomBytes(1234, seed + 1)}};
        ServeSingleGame(gameId, entries);
        return entries;
    }

    // Waits until the game is installed or failed. True for installed.
    bool Outcome(const std::string& gameId, int& errorCode, int timeoutMs = 30000)
    {
        errorCode = -1;
        bool ended = WaitFor(
            [&](const Seen& seen) {
                if (seen.progressKind == 9) {
                    errorCode = seen.errorCode;
                    return true;
                }
                return seen.message == WM_DOWNLOAD_STATUS && seen.gameId == gameId &&
                       seen.wParam == static_cast<platform::WPARAM>(kDisplayInstalled);
            },
            timeoutMs);
        EXPECT_TRUE(ended) << "the task neither finished nor failed";
        return ended && errorCode == -1;
    }

    void ExpectExact(const std::string& gameId, const Entries& entries)
    {
        for (const auto& [name, data] : entries)
            EXPECT_EQ(ReadFile(Folder(gameId) + name), data) << name;
        EXPECT_EQ(StoredGames().count(gameId), 1u);
        EXPECT_EQ(StoredDownloads().count(gameId), 0u);
    }

    void ExpectFailed(const std::string& gameId)
    {
        EXPECT_EQ(StoredGames().count(gameId), 0u);
        EXPECT_EQ(StoredDownloads().count(gameId), 1u) << "a failed task stays to be started again";
        ASSERT_TRUE(WaitStatus(gameId, kDisplayPaused));
    }
};

TEST_F(DownloadFaultTest, ServerErrorsFailWithTheirStatusAndText)
{
    Serve("50001");
    Serve("50002");
    Serve("50003");
    ASSERT_TRUE(Faults(R"([{"path": "/download/games/50001.zip", "method": "GET", "status": 500},
                           {"path": "/download/games/50002.zip", "method": "GET", "status": 404},
                           {"path": "/download/games/50003.zip", "method": "GET", "redirectLoop": true}])"));
    MakeEngine();
    m_engine->AddTask(Game("50001"), kOwnerWindow);
    int error = 0;
    ASSERT_FALSE(Outcome("50001", error));
    EXPECT_EQ(error, 500);
    ExpectFailed("50001");
    // The error page never lands in the file.
    EXPECT_LE(std::filesystem::file_size(Folder("50001") + "50001.zip"), 0u);

    m_engine->AddTask(Game("50002"), kOwnerWindow);
    ASSERT_FALSE(Outcome("50002", error));
    EXPECT_EQ(error, 404);
    EXPECT_EQ(TransferErrorText(error), "未知错误");
    ExpectFailed("50002");

    m_engine->AddTask(Game("50003"), kOwnerWindow);
    ASSERT_FALSE(Outcome("50003", error));
    EXPECT_EQ(error, CURLE_TOO_MANY_REDIRECTS);
    ExpectFailed("50003");

    // A failed task can be started again and then finishes.
    ASSERT_TRUE(Faults("[]"));
    ASSERT_TRUE(m_engine->RequestState("50002", kTaskReady));
    ASSERT_TRUE(WaitStatus("50002", kDisplayInstalled));
}

TEST_F(DownloadFaultTest, CutAndStalledSlicesResumeToTheExactBytes)
{
    Entries cut = Serve("50010", 10);
    Entries stalled = Serve("50011", 20);
    ASSERT_TRUE(
        Faults(R"([{"path": "/download/games/50010.zip", "method": "GET", "cutAfter": 100000, "times": 2},
                           {"path": "/download/games/50011.zip", "method": "GET", "stallAfter": 150000, "times": 1}])"));
    MakeEngine(1000);
    m_engine->AddTask(Game("50010"), kOwnerWindow);
    m_engine->AddTask(Game("50011"), kOwnerWindow);
    int error = 0;
    ASSERT_TRUE(WaitStatusAll({"50010", "50011"}, kDisplayInstalled));
    (void)error;
    ExpectExact("50010", cut);
    ExpectExact("50011", stalled);
    std::vector<std::string> ranges = Ranges(Path("50010"));
    ASSERT_EQ(ranges.size(), 3u);
    EXPECT_EQ(ranges[1], "bytes=100000-");
    EXPECT_EQ(ranges[2], "bytes=200000-");
    EXPECT_EQ(Ranges(Path("50011")).back(), "bytes=150000-");
}

TEST_F(DownloadFaultTest, RangeRefusedOnceAsksTheLengthAgainAndFinishes)
{
    Entries entries = Serve("50020");
    ASSERT_TRUE(
        Faults(R"([{"path": "/download/games/50020.zip", "method": "GET", "cutAfter": 100000, "times": 1},
                           {"path": "/download/games/50020.zip", "method": "GET", "status": 416, "times": 1}])"));
    MakeEngine();
    m_engine->AddTask(Game("50020"), kOwnerWindow);
    int error = 0;
    ASSERT_TRUE(Outcome("50020", error)) << error;
    ExpectExact("50020", entries);
}

TEST_F(DownloadFaultTest, EndlessServersFailInBoundedTime)
{
    Serve("50031");
    Serve("50032");
    ASSERT_TRUE(Faults(R"([{"path": "/download/games/50031.zip", "method": "GET", "stallAfter": 0},
                           {"path": "/download/games/50032.zip", "claimLength": 900000}])"));
    MakeEngine(200);
    int error = 0;

    // A GET that never sends: slices time out without a byte until the bound.
    m_engine->AddTask(Game("50031"), kOwnerWindow);
    ASSERT_FALSE(Outcome("50031", error));
    EXPECT_EQ(error, CURLE_OPERATION_TIMEDOUT);
    EXPECT_EQ(TransferErrorText(error), "CURLE_OPERATION_TIMEDOUT");
    ExpectFailed("50031");

    // A length claimed above the file: the rest never comes.
    m_engine->AddTask(Game("50032"), kOwnerWindow);
    ASSERT_FALSE(Outcome("50032", error));
    ExpectFailed("50032");
}

TEST_F(DownloadFaultTest, AnswersPastTheirLengthEndAtItAndFail)
{
    Entries entries = Serve("50080", 80);
    Serve("50081", 81);
    // A volume game whose second volume never ends: the first volume's bytes stay, the second's
    // stop at its end.
    std::string volumes = MakeArchive({{"game.bin", RandomBytes(300 * 1024, 82)}});
    const size_t half = volumes.size() / 2;
    ServeFile("volumes/50082.z01", volumes.substr(0, half));
    ServeFile("volumes/50082.z02", volumes.substr(half));
    Json::Value descriptor;
    descriptor["volume"] = "1";
    descriptor["volumeurl"] =
        "{{origin}}/download/volumes/50082.z01|1,{{origin}}/download/volumes/50082.z02|2";
    ServeDescriptor("50082", descriptor);
    ASSERT_TRUE(Faults(R"([{"path": "/download/games/50080.zip", "method": "GET", "extraBytes": 300000},
                           {"path": "/download/games/50081.zip", "method": "GET", "endlessBody": true},
                           {"path": "/download/volumes/50082.z02", "method": "GET", "endlessBody": true}])"));
    MakeEngine(2000);
    int error = 0;
    for (const char* gameId : {"50080", "50081", "50082"}) {
        SCOPED_TRACE(gameId);
        m_engine->AddTask(Game(gameId), kOwnerWindow);
        ASSERT_FALSE(Outcome(gameId, error));
        EXPECT_EQ(error, kErrorBodyTooLong);
        ExpectFailed(gameId);
    }
    // The file's bytes and none past them.
    auto expectFile = [&](const std::string& gameId, const std::string& bytes) {
        const std::string path = Folder(gameId) + gameId + ".zip";
        std::error_code error;
        ASSERT_EQ(std::filesystem::file_size(path, error), bytes.size()) << gameId;
        EXPECT_TRUE(ReadFile(path) == bytes) << gameId;
    };
    expectFile("50080", ReadFile(m_server.DataDir() + "download/games/50080.zip"));
    expectFile("50081", ReadFile(m_server.DataDir() + "download/games/50081.zip"));
    expectFile("50082", volumes);
    EXPECT_FALSE(DownloadErrorText(kErrorBodyTooLong).empty());

    // What was kept is the file itself: started again against a sound server, it is installed.
    ASSERT_TRUE(Faults("[]"));
    ASSERT_TRUE(m_engine->RequestState("50080", kTaskReady));
    ASSERT_TRUE(WaitStatus("50080", kDisplayInstalled));
    ExpectExact("50080", entries);
}

TEST_F(DownloadFaultTest, LengthClaimedBelowTheFileIsNeverInstalled)
{
    Serve("50040");
    ASSERT_TRUE(Faults(R"([{"path": "/download/games/50040.zip", "claimLength": 300000}])"));
    MakeEngine();
    m_engine->AddTask(Game("50040"), kOwnerWindow);
    int error = 0;
    ASSERT_FALSE(Outcome("50040", error));
    EXPECT_EQ(error, kErrorExtraction);
    ExpectFailed("50040");
}

TEST_F(DownloadFaultTest, FileChangedBetweenSlicesStartsAgainInsteadOfSplicing)
{
    Serve("50050", 30);
    ASSERT_TRUE(
        Faults(R"([{"path": "/download/games/50050.zip", "method": "GET", "stallAfter": 200000, "times": 1},
                           {"path": "/download/games/50051.zip", "method": "GET", "stallAfter": 200000, "times": 1}])"));
    MakeEngine(1500);
    m_engine->AddTask(Game("50050"), kOwnerWindow);
    ASSERT_TRUE(WaitFor([](const Seen& seen) { return seen.progressKind == 2 && seen.done >= 200000; }));
    // While the first slice stalls the server's file grows into another version.
    Entries grown = {{"game.bin", RandomBytes(900 * 1024, 31)}, {"other.dat", RandomBytes(999, 32)}};
    ServeFile("games/50050.zip", MakeArchive(grown));
    ASSERT_TRUE(WaitStatus("50050", kDisplayInstalled));
    ExpectExact("50050", grown);
    EXPECT_EQ(Ranges(Path("50050")).back(), "") << "the new version came whole";

    // And shrinks.
    Serve("50051", 40);
    m_engine->AddTask(Game("50051"), kOwnerWindow);
    ASSERT_TRUE(WaitFor([](const Seen& seen) { return seen.progressKind == 2 && seen.done >= 200000; }));
    Entries shrunk = {{"small.bin", RandomBytes(120 * 1024, 41)}};
    ServeFile("games/50051.zip", MakeArchive(shrunk));
    ASSERT_TRUE(WaitStatus("50051", kDisplayInstalled));
    ExpectExact("50051", shrunk);
    EXPECT_FALSE(std::filesystem::exists(Folder("50051") + "game.bin"));
}

TEST_F(DownloadFaultTest, PauseEndsAStalledTransferAtOnce)
{
    Serve("50060");
    // The stall and the slice both outlast every wait of the test: only the pause can end them.
    ASSERT_TRUE(Faults(
        R"([{"path": "/download/games/50060.zip", "method": "GET", "stallAfter": 100000, "stallMs": 3600000}])"));
    MakeEngine(3600000);
    m_engine->AddTask(Game("50060"), kOwnerWindow);
    ASSERT_TRUE(WaitFor([](const Seen& seen) { return seen.progressKind == 2 && seen.done >= 100000; }));
    ASSERT_TRUE(m_engine->RequestState("50060", kTaskPauseRequested));
    ASSERT_TRUE(WaitStatus("50060", kDisplayPaused));

    // Shutting down with a stalled transfer does not wait out the slice either.
    ASSERT_TRUE(m_engine->RequestState("50060", kTaskReady));
    ASSERT_TRUE(WaitStatus("50060", kDisplayDownloading));
    ASSERT_TRUE(WaitFor([](const Seen& seen) { return seen.progressKind == 2 && seen.done >= 200000; }));
    auto stopped = std::async(std::launch::async, [this] { StopEngine(); });
    EXPECT_EQ(stopped.wait_for(std::chrono::seconds(60)), std::future_status::ready)
        << "the shutdown waits out the stalled slice";
}

TEST_F(DownloadFaultTest, ProgressIsThrottledAndEndsWithTheLastCount)
{
    Entries entries = {{"big.bin", RandomBytes(24 * 1024 * 1024, 50)}};
    std::string archive = MakeArchive(entries);
    ServeFile("games/50070.zip", archive);
    Json::Value descriptor;
    descriptor["fileurl"] = "{{origin}}/download/games/50070.zip";
    ServeDescriptor("50070", descriptor);
    ASSERT_TRUE(Faults(R"([{"path": "/download/games/50070.zip", "method": "GET", "rateKiBps": 24576}])"));
    MakeEngine();
    auto started = std::chrono::steady_clock::now();
    m_engine->AddTask(Game("50070", "125"), kOwnerWindow);
    ASSERT_TRUE(WaitStatus("50070", kDisplayInstalled));
    auto elapsedMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    int reports = 0;
    double lastDone = 0;
    for (const Seen& seen : m_seen)
        if (seen.progressKind == 2) {
            ++reports;
            lastDone = seen.done;
        }
    EXPECT_GT(reports, 3);
    EXPECT_LE(reports, elapsedMs.count() / 100 + 3);
    EXPECT_EQ(lastDone, static_cast<double>(archive.size())) << "the last count is always reported";
}

} // namespace
