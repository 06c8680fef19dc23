// The server's MD5 of an archive is met by the bytes that end up in the file, however they got
// there: across cut slices, after the file was started again from zero, and across a stop and a new
// engine, where the bytes already on disk count as they are on disk.

#include "download/DownloadProgress.h"
#include "foundation/AppMessages.h"
#include "tests/download/EngineFixture.h"

#include <filesystem>
#include <fstream>

using namespace enginetest;
using testsupport::ReadFile;

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

class DownloadDigestTest : public EngineTest {
protected:
    std::string Folder(const std::string& gameId) const { return RomRoot() + "PS/" + gameId + "/"; }
    static std::string Path(const std::string& gameId) { return "/download/games/" + gameId + ".zip"; }

    // Serves the archive of `entries` with a descriptor that names `digestOf`'s MD5 (the archive's
    // own when empty).
    std::string ServeWithDigest(const std::string& gameId, const Entries& entries,
                                const std::string& digestOf = {})
    {
        std::string archive = MakeArchive(entries);
        ServeFile("games/" + gameId + ".zip", archive);
        Json::Value descriptor;
        descriptor["fileurl"] = "{{origin}}/download/games/" + gameId + ".zip";
        descriptor["filemd5"] = Md5Hex(digestOf.empty() ? archive : digestOf);
        ServeDescriptor(gameId, descriptor);
        return archive;
    }

    // Waits until the game is installed (true) or failed (false, with its error code).
    bool Outcome(const std::string& gameId, int& errorCode)
    {
        errorCode = -1;
        bool ended = WaitFor([&](const Seen& seen) {
            if (seen.progressKind == 9) {
                errorCode = seen.errorCode;
                return true;
            }
            return seen.message == WM_DOWNLOAD_STATUS && seen.gameId == gameId &&
                   seen.wParam == static_cast<platform::WPARAM>(kDisplayInstalled);
        });
        EXPECT_TRUE(ended) << "the task neither finished nor failed";
        return ended && errorCode == -1;
    }

    void ExpectExtracted(const std::string& gameId, const Entries& entries)
    {
        for (const auto& [name, data] : entries)
            EXPECT_EQ(ReadFile(Folder(gameId) + name), data) << name;
        EXPECT_EQ(StoredGames().count(gameId), 1u);
    }

    // Starts the game at a slow rate and pauses it once `bytes` of it are on disk, then stops the
    // engine, as quitting the program does.
    void DownloadPartThenQuit(const std::string& gameId, double bytes)
    {
        ASSERT_TRUE(
            Faults(R"([{"path": "/download/games/", "prefix": true, "method": "GET", "rateKiBps": 800}])"));
        MakeEngine();
        m_engine->AddTask(Game(gameId), kOwnerWindow);
        ASSERT_TRUE(WaitFor([&](const Seen& seen) { return seen.progressKind == 2 && seen.done >= bytes; }));
        ASSERT_TRUE(m_engine->RequestState(gameId, kTaskPauseRequested));
        ASSERT_TRUE(WaitStatus(gameId, kDisplayPaused));
        StopEngine();
        ASSERT_TRUE(Faults("[]"));
    }
};

TEST_F(DownloadDigestTest, CutAndStalledSlicesStillMeetTheDigest)
{
    Entries cut = {{"game.bin", RandomBytes(700 * 1024, 91)}, {"x.dat", RandomBytes(3000, 92)}};
    Entries stalled = {{"game.bin", RandomBytes(650 * 1024, 93)}};
    ServeWithDigest("60001", cut);
    ServeWithDigest("60002", stalled);
    ASSERT_TRUE(
        Faults(R"([{"path": "/download/games/60001.zip", "method": "GET", "cutAfter": 90000, "times": 3},
                           {"path": "/download/games/60002.zip", "method": "GET", "stallAfter": 120000, "times": 1}])"));
    MakeEngine(1000);
    m_engine->AddTask(Game("60001"), kOwnerWindow);
    m_engine->AddTask(Game("60002"), kOwnerWindow);
    ASSERT_TRUE(WaitStatusAll({"60001", "60002"}, kDisplayInstalled));
    ExpectExtracted("60001", cut);
    ExpectExtracted("60002", stalled);
    EXPECT_EQ(Ranges(Path("60001")).size(), 4u) << "three cut slices and the last";
}

