// The main window with the services and windows it opens, in this process on Qt's offscreen
// platform against an in-process stand-in server: a library game started through its tile with
// the real control-method dialog and a test emulator installed from the server, the tips window
// following the game; the catalogue tile opening the detail window; the usage beacons of the pages.

#include "app/MainFrameNew.h"

#include "app/ButtonUIEx.h"
#include "catalogue/GameInfoFrameNew.h"
#include "download/DownLoadFrameNew.h"
#include "download/DownloadManager.h"
#include "download/DownloadSourceChooser.h"
#include "emulator/EmulatorManager.h"
#include "emulator/GameLauncher.h"
#include "emulator/KeyMapTipsFrame.h"
#include "foundation/AppMessages.h"
#include "foundation/AppSettings.h"
#include "foundation/FileSystem.h"
#include "store/GameStore.h"
#include "store/LocalLibrary.h"
#include "tests/app/DialogScripts.h"
#include "tests/app/LibraryRows.h"
#include "tests/emulator/LaunchTestSupport.h"
#include "tests/support/Fifo.h"
#include "tests/support/FirstRunLibraryFolder.h"
#include "ui/Container.h"
#include "ui/MessageBox.h"
#include "ui/PaintManager.h"
#include "ui/TestInput.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <sstream>
#include <thread>

using namespace UiLib;
namespace fs = std::filesystem;

namespace {

class MainFrameWiringTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { setenv("QT_QPA_PLATFORM", "offscreen", 1); }
    static void TearDownTestSuite() { CPaintManagerUI::Term(); }

    // The server answers from `dataDir`; the program folder, library folder and settings are this
    // test's own.
    void StartServer(const std::string& dataDir)
    {
        StandInServerOptions options;
        options.dataDir = dataDir;
        options.logPath = Log();
        m_server = std::make_unique<CStandInServer>(options);
        std::string error;
        ASSERT_TRUE(m_server->Start(error)) << error;
        ASSERT_TRUE(m_server->WriteServersCfg(m_dir.Path() + "servers.cfg"));
        SetServerEndpoints(LoadServerEndpoints(m_dir.Path() + "servers.cfg"));

        AppPaths paths = MakeAppPaths(App(), m_dir.Path() + "work/", Rom());
        fs::create_directories(paths.ImageCacheDir);
        fs::create_directories(paths.LocalGameDir + "FC");
        fs::create_directories(App() + "database");
        SetAppPaths(paths);
        CAppSettings settings;
        settings.SetRomPath(Rom());
        settings.SetIsTray("0"); // the close button closes
        settings.Save();
    }

    void TearDown() override
    {
        m_frame.reset();
        SetMessageBoxAnswerer({});
        if (m_server)
            m_server->Stop();
    }

    void Open()
    {
        CPaintManagerUI::SetInstance(nullptr);
        m_frame = std::make_unique<CMainFrameNew>();
        ASSERT_NE(m_frame->Create(nullptr, u"Quokka模拟器", 0x10CF0000, 0x100), nullptr);
    }

    std::string App() const { return m_dir.Path() + "app/"; }
    std::string Rom() const { return m_dir.Path() + "rom/"; }
    std::string Log() const { return m_dir.Path() + "requests.log"; }

    // The referers of the beacons the server has seen, in order.
    std::vector<std::string> BeaconReferers() const
    {
        std::vector<std::string> referers;
        std::istringstream lines(testsupport::ReadFile(Log()));
        for (std::string line; std::getline(lines, line);) {
            if (line.find("/stat/") == std::string::npos)
                continue;
            const std::string key = "\"referer\":\"";
            size_t at = line.find(key);
            if (at == std::string::npos)
                continue;
            at += key.size();
            referers.push_back(line.substr(at, line.find('"', at) - at));
        }
        return referers;
    }
    bool SawBeacon(const std::string& page) const
    {
        return TestInput::WaitFor(
            [&] {
                for (const std::string& referer : BeaconReferers())
                    if (referer == SiteUrl(page))
                        return true;
                return false;
            },
            10000);
    }

