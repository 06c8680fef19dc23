// The main window in this process against the real stand-in server, on Qt's offscreen platform:
// pages by message, filters and pager asking for pages, the latest request winning, the search
// box, empty views, close handling and the services' shutdown. Every test has a window, a cache and
// services of its own; only the server (its content never changes) is shared, and its faults are
// cleared around each test.
#include "app/MainFrameNew.h"

#include "catalogue/CatalogueClient.h"
#include "catalogue/GameList.h"
#include "catalogue/PageLabelUI.h"
#include "emulator/EmulatorManager.h"
#include "foundation/AppMessages.h"
#include "foundation/AppPaths.h"
#include "foundation/HttpClient.h"
#include "foundation/ServerEndpoints.h"
#include "maintenance/DownLoadPopFrame.h"
#include "store/CppSQLite3DB.h"
#include "store/GameStore.h"
#include "tests/app/LeakSuppressions.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "ui/Option.h"
#include "ui/PaintManager.h"
#include "ui/TabLayout.h"
#include "ui/TestInput.h"
#include "ui/Text.h"
#include "ui/TileLayout.h"
#include "ui/TrayIcon.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>

using namespace UiLib;
using testsupport::ChildProcess;
using testsupport::TempDir;

namespace {

class MainFrameTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        s_dir = new TempDir;
        s_server = new ChildProcess({QUOKKA_SERVER_EXECUTABLE, "--port", "0", "--data", QUOKKA_APP_DEMO_DIR,
                                     "--log", Log(), "--write-servers-cfg", s_dir->Path() + "servers.cfg"});
        std::string first = s_server->ReadLine(20000).value_or("");
        ASSERT_NE(first.find("listening on "), std::string::npos) << first;
        s_origin = "http://" + first.substr(first.find("listening on ") + 13);
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
        SetFaults("");
        m_logStart = LogLines().size();

        AppPaths paths;
        paths.InstancePath = m_dir.Path();
        paths.WorkDir = m_dir.Path() + "work/";
        paths.ImageCacheDir = paths.WorkDir + "cache/image/";
        paths.ConfigFilePath = m_dir.Path() + "quokka.cfg";
        std::filesystem::create_directories(paths.ImageCacheDir);
        SetAppPaths(paths);
        // A library folder is set, so the settings window does not open for a first run.
        testsupport::WriteFile(paths.ConfigFilePath, "[Set]\nRomPath=" + m_dir.Path() + "rom/" + "\n");

