// The main window in this process against the real stand-in server, on Qt's offscreen platform:
// pages by message, filters and pager asking for pages, the search box, close handling.
#include "app/MainFrameNew.h"

#include "catalogue/GameList.h"
#include "catalogue/PageLabelUI.h"
#include "foundation/AppMessages.h"
#include "foundation/AppPaths.h"
#include "foundation/ServerEndpoints.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "ui/PaintManager.h"
#include "ui/TabLayout.h"
#include "ui/TestInput.h"
#include "ui/TileLayout.h"
#include "ui/TrayIcon.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

using namespace UiLib;
using testsupport::ChildProcess;
using testsupport::TempDir;

extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig\nleak:libdbus\nleak:libglib\nleak:FcPattern\nleak:QFontDatabase\nleak:"
           "libSDL2\n";
}

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
        ASSERT_NE(first.find("listening"), std::string::npos) << first;
        SetServerEndpoints(LoadServerEndpoints(s_dir->Path() + "servers.cfg"));

        AppPaths paths;
        paths.InstancePath = s_dir->Path();
        paths.WorkDir = s_dir->Path() + "work/";
        paths.ImageCacheDir = paths.WorkDir + "cache/image/";
        paths.ConfigFilePath = s_dir->Path() + "quokka.cfg";
        std::filesystem::create_directories(paths.ImageCacheDir);
        SetAppPaths(paths);

        CPaintManagerUI::SetInstance(nullptr);
        s_frame = new CMainFrameNew;
        ASSERT_NE(s_frame->Create(nullptr, u"Quokka模拟器", 0x10CF0000, 0x100), nullptr);
        ASSERT_TRUE(TestInput::WaitFor([] { return Tiles(u"Tl_GameView_FindGame")->GetCount() > 0; }, 15000));
    }
    static void TearDownTestSuite()
    {
        delete s_frame; // the window's shutdown: pollers, pages, services
        s_frame = nullptr;
        CPaintManagerUI::Term();
        if (s_server != nullptr)
            s_server->Signal(SIGTERM);
        delete s_server;
        delete s_dir;
    }

    static std::string Log() { return s_dir->Path() + "requests.log"; }
    static int GameListRequests()
    {
        std::istringstream lines(testsupport::ReadFile(Log()));
        int count = 0;
        for (std::string line; std::getline(lines, line);)
            count += line.find("action=gamelist") != std::string::npos;
        return count;
    }
    static std::string LastRequest()
    {
        std::istringstream lines(testsupport::ReadFile(Log()));
        std::string last;
        for (std::string line; std::getline(lines, line);)
            if (line.find("action=gamelist") != std::string::npos)
                last = line;
        return last;
    }
    static CControlUI* Find(std::u16string_view name) { return s_frame->GetPaintManager().FindControl(name); }
    static CContainerUI* Tiles(std::u16string_view name) { return static_cast<CContainerUI*>(Find(name)); }
    static POINT Center(CControlUI* control)
    {
        const RECT& rc = control->GetPos();
        return POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
    }
    static void Click(CControlUI* control)
    {
        ASSERT_NE(control, nullptr);
        s_frame->GetPaintManager().UpdateLayout();
        TestInput::Click(s_frame->GetHWND(), Center(control));
    }
    // Waits until the number of game-list requests reaches `count` and the loading notice is off.
    static bool WaitForRequests(int count)
    {
        return TestInput::WaitFor([&] { return GameListRequests() >= count && !CCatalogueClientBusy(); },
                                  15000);
    }
    static bool CCatalogueClientBusy();

    static TempDir* s_dir;
    static ChildProcess* s_server;
    static CMainFrameNew* s_frame;
};

TempDir* MainFrameTest::s_dir = nullptr;
ChildProcess* MainFrameTest::s_server = nullptr;
CMainFrameNew* MainFrameTest::s_frame = nullptr;

} // namespace

#include "catalogue/CatalogueClient.h"

