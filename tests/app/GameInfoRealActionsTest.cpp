// The game detail window's action button over the program's own services: the window is opened by
// a click on a catalogue tile of the main window, in this process on Qt's offscreen platform, and
// its button works the real download engine, emulator manager, installer window and launcher
// against an in-process stand-in server serving the games and test emulators made here.

#include "app/MainFrameNew.h"

#include "catalogue/Game.h"
#include "catalogue/GameInfoFrameNew.h"
#include "demo/DemoZip.h"
#include "download/DownLoadFrameNew.h"
#include "download/DownloadManager.h"
#include "download/DownloadSourceChooser.h"
#include "emulator/EmulatorManager.h"
#include "emulator/GameLauncher.h"
#include "foundation/AppSettings.h"
#include "maintenance/DownLoadPopFrame.h"
#include "store/GameStore.h"
#include "store/LocalLibrary.h"
#include "tests/app/DialogScripts.h"
#include "tests/app/LibraryRows.h"
#include "tests/emulator/LaunchTestSupport.h"
#include "tests/support/Fifo.h"
#include "ui/Container.h"
#include "ui/MessageBox.h"
#include "ui/PaintManager.h"
#include "ui/TestInput.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <thread>

using namespace UiLib;
namespace fs = std::filesystem;

namespace {

// The games of the test catalogue.
struct TestGame {
    const char* id;
    const char* name;
    const char* platform; // type id
    const char* shortName;
};
constexpr TestGame kLibraryGame{"9001", "魂斗罗", "125", "FC"};   // downloaded before the window opens
constexpr TestGame kPcGame{"2001", "星河战记", "138", "PC"};      // needs no emulator
constexpr TestGame kOtherPcGame{"2002", "沙漠骑士", "138", "PC"}; // needs no emulator
constexpr TestGame kSfcGame{"3001", "森林物语", "121", "SFC"};    // its emulator is listed, not installed
constexpr TestGame kGbcGame{"4001", "口袋宠物", "124", "GBC"};    // no emulator is listed for it
constexpr TestGame kGames[] = {kLibraryGame, kPcGame, kOtherPcGame, kSfcGame, kGbcGame};

// Bytes that do not compress, so an archive is as large as its content.
std::string NoiseBytes(size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(generator() & 0xff);
    return bytes;
}

CGame GameRecord(const TestGame& game)
{
    CGame record;
    record.gameid = game.id;
    record.gamename = game.name;
    record.emulatorid = game.platform;
    record.emulatorshortname = game.shortName;
    record.categoryid = "1";
    record.categoryshortname = "动作游戏";
    record.icon = std::string("icon/") + game.id + ".png";
    record.size = "1";
    record.rating = "4.5";
    return record;
}

// The download source the user would pick in its dialog (the dialog has tests of its own).
class OwnServerChooser : public IDownloadSourceChooser {
public:
    int ChooseDownloadSource(platform::HWND, int offerMask) override
    {
        return (offerMask & kSourceOwnServer) != 0 ? kSourceOwnServer : kSourceClosed;
    }
};

// Counts the installs it is asked for and installs nothing.
class CountingInstaller : public IEmulatorInstaller {
public:
    bool InstallEmulator(const EmulatorRecord&, platform::HWND, bool) override
    {
        ++asked;
        return false;
    }
    int asked = 0;
};

class GameInfoRealActionsTest : public ::testing::Test {
protected:
    // A slow archive: 48 KiB at 24 KiB a second takes two seconds, long enough to pause it.
    static constexpr size_t kPcArchiveBytes = 48 * 1024;
    static constexpr const char* kSlowPcArchive =
        R"([{"path": "/download/games/2001.zip", "method": "GET", "rateKiBps": 24}])";

    static void SetUpTestSuite() { setenv("QT_QPA_PLATFORM", "offscreen", 1); }
    static void TearDownTestSuite() { CPaintManagerUI::Term(); }