        CPaintManagerUI::SetInstance(nullptr);
        m_frame = std::make_unique<CMainFrameNew>();
        ASSERT_NE(m_frame->Create(nullptr, u"Quokka模拟器", 0x10CF0000, 0x100), nullptr);
        ASSERT_TRUE(
            TestInput::WaitFor([this] { return Tiles(u"Tl_GameView_FindGame")->GetCount() > 0; }, 15000));
    }
    void TearDown() override
    {
        m_frame.reset(); // the window's shutdown: pollers, pages, services
        if (s_server != nullptr)
            SetFaults("");
    }

    static std::string Log() { return s_dir->Path() + "requests.log"; }
    static std::vector<std::string> LogLines()
    {
        std::istringstream lines(testsupport::ReadFile(Log()));
        std::vector<std::string> all;
        for (std::string line; std::getline(lines, line);)
            all.push_back(line);
        return all;
    }
    static void SetFaults(const std::string& json)
    {
        std::string answer;
        ASSERT_TRUE(NetPost(answer, s_origin + "/__faults", "", json, 5)) << answer;
    }

    // This test's requests whose log line holds `text`, in the order the server saw them.
    std::vector<std::string> Requests(const std::string& text) const
    {
        std::vector<std::string> all = LogLines();
        std::vector<std::string> found;
        for (size_t i = m_logStart; i < all.size(); ++i)
            if (all[i].find(text) != std::string::npos)
                found.push_back(all[i]);
        return found;
    }
    std::vector<std::string> GameListRequests() const { return Requests("action=gamelist"); }
    std::string LastRequest() const
    {
        std::vector<std::string> requests = GameListRequests();
        return requests.empty() ? std::string() : requests.back();
    }
    // A worker that waits on the UI thread, inside the modal loop the installer window runs, until
    // the window has finished its job, notes whether it did and closes it with its own button.
    // `looked` is set once the wait has begun.
    static std::thread CloseTheInstallerOnceDone(std::atomic<bool>& looked, bool& finished)
    {
        return std::thread([&looked, &finished] {
            RunOnUiThread([&] {
                looked = true;
                CWindowWnd* window = nullptr;
                TestInput::WaitFor(
                    [&] {
                        window = WindowFromHandle(FindWindow(u"DownLoadPopFrame"));
                        return window != nullptr && static_cast<CDownLoadPopFrame*>(window)->Finished();
                    },
                    15000);
                if (window == nullptr)
                    return 0;
                auto* pop = static_cast<CDownLoadPopFrame*>(window);
                finished = pop->Finished();
                const RECT rc = pop->GetPaintManager().FindControl(u"Btn_Cancel")->GetPos();
                TestInput::Click(pop->GetHWND(), POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2});
                return 0;
            });
        });
    }
    // Waits until the server has seen `count` game-list requests of this test and the window has
    // nothing more on its way.
    bool WaitForRequests(size_t count) const
    {
        return TestInput::WaitFor(
            [&] { return GameListRequests().size() >= count && !CCatalogueClient::Instance().Busy(); },
            15000);
    }

    CControlUI* Find(std::u16string_view name) const { return m_frame->GetPaintManager().FindControl(name); }
    CContainerUI* Tiles(std::u16string_view name) const { return static_cast<CContainerUI*>(Find(name)); }
    CPageLabelUI* Pager(std::u16string_view name) const { return static_cast<CPageLabelUI*>(Find(name)); }
    std::u16string Text(std::u16string_view name) const { return Find(name)->GetText().Str(); }
    // The option of a filter bar that shows `text`.
    CControlUI* Option(std::u16string_view filter, std::u16string_view text) const
    {
        return Find(filter)->FindControl([text](CControlUI* c) { return c->GetText().Str() == text; });
    }
    bool Selected(std::u16string_view filter, std::u16string_view text) const
    {
        return static_cast<COptionUI*>(Option(filter, text))->IsSelected();
    }
    void Click(CControlUI* control) const
    {
        ASSERT_NE(control, nullptr);
        m_frame->GetPaintManager().UpdateLayout();
        const RECT& rc = control->GetPos();
        TestInput::Click(m_frame->GetHWND(), POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2});
    }
    void Search(std::u16string_view text) const
    {
        auto* edit = Find(u"Ed_SearchKeyWord");
        edit->SetText(CDuiString(text));
        Click(Find(u"Btn_Search"));
    }
    // Whether every tile of a view carries the badge of `badge` ("FC.png").
    bool EveryTileHasBadge(std::u16string_view view, std::u16string_view badge) const
    {
        CContainerUI* tiles = Tiles(view);
        for (int i = 0; i < tiles->GetCount(); ++i)
            if (tiles->GetItemAt(i)->GetBkImage().Str().find(badge) == std::u16string::npos)
                return false;
        return tiles->GetCount() > 0;
    }

    static TempDir* s_dir;
    static ChildProcess* s_server;
    static std::string s_origin;

    TempDir m_dir;
    size_t m_logStart = 0;
    std::unique_ptr<CMainFrameNew> m_frame;
};

TempDir* MainFrameTest::s_dir = nullptr;
ChildProcess* MainFrameTest::s_server = nullptr;
std::string MainFrameTest::s_origin;

TEST_F(MainFrameTest, FirstPageFillsTheCatalogueView)
{
    EXPECT_EQ(Tiles(u"Tl_GameView_FindGame")->GetCount(), 42);
    EXPECT_EQ(Text(u"Lb_GameLabel_FindGame"), u"全部");
    std::u16string numbers = Text(u"Lb_GameNumbers_FindGame");
    EXPECT_EQ(numbers.rfind(u"约", 0), 0u);
    EXPECT_NE(numbers, u"约0款游戏");
    EXPECT_TRUE(Find(u"Pl_Page_FindGame")->IsVisible());
    EXPECT_FALSE(Find(u"Lb_EmptyNotice_FindGame")->IsVisible());
    EXPECT_EQ(static_cast<CTabLayoutUI*>(Find(u"Tab_Game"))->GetCurSel(), 1);
    EXPECT_NE(LastRequest().find("pagesize=42"), std::string::npos) << LastRequest();
}