namespace {

bool MainFrameTest::CCatalogueClientBusy()
{
    return CCatalogueClient::Instance().Busy();
}

TEST_F(MainFrameTest, FirstPageFillsTheCatalogueView)
{
    EXPECT_EQ(Tiles(u"Tl_GameView_FindGame")->GetCount(), 42);
    EXPECT_EQ(Find(u"Lb_GameLabel_FindGame")->GetText(), u"全部");
    std::u16string numbers = Find(u"Lb_GameNumbers_FindGame")->GetText().Str();
    EXPECT_EQ(numbers.rfind(u"约", 0), 0u);
    EXPECT_NE(numbers, u"约0款游戏");
    EXPECT_TRUE(Find(u"Pl_Page_FindGame")->IsVisible());
    EXPECT_EQ(static_cast<CTabLayoutUI*>(Find(u"Tab_Game"))->GetCurSel(), 1);
}

TEST_F(MainFrameTest, AGenreChosenOnPageFiveAsksForPageOne)
{
    auto* pager = static_cast<CPageLabelUI*>(Find(u"Pl_Page_FindGame"));
    int before = GameListRequests();
    Click(pager->FindSubControl(u"PageLabelIndex5")); // both pagers have children of that name
    ASSERT_TRUE(WaitForRequests(before + 1));
    ASSERT_TRUE(TestInput::WaitFor([&] { return pager->GetPage() == 5; }, 15000));
    EXPECT_NE(LastRequest().find("page=5&"), std::string::npos) << LastRequest();

    // The second option of the genre bar is "动作", genre 1.
    CControlUI* action =
        Find(u"Gf_FindGame")->FindControl([](CControlUI* c) { return c->GetText() == u"动作"; });
    Click(action);
    ASSERT_TRUE(WaitForRequests(before + 2));
    ASSERT_TRUE(TestInput::WaitFor([&] { return pager->GetPage() == 1; }, 15000));
    EXPECT_NE(LastRequest().find("page=1&"), std::string::npos) << LastRequest();
    EXPECT_NE(LastRequest().find("categoryid=001"), std::string::npos) << LastRequest();
    EXPECT_EQ(Find(u"Lb_GameLabel_FindGame")->GetText(), u"全部/动作");
}

TEST_F(MainFrameTest, TheSameSearchTwiceSendsOneRequest)
{
    auto* tab = static_cast<CTabLayoutUI*>(Find(u"Tab_Game"));
    int before = GameListRequests();
    Click(Find(u"Ed_SearchKeyWord"));
    TestInput::TypeText(s_frame->GetHWND(), u"星光");
    TestInput::Key(s_frame->GetHWND(), VK_RETURN);
    ASSERT_TRUE(WaitForRequests(before + 1));
    ASSERT_TRUE(TestInput::WaitFor([&] { return tab->GetCurSel() == 2; }, 15000));
    EXPECT_GT(Tiles(u"Tl_GameView_SearchGame")->GetCount(), 0);
    EXPECT_NE(LastRequest().find("pagesize=40"), std::string::npos) << LastRequest();

    Click(Find(u"Opt_FindGame"));
    EXPECT_EQ(tab->GetCurSel(), 1);
    Click(Find(u"Btn_Search"));
    TestInput::ProcessEvents();
    EXPECT_EQ(tab->GetCurSel(), 2);
    TestInput::WaitFor([] { return false; }, 300); // a request, if one were sent, would be logged by now
    EXPECT_EQ(GameListRequests(), before + 1);
}

TEST_F(MainFrameTest, APageWithoutCountShowsZero)
{
    UiLib::PostMessage(s_frame->GetHWND(), WM_GAMELIST_READY, 1, std::make_unique<CGameList>());
    ASSERT_TRUE(TestInput::WaitFor([] { return Tiles(u"Tl_GameView_FindGame")->GetCount() == 0; }));
    EXPECT_EQ(Find(u"Lb_GameNumbers_FindGame")->GetText(), u"约0款游戏");
    EXPECT_FALSE(Find(u"Pl_Page_FindGame")->IsVisible());
}

TEST_F(MainFrameTest, SystemCloseAndTrayModeCloseOnlyHide)
{
    s_frame->ShowWindow(true);
    s_frame->SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
    TestInput::ProcessEvents();
    EXPECT_FALSE(s_frame->IsVisible());
    EXPECT_TRUE(IsWindow(s_frame->GetHWND()));

    s_frame->GetPaintManager().GetTrayObject().SimulateClick(false);
    ASSERT_TRUE(TestInput::WaitFor([] { return s_frame->IsVisible(); }));

    testsupport::WriteFile(GetAppPaths().ConfigFilePath, "[Set]\nIsTray=1\n");
    Click(Find(u"Btn_Close"));
    TestInput::ProcessEvents();
    EXPECT_FALSE(s_frame->IsVisible());
    EXPECT_TRUE(IsWindow(s_frame->GetHWND()));
    CMainFrameNew::PostShowRequest(s_frame->GetHWND());
    ASSERT_TRUE(TestInput::WaitFor([] { return s_frame->IsVisible(); }));
    std::filesystem::remove(GetAppPaths().ConfigFilePath);
}

} // namespace
