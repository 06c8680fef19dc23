// Games of every delivery kind downloaded by the real engine from the stand-in server, stored in a
// real game store and reported by posted messages.

#include "download/DownloadProgress.h"
#include "foundation/AppMessages.h"
#include "tests/download/EngineFixture.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <future>

using namespace enginetest;
using testsupport::ReadFile;

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

Entries SomeEntries(unsigned seed)
{
    return {{"game.bin", RandomBytes(300 * 1024, seed)},
            {"data/level1.dat", RandomBytes(70 * 1024 + 13, seed + 1)},
            {"readme.txt", "hello"}};
}

class DownloadEngineTest : public EngineTest {
protected:
    // The game's folder in the library.
    std::string Folder(const std::string& gameId) const { return RomRoot() + "PS/" + gameId + "/"; }

    void ExpectExtracted(const std::string& gameId, const Entries& entries)
    {
        for (const auto& [name, data] : entries)
            EXPECT_EQ(ReadFile(Folder(gameId) + name), data) << name;
    }

    // The ending every finished game shares: a library row, no download row, the record posted and
    // handed to the library, status 8 and no task left.
    void ExpectInstalled(const std::string& gameId, const std::string& fileName)
    {
        GameinfoMap games = StoredGames();
        ASSERT_EQ(games.count(gameId), 1u);
        const GameinfoRecord& game = games[gameId];
        EXPECT_EQ(game.FilePath, Folder(gameId));
        EXPECT_EQ(game.FileName, fileName);
        EXPECT_EQ(game.GameName, "游戏" + gameId);
        EXPECT_EQ(game.IsPlay, "0");
        EXPECT_EQ(StoredDownloads().count(gameId), 0u);
        auto installed = std::find_if(m_seen.begin(), m_seen.end(), [&](const Seen& seen) {
            return seen.message == WM_GAME_INSTALLED && seen.hwnd == kMainWindow && seen.gameId == gameId;
        });
        EXPECT_NE(installed, m_seen.end());
        {
            std::lock_guard lock(m_libraryMutex);
            EXPECT_TRUE(std::any_of(m_library.begin(), m_library.end(),
                                    [&](const GameinfoRecord& record) { return record == game; }));
        }
        int status = -1;
        EXPECT_FALSE(m_engine->GetDisplayStatus(gameId, status));
    }
};

TEST_F(DownloadEngineTest, SingleArchiveIsExtractedIntoTheLibraryAndDeleted)
{
    Entries entries = SomeEntries(1);
    ServeSingleGame("30001", entries);
    MakeEngine();
    m_engine->AddTask(Game("30001"), kOwnerWindow);

    ASSERT_TRUE(WaitStatus("30001", kDisplayInstalled));
    ExpectExtracted("30001", entries);
    EXPECT_FALSE(std::filesystem::exists(Folder("30001") + "30001.zip"));
    ExpectInstalled("30001", "30001.zip");
    std::vector<int> statuses = Statuses("30001");
    EXPECT_EQ(statuses.front(), kDisplayDownloading);
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), kDisplayExtracting), statuses.end());
    EXPECT_EQ(m_chooser->lastMask, kSourceOwnServer);
    EXPECT_EQ(m_engine->RunningCount(), 0);
    // The task was shown before it started, and its row left the list window at the end.
    auto added = std::find_if(m_seen.begin(), m_seen.end(),
                              [](const Seen& seen) { return seen.message == WM_DOWNLOAD_ADDED; });
    ASSERT_NE(added, m_seen.end());
    EXPECT_EQ(added->hwnd, kListWindow);
    EXPECT_TRUE(WaitFor([](const Seen& seen) { return seen.message == WM_DOWNLOAD_REMOVED; }));
}

TEST_F(DownloadEngineTest, ArchiveOfAGameThatIsNotExtractedStaysAsServed)
{
    std::string archive = ServeSingleGame("30002", SomeEntries(2));
    MakeEngine();
    m_engine->AddTask(Game("30002", "125"), kOwnerWindow);

    ASSERT_TRUE(WaitStatus("30002", kDisplayInstalled));
    EXPECT_EQ(ReadFile(Folder("30002") + "30002.zip"), archive);
    EXPECT_FALSE(std::filesystem::exists(Folder("30002") + "game.bin"));
    ExpectInstalled("30002", "30002.zip");
}

TEST_F(DownloadEngineTest, NoZipSourceSavesTheDescribedFileWithoutExtracting)
{
    std::string image = RandomBytes(200 * 1024 + 7, 3);
    ServeFile("nozip/30003.iso", image);
    Json::Value descriptor;
    descriptor["fileurl2"] = "{{origin}}/download/nozip/30003.iso";
    descriptor["verify"][0]["path"] = "30003.iso";
    descriptor["verify"][0]["size"] = std::to_string(image.size());
    ServeDescriptor("30003", descriptor);
    m_chooser->answer = kSourceNoZip;
    MakeEngine();
    m_engine->AddTask(Game("30003"), kOwnerWindow);

    ASSERT_TRUE(WaitStatus("30003", kDisplayInstalled));
    EXPECT_EQ(ReadFile(Folder("30003") + "30003.iso"), image);
    ExpectInstalled("30003", "30003.iso");
}