TEST_F(MainFrameTest, FiltersAskForPageOneAndNameTheSelection)
{
    CPageLabelUI* pager = Pager(u"Pl_Page_FindGame");
    Click(pager->FindSubControl(u"PageLabelIndex5"));
    ASSERT_TRUE(WaitForRequests(2));
    ASSERT_TRUE(TestInput::WaitFor([&] { return pager->GetPage() == 5; }, 15000));
    EXPECT_NE(LastRequest().find("page=5&"), std::string::npos) << LastRequest();

    // A genre chosen on page 5 asks for page 1; the label names the platform table's and the genre
    // list's entries, not the options' texts.
    Click(Option(u"Gf_FindGame", u"动作"));
    ASSERT_TRUE(WaitForRequests(3));
    ASSERT_TRUE(TestInput::WaitFor([&] { return pager->GetPage() == 1; }, 15000));
    EXPECT_NE(LastRequest().find("page=1&"), std::string::npos) << LastRequest();
    EXPECT_NE(LastRequest().find("categoryid=001"), std::string::npos) << LastRequest();
    EXPECT_EQ(Text(u"Lb_GameLabel_FindGame"), u"全部机种/动作");

    Click(Option(u"Gf_FindGame", u"全部"));
    Click(Option(u"Ef_FindGame", u"MAME+"));
    ASSERT_TRUE(WaitForRequests(5));
    ASSERT_TRUE(
        TestInput::WaitFor([&] { return Text(u"Lb_GameLabel_FindGame") == u"MAMEPLUS/全部类型"; }, 15000))
        << "label: " << CDuiString(Text(u"Lb_GameLabel_FindGame")).ToUtf8();
    EXPECT_TRUE(EveryTileHasBadge(u"Tl_GameView_FindGame", u"MAMEPLUS.png"));
}

TEST_F(MainFrameTest, TheLatestRequestWinsAndTheScreenAgreesWithIt)
{
    // The genre's page is held up at the server; meanwhile the platform changes as well. The genre's
    // page is never shown: the window ends with the page, label and filters of both choices.
    SetFaults(R"({"path": "/clientapi/", "delayMs": 600, "times": 1})");
    Click(Option(u"Gf_FindGame", u"动作"));
    ASSERT_TRUE(TestInput::WaitFor([&] { return GameListRequests().size() == 2; }, 15000));
    Click(Option(u"Ef_FindGame", u"FC"));
    ASSERT_TRUE(WaitForRequests(3));
    ASSERT_TRUE(TestInput::WaitFor([&] { return Text(u"Lb_GameLabel_FindGame") == u"FC/动作"; }, 15000));
    EXPECT_NE(LastRequest().find("categoryid=001&emulatorid=125&"), std::string::npos) << LastRequest();
    EXPECT_TRUE(EveryTileHasBadge(u"Tl_GameView_FindGame", u"FC.png"));
    EXPECT_TRUE(Selected(u"Gf_FindGame", u"动作"));
    EXPECT_TRUE(Selected(u"Ef_FindGame", u"FC"));

    // Searching B while A loads shows B's results under B's name.
    SetFaults(R"({"path": "/clientapi/", "delayMs": 600, "times": 1})");
    Search(u"迷宫");
    ASSERT_TRUE(TestInput::WaitFor([&] { return GameListRequests().size() == 4; }, 15000));
    Search(u"赛道");
    ASSERT_TRUE(WaitForRequests(5));
    ASSERT_TRUE(TestInput::WaitFor([&] { return Text(u"Lb_GameLabel_SearchGame") == u"全部/赛道"; }, 15000));
    CContainerUI* found = Tiles(u"Tl_GameView_SearchGame");
    ASSERT_GT(found->GetCount(), 0);
    for (int i = 0; i < found->GetCount(); ++i)
        EXPECT_NE(static_cast<CContainerUI*>(found->GetItemAt(i))
                      ->FindSubControl(u"Lb_GameName")
                      ->GetText()
                      .Str()
                      .find(u"赛道"),
                  std::u16string::npos);
    EXPECT_EQ(GameListRequests().size(), 5u);
}

