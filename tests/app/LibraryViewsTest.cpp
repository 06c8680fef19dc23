// The downloaded and local games' views of the main window, in this process on Qt's offscreen
// platform: a real game store file made before the window opens, the real library set and its
// fillers, the stand-in server for the catalogue and icons, and input through the window's own
// event handling (clicks, drags and drops, typing into the rename dialog).

#include "app/MainFrameNew.h"

#include "app/DropTileLayoutUI.h"
#include "app/LibraryViews.h"
#include "app/ReNameFrame.h"
#include "catalogue/CatalogueClient.h"
#include "emulator/DropImport.h"
#include "foundation/AppMessages.h"
#include "foundation/AppPaths.h"
#include "foundation/HttpClient.h"
#include "foundation/ServerEndpoints.h"
#include "store/CppSQLite3DB.h"
#include "store/GameStore.h"
#include "store/LocalLibrary.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"
#include "ui/Container.h"
#include "ui/MessageBox.h"
#include "ui/Option.h"
#include "ui/PaintManager.h"
#include "ui/TabLayout.h"
#include "ui/TestInput.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <sys/stat.h>
#include <thread>

using namespace UiLib;
using testsupport::ChildProcess;
using testsupport::TempDir;
namespace fs = std::filesystem;

namespace {

// Waits in these tests end on their event, however slow the machine; a fault shows as a hang.
constexpr int kUntilDone = std::numeric_limits<int>::max();

GameinfoRecord Downloaded(const std::string& id, const std::string& emulatorId, const std::string& categoryId,
                          const std::string& folder, const std::string& icon = "")
{
    GameinfoRecord game;
    game.GameId = id;
    game.Icon = icon;
    game.Size = "1.50";
    game.GameName = "游戏" + id;
    game.EmulatorShortName = emulatorId == "125" ? "FC" : "GBA";
    game.CategoryShortName = "动作游戏";
    game.FilePath = folder;
    game.FileName = id + ".nes";
    game.EmulatorId = emulatorId;
    game.CategoryId = categoryId;
    return game;
}

LocalGameRecord Local(const std::string& path, const std::string& shortName, const std::string& emulatorId)
{
    LocalGameRecord game;
    game.GameName = fs::path(path).stem().string();
    game.Size = "0.01";
    game.EmulatorShortName = shortName;
    game.FilePath = path;
    game.FileName = fs::path(path).filename().string();
    game.EmulatorId = emulatorId;
    return game;
}

class LibraryViewsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        s_dir = new TempDir;
        s_server = new ChildProcess({QUOKKA_SERVER_EXECUTABLE, "--port", "0", "--data", QUOKKA_APP_DEMO_DIR,
                                     "--write-servers-cfg", s_dir->Path() + "servers.cfg"});
        std::string first = s_server->ReadLine(kUntilDone).value_or("");
        ASSERT_NE(first.find("listening on "), std::string::npos) << first;
        SetServerEndpoints(LoadServerEndpoints(s_dir->Path() + "servers.cfg"));
    }
    static void TearDownTestSuite()
    {
        CPaintManagerUI::Term();
        if (s_server != nullptr)
            s_server->Signal(SIGTERM);
        delete s_server;
        s_server = nullptr;
        delete s_dir;
        s_dir = nullptr;
    }

    void SetUp() override
    {
        ASSERT_NE(s_server, nullptr);
        AppPaths paths = MakeAppPaths(m_dir.Path(), m_dir.Path() + "work/", m_rom);
        fs::create_directories(paths.ImageCacheDir);
        fs::create_directories(paths.LocalGameDir + "FC");
        SetAppPaths(paths);
        // A library folder is set, so the settings window does not open for a first run.
        testsupport::WriteFile(paths.ConfigFilePath, "[Set]\nRomPath=" + m_rom + "\n");
    }
    void TearDown() override
    {
        m_frame.reset();
        SetMessageBoxAnswerer({});
    }

    // Writes the rows into the store's file before the window (and so the library set) exists.
    void Store(const std::vector<GameinfoRecord>& games, const std::vector<LocalGameRecord>& locals)
    {
        CGameStore store(CGameStore::DefaultDatabasePath());
        for (const GameinfoRecord& game : games) {
            GameinfoRecord row = game;
            ASSERT_TRUE(store.Submit(kStoreAddGameinfo, &row, false, false));
        }
        for (const LocalGameRecord& game : locals) {
            LocalGameRecord row = game;
            ASSERT_TRUE(store.Submit(kStoreAddLocalGame, &row, false, false));
        }
    }
    // Opens the main window and waits until both views show `downloaded` and `local` tiles.
    void Open(int downloaded, int local)
    {
        CPaintManagerUI::SetInstance(nullptr);
        m_frame = std::make_unique<CMainFrameNew>();
        ASSERT_NE(m_frame->Create(nullptr, u"Quokka模拟器", 0x10CF0000, 0x100), nullptr);
        ASSERT_TRUE(TestInput::WaitFor(
            [&] {
                return Tiles(u"Tl_GameView_DownloadGame")->GetCount() == downloaded &&
                       Tiles(u"Tl_GameView_LocalGame")->GetCount() == local;
            },
            kUntilDone))
            << Tiles(u"Tl_GameView_DownloadGame")->GetCount() << " "
            << Tiles(u"Tl_GameView_LocalGame")->GetCount();
        Click(Find(u"Opt_MyGame"));
    }
    void ShowLocal() { Click(Find(u"Opt_LocalGame")); }
    void ShowDownloaded() { Click(Find(u"Opt_DownLoadGame")); }

    CControlUI* Find(std::u16string_view name) const { return m_frame->GetPaintManager().FindControl(name); }
    CContainerUI* Tiles(std::u16string_view name) const { return static_cast<CContainerUI*>(Find(name)); }
    std::u16string Text(std::u16string_view name) const { return Find(name)->GetText().Str(); }
    CControlUI* Option(std::u16string_view filter, std::u16string_view text) const
    {
        return Find(filter)->FindControl([text](CControlUI* c) { return c->GetText().Str() == text; });
    }
    POINT Centre(CControlUI* control) const
    {
        m_frame->GetPaintManager().UpdateLayout();
        const RECT& rc = control->GetPos();
        return POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
    }
    void Click(CControlUI* control) const
    {
        ASSERT_NE(control, nullptr);
        TestInput::Click(m_frame->GetHWND(), Centre(control));
        TestInput::ProcessEvents();
    }
    // The tile of a view whose name label reads `name`.
    CContainerUI* Tile(std::u16string_view view, std::u16string_view name) const
    {
        CContainerUI* tiles = Tiles(view);
        for (int i = 0; i < tiles->GetCount(); ++i) {
            auto* tile = static_cast<CContainerUI*>(tiles->GetItemAt(i));
            if (tile->FindSubControl(u"Lb_GameName")->GetText().Str() == name)
                return tile;
        }
        return nullptr;
    }
    std::vector<std::u16string> Names(std::u16string_view view) const
    {
        std::vector<std::u16string> names;
        CContainerUI* tiles = Tiles(view);
        for (int i = 0; i < tiles->GetCount(); ++i)
            names.push_back(static_cast<CContainerUI*>(tiles->GetItemAt(i))
                                ->FindSubControl(u"Lb_GameName")
                                ->GetText()
                                .Str());
        return names;
    }
    void ClickButton(std::u16string_view view, std::u16string_view name, std::u16string_view button)
    {
        CContainerUI* tile = Tile(view, name);
        ASSERT_NE(tile, nullptr) << CDuiString(name).ToUtf8();
        Click(tile->FindSubControl(button));
    }
    // Runs `script` inside the modal loop that a click starts, once `className`'s window is up.
    void ClickIntoDialog(CControlUI* control, const char16_t* className,
                         const std::function<void(HWND)>& script)
    {
        std::atomic<bool> looked{false};
        std::thread inside([&] {
            RunOnUiThread([&] {
                looked = true;
                HWND dialog = nullptr;
                TestInput::WaitFor([&] { return (dialog = FindWindow(className)) != nullptr; }, kUntilDone);
                TestInput::ProcessEvents();
                script(dialog);
                auto* frame = dialog != nullptr && IsWindow(dialog)
                                  ? static_cast<CReNameFrame*>(WindowFromHandle(dialog))
                                  : nullptr;
                if (frame != nullptr && frame->Result() == 0) {
                    ADD_FAILURE() << "the script left the dialog open";
                    CPaintManagerUI::EndAllModalLoops(IDCLOSE);
                }
                return 0;
            });
        });
        Click(control);
        TestInput::WaitFor([&] { return looked.load(); }, kUntilDone);
        inside.join();
    }
    static CDialogFrameWnd* Dialog(HWND hwnd)
    {
        return static_cast<CDialogFrameWnd*>(WindowFromHandle(hwnd));
    }
    static POINT DialogCentre(HWND hwnd, std::u16string_view name)
    {
        CControlUI* control = Dialog(hwnd)->GetPaintManager().FindControl(name);
        const RECT& rc = control->GetPos();
        return POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
    }

    std::map<std::string, LocalGameRecord> StoredLocalGames()
    {
        LocalGameMap rows;
        CGameStore store(CGameStore::DefaultDatabasePath());
        store.Submit(kStoreReadLocalGames, &rows, false, false);
        return {rows.begin(), rows.end()};
    }
    GameinfoMap StoredGames()
    {
        GameinfoMap rows;
        CGameStore store(CGameStore::DefaultDatabasePath());
        store.Submit(kStoreReadGameinfo, &rows, false, false);
        return rows;
    }

    static TempDir* s_dir;
    static ChildProcess* s_server;

    TempDir m_dir;
    const std::string m_rom = m_dir.Path() + "rom/";
    // Deleted local games go to the trash in the test's folder.
    testsupport::ScopedEnv m_home{"HOME", m_dir.Path() + "home"};
    testsupport::ScopedEnv m_dataHome{"XDG_DATA_HOME", m_dir.Path() + "data"};
    const std::string m_trash = m_dir.Path() + "data/Trash/";
    std::unique_ptr<CMainFrameNew> m_frame;
};