    CControlUI* Find(std::u16string_view name) const { return m_frame->GetPaintManager().FindControl(name); }
    CContainerUI* Tiles(std::u16string_view name) const { return static_cast<CContainerUI*>(Find(name)); }
    static POINT Centre(CPaintManagerUI& pm, CControlUI* control)
    {
        pm.UpdateLayout();
        const RECT& rc = control->GetPos();
        return POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
    }
    void Click(CControlUI* control) const
    {
        ASSERT_NE(control, nullptr);
        TestInput::Click(m_frame->GetHWND(), Centre(m_frame->GetPaintManager(), control));
        TestInput::ProcessEvents();
    }
    static bool RunInWindowOnceOpen(const char16_t* className, const std::function<void(HWND)>& script)
    {
        return apptest::RunInWindowOnceOpen(className, script);
    }
    // Clicks `control` and runs `script` inside the modal loop the click opens, once a window of
    // `className` is up.
    void ClickIntoDialog(CControlUI* control, const char16_t* className,
                         const std::function<void(HWND)>& script)
    {
        EXPECT_TRUE(apptest::ClickIntoWindow([&] { Click(control); }, className, script))
            << "no window of the expected class came up";
    }

    static void ClickIn(HWND dialog, std::u16string_view name)
    {
        ASSERT_NE(dialog, nullptr);
        auto* frame = static_cast<CDialogFrameWnd*>(WindowFromHandle(dialog));
        CControlUI* control = frame->GetPaintManager().FindControl(name);
        ASSERT_NE(control, nullptr) << CDuiString(name).ToUtf8();
        TestInput::Click(dialog, Centre(frame->GetPaintManager(), control));
        TestInput::ProcessEvents();
    }

    // A downloaded FC game in the library, 魂斗罗 (id 9001), its cartridge file named after its id in
    // its folder. Gives the folder.
    std::string StoreDownloadedFcGame()
    {
        const std::string folder = Rom() + "FC/contra game/";
        EXPECT_TRUE(apptest::StoreDownloadedFcGame(folder, "9001", "魂斗罗"));
        return folder;
    }

    testsupport::TempDir m_dir;
    std::unique_ptr<CStandInServer> m_server;
    std::unique_ptr<CMainFrameNew> m_frame;
};

// 启动 on a downloaded game's tile asks the control method in the real dialog, starts the
// emulator with the game, shows the platform's tips at the right edge while it runs and hides them
// when it exits.
TEST_F(MainFrameWiringTest, ALibraryGameStartsThroughItsTileAndTheTipsFollowTheGame)
{
    launchtest::WriteTestEmulators(m_dir.Path() + "data/");
    StartServer(m_dir.Path() + "data/");
    fs::copy(fs::path(QUOKKA_SOURCE_ROOT) / "res/LocalGameRes", App() + "LocalGameRes",
             fs::copy_options::recursive);
    {
        CAppSettings settings;
        settings.SetHandleType(""); // asked at the launch
        settings.SetShowKeyMapTips("1");
        settings.Save();
    }
    testsupport::Fifo started(m_dir.Path() + "started");
    testsupport::Fifo release(m_dir.Path() + "release");
    ASSERT_TRUE(testsupport::WriteFile(App() + "behaviour", "OUT='" + m_dir.Path() + "out.txt'\nSTARTED='" +
                                                                started.Path() + "'\nRELEASE='" +
                                                                release.Path() + "'\n"));
    // The FC emulator is installed from the server before the window opens.
    launchtest::ServerInstaller installer;
    EmulatorManager::Instance().SetInstaller(&installer);
    ASSERT_TRUE(EmulatorManager::Instance().WaitForRefresh(10000));
    ASSERT_TRUE(EmulatorManager::Instance().EnsureEmulator(125, nullptr));
    ASSERT_EQ(installer.installs, 1);

    const std::string folder = StoreDownloadedFcGame();

    Open();
    ASSERT_TRUE(
        TestInput::WaitFor([&] { return Tiles(u"Tl_GameView_DownloadGame")->GetCount() == 1; }, 15000));
    CKeyMapTipsFrame* tips = m_frame->TipsWindow();
    ASSERT_NE(tips, nullptr);
    EXPECT_FALSE(tips->IsVisible()) << "made hidden";
    Click(Find(u"Opt_MyGame"));

    auto* tile = static_cast<CContainerUI*>(Tiles(u"Tl_GameView_DownloadGame")->GetItemAt(0));
    bool dialogSeen = false;
    ClickIntoDialog(tile->FindSubControl(u"Btn_InstallGame"), u"DownLoadTypeFrame", [&](HWND dialog) {
        dialogSeen = dialog != nullptr;
        ClickIn(dialog, u"Btn_GamePad");
    });
    ASSERT_TRUE(dialogSeen) << "the control method is asked in its dialog";
    ASSERT_TRUE(started.ReadLine(10000)) << "the emulator ran";

    ASSERT_TRUE(TestInput::WaitFor([&] { return tips->IsVisible(); }, 10000));
    const std::u16string expected =
        CKeyMapTipsFrame::LoadTipsText(App() + CKeyMapTipsFrame::TipFileName("125", 1));
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(tips->TipsText().Str(), expected) << "the gamepad tips of the FC platform";
    // Where the window system centres it gives the work area's right edge.
    const RECT shown = tips->GetWindowRect();
    tips->CenterWindow();
    const RECT centred = tips->GetWindowRect();
    EXPECT_EQ(shown.right, centred.right + centred.left);
    EXPECT_NE(GameLauncher::Instance().Platform(), "");

    ASSERT_TRUE(release.WriteLine("go"));
    ASSERT_TRUE(GameLauncher::Instance().WaitUntilIdle(10000));
    EXPECT_TRUE(TestInput::WaitFor([&] { return !tips->IsVisible(); }, 10000)) << "hidden when the game ends";
    const std::string report = testsupport::ReadFile(m_dir.Path() + "out.txt");
    EXPECT_NE(report.find("arg " + folder + "9001.nes"), std::string::npos) << report;
    EXPECT_EQ(CAppSettings().HandleType(), "1") << "the answer is kept";
}