TEST_F(MainFrameTest, AFailedRequestPutsTheChoiceBackAndCanBeMadeAgain)
{
    SetFaults(R"({"path": "/clientapi/", "status": 500, "times": 1})");
    Click(Option(u"Gf_FindGame", u"格斗"));
    ASSERT_TRUE(WaitForRequests(2));
    ASSERT_TRUE(TestInput::WaitFor([&] { return Selected(u"Gf_FindGame", u"全部"); }, 15000))
        << "the filter shows the page on screen again";
    EXPECT_TRUE(Find(u"LoadingFail_Game")->IsVisible());
    EXPECT_EQ(Text(u"Lb_GameLabel_FindGame"), u"全部");
    EXPECT_EQ(Tiles(u"Tl_GameView_FindGame")->GetCount(), 42);

    // A failed search is not taken for the one on screen: the same text asks again.
    SetFaults(R"({"path": "/clientapi/", "status": 500, "times": 1})");
    Search(u"星光");
    ASSERT_TRUE(WaitForRequests(3));
    ASSERT_TRUE(TestInput::WaitFor([&] { return Find(u"LoadingFail_Game")->IsVisible(); }, 15000));
    Search(u"星光");
    ASSERT_TRUE(WaitForRequests(4));
    ASSERT_TRUE(TestInput::WaitFor([&] { return Text(u"Lb_GameLabel_SearchGame") == u"全部/星光"; }, 15000));
    EXPECT_GT(Tiles(u"Tl_GameView_SearchGame")->GetCount(), 0);
}

TEST_F(MainFrameTest, ACatalogueThatNeverLoadedOffersToAskAgain)
{
    // The window starts while the server fails every page.
    m_frame.reset();
    SetFaults(R"({"path": "/clientapi/", "status": 500})");
    m_frame = std::make_unique<CMainFrameNew>();
    ASSERT_NE(m_frame->Create(nullptr, u"Quokka模拟器", 0x10CF0000, 0x100), nullptr);
    CControlUI* retry = Find(u"Tx_Retry_FindGame");
    ASSERT_TRUE(TestInput::WaitFor([&] { return retry->IsVisible(); }, 15000)) << "a line to ask again stays";
    EXPECT_FALSE(Tiles(u"Tl_GameView_FindGame")->IsVisible());

    SetFaults("");
    // The line stays once the failure notice, which floats over it, has gone.
    ASSERT_TRUE(TestInput::WaitFor([&] { return !Find(u"LoadingFail_Game")->IsVisible(); }, 30000));
    EXPECT_TRUE(retry->IsVisible());
    m_frame->GetPaintManager().UpdateLayout();
    auto* text = static_cast<CTextUI*>(retry);
    const RECT rc = text->GetPos();
    POINT link{-1, -1};
    for (int x = rc.left; x < rc.right && link.x < 0; ++x)
        for (int y = rc.top; y < rc.bottom && link.x < 0; ++y)
            if (text->HitTestLink(POINT{x, y}) == 0)
                link = POINT{x, y};
    ASSERT_GE(link.x, 0) << "重试 is drawn as a link";
    TestInput::Click(m_frame->GetHWND(), link);
    ASSERT_TRUE(TestInput::WaitFor([&] { return Tiles(u"Tl_GameView_FindGame")->GetCount() > 0; }, 15000));
    EXPECT_TRUE(Tiles(u"Tl_GameView_FindGame")->IsVisible());
    EXPECT_FALSE(retry->IsVisible());
    EXPECT_EQ(Text(u"Lb_GameLabel_FindGame"), u"全部");
}