TempDir* LibraryViewsTest::s_dir = nullptr;
ChildProcess* LibraryViewsTest::s_server = nullptr;

TEST_F(LibraryViewsTest, FillersShowEveryGameAndAFilterRefillsItsViewOnly)
{
    Store({Downloaded("1001", "125", "5", m_rom + "FC/1001/"),
           Downloaded("1002", "125", "12", m_rom + "FC/1002/"),
           Downloaded("1003", "120", "5", m_rom + "GBA/1003/")},
          {Local(m_rom + "LocalGame/FC/a.nes", "FC", "125"),
           Local(m_rom + "LocalGame/GBA/b.gba", "GBA", "120")});
    Open(3, 2);
    EXPECT_EQ(Names(u"Tl_GameView_DownloadGame"),
              (std::vector<std::u16string>{u"游戏1001", u"游戏1002", u"游戏1003"}));
    EXPECT_EQ(Text(u"Lb_GameNumbers_DownloadGame"), u"3款游戏");
    EXPECT_EQ(Text(u"Lb_GameNumbers_LocalGame"), u"2款游戏");

    // Genre 5 skips the game of genre "12"; the platform filter then keeps FC's.
    Click(Option(u"Gf_DownloadGame", u"冒险"));
    ASSERT_TRUE(
        TestInput::WaitFor([&] { return Tiles(u"Tl_GameView_DownloadGame")->GetCount() == 2; }, kUntilDone));
    EXPECT_EQ(Names(u"Tl_GameView_DownloadGame"), (std::vector<std::u16string>{u"游戏1001", u"游戏1003"}));
    Click(Option(u"Ef_DownloadGame", u"FC"));
    ASSERT_TRUE(
        TestInput::WaitFor([&] { return Text(u"Lb_GameNumbers_DownloadGame") == u"1款游戏"; }, kUntilDone));
    EXPECT_EQ(Names(u"Tl_GameView_DownloadGame"), (std::vector<std::u16string>{u"游戏1001"}));
    EXPECT_EQ(Text(u"Lb_GameLabel_DownloadGame"), u"FC/冒险");
    EXPECT_EQ(Tiles(u"Tl_GameView_LocalGame")->GetCount(), 2);
    EXPECT_EQ(Text(u"Lb_GameLabel_LocalGame"), u"全部");

    ShowLocal();
    Click(Option(u"Ef_LocalGame", u"GBA"));
    ASSERT_TRUE(
        TestInput::WaitFor([&] { return Text(u"Lb_GameNumbers_LocalGame") == u"1款游戏"; }, kUntilDone));
    EXPECT_EQ(Names(u"Tl_GameView_LocalGame"), (std::vector<std::u16string>{u"b"}));
    EXPECT_EQ(Text(u"Lb_GameLabel_LocalGame"), u"GBA");
    Click(Option(u"Ef_LocalGame", u"全部"));
    ASSERT_TRUE(
        TestInput::WaitFor([&] { return Text(u"Lb_GameNumbers_LocalGame") == u"2款游戏"; }, kUntilDone));
    TestInput::ProcessEvents();
    EXPECT_EQ(Tiles(u"Tl_GameView_LocalGame")->GetCount(), 2);
}