// 启动 on a game whose emulator's program is gone says so in a box ("无法启动：" and the program's
// path) that the launch worker does not wait for: the game's run is over while the box is still
// up. Running that emulator for its settings says the same.
TEST_F(MainFrameWiringTest, AnEmulatorThatCannotStartIsSaidInABoxTheRunDoesNotWaitFor)
{
    launchtest::WriteTestEmulators(m_dir.Path() + "data/");
    StartServer(m_dir.Path() + "data/");
    {
        CAppSettings settings;
        settings.SetHandleType("2");
        settings.SetShowKeyMapTips("0");
        settings.Save();
    }
    launchtest::ServerInstaller installer;
    EmulatorManager::Instance().SetInstaller(&installer);
    ASSERT_TRUE(EmulatorManager::Instance().WaitForRefresh(10000));
    EmulatorRecordPtr emulator = EmulatorManager::Instance().EnsureEmulator(125, nullptr);
    ASSERT_TRUE(emulator);
    const std::string program = EmulatorManager::EmulatorDirectory(*emulator) + "/launch.sh";
    ASSERT_TRUE(fs::remove(program));

    StoreDownloadedFcGame();
    Open();
    ASSERT_TRUE(
        TestInput::WaitFor([&] { return Tiles(u"Tl_GameView_DownloadGame")->GetCount() == 1; }, 15000));
    Click(Find(u"Opt_MyGame"));

    std::vector<std::u16string> boxes;
    std::vector<HWND> owners;
    bool runOverWhileShown = false;
    SetMessageBoxAnswerer([&](HWND owner, const CDuiString& text, const CDuiString& caption, UINT type) {
        boxes.push_back(caption.Str() + u"|" + text.Str());
        owners.push_back(owner);
        EXPECT_EQ(type, static_cast<UINT>(MB_OK));
        runOverWhileShown = GameLauncher::Instance().WaitUntilIdle(10000);
        return IDOK;
    });
    auto* tile = static_cast<CContainerUI*>(Tiles(u"Tl_GameView_DownloadGame")->GetItemAt(0));
    Click(tile->FindSubControl(u"Btn_InstallGame"));
    const std::u16string expected = u"提示|无法启动：" + CDuiString::FromUtf8(program).Str();
    ASSERT_TRUE(TestInput::WaitFor([&] { return boxes.size() == 1; }, 10000));
    EXPECT_EQ(boxes[0], expected);
    EXPECT_EQ(owners[0], m_frame->GetHWND());
    EXPECT_TRUE(runOverWhileShown) << "the launch worker went on while the box was up";

    EmulatorManager::Instance().RunForSettings(*emulator, m_frame->GetHWND());
    ASSERT_TRUE(TestInput::WaitFor([&] { return boxes.size() == 2; }, 10000));
    EXPECT_EQ(boxes[1], expected);
    EXPECT_TRUE(EmulatorManager::Instance().WaitForSettingsRun(10000));
    SetMessageBoxAnswerer({});
}