TEST_F(MainFrameTest, TheSameSearchTwiceSendsOneRequestAndSearchPagesCountForty)
{
    auto* tab = static_cast<CTabLayoutUI*>(Find(u"Tab_Game"));
    Click(Find(u"Ed_SearchKeyWord"));
    TestInput::TypeText(m_frame->GetHWND(), u"la");
    TestInput::Key(m_frame->GetHWND(), VK_RETURN);
    ASSERT_TRUE(WaitForRequests(2));
    ASSERT_TRUE(TestInput::WaitFor([&] { return tab->GetCurSel() == 2; }, 15000));
    EXPECT_NE(LastRequest().find("pagesize=40"), std::string::npos) << LastRequest();
    // 84 games at 40 a page make three pages, all of which can be reached.
    CPageLabelUI* pager = Pager(u"Pl_Page_SearchGame");
    EXPECT_EQ(pager->GetTotal(), 84);
    EXPECT_TRUE(pager->FindSubControl(u"PageLabelIndex3")->IsVisible());
    EXPECT_FALSE(pager->FindSubControl(u"PageLabelIndex4")->IsVisible());
    Click(pager->FindSubControl(u"PageLabelIndex3"));
    ASSERT_TRUE(WaitForRequests(3));
    ASSERT_TRUE(TestInput::WaitFor([&] { return pager->GetPage() == 3; }, 15000));
    EXPECT_NE(LastRequest().find("page=3&pagesize=40"), std::string::npos) << LastRequest();
    EXPECT_EQ(Tiles(u"Tl_GameView_SearchGame")->GetCount(), 4);

    // The same text again only brings the results up.
    Click(Find(u"Opt_FindGame"));
    EXPECT_EQ(tab->GetCurSel(), 1);
    Click(Find(u"Btn_Search"));
    TestInput::ProcessEvents();
    EXPECT_EQ(tab->GetCurSel(), 2);
    // Requests reach the server in the order they are made, so once the next one is logged, a
    // request from the second search would have been logged before it.
    Click(Option(u"Grf_SearchGame", u"最新"));
    ASSERT_TRUE(WaitForRequests(4));
    ASSERT_EQ(GameListRequests().size(), 4u);
    EXPECT_NE(LastRequest().find("orderby=new"), std::string::npos) << LastRequest();
}

TEST_F(MainFrameTest, EmptyViewsSayThereIsNothing)
{
    UiLib::PostMessage(m_frame->GetHWND(), WM_GAMELIST_READY, 1, std::make_unique<CGameList>());
    ASSERT_TRUE(TestInput::WaitFor([&] { return Tiles(u"Tl_GameView_FindGame")->GetCount() == 0; }));
    EXPECT_EQ(Text(u"Lb_GameNumbers_FindGame"), u"约0款游戏");
    EXPECT_FALSE(Find(u"Pl_Page_FindGame")->IsVisible());
    EXPECT_TRUE(Find(u"Lb_EmptyNotice_FindGame")->IsVisible());
    EXPECT_EQ(Text(u"Lb_EmptyNotice_FindGame"), u"暂无游戏");

    Search(u"没有这个游戏zzz");
    ASSERT_TRUE(WaitForRequests(2));
    ASSERT_TRUE(TestInput::WaitFor([&] { return Find(u"Lb_EmptyNotice_SearchGame")->IsVisible(); }, 15000));
    EXPECT_EQ(Text(u"Lb_EmptyNotice_SearchGame"), u"没有找到相关游戏");
    EXPECT_FALSE(Find(u"Tl_GameView_SearchGame")->IsVisible());
    // The notice sits in the middle of the area the tiles would take.
    m_frame->GetPaintManager().UpdateLayout();
    const RECT& notice = Find(u"Lb_EmptyNotice_SearchGame")->GetPos();
    EXPECT_GT(notice.bottom - notice.top, 200);

    // A page with games takes the notice away again.
    Search(u"星光");
    ASSERT_TRUE(WaitForRequests(3));
    ASSERT_TRUE(TestInput::WaitFor([&] { return Tiles(u"Tl_GameView_SearchGame")->GetCount() > 0; }, 15000));
    EXPECT_FALSE(Find(u"Lb_EmptyNotice_SearchGame")->IsVisible());
    EXPECT_TRUE(Find(u"Tl_GameView_SearchGame")->IsVisible());
}