TEST_F(LibraryViewsTest, NamesAndPathsInvalidInTheCodePageAreShownAndDeleted)
{
    // The watcher keeps such names byte for byte; the tile shows them with replacement marks and
    // deleting works on the very bytes.
    const std::string path = m_rom + "LocalGame/FC/\xb5\xda.nes";
    ASSERT_TRUE(testsupport::WriteFile(path, "game"));
    LocalGameRecord game = Local(path, "FC", "125");
    game.GameName = "坏\xff名";
    Store({}, {game});
    Open(0, 1);
    ShowLocal();
    EXPECT_EQ(Names(u"Tl_GameView_LocalGame"), (std::vector<std::u16string>{u"坏\uFFFD名"}));
    ClickButton(u"Tl_GameView_LocalGame", u"坏\uFFFD名", u"Btn_DeleteGame");
    EXPECT_EQ(Tiles(u"Tl_GameView_LocalGame")->GetCount(), 0);
    EXPECT_FALSE(fs::exists(path));
}

TEST_F(LibraryViewsTest, StaleRepeatedAndFilteredMessagesAddNoTile)
{
    Store({Downloaded("1001", "125", "5", m_rom + "FC/1001/")},
          {Local(m_rom + "LocalGame/FC/a.nes", "FC", "125")});
    Open(1, 1);
    const HWND window = m_frame->GetHWND();
    // The same games again, and games the set does not hold (deleted since they were posted).
    platform::PostMessage(
        window, WM_GAME_INSTALLED, 0,
        std::make_unique<GameinfoRecord>(Downloaded("1001", "125", "5", m_rom + "FC/1001/")));
    platform::PostMessage(
        window, WM_GAME_INSTALLED, 0,
        std::make_unique<GameinfoRecord>(Downloaded("1999", "125", "5", m_rom + "FC/1999/")));
    platform::PostMessage(
        window, WM_LOCAL_GAME_ADDED, 0,
        std::make_unique<LocalGameRecord>(Local(m_rom + "LocalGame/FC/a.nes", "FC", "125")));
    platform::PostMessage(
        window, WM_LOCAL_GAME_ADDED, 0,
        std::make_unique<LocalGameRecord>(Local(m_rom + "LocalGame/FC/gone.nes", "FC", "125")));
    TestInput::ProcessEvents();
    EXPECT_EQ(Tiles(u"Tl_GameView_DownloadGame")->GetCount(), 1);
    EXPECT_EQ(Tiles(u"Tl_GameView_LocalGame")->GetCount(), 1);

    // A new game that the view's filter excludes adds neither a tile nor a count.
    ShowLocal();
    Click(Option(u"Ef_LocalGame", u"FC"));
    ASSERT_TRUE(
        TestInput::WaitFor([&] { return !CLocalLibrary::Instance().LocalFillerRunning(); }, kUntilDone));
    TestInput::ProcessEvents();
    LocalGameRecord gba = Local(m_rom + "LocalGame/GBA/new.gba", "GBA", "120");
    ASSERT_TRUE(CLocalLibrary::Instance().AddLocalGame(gba));
    platform::PostMessage(window, WM_LOCAL_GAME_ADDED, 0, std::make_unique<LocalGameRecord>(gba));
    LocalGameRecord fc = Local(m_rom + "LocalGame/FC/new.nes", "FC", "125");
    ASSERT_TRUE(CLocalLibrary::Instance().AddLocalGame(fc));
    platform::PostMessage(window, WM_LOCAL_GAME_ADDED, 0, std::make_unique<LocalGameRecord>(fc));
    ASSERT_TRUE(
        TestInput::WaitFor([&] { return Tiles(u"Tl_GameView_LocalGame")->GetCount() == 2; }, kUntilDone));
    TestInput::ProcessEvents();
    EXPECT_EQ(Names(u"Tl_GameView_LocalGame"), (std::vector<std::u16string>{u"a", u"new"}));
    EXPECT_EQ(Text(u"Lb_GameNumbers_LocalGame"), u"2款游戏");
}