    void SetUp() override
    {
        WriteServerData(Data());
        StandInServerOptions options;
        options.dataDir = Data();
        m_server = std::make_unique<CStandInServer>(options);
        std::string error;
        ASSERT_TRUE(m_server->Start(error)) << error;
        ASSERT_TRUE(m_server->WriteServersCfg(m_dir.Path() + "servers.cfg"));
        SetServerEndpoints(LoadServerEndpoints(m_dir.Path() + "servers.cfg"));

        AppPaths paths = MakeAppPaths(App(), m_dir.Path() + "work/", Rom());
        fs::create_directories(paths.ImageCacheDir);
        fs::create_directories(paths.LocalGameDir);
        fs::create_directories(App() + "database");
        SetAppPaths(paths);
        CAppSettings settings;
        settings.SetRomPath(Rom());
        settings.SetIsTray("0");
        settings.SetHandleType("1"); // the control method is known: no dialog at a launch
        settings.SetShowKeyMapTips("0");
        settings.Save();
    }

    void TearDown() override
    {
        m_frame.reset();
        SetMessageBoxAnswerer({});
        if (m_server)
            m_server->Stop();
    }

    // The catalogue, the games' archives and descriptors, and the test emulators with their package.
    static void WriteServerData(const std::string& data)
    {
        launchtest::WriteTestEmulators(data);
        fs::create_directories(data + "download/games");
        fs::create_directories(data + "descriptors");
        Json::Value catalogue;
        for (const TestGame& game : kGames) {
            Json::Value entry;
            const CGame record = GameRecord(game);
            entry["gameid"] = record.gameid;
            entry["gamename"] = record.gamename;
            entry["orgname"] = record.gamename;
            entry["emulatorid"] = record.emulatorid;
            entry["emulatorshortname"] = record.emulatorshortname;
            entry["categoryid"] = record.categoryid;
            entry["categoryshortname"] = record.categoryshortname;
            entry["icon"] = record.icon;
            entry["size"] = record.size;
            entry["rating"] = record.rating;
            entry["language"] = "中文";
            entry["playurl"] = "";
            entry["description"] = std::string(game.name) + "的介绍。";
            entry["screens"] = Json::Value(Json::arrayValue);
            catalogue["games"].append(entry);

            const std::string id = game.id;
            {
                CDemoZip zip(data + "download/games/" + id + ".zip");
                if (std::string(game.platform) == "138") {
                    zip.Add(id + "/start.sh", "#!/bin/sh\necho " + id + "\n", 0755);
                    zip.Add(id + "/data.bin",
                            NoiseBytes(kPcArchiveBytes, static_cast<unsigned>(std::stoi(id))));
                } else {
                    zip.Add(id + ".bin", NoiseBytes(2048, 7));
                }
                zip.Close();
            }
            Json::Value descriptor;
            descriptor["status"] = 1;
            descriptor["fileurl"] = "{{origin}}/download/games/" + id + ".zip";
            descriptor["volume"] = "0";
            ASSERT_TRUE(testsupport::WriteFile(data + "descriptors/" + id + ".json",
                                               Json::writeString(Json::StreamWriterBuilder(), descriptor)));
        }
        ASSERT_TRUE(testsupport::WriteFile(data + "catalogue.json",
                                           Json::writeString(Json::StreamWriterBuilder(), catalogue)));
    }

    // The main window, its first catalogue page shown, downloads from the own server.
    void Open()
    {
        ASSERT_TRUE(EmulatorManager::Instance().WaitForRefresh(10000));
        CPaintManagerUI::SetInstance(nullptr);
        m_frame = std::make_unique<CMainFrameNew>();
        ASSERT_NE(m_frame->Create(nullptr, u"Quokka模拟器", 0x10CF0000, 0x100), nullptr);
        ASSERT_TRUE(TestInput::WaitFor(
            [&] { return CatalogueTile(kGbcGame.id) != nullptr && DownloadManager::Instance().Started(); },
            15000));
        InstallDownloadSourceChooser(std::make_shared<OwnServerChooser>());
    }

    std::string Data() const { return m_dir.Path() + "data/"; }
    std::string App() const { return m_dir.Path() + "app/"; }
    std::string Rom() const { return m_dir.Path() + "rom/"; }