TEST_F(MainFrameTest, ALongSearchWordLeavesTheCountAndTheOrderInView)
{
    // The selection's name grows with the keyword; the count and the order buttons beside it keep
    // their room, so the order can still be changed.
    const std::u16string keyword(60, u'宫');
    Search(keyword);
    ASSERT_TRUE(WaitForRequests(2));
    ASSERT_TRUE(
        TestInput::WaitFor([&] { return Text(u"Lb_GameLabel_SearchGame") == u"全部/" + keyword; }, 15000));
    m_frame->GetPaintManager().UpdateLayout();
    const RECT label = Find(u"Lb_GameLabel_SearchGame")->GetPos();
    const RECT count = Find(u"Lb_GameNumbers_SearchGame")->GetPos();
    const RECT order = Find(u"Grf_SearchGame")->GetPos();
    const RECT row = Find(u"Lb_GameLabel_SearchGame")->GetParent()->GetPos();
    EXPECT_LE(label.right, count.left);
    EXPECT_EQ(count.right - count.left, 160);
    EXPECT_LE(count.right, order.left);
    EXPECT_EQ(order.right - order.left, 208);
    EXPECT_LE(order.right, row.right);

    Click(Option(u"Grf_SearchGame", u"热门"));
    ASSERT_TRUE(WaitForRequests(3));
    EXPECT_NE(LastRequest().find("orderby=hot"), std::string::npos) << LastRequest();
}

TEST_F(MainFrameTest, ClosingToTheTrayNeverLosesTheWindow)
{
    // The real availability: the offscreen platform has no tray, a desktop usually has one.
    const bool tray = CDuiTrayIcon::IsTrayAvailable();
    auto wentToTray = [&] {
        return tray ? !m_frame->IsVisible() : m_frame->IsVisible() && m_frame->IsMinimized();
    };
    m_frame->ShowWindow(true);
    m_frame->SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
    ASSERT_TRUE(TestInput::WaitFor(wentToTray))
        << (tray ? "hidden to the tray" : "minimised: there is no tray");
    EXPECT_TRUE(IsWindow(m_frame->GetHWND()));
    m_frame->GetPaintManager().GetTrayObject().SimulateClick(false);
    ASSERT_TRUE(TestInput::WaitFor([&] { return m_frame->IsVisible() && !m_frame->IsMinimized(); }));

    testsupport::WriteFile(GetAppPaths().ConfigFilePath, "[Set]\nIsTray=1\n");
    Click(Find(u"Btn_Close"));
    ASSERT_TRUE(TestInput::WaitFor(wentToTray));
    EXPECT_TRUE(IsWindow(m_frame->GetHWND()));
    CMainFrameNew::PostShowRequest(m_frame->GetHWND());
    ASSERT_TRUE(TestInput::WaitFor([&] { return m_frame->IsVisible() && !m_frame->IsMinimized(); }));
}

TEST_F(MainFrameTest, ShutdownDoesNotWaitForStalledTransfers)
{
    // Icons stall first: a new page asks for its icons, which the image server does not send for
    // far longer than the shutdown may take.
    const std::string iconStall = R"({"path": "/image/", "prefix": true, "stallAfter": 0, "stallMs": 8000})";
    SetFaults(iconStall);
    const size_t iconsBefore = Requests("\"/image/").size();
    Click(Option(u"Gf_FindGame", u"射击"));
    ASSERT_TRUE(WaitForRequests(2));
    ASSERT_TRUE(TestInput::WaitFor([&] { return Requests("\"/image/").size() > iconsBefore; }, 15000));
    // Then the catalogue stalls too, with a page request in the middle of its transfer.
    SetFaults("[" + iconStall + R"(, {"path": "/clientapi/", "stallAfter": 0, "stallMs": 8000}])");
    Click(Option(u"Gf_FindGame", u"冒险"));
    ASSERT_TRUE(TestInput::WaitFor([&] { return GameListRequests().size() == 3; }, 15000));

    auto start = std::chrono::steady_clock::now();
    m_frame.reset();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("main window shutdown with stalled catalogue and icons: %.3f s\n", seconds);
    // The stalls hold the server's threads, so they are kept short; ending before them is what
    // shows the shutdown did not wait for them.
    EXPECT_LT(seconds, 7.5) << "the stalls ran out instead of the shutdown ending them";
}