TEST_F(LibraryViewsTest, DeleteRemovesOnlyFilesInsideTheLibrary)
{
    const std::string fc = m_rom + "LocalGame/FC/";
    const std::string outside = m_dir.Path() + "outside/";
    fs::create_directories(outside);
    fs::create_directories(m_rom + "LocalGame/PC/Game");
    fs::create_directories(m_rom + "FC/1001");
    for (const std::string& file :
         {fc + "a.nes", outside + "b.nes", outside + "target.nes", m_rom + "LocalGame/PC/Game/run.exe",
          m_rom + "FC/1001/1001.nes", m_rom + "FC/other.nes"})
        ASSERT_TRUE(testsupport::WriteFile(file, "game"));
    fs::create_symlink(outside + "target.nes", fc + "link.nes");
    fs::create_directory_symlink(outside, m_rom + "FC/1002");
    // Installed before the library folder was changed to m_rom.
    const std::string earlier = m_dir.Path() + "earlier/";
    fs::create_directories(earlier + "FC/1006");
    ASSERT_TRUE(testsupport::WriteFile(earlier + "FC/1006/1006.nes", "game"));
    fs::create_directories(earlier + "LocalGame/FC");
    ASSERT_TRUE(testsupport::WriteFile(earlier + "LocalGame/FC/c.nes", "game"));

    LocalGameRecord empty = Local("", "FC", "125");
    empty.GameName = "empty";
    LocalGameRecord root = Local(m_rom, "FC", "125");
    root.GameName = "root";
    Store({Downloaded("1001", "125", "5", m_rom + "FC/1001/"),
           Downloaded("1002", "125", "5", m_rom + "FC/1002/"), Downloaded("1003", "125", "5", m_rom + "FC/"),
           Downloaded("1004", "125", "5", m_rom), Downloaded("1005", "125", "5", ""),
           Downloaded("1006", "125", "5", earlier + "FC/1006/")},
          {Local(fc + "a.nes", "FC", "125"), Local(fc + "link.nes", "FC", "125"),
           Local(outside + "b.nes", "FC", "125"), Local(m_rom + "LocalGame/PC/Game/run.exe", "PC", "138"),
           Local(earlier + "LocalGame/FC/c.nes", "FC", "125"), empty, root});
    Open(6, 7);

    // Downloaded: a game's folder goes; a link in its place goes itself; the platform folder, the
    // library root and an empty path delete nothing. A game of an earlier library folder goes too.
    for (const char16_t* name :
         {u"游戏1001", u"游戏1002", u"游戏1003", u"游戏1004", u"游戏1005", u"游戏1006"})
        ClickButton(u"Tl_GameView_DownloadGame", name, u"Btn_DeleteGame");
    EXPECT_EQ(Tiles(u"Tl_GameView_DownloadGame")->GetCount(), 0);
    EXPECT_EQ(Text(u"Lb_GameNumbers_DownloadGame"), u"0款游戏");
    EXPECT_FALSE(fs::exists(m_rom + "FC/1001"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(m_rom + "FC/1002")));
    EXPECT_TRUE(fs::exists(outside + "target.nes"));
    EXPECT_TRUE(fs::exists(m_rom + "FC/other.nes"));
    EXPECT_TRUE(fs::exists(fc));
    EXPECT_FALSE(fs::exists(earlier + "FC/1006"));
    EXPECT_TRUE(fs::is_directory(earlier + "FC"));

    ShowLocal();
    for (const char16_t* name : {u"a", u"link", u"b", u"run", u"c", u"empty", u"root"})
        ClickButton(u"Tl_GameView_LocalGame", name, u"Btn_DeleteGame");
    EXPECT_EQ(Tiles(u"Tl_GameView_LocalGame")->GetCount(), 0);
    EXPECT_EQ(Text(u"Lb_GameNumbers_LocalGame"), u"0款游戏");
    EXPECT_FALSE(fs::exists(fc + "a.nes"));
    EXPECT_EQ(testsupport::ReadFile(m_trash + "files/a.nes"), "game")
        << "the user's own file is in the trash";
    EXPECT_FALSE(fs::exists(fs::symlink_status(fc + "link.nes")));
    EXPECT_TRUE(fs::exists(outside + "target.nes")) << "a link's target is never deleted";
    EXPECT_TRUE(fs::exists(outside + "b.nes")) << "a file outside the library is kept";
    EXPECT_FALSE(fs::exists(earlier + "LocalGame/FC/c.nes")) << "found under an earlier library folder";
    EXPECT_TRUE(fs::exists(m_trash + "files/c.nes"));
    EXPECT_TRUE(fs::exists(m_rom + "LocalGame/PC/Game/run.exe")) << "PC games keep their files";
    EXPECT_TRUE(fs::exists(m_rom + "FC/other.nes"));
    EXPECT_EQ(CLocalLibrary::Instance().LocalGameCount(), 0u);
    EXPECT_EQ(CLocalLibrary::Instance().GameCount(), 0u);

    m_frame.reset(); // the store's queue is written out at shutdown
    EXPECT_TRUE(StoredLocalGames().empty());
    EXPECT_TRUE(StoredGames().empty());
}