    CContainerUI* CatalogueTile(const std::string& gameId) const
    {
        auto* tiles =
            static_cast<CContainerUI*>(m_frame->GetPaintManager().FindControl(u"Tl_GameView_FindGame"));
        for (int i = 0; tiles != nullptr && i < tiles->GetCount(); ++i)
            if (tiles->GetItemAt(i)->GetUserData() == CDuiString::FromUtf8(gameId))
                return static_cast<CContainerUI*>(tiles->GetItemAt(i));
        return nullptr;
    }
    int CatalogueTileState(const std::string& gameId) const
    {
        CContainerUI* tile = CatalogueTile(gameId);
        return tile != nullptr ? static_cast<int>(tile->FindSubControl(u"Btn_InstallGame")->GetTag()) : -1;
    }
    static bool HasTask(const std::string& gameId)
    {
        int status = 0;
        return DownloadManager::Instance().GetDisplayStatus(gameId, status);
    }

    static CControlUI* Find(HWND window, std::u16string_view name)
    {
        auto* dialog = static_cast<CDialogFrameWnd*>(WindowFromHandle(window));
        return dialog != nullptr ? dialog->GetPaintManager().FindControl(name) : nullptr;
    }
    // A click at the control's centre with the window's real input handling.
    static void ClickIn(HWND window, CControlUI* control)
    {
        ASSERT_NE(control, nullptr);
        control->GetManager()->UpdateLayout();
        const RECT& rc = control->GetPos();
        TestInput::Click(window, POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2});
        TestInput::ProcessEvents();
    }
    static void ClickIn(HWND window, std::u16string_view name) { ClickIn(window, Find(window, name)); }

    // Clicks `control` of `window` and runs `script` inside the modal loop the click opens, once a
    // window of `className` is up. False when none came (every modal loop is then ended).
    static bool ClickIntoWindow(HWND window, CControlUI* control, const char16_t* className,
                                const std::function<void(HWND)>& script)
    {
        return apptest::ClickIntoWindow([&] { ClickIn(window, control); }, className, script);
    }

    // Opens the detail window of a catalogue game with a click on its tile's icon (away from the
    // tile's own button), runs `script` in it and closes it with Btn_Close.
    void InDetailWindow(const TestGame& game, const std::function<void(HWND, CGameInfoFrameNew&)>& script)
    {
        CContainerUI* tile = CatalogueTile(game.id);
        ASSERT_NE(tile, nullptr) << game.id;
        const bool opened = ClickIntoWindow(
            m_frame->GetHWND(), tile->FindSubControl(u"Ctr_GameIcon"), u"GameInfoFrame", [&](HWND dialog) {
                auto* detail = static_cast<CGameInfoFrameNew*>(WindowFromHandle(dialog));
                EXPECT_EQ(detail->Game().gameid, game.id);
                script(dialog, *detail);
                if (IsWindow(dialog))
                    ClickIn(dialog, u"Btn_Close");
            });
        ASSERT_TRUE(opened) << "no detail window for " << game.id;
        EXPECT_EQ(FindWindow(u"GameInfoFrame"), nullptr);
    }

    // The action button's text, readable in a failure's message.
    static std::string ActionText(HWND detail)
    {
        return Find(detail, u"Btn_InstallGame")->GetText().ToUtf8();
    }
    // Waits until the action button shows `state`, and checks its text.
    static bool WaitForState(HWND detail, CGameInfoFrameNew& window, int state, int timeoutMs = 20000)
    {
        if (!TestInput::WaitFor([&] { return window.ActionState() == state; }, timeoutMs)) {
            ADD_FAILURE() << "still " << window.ActionState() << ", not " << state;
            return false;
        }
        EXPECT_EQ(ActionText(detail), CDuiString(CGameInfoFrameNew::ActionText(state)).ToUtf8());
        EXPECT_EQ(static_cast<int>(Find(detail, u"Btn_InstallGame")->GetTag()), state);
        return true;
    }

    testsupport::TempDir m_dir;
    std::unique_ptr<CStandInServer> m_server;
    launchtest::ServerInstaller m_serverInstaller;
    CountingInstaller m_countingInstaller;
    std::unique_ptr<CMainFrameNew> m_frame; // first to go: it ends the services that use the above
};