// A click on a catalogue tile opens the detail window of the tile's game.
TEST_F(MainFrameWiringTest, ACatalogueTileOpensItsGamesDetailWindow)
{
    StartServer(QUOKKA_APP_DEMO_DIR);
    Open();
    CContainerUI* tiles = Tiles(u"Tl_GameView_FindGame");
    ASSERT_TRUE(TestInput::WaitFor([&] { return tiles->GetCount() > 2; }, 15000));

    CControlUI* tile = tiles->GetItemAt(2);
    const std::string gameId = tile->GetUserData().ToUtf8();
    ASSERT_FALSE(gameId.empty());
    std::string shownId;
    // The tile's icon area, away from its install button.
    CControlUI* icon = static_cast<CContainerUI*>(tile)->FindSubControl(u"Ctr_GameIcon");
    ASSERT_NE(icon, nullptr);
    ClickIntoDialog(icon, u"GameInfoFrame", [&](HWND dialog) {
        shownId = static_cast<CGameInfoFrameNew*>(WindowFromHandle(dialog))->Game().gameid;
        ClickIn(dialog, u"Btn_Close");
    });
    EXPECT_EQ(shownId, gameId);
    EXPECT_EQ(FindWindow(u"GameInfoFrame"), nullptr) << "closed with its button";
}

// The download source the user would pick in the dialog (the dialog itself has its own tests).
class OwnServerChooser : public IDownloadSourceChooser {
public:
    int ChooseDownloadSource(platform::HWND, int offerMask) override
    {
        return (offerMask & kSourceOwnServer) != 0 ? kSourceOwnServer : kSourceClosed;
    }
};

// 安装 on a catalogue PC game downloads it through the engine: the tile follows the task (下载中,
// paused and started again by its button), the badge counts the running download, closing asks
// while it runs, and the finished game joins the library, gets its downloaded tile and 启动.
TEST_F(MainFrameWiringTest, ACataloguePcGameDownloadsIntoTheLibraryThroughItsTile)
{
    StartServer(QUOKKA_APP_DEMO_DIR);
    std::string error;
    ASSERT_TRUE(m_server->SetFaults(
        R"([{"path": "/download/games/", "prefix": true, "method": "GET", "rateKiBps": 1}])", error))
        << error;
    Open();
    CContainerUI* tiles = Tiles(u"Tl_GameView_FindGame");
    ASSERT_TRUE(TestInput::WaitFor([&] { return tiles->GetCount() > 0; }, 15000));
    InstallDownloadSourceChooser(std::make_shared<OwnServerChooser>());
    const char16_t* pcGames[] = {u"20001", u"20019", u"20037", u"20055", u"20073"};
    CContainerUI* tile = nullptr;
    for (int i = 0; i < tiles->GetCount() && tile == nullptr; ++i)
        for (const char16_t* id : pcGames)
            if (tiles->GetItemAt(i)->GetUserData() == CDuiString(id))
                tile = static_cast<CContainerUI*>(tiles->GetItemAt(i));
    ASSERT_NE(tile, nullptr) << "a PC game on the first page";
    const std::string gameId = tile->GetUserData().ToUtf8();
    CControlUI* button = tile->FindSubControl(u"Btn_InstallGame");
    auto state = [&] { return static_cast<int>(button->GetTag()); };
    ASSERT_EQ(state(), 0);

    Click(button);
    ASSERT_TRUE(TestInput::WaitFor([&] { return state() == 2; }, 15000)) << state();
    EXPECT_EQ(button->GetText(), CDuiString(u"下载中"));
    auto* badge = static_cast<CButtonUIEx*>(Find(u"Btn_DownLoad")->GetInterface(u"CButtonUIEx"));
    EXPECT_TRUE(TestInput::WaitFor([&] { return badge->GetNumber() == 1; }, 5000)) << badge->GetNumber();

    // Closing while the download runs asks first; No keeps the window.
    std::vector<std::u16string> asked;
    SetMessageBoxAnswerer([&](HWND, const CDuiString& text, const CDuiString& caption, UINT type) {
        asked.push_back(caption.Str() + u"|" + text.Str());
        EXPECT_EQ(type, static_cast<UINT>(MB_YESNO));
        return IDNO;
    });
    Click(Find(u"Btn_Close"));
    EXPECT_EQ(asked, (std::vector<std::u16string>{u"提示|有下载任务进行中是否退出"}));
    TestInput::ProcessEvents();
    EXPECT_TRUE(m_frame->IsVisible());
    SetMessageBoxAnswerer({});

    // The list window, made hidden with the main window, shows the task.
    CDownLoadFrameNew* list = m_frame->DownloadWindow();
    ASSERT_NE(list, nullptr);
    EXPECT_FALSE(list->IsVisible());
    Click(Find(u"Btn_DownLoad"));
    EXPECT_TRUE(list->IsVisible());
    EXPECT_NE(list->RowOf(gameId), nullptr);

    Click(button); // pause
    ASSERT_TRUE(TestInput::WaitFor([&] { return state() == 3; }, 15000)) << state();
    EXPECT_TRUE(TestInput::WaitFor([&] { return badge->GetNumber() == 0; }, 5000));
    ASSERT_TRUE(m_server->SetFaults("", error)) << error;
    Click(button); // start again
    ASSERT_TRUE(TestInput::WaitFor([&] { return state() == 8; }, 20000)) << state();
    EXPECT_EQ(button->GetText(), CDuiString(u"启动"));
    ASSERT_TRUE(CLocalLibrary::Instance().FindGame(gameId).has_value());
    EXPECT_TRUE(
        TestInput::WaitFor([&] { return Tiles(u"Tl_GameView_DownloadGame")->GetCount() == 1; }, 5000));
}