TEST_F(LibraryViewsTest, ALocalGameWhoseFileCannotGoToTheTrashIsKeptAndTheUserTold)
{
    const std::string path = m_rom + "LocalGame/FC/a.nes";
    ASSERT_TRUE(testsupport::WriteFile(path, "game"));
    ASSERT_TRUE(testsupport::WriteFile(m_dir.Path() + "data", "")); // no trash can be made below a file
    Store({}, {Local(path, "FC", "125")});
    Open(0, 1);
    ShowLocal();
    std::vector<std::u16string> boxes;
    SetMessageBoxAnswerer([&](HWND owner, const CDuiString& text, const CDuiString& caption, UINT type) {
        EXPECT_EQ(owner, m_frame->GetHWND());
        EXPECT_EQ(type, MB_OK);
        boxes.push_back(caption.Str() + u":" + text.Str());
        return IDOK;
    });
    ClickButton(u"Tl_GameView_LocalGame", u"a", u"Btn_DeleteGame");
    EXPECT_EQ(boxes, std::vector<std::u16string>{u"提示:无法将游戏文件移到回收站，游戏未删除。"});
    EXPECT_EQ(testsupport::ReadFile(path), "game");
    EXPECT_EQ(Names(u"Tl_GameView_LocalGame"), std::vector<std::u16string>{u"a"});
    EXPECT_TRUE(CLocalLibrary::Instance().HasLocalGame(path));

    // Once the trash can be made, the same click moves the file there.
    fs::remove(m_dir.Path() + "data");
    ClickButton(u"Tl_GameView_LocalGame", u"a", u"Btn_DeleteGame");
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(testsupport::ReadFile(m_trash + "files/a.nes"), "game");
    EXPECT_EQ(Tiles(u"Tl_GameView_LocalGame")->GetCount(), 0);
    m_frame.reset();
    EXPECT_TRUE(StoredLocalGames().empty());
}

TEST_F(LibraryViewsTest, RenameChangesOnlyTheNameAndRefusesNamesThatCannotBeStored)
{
    const std::string path = m_rom + "LocalGame/FC/a.nes";
    LocalGameRecord game = Local(path, "FC", "125");
    game.GameName = "老游戏";
    Store({}, {game});
    Open(0, 1);
    ShowLocal();
    std::vector<std::u16string> boxes;
    SetMessageBoxAnswerer([&](HWND, const CDuiString& text, const CDuiString& caption, UINT) {
        boxes.push_back(caption.Str() + u":" + text.Str());
        return IDOK;
    });
    auto renameButton = [&] {
        return Tile(u"Tl_GameView_LocalGame", Names(u"Tl_GameView_LocalGame")[0])
            ->FindSubControl(u"Btn_RenameGame");
    };

    // The dialog shows the current name, selected: one backspace empties it, and an empty name
    // ends the dialog and changes nothing.
    std::u16string shown;
    ClickIntoDialog(renameButton(), u"ReNameFrame", [&](HWND dialog) {
        ASSERT_NE(dialog, nullptr);
        shown = Dialog(dialog)->GetPaintManager().FindControl(u"Ed_GameName")->GetText().Str();
        if (const char* keep = std::getenv("QUOKKA_KEEP_SHOTS"))
            TestInput::SaveImage(dialog, std::string(keep) + "/rename.png");
        TestInput::Key(dialog, 0x08); // backspace over the selected name
        TestInput::Key(dialog, VK_RETURN);
        TestInput::ProcessEvents();
    });
    EXPECT_EQ(shown, u"老游戏");
    EXPECT_EQ(Names(u"Tl_GameView_LocalGame"), (std::vector<std::u16string>{u"老游戏"}));
    EXPECT_EQ(CLocalLibrary::Instance().FindLocalGame(path)->GameName, "老游戏");

    // Too long: a box, and the dialog stays open for another name; then a valid one by 确定.
    bool openAfterRefusal = false;
    ClickIntoDialog(renameButton(), u"ReNameFrame", [&](HWND dialog) {
        ASSERT_NE(dialog, nullptr);
        TestInput::TypeText(dialog, CDuiString(std::u16string(90, u'长')));
        TestInput::Key(dialog, VK_RETURN);
        TestInput::ProcessEvents();
        openAfterRefusal = static_cast<CReNameFrame*>(WindowFromHandle(dialog))->Result() == 0;
        Dialog(dialog)->GetPaintManager().FindControl(u"Ed_GameName")->SetText(u"");
        TestInput::TypeText(dialog, u"超级 Mario");
        TestInput::Click(dialog, DialogCentre(dialog, u"Btn_Ok"));
        TestInput::ProcessEvents();
    });
    EXPECT_TRUE(openAfterRefusal);
    EXPECT_EQ(boxes, (std::vector<std::u16string>{u"提示:游戏名称过长"}));
    EXPECT_EQ(Names(u"Tl_GameView_LocalGame"), (std::vector<std::u16string>{u"超级 Mario"}));
    EXPECT_EQ(CLocalLibrary::Instance().FindLocalGame(path)->GameName, "超级 Mario");

    // 取消 keeps the name.
    ClickIntoDialog(renameButton(), u"ReNameFrame", [&](HWND dialog) {
        ASSERT_NE(dialog, nullptr);
        TestInput::TypeText(dialog, u"别的名字");
        TestInput::Click(dialog, DialogCentre(dialog, u"Btn_Cancel"));
        TestInput::ProcessEvents();
    });
    EXPECT_EQ(Names(u"Tl_GameView_LocalGame"), (std::vector<std::u16string>{u"超级 Mario"}));

    m_frame.reset();
    std::map<std::string, LocalGameRecord> rows = StoredLocalGames();
    ASSERT_EQ(rows.size(), 1u);
    LocalGameRecord expected = game;
    expected.GameName = "超级 Mario";
    EXPECT_EQ(rows[path], expected) << "only the name changes";
}