TEST_F(MainFrameTest, ShutdownClosesTheGameStoreAfterItsQueue)
{
    // Writes queued just before the window closes are all in the file once it is gone: the store
    // is shut down in the window's shutdown, not left to the end of the process.
    constexpr int kRows = 200;
    for (int i = 0; i < kRows; ++i) {
        auto* record = new GameinfoRecord;
        record->GameId = std::to_string(30000 + i);
        ASSERT_TRUE(CGameStore::Instance().Submit(kStoreAddGameinfo, record, true, true));
    }
    m_frame.reset();
    CppSQLite3DB db;
    db.OpenUtf8(CGameStore::DefaultDatabasePath());
    EXPECT_EQ(db.QueryInt("SELECT COUNT(*) FROM Gameinfo"), kRows);
}

// 安装 on a catalogue tile whose platform has no emulator yet installs the platform's emulator
// through the installer window; a second 安装 finds it installed, and PC games need none.
TEST_F(MainFrameTest, InstallOnATileInstallsItsPlatformsEmulatorOnce)
{
    CContainerUI* tiles = Tiles(u"Tl_GameView_FindGame");
    auto tileWithBadge = [&](std::u16string_view badge) -> CControlUI* {
        for (int i = 0; i < tiles->GetCount(); ++i) {
            CControlUI* tile = tiles->GetItemAt(i);
            if (tile->GetBkImage().Str().find(badge) != std::u16string::npos)
                return tile;
        }
        return nullptr;
    };
    CControlUI* fcTile = tileWithBadge(u"\\FC.png");
    CControlUI* pcTile = tileWithBadge(u"\\PC.png");
    ASSERT_NE(fcTile, nullptr);
    ASSERT_NE(pcTile, nullptr);
    auto installButton = [](CControlUI* tile) {
        return static_cast<CContainerUI*>(tile)->FindSubControl(u"Btn_InstallGame");
    };

    // The installer window opens modally inside the click; a worker waits for it to finish and
    // closes it with its own button.
    bool finished = false;
    std::atomic<bool> looked{false};
    std::thread inside = CloseTheInstallerOnceDone(looked, finished);
    Click(installButton(fcTile));
    // Without a modal loop the look runs here, inside this wait.
    TestInput::WaitFor([&] { return looked.load(); }, 20000);
    inside.join();
    ASSERT_TRUE(finished);
    EXPECT_EQ(FindWindow(u"DownLoadPopFrame"), nullptr);

    std::vector<EmulatorRecordPtr> installed = EmulatorManager::Instance().InstalledEmulators();
    ASSERT_EQ(installed.size(), 1u);
    const std::string folder = m_dir.Path() + "Emulator/FC/" + installed[0]->Name + "/";
    EXPECT_TRUE(std::filesystem::is_directory(folder)) << folder;
    EXPECT_FALSE(std::filesystem::is_empty(folder));
    const size_t packageRequests = Requests("/download/emulators/").size();
    EXPECT_GE(packageRequests, 1u);

    // Installed now, and PC games have no emulator: neither click opens a window or fetches.
    Click(installButton(fcTile));
    Click(installButton(pcTile));
    EXPECT_EQ(FindWindow(u"DownLoadPopFrame"), nullptr);
    EXPECT_EQ(Requests("/download/emulators/").size(), packageRequests);
    EXPECT_EQ(EmulatorManager::Instance().InstalledEmulators().size(), 1u);
}