TEST_F(DownloadEngineTest, NoZipFileOfAnotherSizeThanDescribedFailsAndIsDeleted)
{
    std::string image = RandomBytes(100 * 1024, 4);
    ServeFile("nozip/30004.iso", image);
    Json::Value descriptor;
    descriptor["fileurl2"] = "{{origin}}/download/nozip/30004.iso";
    descriptor["verify"][0]["path"] = "30004.iso";
    descriptor["verify"][0]["size"] = std::to_string(image.size() + 1);
    ServeDescriptor("30004", descriptor);
    m_chooser->answer = kSourceNoZip;
    MakeEngine();
    m_engine->AddTask(Game("30004"), kOwnerWindow);

    ASSERT_TRUE(WaitFor([](const Seen& seen) { return seen.progressKind == 9; }));
    EXPECT_EQ(m_seen.back().errorCode, kErrorVerification);
    EXPECT_EQ(TransferErrorText(kErrorVerification), "文件校验失败");
    ASSERT_TRUE(WaitStatus("30004", kDisplayPaused));
    EXPECT_FALSE(std::filesystem::exists(Folder("30004") + "30004.iso"));
    EXPECT_EQ(StoredDownloads().count("30004"), 1u);
    EXPECT_EQ(StoredGames().count("30004"), 0u);
}

TEST_F(DownloadEngineTest, ArchiveIsCheckedAgainstTheServersDigest)
{
    Entries entries = SomeEntries(11);
    std::string archive = MakeArchive(entries);
    ServeFile("games/30012.zip", archive);
    ServeFile("games/30013.zip", archive);
    Json::Value descriptor;
    descriptor["fileurl"] = "{{origin}}/download/games/30012.zip";
    descriptor["filemd5"] = Md5Hex(archive); // upper case is taken too
    ServeDescriptor("30012", descriptor);
    descriptor["fileurl"] = "{{origin}}/download/games/30013.zip";
    descriptor["filemd5"] = Md5Hex(archive + "x");
    ServeDescriptor("30013", descriptor);
    MakeEngine();

    m_engine->AddTask(Game("30012"), kOwnerWindow);
    ASSERT_TRUE(WaitStatus("30012", kDisplayInstalled));
    ExpectExtracted("30012", entries);

    m_engine->AddTask(Game("30013"), kOwnerWindow);
    ASSERT_TRUE(WaitFor([](const Seen& seen) { return seen.progressKind == 9; }));
    EXPECT_EQ(m_seen.back().errorCode, kErrorVerification);
    EXPECT_FALSE(std::filesystem::exists(Folder("30013") + "30013.zip"))
        << "a file that is not the server's goes";
    EXPECT_FALSE(std::filesystem::exists(Folder("30013") + "game.bin")) << "and is never extracted";
    ASSERT_EQ(StoredDownloads().count("30013"), 1u);
    std::string lower = Md5Hex(archive + "x");
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(StoredDownloads()["30013"].FileMd5, lower);
    EXPECT_EQ(StoredGames().count("30013"), 0u);
}

TEST_F(DownloadEngineTest, ListOnlyAnswerFallsBackPastDeadLinks)
{
    Entries entries = SomeEntries(5);
    ServeFile("games/30005.zip", MakeArchive(entries));
    Json::Value descriptor;
    descriptor["filelist"][0] = "{{origin}}/download/missing/30005.zip";
    descriptor["filelist"][1] = "{{origin}}/download/games/30005.zip";
    ServeDescriptor("30005", descriptor);
    MakeEngine();
    m_engine->AddTask(Game("30005"), kOwnerWindow);

    ASSERT_TRUE(WaitStatus("30005", kDisplayInstalled));
    ExpectExtracted("30005", entries);
    ExpectInstalled("30005", "30005.zip");
    EXPECT_TRUE(Ranges("/download/missing/30005.zip").empty()) << "a dead link is never downloaded";
}

TEST_F(DownloadEngineTest, VolumesAreJoinedInOrderIntoOneArchive)
{
    Entries entries = SomeEntries(6);
    std::string archive = MakeArchive(entries);
    size_t third = archive.size() / 3;
    ServeFile("volumes/30006.z01", archive.substr(0, third));
    ServeFile("volumes/30006.z02", archive.substr(third, third));
    ServeFile("volumes/30006.z03", archive.substr(2 * third));
    Json::Value descriptor;
    descriptor["volume"] = "1";
    // Listed out of order: the volume numbers decide.
    descriptor["volumeurl"] =
        "{{origin}}/download/volumes/30006.z02|2,{{origin}}/download/volumes/30006.z01|1,"
        "{{origin}}/download/volumes/30006.z03|3";
    ServeDescriptor("30006", descriptor);
    MakeEngine();
    m_engine->AddTask(Game("30006"), kOwnerWindow);

    ASSERT_TRUE(WaitStatus("30006", kDisplayInstalled));
    ExpectExtracted("30006", entries);
    ExpectInstalled("30006", "30006.zip");
    EXPECT_FALSE(std::filesystem::exists(Folder("30006") + "30006.zip"));
}