TEST_F(DownloadDigestTest, FileStartedAgainFromZeroIsCheckedOnlyAsItsNewBytes)
{
    // The descriptor already names the version that the server's file becomes while the first
    // slice stalls: the bytes of the old version that were written and hashed must not count.
    Entries old = {{"game.bin", RandomBytes(600 * 1024, 94)}};
    Entries grown = {{"game.bin", RandomBytes(900 * 1024, 95)}, {"more.dat", RandomBytes(777, 96)}};
    std::string newArchive = MakeArchive(grown);
    ServeWithDigest("60003", old, newArchive);
    ASSERT_TRUE(Faults(
        R"([{"path": "/download/games/60003.zip", "method": "GET", "stallAfter": 200000, "times": 1}])"));
    MakeEngine(1500);
    m_engine->AddTask(Game("60003"), kOwnerWindow);
    ASSERT_TRUE(WaitFor([](const Seen& seen) { return seen.progressKind == 2 && seen.done >= 200000; }));
    ServeFile("games/60003.zip", newArchive);
    int error = 0;
    ASSERT_TRUE(Outcome("60003", error)) << error;
    ExpectExtracted("60003", grown);
    EXPECT_EQ(Ranges(Path("60003")).back(), "") << "the new version came whole";
}

TEST_F(DownloadDigestTest, BytesLeftByAnEarlierRunAreCheckedAsTheyAreOnDisk)
{
    Entries kept = {{"game.bin", RandomBytes(900 * 1024, 97)}};
    ServeWithDigest("60004", kept);
    DownloadPartThenQuit("60004", 150000);
    std::string archive = Folder("60004") + "60004.zip";
    auto partial = std::filesystem::file_size(archive);
    ASSERT_GE(partial, 150000u);

    // A new engine takes the game up from the file's size and finishes it.
    MakeEngine();
    ASSERT_TRUE(m_engine->RequestState("60004", kTaskReady));
    int error = 0;
    ASSERT_TRUE(Outcome("60004", error)) << error;
    ExpectExtracted("60004", kept);
    EXPECT_EQ(Ranges(Path("60004")).back(), "bytes=" + std::to_string(partial) + "-");
}

TEST_F(DownloadDigestTest, ByteSpoiledOnDiskBetweenRunsFailsTheCheck)
{
    Entries spoiled = {{"game.bin", RandomBytes(900 * 1024, 98)}};
    ServeWithDigest("60005", spoiled);
    DownloadPartThenQuit("60005", 150000);
    std::string archive = Folder("60005") + "60005.zip";
    {
        std::fstream file(archive, std::ios::in | std::ios::out | std::ios::binary);
        ASSERT_TRUE(file.is_open());
        file.seekg(1000);
        char byte = 0;
        file.read(&byte, 1);
        byte = static_cast<char>(byte ^ 0x5a);
        file.seekp(1000);
        file.write(&byte, 1);
    }

    MakeEngine();
    ASSERT_TRUE(m_engine->RequestState("60005", kTaskReady));
    int error = 0;
    ASSERT_FALSE(Outcome("60005", error));
    EXPECT_EQ(error, kErrorVerification);
    EXPECT_FALSE(std::filesystem::exists(archive)) << "a file that is not the server's goes";
    EXPECT_FALSE(std::filesystem::exists(Folder("60005") + "game.bin")) << "and is never extracted";
    EXPECT_EQ(StoredGames().count("60005"), 0u);

    // Started again, it downloads whole and now meets the digest.
    ASSERT_TRUE(m_engine->RequestState("60005", kTaskReady));
    ASSERT_TRUE(Outcome("60005", error)) << error;
    ExpectExtracted("60005", spoiled);
}

} // namespace