TEST(ReNameFrameCheckTest, NamesTheLibraryCannotStoreAreRefused)
{
    std::string ansi;
    EXPECT_EQ(CReNameFrame::CheckName(u"超级马里奥 3", ansi), u"");
    EXPECT_EQ(ansi, "超级马里奥 3");
    EXPECT_EQ(CReNameFrame::CheckName(u"tab\there", ansi), u"游戏名称中有无法保存的字符");
    EXPECT_EQ(CReNameFrame::CheckName(u"line\nbreak", ansi), u"游戏名称中有无法保存的字符");
    EXPECT_EQ(CReNameFrame::CheckName(std::u16string(1, u'\xD800'), ansi), u"游戏名称中有无法保存的字符");
    EXPECT_EQ(CReNameFrame::CheckName(std::u16string(255, u'a'), ansi), u"");
    EXPECT_EQ(CReNameFrame::CheckName(std::u16string(256, u'a'), ansi), u"游戏名称过长");
    EXPECT_EQ(CReNameFrame::CheckName(std::u16string(86, u'长'), ansi), u"游戏名称过长"); // 258 bytes
}

TEST_F(LibraryViewsTest, OpenFolderShowsTheGamesFolder)
{
    const std::string bin = m_dir.Path() + "bin/";
    fs::create_directories(bin);
    ASSERT_TRUE(testsupport::WriteFile(bin + "xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > '" + m_dir.Path() +
                                                             "opened.tmp' && mv '" + m_dir.Path() +
                                                             "opened.tmp' '" + m_dir.Path() + "opened'\n"));
    ::chmod((bin + "xdg-open").c_str(), 0755);
    const std::string oldPath = std::getenv("PATH");
    setenv("PATH", (bin + ":" + oldPath).c_str(), 1);
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    const std::string oldBus = bus != nullptr ? bus : "";
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    struct Restore {
        std::function<void()> fn;
        ~Restore() { fn(); }
    } restore{[&] {
        setenv("PATH", oldPath.c_str(), 1);
        if (!oldBus.empty())
            setenv("DBUS_SESSION_BUS_ADDRESS", oldBus.c_str(), 1);
    }};

    fs::create_directories(m_rom + "FC/1001");
    Store({Downloaded("1001", "125", "5", m_rom + "FC/1001/")},
          {Local(m_rom + "LocalGame/FC/a.nes", "FC", "125")});
    Open(1, 1);
    const std::string opened = m_dir.Path() + "opened";
    ClickButton(u"Tl_GameView_DownloadGame", u"游戏1001", u"Btn_OpenGame");
    ASSERT_TRUE(TestInput::WaitFor([&] { return fs::exists(opened); }, kUntilDone));
    EXPECT_EQ(testsupport::ReadFile(opened), m_rom + "FC/1001/");
    fs::remove(opened);

    ShowLocal();
    ClickButton(u"Tl_GameView_LocalGame", u"a", u"Btn_OpenGame");
    ASSERT_TRUE(TestInput::WaitFor([&] { return fs::exists(opened); }, kUntilDone));
    EXPECT_EQ(testsupport::ReadFile(opened), m_rom + "LocalGame/FC/");
    m_frame.reset(); // its threads end before the environment is put back
}

// Whether most pixels of `rc` in the image are close to `rgb`.
bool MostlyColour(const TestInput::TestImage& image, const RECT& rc, std::uint32_t rgb, int tolerance)
{
    int close = 0, all = 0;
    for (int y = rc.top; y < rc.bottom; ++y)
        for (int x = rc.left; x < rc.right; ++x) {
            const std::uint32_t p = image.Pixel(x, y);
            ++all;
            if (std::abs(int((p >> 16) & 0xff) - int((rgb >> 16) & 0xff)) <= tolerance &&
                std::abs(int((p >> 8) & 0xff) - int((rgb >> 8) & 0xff)) <= tolerance &&
                std::abs(int(p & 0xff) - int(rgb & 0xff)) <= tolerance)
                ++close;
        }
    return all > 0 && close * 10 >= all * 8;
}