// A quit while a download waits for its source dialog, asked just as the main loop ended (the
// request is queued and never served): the window's shutdown answers it "closed" and goes on,
// instead of waiting for a download worker that waits for this very thread.
TEST_F(MainFrameWiringTest, AQuitWhileASourceDialogIsQueuedEndsTheWindow)
{
    StartServer(QUOKKA_APP_DEMO_DIR);
    Open(); // with the program's own source dialog
    CContainerUI* tiles = Tiles(u"Tl_GameView_FindGame");
    ASSERT_TRUE(TestInput::WaitFor([&] { return tiles->GetCount() > 0; }, 15000));
    CControlUI* button = nullptr;
    for (int i = 0; i < tiles->GetCount() && button == nullptr; ++i)
        if (tiles->GetItemAt(i)->GetUserData() == CDuiString(u"20001"))
            button = static_cast<CContainerUI*>(tiles->GetItemAt(i))->FindSubControl(u"Btn_InstallGame");
    ASSERT_NE(button, nullptr) << "the PC game 20001 on the first page";
    // From the click on the UI loop never runs again: the dialog's request stays queued.
    TestInput::Click(m_frame->GetHWND(), Centre(m_frame->GetPaintManager(), button));
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (PendingUiRequestCount() == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
    ASSERT_EQ(PendingUiRequestCount(), 1u) << "the download asks for its source";
    m_frame.reset(); // returns: nothing waits on the UI thread
    EXPECT_EQ(PendingUiRequestCount(), 0u);
}

// Exit from the tray menu while two downloads run asks first, in tray mode too (exit is not
// hiding); No keeps the window and both downloads running.
TEST_F(MainFrameWiringTest, ExitFromTheTrayMenuWithTwoDownloadsRunningAsksAndNoKeepsThem)
{
    StartServer(QUOKKA_APP_DEMO_DIR);
    {
        CAppSettings settings;
        settings.SetIsTray("1");
        settings.Save();
    }
    std::string error;
    ASSERT_TRUE(m_server->SetFaults(
        R"([{"path": "/download/games/", "prefix": true, "method": "GET", "rateKiBps": 1}])", error))
        << error;
    Open();
    CContainerUI* tiles = Tiles(u"Tl_GameView_FindGame");
    ASSERT_TRUE(TestInput::WaitFor([&] { return tiles->GetCount() > 0; }, 15000));
    InstallDownloadSourceChooser(std::make_shared<OwnServerChooser>());
    // PC games need no emulator: every 18th game of the demo catalogue from 20001.
    std::vector<CControlUI*> buttons;
    for (int i = 0; i < tiles->GetCount() && buttons.size() < 2; ++i) {
        auto* tile = static_cast<CContainerUI*>(tiles->GetItemAt(i));
        const long id = std::stol(tile->GetUserData().ToUtf8());
        if (id >= 20001 && (id - 20001) % 18 == 0)
            buttons.push_back(tile->FindSubControl(u"Btn_InstallGame"));
    }
    ASSERT_EQ(buttons.size(), 2u) << "two PC games on the first page";
    for (CControlUI* button : buttons) {
        // The view scrolls the tile's button into sight first, as the user would.
        m_frame->GetPaintManager().UpdateLayout();
        SIZE scroll = tiles->GetScrollPos();
        scroll.cy += button->GetPos().top - tiles->GetPos().top;
        tiles->SetScrollPos(scroll);
        Click(button);
        ASSERT_TRUE(TestInput::WaitFor([&] { return button->GetTag() == 2; }, 15000)) << button->GetTag();
    }
    auto* badge = static_cast<CButtonUIEx*>(Find(u"Btn_DownLoad")->GetInterface(u"CButtonUIEx"));
    ASSERT_TRUE(TestInput::WaitFor([&] { return badge->GetNumber() == 2; }, 5000)) << badge->GetNumber();

    std::vector<std::u16string> asked;
    SetMessageBoxAnswerer([&](HWND, const CDuiString& text, const CDuiString& caption, UINT type) {
        asked.push_back(caption.Str() + u"|" + text.Str());
        EXPECT_EQ(type, static_cast<UINT>(MB_YESNO));
        return IDNO;
    });
    auto* exit = new CDuiString(u"Menu_Exit");
    UiLib::PostMessage(m_frame->GetHWND(), WM_MENU_COMMAND, reinterpret_cast<WPARAM>(exit), 0,
                       [exit] { delete exit; });
    ASSERT_TRUE(TestInput::WaitFor([&] { return !asked.empty(); }, 5000));
    TestInput::ProcessEvents();
    EXPECT_EQ(asked, (std::vector<std::u16string>{u"提示|有下载任务进行中是否退出"}));
    SetMessageBoxAnswerer({});
    EXPECT_TRUE(m_frame->IsVisible());
    EXPECT_NE(m_frame->GetHWND(), nullptr);
    EXPECT_EQ(DownloadManager::Instance().CountRunningWorkers(), 2);
    for (CControlUI* button : buttons)
        EXPECT_EQ(button->GetTag(), 2u);
    EXPECT_EQ(badge->GetNumber(), 2);
}

// Without a library folder the settings window opens before the main window shows, on the library
// page; Btn_Set opens it again later.
TEST_F(MainFrameWiringTest, WithoutALibraryFolderTheSettingsWindowComesFirst)
{
    StartServer(QUOKKA_APP_DEMO_DIR);
    {
        CAppSettings settings;
        settings.SetRomPath("");
        settings.Save();
    }
    std::atomic<bool> firstRun{false};
    std::thread inside([&] {
        RunInWindowOnceOpen(u"SystemSetFrame", [&](HWND dialog) {
            firstRun = true;
            ClickIn(dialog, u"Btn_Close");
        });
    });
    Open();
    inside.join();
    EXPECT_TRUE(firstRun) << "asked for a library folder at start";
    ASSERT_NE(m_frame->GetHWND(), nullptr);
    ASSERT_TRUE(TestInput::WaitFor([&] { return Tiles(u"Tl_GameView_FindGame")->GetCount() > 0; }, 15000))
        << "the window goes on after the settings window closed";

    bool again = false;
    ClickIntoDialog(Find(u"Btn_Set"), u"SystemSetFrame", [&](HWND dialog) {
        again = true;
        ClickIn(dialog, u"Btn_Close");
    });
    EXPECT_TRUE(again);
}

// The first-run settings window manages emulators as the later one does: its questions come up
// and its removals happen (the manager had neither its installer nor its prompts before the main
// window's first notification, which comes after the start-up questions).
TEST_F(MainFrameWiringTest, TheFirstRunSettingsWindowManagesEmulators)
{
    launchtest::WriteTestEmulators(m_dir.Path() + "data/");
    StartServer(m_dir.Path() + "data/");
    {
        CAppSettings settings;
        settings.SetRomPath("");
        settings.Save();
    }
    launchtest::ServerInstaller installer;
    EmulatorManager::Instance().SetInstaller(&installer);
    ASSERT_TRUE(EmulatorManager::Instance().WaitForRefresh(10000));
    EmulatorRecordPtr emulator = EmulatorManager::Instance().EnsureEmulator(125, nullptr);
    ASSERT_TRUE(emulator);
    EmulatorManager::Instance().SetInstaller(nullptr); // the window's own comes with the window

    std::vector<std::u16string> asked;
    SetMessageBoxAnswerer([&](HWND, const CDuiString& text, const CDuiString& caption, UINT) {
        asked.push_back(caption.Str() + u"|" + text.Str());
        return IDYES;
    });
    bool removed = false;
    std::thread inside([&] {
        RunInWindowOnceOpen(u"SystemSetFrame", [&](HWND dialog) {
            removed = EmulatorManager::Instance().Uninstall(*emulator, dialog);
            ClickIn(dialog, u"Btn_Close");
        });
    });
    Open();
    inside.join();
    SetMessageBoxAnswerer({});
    EXPECT_EQ(asked, (std::vector<std::u16string>{u"提示|是否删除模拟器"}));
    EXPECT_TRUE(removed);
    EXPECT_FALSE(EmulatorManager::Instance().HasInstalledPlatform(125));
    EXPECT_FALSE(fs::exists(EmulatorManager::EmulatorDirectory(*emulator)));
}

// A termination signal while the first-run settings window waits ends that window unanswered;
// start-up asks nothing more, and the main window closes itself instead of going on.
TEST_F(MainFrameWiringTest, AnEndWhileTheFirstRunSettingsWaitCutsStartUpShort)
{
    StartServer(QUOKKA_APP_DEMO_DIR);
    {
        CAppSettings settings;
        settings.SetRomPath("");
        settings.Save();
    }
    // The first-run window makes a library folder on the largest drive; one made here goes again.
    testsupport::FirstRunLibraryFolder firstRunLibrary;
    std::atomic<bool> asked{false};
    std::thread inside([&] {
        RunInWindowOnceOpen(u"SystemSetFrame", [&](HWND) {
            asked = true;
            CMainFrameNew::EndForSignal();
        });
    });
    Open();
    inside.join();
    EXPECT_TRUE(asked);
    EXPECT_TRUE(CMainFrameNew::EndRequested());
    EXPECT_TRUE(TestInput::WaitFor([&] { return m_frame->GetHWND() == nullptr; }, 10000))
        << "the main window went on after the signal";
    EXPECT_EQ(FindWindow(u"SystemSetFrame"), nullptr);

    // The next main window of the process starts afresh.
    m_frame.reset();
    {
        CAppSettings settings;
        settings.SetRomPath(Rom());
        settings.Save();
    }
    Open();
    EXPECT_FALSE(CMainFrameNew::EndRequested());
    EXPECT_NE(m_frame->GetHWND(), nullptr);
}

// In tray mode the close button puts the download list away with the main window.
TEST_F(MainFrameWiringTest, TrayModeHidesTheDownloadListWithTheWindow)
{
    StartServer(QUOKKA_APP_DEMO_DIR);
    {
        CAppSettings settings;
        settings.SetIsTray("1");
        settings.Save();
    }
    Open();
    ASSERT_TRUE(TestInput::WaitFor([&] { return Tiles(u"Tl_GameView_FindGame")->GetCount() > 0; }, 15000));
    CDownLoadFrameNew* list = m_frame->DownloadWindow();
    ASSERT_NE(list, nullptr);
    Click(Find(u"Btn_DownLoad"));
    ASSERT_TRUE(list->IsVisible());
    Click(Find(u"Btn_Close"));
    EXPECT_TRUE(TestInput::WaitFor([&] { return !list->IsVisible(); }, 5000));
    EXPECT_TRUE(!m_frame->IsVisible() || m_frame->IsMinimized()) << "the main window went to the tray";
    EXPECT_NE(m_frame->GetHWND(), nullptr) << "and was not closed";
}

} // namespace