// A game of the library opens with 启动, and the click starts the game in its platform's emulator
// (the test emulator's launcher says it ran, with the game's file) without any download.
TEST_F(GameInfoRealActionsTest, ALibraryGameOpensWithStartAndItsClickRunsTheGame)
{
    testsupport::Fifo started(m_dir.Path() + "started");
    testsupport::Fifo release(m_dir.Path() + "release");
    const std::string out = m_dir.Path() + "out.txt";
    ASSERT_TRUE(testsupport::WriteFile(App() + "behaviour", "OUT='" + out + "'\nSTARTED='" + started.Path() +
                                                                "'\nRELEASE='" + release.Path() + "'\n"));
    // The FC emulator is installed before the window opens; the game is a downloaded one.
    EmulatorManager::Instance().SetInstaller(&m_serverInstaller);
    ASSERT_TRUE(EmulatorManager::Instance().WaitForRefresh(10000));
    ASSERT_TRUE(EmulatorManager::Instance().EnsureEmulator(125, nullptr));
    const std::string folder = Rom() + "FC/魂斗罗/";
    ASSERT_TRUE(apptest::StoreDownloadedFcGame(folder, kLibraryGame.id, kLibraryGame.name));
    Open();
    ASSERT_TRUE(TestInput::WaitFor([&] { return CatalogueTileState(kLibraryGame.id) == 8; }, 15000))
        << "the library is read";

    InDetailWindow(kLibraryGame, [&](HWND detail, CGameInfoFrameNew& window) {
        EXPECT_EQ(window.ActionState(), 8);
        EXPECT_EQ(ActionText(detail), "启动");
        ClickIn(detail, u"Btn_InstallGame");
    });
    ASSERT_TRUE(started.ReadLine(10000)) << "the emulator ran";
    EXPECT_FALSE(HasTask(kLibraryGame.id)) << "nothing is downloaded";
    ASSERT_TRUE(release.WriteLine("go"));
    ASSERT_TRUE(GameLauncher::Instance().WaitUntilIdle(10000));
    const std::string report = testsupport::ReadFile(out);
    EXPECT_NE(report.find("run launch.sh"), std::string::npos) << report;
    EXPECT_NE(report.find("arg " + folder + "9001.nes"), std::string::npos) << report;
}

// 安装 on a PC game starts a real task: the button follows it (下载中), pauses it (下载暂停, the
// transfer stops), starts it again (下载中) and reads 启动 once the game is in the library.
TEST_F(GameInfoRealActionsTest, APcGameDownloadsPausesResumesAndEndsReadyToStart)
{
    std::string error;
    ASSERT_TRUE(m_server->SetFaults(kSlowPcArchive, error)) << error;
    Open();
    InDetailWindow(kPcGame, [&](HWND detail, CGameInfoFrameNew& window) {
        EXPECT_EQ(ActionText(detail), "安装");
        ClickIn(detail, u"Btn_InstallGame");
        ASSERT_TRUE(WaitForState(detail, window, 2));
        ClickIn(detail, u"Btn_InstallGame");
        ASSERT_TRUE(WaitForState(detail, window, 3));
        int status = 0;
        EXPECT_TRUE(DownloadManager::Instance().GetDisplayStatus(kPcGame.id, status) && status == 3);
        EXPECT_EQ(DownloadManager::Instance().CountRunningWorkers(), 0) << "the transfer ended";
        ClickIn(detail, u"Btn_InstallGame");
        ASSERT_TRUE(WaitForState(detail, window, 2));
        ASSERT_TRUE(WaitForState(detail, window, 8));
    });
    std::optional<GameinfoRecord> game = CLocalLibrary::Instance().FindGame(kPcGame.id);
    ASSERT_TRUE(game.has_value());
    EXPECT_TRUE(fs::is_regular_file(fs::path(game->FilePath) / kPcGame.id / "start.sh")) << game->FilePath;
    EXPECT_EQ(CatalogueTileState(kPcGame.id), 8) << "the tile follows the same task";
}