TEST_F(LibraryViewsTest, BothIconKindsAreDrawnOnTheTiles)
{
    // The downloaded game's icon comes from the image server; the local game's is its platform's
    // image, drawn small in the middle of the icon control.
    Store({Downloaded("20432", "146", "5", m_rom + "MAMEPLUS/20432/", "icon/146/20432.png")},
          {Local(m_rom + "LocalGame/FC/a.nes", "FC", "125")});
    Open(1, 1);
    CControlUI* downloadedIcon =
        Tile(u"Tl_GameView_DownloadGame", u"游戏20432")->FindSubControl(u"Ctr_GameIcon");
    ASSERT_TRUE(TestInput::WaitFor(
        [&] { return downloadedIcon->GetBkImage().Str().find(u"20432.png") != std::u16string::npos; },
        kUntilDone))
        << downloadedIcon->GetBkImage().ToUtf8();
    EXPECT_TRUE(fs::exists(ImageCacheDir() + "icon/146/20432.png"));
    const std::string shot = m_dir.Path() + "downloaded.png";
    ASSERT_TRUE(TestInput::SaveImage(m_frame->GetHWND(), shot));
    TestInput::TestImage image = TestInput::Grab(m_frame->GetHWND());
    m_frame->GetPaintManager().UpdateLayout();
    const RECT icon = downloadedIcon->GetPos();
    EXPECT_FALSE(MostlyColour(image, icon, 0xFFFFFF, 8)) << "the icon is drawn: " << shot;

    ShowLocal();
    CControlUI* localIcon = Tile(u"Tl_GameView_LocalGame", u"a")->FindSubControl(u"Ctr_GameIcon");
    ASSERT_TRUE(TestInput::WaitFor(
        [&] { return localIcon->GetBkImage().Str() == u"file='skin\\ui\\local_fc.png' dest='18,18,50,50'"; },
        kUntilDone))
        << localIcon->GetBkImage().ToUtf8();
    const std::string localShot = m_dir.Path() + "local.png";
    ASSERT_TRUE(TestInput::SaveImage(m_frame->GetHWND(), localShot));
    image = TestInput::Grab(m_frame->GetHWND());
    m_frame->GetPaintManager().UpdateLayout();
    const RECT rc = localIcon->GetPos();
    // The FC image (red) fills the middle; the rest of the icon control is the tile's white.
    EXPECT_TRUE(MostlyColour(image, RECT{rc.left + 22, rc.top + 19, rc.left + 46, rc.top + 24}, 0xD64541, 60))
        << localShot;
    EXPECT_TRUE(MostlyColour(image, RECT{rc.left + 2, rc.top + 2, rc.left + 14, rc.top + 14}, 0xFFFFFF, 4))
        << localShot;
    if (const char* keep = std::getenv("QUOKKA_KEEP_SHOTS")) {
        fs::copy_file(shot, std::string(keep) + "/downloaded.png", fs::copy_options::overwrite_existing);
        fs::copy_file(localShot, std::string(keep) + "/local.png", fs::copy_options::overwrite_existing);
    }
}

TEST_F(LibraryViewsTest, FilesDroppedOnTheLocalViewGoToTheImportWithItsPlatform)
{
    Store({}, {Local(m_rom + "LocalGame/FC/a.nes", "FC", "125")});
    Open(0, 1);
    ShowLocal();
    std::vector<std::vector<std::string>> drops;
    std::vector<int> platforms;
    m_frame->Library().onDropFiles = [&](const std::vector<std::string>& paths, int platform) {
        drops.push_back(paths);
        platforms.push_back(platform);
    };
    Click(Option(u"Ef_LocalGame", u"FC"));
    const std::string folder = m_dir.Path() + "drop/";
    fs::create_directories(folder + "nested/deeper");
    const std::vector<std::string> files = {folder + "one.nes", folder + "名字 two.NES", folder + "nested"};

    HWND window = m_frame->GetHWND();
    auto* view = static_cast<CDropTileLayoutUI*>(Find(u"Tl_GameView_LocalGame"));
    const POINT over = Centre(view);
    const RECT rc = view->GetPos();
    const RECT border{rc.left, rc.top + 40, rc.left + 3, rc.bottom - 40};

    // Over the view: the frame shows in a rendering; over the title bar it goes again.
    EXPECT_TRUE(TestInput::DragEnter(window, over, files));
    EXPECT_TRUE(view->IsDropHighlighted());
    EXPECT_TRUE(MostlyColour(TestInput::Grab(window), border, 0x2479E4, 4));
    if (const char* keep = std::getenv("QUOKKA_KEEP_SHOTS"))
        TestInput::SaveImage(window, std::string(keep) + "/drag.png");
    EXPECT_FALSE(TestInput::DragMove(window, POINT{20, 20}, files));
    EXPECT_FALSE(view->IsDropHighlighted());
    EXPECT_FALSE(MostlyColour(TestInput::Grab(window), border, 0x2479E4, 4));
    EXPECT_TRUE(TestInput::DragMove(window, over, files));
    EXPECT_TRUE(view->IsDropHighlighted());
    TestInput::DragLeave(window);
    EXPECT_FALSE(view->IsDropHighlighted());
    EXPECT_TRUE(drops.empty());

    // Several files and a folder in one drop reach the import as they were dropped, with the
    // platform the view shows; the frame goes with the drop.
    EXPECT_TRUE(TestInput::DragEnter(window, over, files));
    EXPECT_TRUE(TestInput::Drop(window, over, files));
    TestInput::ProcessEvents();
    EXPECT_FALSE(view->IsDropHighlighted());
    ASSERT_EQ(drops.size(), 1u);
    EXPECT_EQ(drops[0], files);
    EXPECT_EQ(platforms[0], 125);

    // Dropped on a tile, the files are the view's too.
    CControlUI* tile = Tile(u"Tl_GameView_LocalGame", u"a");
    ASSERT_NE(tile, nullptr);
    EXPECT_TRUE(TestInput::DragEnter(window, Centre(tile), {files[0]}));
    EXPECT_TRUE(TestInput::Drop(window, Centre(tile), {files[0]}));
    TestInput::ProcessEvents();
    ASSERT_EQ(drops.size(), 2u);
    EXPECT_EQ(drops[1], std::vector<std::string>{files[0]});
}