// From the start, keys alone: the focus waits on the first tile's 安装; Page Down and Page Up turn
// pages; the arrows climb to the platform filter and Enter picks FC; down again into the tiles, Enter
// on 安装 installs the platform's emulator; Esc leaves search results for the catalogue.
TEST_F(MainFrameTest, KeysAloneTurnPagesPickAPlatformAndInstallAGame)
{
    CPaintManagerUI& pm = m_frame->GetPaintManager();
    const HWND hwnd = m_frame->GetHWND();
    auto press = [&](UINT vk) {
        TestInput::Key(hwnd, vk);
        TestInput::ProcessEvents();
    };
    auto focusIn = [&](std::u16string_view name) {
        CControlUI* area = Find(name);
        for (CControlUI* c = pm.GetFocus(); c != nullptr; c = c->GetParent())
            if (c == area)
                return true;
        return false;
    };
    CContainerUI* tiles = Tiles(u"Tl_GameView_FindGame");
    EXPECT_EQ(pm.GetFocus(),
              static_cast<CContainerUI*>(tiles->GetItemAt(0))->FindSubControl(u"Btn_InstallGame"));

    CPageLabelUI* pager = Pager(u"Pl_Page_FindGame");
    press(VK_NEXT);
    ASSERT_TRUE(WaitForRequests(2));
    ASSERT_TRUE(TestInput::WaitFor([&] { return pager->GetPage() == 2; }, 15000));
    EXPECT_NE(LastRequest().find("page=2&"), std::string::npos) << LastRequest();
    press(VK_PRIOR);
    ASSERT_TRUE(WaitForRequests(3));
    ASSERT_TRUE(TestInput::WaitFor([&] { return pager->GetPage() == 1; }, 15000));
    press(VK_PRIOR); // there is no page 0
    ASSERT_TRUE(WaitForRequests(3));
    EXPECT_EQ(GameListRequests().size(), 3u);
    ASSERT_TRUE(focusIn(u"Tl_GameView_FindGame")); // the new page's first tile

    for (int i = 0; i < 12 && !focusIn(u"Ef_FindGame"); ++i)
        press(VK_UP);
    ASSERT_TRUE(focusIn(u"Ef_FindGame"));
    CControlUI* fc = Option(u"Ef_FindGame", u"FC");
    const UINT toward = fc->GetPos().left < pm.GetFocus()->GetPos().left ? VK_LEFT : VK_RIGHT;
    for (int i = 0; i < 40 && pm.GetFocus() != fc; ++i)
        press(toward);
    ASSERT_EQ(pm.GetFocus(), fc);
    press(VK_RETURN);
    ASSERT_TRUE(WaitForRequests(4));
    ASSERT_TRUE(TestInput::WaitFor([&] { return Text(u"Lb_GameLabel_FindGame") == u"FC/全部类型"; }, 15000));
    EXPECT_TRUE(EveryTileHasBadge(u"Tl_GameView_FindGame", u"FC.png"));

    for (int i = 0; i < 12 && !focusIn(u"Tl_GameView_FindGame"); ++i)
        press(VK_DOWN);
    ASSERT_TRUE(focusIn(u"Tl_GameView_FindGame"));
    ASSERT_EQ(pm.GetFocus()->GetName(), CDuiString(u"Btn_InstallGame"));
    if (const char* keep = std::getenv("QUOKKA_FOCUS_RING_PNG"))
        TestInput::SaveImage(hwnd, keep);
    // The installer window opens modally inside the key press; a worker closes it once it is done.
    std::atomic<bool> looked{false};
    bool finished = false;
    std::thread inside = CloseTheInstallerOnceDone(looked, finished);
    press(VK_RETURN);
    TestInput::WaitFor([&] { return looked.load(); }, 20000);
    inside.join();
    EXPECT_TRUE(finished);
    EXPECT_EQ(EmulatorManager::Instance().InstalledEmulators().size(), 1u);

    Search(u"迷宫");
    auto* tab = static_cast<CTabLayoutUI*>(Find(u"Tab_Game"));
    ASSERT_TRUE(TestInput::WaitFor([&] { return tab->GetCurSel() == 2; }, 15000));
    press(VK_ESCAPE);
    EXPECT_EQ(tab->GetCurSel(), 1);
}

} // namespace