// The detail window hears every status the engine posts, and takes only its own game's: another
// game's whole download, from 下载中 to 启动, leaves the button at 安装.
TEST_F(GameInfoRealActionsTest, AnotherGamesStatusesLeaveTheButtonAsItIs)
{
    Open();
    InDetailWindow(kOtherPcGame, [&](HWND detail, CGameInfoFrameNew& window) {
        // The main window is disabled under the modal detail window: the other game's task is
        // added through the engine, as its tile's button would.
        DownloadManager::Instance().AddTask(GameRecord(kPcGame), m_frame->GetHWND());
        CDownLoadFrameNew* list = m_frame->DownloadWindow();
        ASSERT_NE(list, nullptr);
        // The list window's row goes after both status messages of the end have been posted.
        ASSERT_TRUE(TestInput::WaitFor(
            [&] { return CatalogueTileState(kPcGame.id) == 8 && list->RowOf(kPcGame.id) == nullptr; },
            20000));
        TestInput::ProcessEvents();
        EXPECT_EQ(window.ActionState(), 0);
        EXPECT_EQ(ActionText(detail), "安装");
        EXPECT_FALSE(HasTask(kOtherPcGame.id));
    });
    EXPECT_TRUE(CLocalLibrary::Instance().FindGame(kPcGame.id).has_value());
}

// 安装 on a game whose platform's emulator is listed but not installed runs the installer window
// first (the package from the server, unpacked into the emulator's folder); once it has finished
// and is closed, the game's task runs to 启动.
TEST_F(GameInfoRealActionsTest, AMissingEmulatorIsInstalledThroughItsWindowBeforeTheTask)
{
    Open();
    ASSERT_EQ(EmulatorManager::Instance().FindInstalled(121), nullptr);
    InDetailWindow(kSfcGame, [&](HWND detail, CGameInfoFrameNew& window) {
        bool finished = false;
        bool taskBefore = true;
        const bool installerShown =
            ClickIntoWindow(detail, Find(detail, u"Btn_InstallGame"), u"DownLoadPopFrame", [&](HWND pop) {
                auto* installer = static_cast<CDownLoadPopFrame*>(WindowFromHandle(pop));
                finished = TestInput::WaitFor([&] { return installer->Finished(); }, 15000);
                taskBefore = HasTask(kSfcGame.id);
                ClickIn(pop, u"Btn_Cancel"); // reads 确定 once finished
            });
        ASSERT_TRUE(installerShown);
        EXPECT_TRUE(finished) << "the emulator package was installed";
        EXPECT_FALSE(taskBefore) << "no task while the emulator is missing";
        ASSERT_TRUE(WaitForState(detail, window, 8));
    });
    EmulatorRecordPtr emulator = EmulatorManager::Instance().FindInstalled(121);
    ASSERT_NE(emulator, nullptr);
    EXPECT_TRUE(fs::is_regular_file(EmulatorManager::EmulatorDirectory(*emulator) + "/launch.sh"));
    EXPECT_TRUE(CLocalLibrary::Instance().FindGame(kSfcGame.id).has_value());
}

// A PC game ("138") asks for no emulator and downloads; a platform that has no emulator in the
// list asks the installer for nothing and leaves the game as it was: no task, still 安装.
TEST_F(GameInfoRealActionsTest, PcGamesNeedNoEmulatorAndAPlatformWithoutOneChangesNothing)
{
    Open();
    EmulatorManager::Instance().SetInstaller(&m_countingInstaller);

    InDetailWindow(kGbcGame, [&](HWND detail, CGameInfoFrameNew& window) {
        ClickIn(detail, u"Btn_InstallGame");
        EXPECT_EQ(window.ActionState(), 0);
        EXPECT_EQ(ActionText(detail), "安装");
        EXPECT_FALSE(HasTask(kGbcGame.id)) << "no task without an emulator";
    });
    EXPECT_EQ(m_countingInstaller.asked, 0);

    InDetailWindow(kOtherPcGame, [&](HWND detail, CGameInfoFrameNew& window) {
        ClickIn(detail, u"Btn_InstallGame");
        EXPECT_TRUE(HasTask(kOtherPcGame.id)) << "added at once";
        ASSERT_TRUE(WaitForState(detail, window, 8));
    });
    EXPECT_EQ(m_countingInstaller.asked, 0) << "no emulator asked for a PC game";
    EXPECT_EQ(EmulatorManager::Instance().FindInstalled(138), nullptr);
    EXPECT_TRUE(CLocalLibrary::Instance().FindGame(kOtherPcGame.id).has_value());
    EXPECT_FALSE(HasTask(kGbcGame.id));
}

} // namespace