TEST(DropTileLayoutTest, BorderColourWithOrWithoutHashAndSize)
{
    CDropTileLayoutUI view;
    view.SetAttribute(u"dropbordcolor", u"#FF2479E4");
    EXPECT_EQ(view.GetDropBorderColor(), 0xFF2479E4u);
    view.SetAttribute(u"dropbordcolor", u"8000ff00");
    EXPECT_EQ(view.GetDropBorderColor(), 0x8000FF00u);
    view.SetAttribute(u"dropbordcolor", u"not a colour");
    EXPECT_EQ(view.GetDropBorderColor(), 0x8000FF00u);
    view.SetAttribute(u"Dropbordersize", u"3");
    EXPECT_EQ(view.GetDropBorderSize(), 3);
    view.SetAttribute(u"Dropbordersize", u"-2");
    EXPECT_EQ(view.GetDropBorderSize(), 0);
    EXPECT_TRUE(view.IsAcceptDrop());
    EXPECT_EQ(CDuiString(view.GetClass()).Str(), u"DropTileLayoutUI");
}

TEST_F(LibraryViewsTest, DroppedAndCopiedGamesGetTheirTilesAtOnce)
{
    Open(0, 0);
    ShowLocal();
    const HWND window = m_frame->GetHWND();
    const std::string folder = m_dir.Path() + "drop/";
    fs::create_directories(folder + "nested/deeper");
    for (const std::string& file :
         {folder + "one.nes", folder + "two.NES", folder + "readme.txt", folder + "nested/deeper/three.nes"})
        ASSERT_TRUE(testsupport::WriteFile(file, "game"));
    const std::vector<std::string> files = {folder + "one.nes", folder + "two.NES", folder + "readme.txt",
                                            folder + "nested"};
    const POINT over = Centre(Find(u"Tl_GameView_LocalGame"));
    auto drop = [&](const std::vector<std::string>& paths) {
        ASSERT_TRUE(TestInput::DragEnter(window, over, paths));
        ASSERT_TRUE(TestInput::Drop(window, over, paths));
        ASSERT_TRUE(CDropImport::Instance().WaitIdle(kUntilDone));
        TestInput::ProcessEvents();
    };

    // All platforms: nothing says which platform the files are for, so nothing is imported.
    drop(files);
    EXPECT_EQ(Tiles(u"Tl_GameView_LocalGame")->GetCount(), 0);

    // For FC: the two games, and the one in the nested folder; a second drop of one adds nothing.
    Click(Option(u"Ef_LocalGame", u"FC"));
    drop(files);
    drop({folder + "one.nes"});
    std::vector<std::u16string> names = Names(u"Tl_GameView_LocalGame");
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::u16string>{u"one", u"three", u"two"}));
    EXPECT_EQ(Text(u"Lb_GameNumbers_LocalGame"), u"3款游戏");

    // A game moved into the library's FC folder shows up without a drop.
    ASSERT_TRUE(testsupport::WriteFile(m_dir.Path() + "copied.nes", "game"));
    fs::rename(m_dir.Path() + "copied.nes", m_rom + "LocalGame/FC/copied.nes");
    EXPECT_TRUE(
        TestInput::WaitFor([&] { return Tile(u"Tl_GameView_LocalGame", u"copied") != nullptr; }, kUntilDone));
    EXPECT_EQ(Text(u"Lb_GameNumbers_LocalGame"), u"4款游戏");
}

TEST_F(LibraryViewsTest, DownloadedCatalogueGamesShowStartAndLaunch)
{
    CPaintManagerUI::SetInstance(nullptr);
    std::string firstGame;
    // The first page's first game is made a downloaded game of the library before the window opens.
    {
        auto frame = std::make_unique<CMainFrameNew>();
        ASSERT_NE(frame->Create(nullptr, u"Quokka模拟器", 0x10CF0000, 0x100), nullptr);
        auto* tiles =
            static_cast<CContainerUI*>(frame->GetPaintManager().FindControl(u"Tl_GameView_FindGame"));
        ASSERT_TRUE(TestInput::WaitFor([&] { return tiles->GetCount() > 1; }, kUntilDone));
        firstGame = tiles->GetItemAt(0)->GetUserData().ToUtf8();
    }
    Store({Downloaded(firstGame, "125", "5", m_rom + "FC/" + firstGame + "/")}, {});
    Open(1, 0);
    Click(Find(u"Opt_FindGame"));
    CContainerUI* tiles = Tiles(u"Tl_GameView_FindGame");
    ASSERT_TRUE(TestInput::WaitFor([&] { return tiles->GetCount() > 1; }, kUntilDone));
    auto install = [&](int index) {
        return static_cast<CContainerUI*>(tiles->GetItemAt(index))->FindSubControl(u"Btn_InstallGame");
    };
    EXPECT_EQ(install(0)->GetText().Str(), u"启动");
    EXPECT_EQ(install(1)->GetText().Str(), u"安装");

    std::vector<std::string> launched;
    m_frame->Library().onLaunchDownloaded = [&](const GameinfoRecord& game) {
        launched.push_back(game.GameId);
    };
    Click(install(0));
    EXPECT_EQ(launched, std::vector<std::string>{firstGame});

    // 启动 on the downloaded tile starts it too; deleting it puts 安装 back on the catalogue tile.
    Click(Find(u"Opt_MyGame"));
    ClickButton(u"Tl_GameView_DownloadGame", CDuiString::FromUtf8("游戏" + firstGame).Str(),
                u"Btn_InstallGame");
    EXPECT_EQ(launched.size(), 2u);
    ClickButton(u"Tl_GameView_DownloadGame", CDuiString::FromUtf8("游戏" + firstGame).Str(),
                u"Btn_DeleteGame");
    EXPECT_EQ(install(0)->GetText().Str(), u"安装");
}

} // namespace