// The source question waits for the UI thread, which may itself be inside an engine operation: the
// scheduler must not hold the task lock while it asks.
class UiThreadChooser : public IDownloadSourceChooser {
public:
    explicit UiThreadChooser(std::function<void()> uiWork) : m_uiWork(std::move(uiWork)) {}
    int ChooseDownloadSource(platform::HWND, int) override
    {
        std::async(std::launch::async, m_uiWork).get();
        return kSourceOwnServer;
    }

private:
    std::function<void()> m_uiWork;
};

TEST_F(DownloadEngineTest, SourceQuestionDoesNotHoldTheEngineFromTheUiThread)
{
    Entries entries = SomeEntries(9);
    ServeSingleGame("30009", entries);
    ServeSingleGame("30010", SomeEntries(10));
    std::atomic<int> asked{0};
    auto chooser = std::make_shared<UiThreadChooser>([&] {
        ++asked;
        int status = 0;
        m_engine->GetDisplayStatus("30010", status);
        m_engine->CountActive({"30009", "30010"});
        m_engine->RequestState("30010", kTaskReady);
        m_engine->AddTask(Game("30011"), kOwnerWindow);
    });
    m_chooser = nullptr;
    MakeEngineWith(chooser);
    m_engine->AddTask(Game("30009"), kOwnerWindow);
    m_engine->AddTask(Game("30010"), kOwnerWindow);
    ASSERT_TRUE(WaitStatusAll({"30009", "30010"}, kDisplayInstalled));
    ExpectExtracted("30009", entries);
    EXPECT_GE(asked, 2);
}

TEST_F(DownloadEngineTest, UnusableGamesAreRefusedBeforeAnyRequest)
{
    MakeEngine();
    DownloadGameFields parent = Game("30007");
    parent.emulatorshortname = "..";
    m_engine->AddTask(parent, kOwnerWindow);
    DownloadGameFields nested = Game("a/b");
    m_engine->AddTask(nested, kOwnerWindow);
    int status = -1;
    EXPECT_FALSE(m_engine->GetDisplayStatus("30007", status));
    EXPECT_FALSE(m_engine->GetDisplayStatus("a/b", status));

    // A game without a descriptor is dropped silently.
    m_engine->AddTask(Game("30008"), kOwnerWindow);
    EXPECT_FALSE(WaitFor([](const Seen& seen) { return seen.message == WM_DOWNLOAD_ADDED; }, 1500));
    EXPECT_FALSE(m_engine->GetDisplayStatus("30008", status));
}

// A descriptor the engine cannot use is not dropped in silence: the task fails with the reason, and a
// start asks for the descriptor again.
TEST_F(DownloadEngineTest, RefusedDescriptorShowsWhyAndAStartAsksAgain)
{
    Entries entries = SomeEntries(12);
    std::string archive = MakeArchive(entries);
    ServeFile("games/30012.zip", archive);
    Json::Value descriptor;
    descriptor["fileurl"] = "{{origin}}/download/games/30012.zip";
    descriptor["filename"] = "..\\30012.zip";
    ServeDescriptor("30012", descriptor);
    MakeEngine();
    m_engine->AddTask(Game("30012", "123"), kOwnerWindow);
    ASSERT_TRUE(WaitFor([](const Seen& seen) { return seen.progressKind == 9; }));
    EXPECT_EQ(m_seen.back().errorCode, kErrorDescriptorRefused);
    EXPECT_EQ(m_seen.back().hwnd, kListWindow);
    EXPECT_TRUE(std::any_of(m_seen.begin(), m_seen.end(), [](const Seen& seen) {
        return seen.message == WM_DOWNLOAD_ADDED && seen.gameId == "30012";
    })) << "the list has a row to say it in";
    ASSERT_TRUE(WaitStatus("30012", kDisplayPaused));
    EXPECT_EQ(m_chooser->lastMask, -1) << "nothing was offered";
    EXPECT_TRUE(StoredDownloads().empty());

    // Started again against a descriptor that names the file with a backslash inside the folder:
    // it is saved under the name that was checked.
    descriptor["filename"] = "sub\\30012.zip";
    ServeDescriptor("30012", descriptor);
    ASSERT_TRUE(m_engine->RequestState("30012", kTaskReady));
    ASSERT_TRUE(WaitStatus("30012", kDisplayInstalled));
    EXPECT_EQ(ReadFile(Folder("30012") + "sub/30012.zip"), archive);
    EXPECT_EQ(StoredGames()["30012"].FileName, "sub/30012.zip");

    // A refused task can be deleted; its row leaves the list.
    descriptor["filename"] = "/30013.zip";
    ServeDescriptor("30013", descriptor);
    m_engine->AddTask(Game("30013", "123"), kOwnerWindow);
    ASSERT_TRUE(WaitStatus("30013", kDisplayPaused));
    ASSERT_TRUE(m_engine->RequestState("30013", kTaskDeleteRequested));
    ASSERT_TRUE(WaitStatus("30013", kDisplayNotInstalled));
    int status = -1;
    EXPECT_FALSE(m_engine->GetDisplayStatus("30013", status));
}

} // namespace
