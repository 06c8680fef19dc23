// The game detail window in real windows on Qt's offscreen platform, fed by the stand-in server
// over loopback: the detail request, the screenshots and the icon come through the real client and
// image cache; the program's services behind the action button are a recording stand-in.

#include "catalogue/CatalogueClient.h"
#include "catalogue/GameInfoFrameNew.h"
#include "catalogue/ImageLoader.h"
#include "foundation/AppMessages.h"
#include "foundation/AppPaths.h"
#include "foundation/NetGlobal.h"
#include "foundation/ServerEndpoints.h"
#include "server/StandInServer.h"
#include "tests/support/OffscreenUi.h"
#include "tests/support/RequestWatch.h"
#include "tests/support/TempDir.h"
#include "ui/Button.h"
#include "ui/Container.h"
#include "ui/PaintManager.h"
#include "ui/RichEdit.h"
#include "ui/TestInput.h"
#include "ui/WindowWnd.h"

#include <QColor>
#include <QImage>

#include <cstdio>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using namespace UiLib;
namespace fs = std::filesystem;
using testsupport::CentreOf;
using testsupport::WriteFile;

extern "C" const char* __lsan_default_suppressions()
{
    return QUOKKA_QT_LEAK_SUPPRESSIONS;
}

namespace {

// The toolkit, with the network under it and the image cache that goes before it.
class UiEnvironment : public testsupport::OffscreenUiEnvironment {
public:
    void SetUp() override
    {
        OffscreenUiEnvironment::SetUp();
        ASSERT_TRUE(NetGlobalInit());
    }
    void TearDown() override
    {
        CImageLoader::DestroyInstance();
        NetGlobalCleanup();
        OffscreenUiEnvironment::TearDown();
    }
};

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new UiEnvironment); // gtest owns it

// The program's services as the window sees them, recording what it asks.
class RecordingActions : public IGameInfoActions {
public:
    bool IsInLibrary(const std::string& gameId) override
    {
        NoteStatusRead();
        return gameId == libraryGame;
    }
    bool GetDisplayStatus(const std::string& gameId, int& status) override
    {
        NoteStatusRead();
        if (gameId != taskGame)
            return false;
        status = taskStatus;
        return true;
    }
    bool EnsureEmulator(int platformId, HWND owner) override
    {
        calls.push_back("ensure " + std::to_string(platformId) +
                        (owner != nullptr && IsWindow(owner) ? " owned" : ""));
        return emulatorReady;
    }
    void AddTask(const CGame& game, HWND owner) override
    {
        calls.push_back("add " + game.gameid + (owner != nullptr && IsWindow(owner) ? " owned" : ""));
    }
    void RequestTaskState(const std::string& gameId, int request) override
    {
        calls.push_back("state " + gameId + " " + std::to_string(request));
    }
    void LaunchLibraryGame(const std::string& gameId) override { calls.push_back("launch " + gameId); }
    void SetDetailWindow(HWND window) override { detailWindows.push_back(window); }
    // A status read while no window is registered for status messages: a change between the
    // read and the registration would never reach the window.
    void NoteStatusRead()
    {
        if (detailWindows.empty() || detailWindows.back() == nullptr)
            statusReadUnregistered = true;
    }

    bool statusReadUnregistered = false;
    std::string libraryGame;
    std::string taskGame;
    int taskStatus = 0;
    bool emulatorReady = true;
    std::vector<std::string> calls;
    std::vector<HWND> detailWindows;
};

const QColor kShotColors[] = {QColor(0xd0, 0x20, 0x20), QColor(0x20, 0xb0, 0x30), QColor(0x20, 0x40, 0xd0),
                              QColor(0xe0, 0xc0, 0x10), QColor(0x90, 0x20, 0xa0)};
const QColor kStarFore(0xf5, 0xa6, 0x23);
const QColor kStarBack(0xd5, 0xdc, 0xe6);

bool Near(std::uint32_t pixel, const QColor& color, int tolerance = 12)
{
    const int r = (pixel >> 16) & 0xff, g = (pixel >> 8) & 0xff, b = pixel & 0xff;
    return std::abs(r - color.red()) <= tolerance && std::abs(g - color.green()) <= tolerance &&
           std::abs(b - color.blue()) <= tolerance;
}

// A column range of a rendering holds a pixel of the colour.
bool ColumnsHold(const TestInput::TestImage& image, RECT rc, int from, int to, const QColor& color)
{
    for (int x = rc.left + from; x < rc.left + to && x < rc.right; ++x)
        for (int y = rc.top; y < rc.bottom; ++y)
            if (Near(image.Pixel(x, y), color))
                return true;
    return false;
}

void WritePng(const std::string& path, const QColor& color, int w = 268, int h = 178)
{
    fs::create_directories(fs::path(path).parent_path());
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(color);
    ASSERT_TRUE(image.save(QString::fromStdString(path), "PNG"));
}

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A catalogue whose games have 0 to 5 screenshots (solid colours), one game whose screenshots hit
// a missing file and a "!" suffix, one with paths that leave the cache, served over loopback with
// the image cache in a temporary folder.
class GameInfoFrameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string data = m_dir.Path() + "data/";
        std::string games;
        for (int count = 0; count <= 5; ++count) {
            std::string screens;
            for (int i = 0; i < count; ++i) {
                const std::string name =
                    "screens/" + std::to_string(count) + "/" + std::to_string(i) + ".png";
                WritePng(data + "image/" + name, kShotColors[i]);
                screens += (i ? ", \"" : "\"") + name + "\"";
            }
            games += R"({"gameid": "10)" + std::to_string(count) + R"(", "gamename": "截图)" +
                     std::to_string(count) + R"(", "emulatorid": "125", "rating": "4.5", "icon": "icon/10)" +
                     std::to_string(count) + R"(.png", "description": )" +
                     (count == 0 ? "\"\"" : "\"第" + std::to_string(count) + "款\"") + R"(, "screens": [)" +
                     screens + "]},";
        }
        WritePng(data + "image/icon/100.png", QColor(0x10, 0x80, 0x80), 96, 96);
        WritePng(data + "image/icon/103.png", QColor(0x10, 0x80, 0x80), 96, 96);
        WritePng(data + "image/screens/s/a.png", kShotColors[3]);
        WriteFile(data + "catalogue.json", R"({"categories": [{"id": "1", "name": "动作"}],
          "platforms": [{"id": "125", "name": "FC"}],
          "games": [)" + games + R"(
            {"gameid": "200", "gamename": "Odd", "orgname": "Odd One", "emulatorid": "138", "language": "中文",
             "size": "12.5", "categoryshortname": "动作", "emulatorshortname": "PC", "rating": "3.0",
             "icon": "../../escape.png", "description": "简介",
             "screens": ["screens/s/missing.png", "screens/s/a.png!big", "../../../outside.png"]}]})");

        StandInServerOptions options;
        options.dataDir = data;
        m_server = std::make_unique<CStandInServer>(options);
        m_requests.Watch(*m_server);
        std::string error;
        ASSERT_TRUE(m_server->Start(error)) << error;

        ServerEndpoints endpoints = DefaultServerEndpoints();
        endpoints.ApiBase = m_server->Origin() + "/clientapi/";
        endpoints.ImageBase = m_server->Origin() + "/image/";
        SetServerEndpoints(endpoints);
        AppPaths paths;
        paths.WorkDir = m_dir.Path() + "work/";
        paths.ImageCacheDir = paths.WorkDir + "/cache/image/";
        SetAppPaths(paths);
    }

    void TearDown() override
    {
        m_window.reset();
        TestInput::ProcessEvents();
        m_server.reset();
    }

    static CGame Game(const std::string& id, const std::string& emulator = "125",
                      const std::string& rating = "4.5")
    {
        CGame game;
        game.gameid = id;
        game.gamename = "游戏" + id;
        game.orgname = "Game " + id;
        game.language = "中文";
        game.size = "12.5";
        game.categoryshortname = "动作";
        game.emulatorshortname = "FC";
        game.emulatorid = emulator;
        game.rating = rating;
        game.icon = "icon/" + id + ".png";
        return game;
    }

    // Opens the window without a modal loop, so the test drives it from its own thread.
    CGameInfoFrameNew& Open(const CGame& game)
    {
        m_window = std::make_unique<CGameInfoFrameNew>(game, m_actions);
        EXPECT_NE(m_window->Create(nullptr, CGameInfoFrameNew::kTitle, UI_WNDSTYLE_DIALOG, WS_EX_WINDOWEDGE),
                  nullptr);
        m_window->ShowWindow(true);
        TestInput::ProcessEvents();
        return *m_window;
    }

    template <class T = CControlUI> T* Find(const char16_t* name)
    {
        return static_cast<T*>(m_window->GetPaintManager().FindControl(name));
    }

    CContainerUI* Strip() { return Find<CContainerUI>(u"HL_GameScreenshot"); }

    void Click(const char16_t* name)
    {
        TestInput::ProcessEvents();
        TestInput::Click(m_window->GetHWND(), CentreOf(Find(name)));
        TestInput::ProcessEvents();
    }

    int Requests(const std::string& prefix) const { return m_requests.Count(prefix); }

    void Faults(const std::string& json)
    {
        std::string error;
        ASSERT_TRUE(m_server->SetFaults(json, error)) << error;
    }

    // Posts a status of the download engine to the window and lets it arrive.
    void PostStatus(const std::string& gameId, int status)
    {
        ASSERT_TRUE(UiLib::PostMessage(m_window->GetHWND(), WM_DOWNLOAD_STATUS, static_cast<WPARAM>(status),
                                       std::make_unique<std::string>(gameId)));
        TestInput::ProcessEvents();
    }

    std::u16string ButtonText() { return Find(u"Btn_InstallGame")->GetText().Str(); }

    testsupport::TempDir m_dir;
    testsupport::RequestWatch m_requests;
    std::unique_ptr<CStandInServer> m_server;
    RecordingActions m_actions;
    std::unique_ptr<CGameInfoFrameNew> m_window;
};

TEST_F(GameInfoFrameTest, ScreenshotsArriveInOrderAndPaintInTheirSlots)
{
    for (int count = 0; count <= 5; ++count) {
        SCOPED_TRACE("screenshots: " + std::to_string(count));
        const std::string id = "10" + std::to_string(count);
        CGameInfoFrameNew& window = Open(Game(id));
        ASSERT_TRUE(
            TestInput::WaitFor([&] { return window.DetailEnded() && Strip()->GetCount() == count; }, 8000));
        TestInput::ProcessEvents();
        EXPECT_EQ(Strip()->GetScrollStepSize(), 143);
        EXPECT_EQ(Find(u"Rd_GameIntroduce")->GetText(),
                  count == 0 ? CDuiString() : CDuiString::FromUtf8("第" + std::to_string(count) + "款"));

        const TestInput::TestImage image = TestInput::Grab(window.GetHWND());
        const RECT strip = Strip()->GetPos();
        for (int i = 0; i < count; ++i) {
            CControlUI* shot = Strip()->GetItemAt(i);
            const RECT rc = shot->GetPos();
            EXPECT_EQ(rc.right - rc.left, 268);
            EXPECT_EQ(rc.bottom - rc.top, 178);
            EXPECT_EQ(shot->GetBkImage().ToUtf8(),
                      CachedImagePath("screens/" + std::to_string(count) + "/" + std::to_string(i) + ".png"));
            // The visible part of the slot shows this screenshot's colour.
            const int left = std::max(rc.left, strip.left), right = std::min(rc.right, strip.right);
            if (left + 4 < right) {
                EXPECT_TRUE(Near(image.Pixel((left + right) / 2, (rc.top + rc.bottom) / 2), kShotColors[i]))
                    << "slot " << i;
            }
        }
        Click(u"Btn_Close");
        EXPECT_FALSE(IsWindow(window.GetHWND()));
        EXPECT_FALSE(window.WorkerJoinable());
    }

    // Screenshots already in the cache are shown without asking the image server again.
    const int fetched = Requests("GET /image/screens/");
    CGameInfoFrameNew& again = Open(Game("105"));
    ASSERT_TRUE(TestInput::WaitFor([&] { return again.DetailEnded() && Strip()->GetCount() == 5; }, 8000));
    EXPECT_EQ(Requests("GET /image/screens/"), fetched);
    EXPECT_EQ(fetched, 1 + 2 + 3 + 4 + 5);
}

TEST_F(GameInfoFrameTest, FixedFieldsStarsAndIcon)
{
    CGameInfoFrameNew& window = Open(Game("103", "125", "3.5"));
    EXPECT_EQ(window.GetWindowText(), u"游戏信息");
    EXPECT_EQ(Find(u"Lb_GameName1")->GetText(), u"游戏103");
    EXPECT_EQ(Find(u"Lb_GameName2")->GetText(), u"Game 103");
    EXPECT_EQ(Find(u"Lb_GameLang")->GetText(), u"中文");
    EXPECT_EQ(Find(u"Lb_GameSize")->GetText(), u"12.5MB");
    EXPECT_EQ(Find(u"Lb_GameClassify")->GetText(), u"动作");
    EXPECT_EQ(Find(u"Lb_EmulatorType")->GetText(), u"FC");
    // The icon is not cached yet: the image loader fetches it and the window shows the file.
    const std::string icon = CachedImagePath("icon/103.png");
    ASSERT_TRUE(
        TestInput::WaitFor([&] { return Find(u"Ctr_GameIcon")->GetBkImage().ToUtf8() == icon; }, 8000));
    EXPECT_TRUE(fs::exists(icon));
    Click(u"Btn_Close");

    // Now it is cached: shown at once, without a request.
    const int iconRequests = Requests("GET /image/icon/");
    Open(Game("103"));
    EXPECT_EQ(Find(u"Ctr_GameIcon")->GetBkImage().ToUtf8(), icon);
    EXPECT_EQ(Requests("GET /image/icon/"), iconRequests);
    EXPECT_EQ(iconRequests, 1);

    // The stars: the table's widths, drawn in the foreground colour up to the width and the
    // background colour after it.
    const std::pair<const char*, int> ratings[] = {{"0", 109},  {"0.5", 9},   {"1.0", 22},  {"1.5", 32},
                                                   {"2.0", 44}, {"2.5", 55},  {"3.0", 69},  {"3.5", 78},
                                                   {"4.0", 90}, {"4.5", 100}, {"5.0", 109}, {"4.3", 109},
                                                   {"", 109},   {"abc", 109}, {"-1", 109},  {"1e300", 109}};
    for (const auto& [rating, width] : ratings) {
        SCOPED_TRACE(std::string("rating '") + rating + "'");
        EXPECT_EQ(CGameInfoFrameNew::StarWidth(rating), width);
        Open(Game("104", "125", rating));
        auto* stars = Find<CLabelUI>(u"Opt_Level");
        EXPECT_EQ(stars->GetForeImage().ToUtf8(), "file='skin\\ui\\level_foreimage.png' source='0,0," +
                                                      std::to_string(width) + ",18' dest='0,0," +
                                                      std::to_string(width) + ",18'");
        if (rating == std::string("") || rating == std::string("0.5") || rating == std::string("3.0") ||
            rating == std::string("4.5")) {
            TestInput::ProcessEvents();
            const TestInput::TestImage image = TestInput::Grab(m_window->GetHWND());
            const RECT rc = stars->GetPos();
            EXPECT_TRUE(ColumnsHold(image, rc, width - 8, width, kStarFore));
            EXPECT_FALSE(ColumnsHold(image, rc, width, 109, kStarFore));
            if (width < 109) {
                EXPECT_TRUE(ColumnsHold(image, rc, width, width + 8, kStarBack));
            }
        }
    }
}

TEST_F(GameInfoFrameTest, FailedDetailAndOddPathsLeaveAWorkingWindow)
{
    // A missing screenshot is skipped without a file, a "!" suffix names the file without it, and
    // neither an icon nor a screenshot outside the cache is fetched or written.
    CGame odd = Game("200", "138", "3.0");
    odd.icon = "../../escape.png";
    CGameInfoFrameNew& window = Open(odd);
    ASSERT_TRUE(TestInput::WaitFor([&] { return window.DetailEnded(); }, 8000));
    TestInput::ProcessEvents();
    ASSERT_EQ(Strip()->GetCount(), 1);
    EXPECT_EQ(Strip()->GetItemAt(0)->GetBkImage().ToUtf8(), CachedImagePath("screens/s/a.png"));
    EXPECT_FALSE(fs::exists(CachedImagePath("screens/s/missing.png")));
    EXPECT_EQ(Find(u"Ctr_GameIcon")->GetBkImage(), u"skin\\ui\\DefaultGameIcon.png");
    EXPECT_EQ(Requests("GET /image/"), 2) << "the missing screenshot and the good one, nothing else";
    EXPECT_FALSE(fs::exists(m_dir.Path() + "escape.png"));
    EXPECT_FALSE(fs::exists(m_dir.Path() + "outside.png"));
    Click(u"Btn_Close");

    // The catalogue answers 404: no introduction, no screenshots, the rest works.
    Faults(R"([{"path": "/clientapi/", "status": 404}])");
    CGameInfoFrameNew& failed = Open(Game("103"));
    ASSERT_TRUE(TestInput::WaitFor([&] { return failed.DetailEnded(); }, 8000));
    TestInput::ProcessEvents();
    EXPECT_EQ(Strip()->GetCount(), 0);
    EXPECT_TRUE(Find(u"Rd_GameIntroduce")->GetText().IsEmpty());
    EXPECT_EQ(Find(u"Lb_GameName1")->GetText(), u"游戏103");
    Click(u"Btn_InstallGame");
    EXPECT_EQ(m_actions.calls, (std::vector<std::string>{"ensure 125 owned", "add 103 owned"}));
    Click(u"Btn_Close");
    EXPECT_FALSE(IsWindow(failed.GetHWND()));
}

TEST_F(GameInfoFrameTest, ClosingWhileTheDetailWorkerIsStalledEndsTheWorkerFirst)
{
    // The detail request stalls; then a screenshot download stalls; then the system close command
    // (Alt+F4) with a stalled screenshot. Each close returns once the worker has ended, long before
    // the stall would.
    const std::string stalls[] = {R"([{"path": "/clientapi/", "stallAfter": 0}])",
                                  R"([{"path": "/image/screens/", "prefix": true, "stallAfter": 0}])",
                                  R"([{"path": "/image/screens/", "prefix": true, "stallAfter": 0}])"};
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Faults(stalls[round]);
        const int before = Requests(round == 0 ? "POST /clientapi/" : "GET /image/screens/");
        CGameInfoFrameNew& window = Open(Game(round == 0 ? "102" : "10" + std::to_string(2 + round)));
        ASSERT_TRUE(TestInput::WaitFor(
            [&] { return Requests(round == 0 ? "POST /clientapi/" : "GET /image/screens/") > before; },
            8000));
        EXPECT_FALSE(window.DetailEnded());
        const auto start = std::chrono::steady_clock::now();
        if (round < 2)
            Click(u"Btn_Close");
        else
            window.SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
        TestInput::ProcessEvents();
        const double seconds = SecondsSince(start);
        EXPECT_FALSE(IsWindow(window.GetHWND()));
        EXPECT_FALSE(window.WorkerJoinable()) << "the worker was joined before the window went";
        EXPECT_TRUE(window.DetailEnded());
        EXPECT_LT(seconds, 30.0) << "the stall (60 s) ran out instead of the close ending it";
        std::printf("closed with a stalled transfer in %.3f s\n", seconds);
        m_window.reset();
    }
    // The owner goes away while a screenshot stalls: the modal window ends with it, through its own
    // destroy handling, which stops the worker (and gives up the detail window registration).
    CGameInfoFrameNew owner(Game("100"), m_actions);
    ASSERT_NE(owner.Create(nullptr, u"owner", UI_WNDSTYLE_DIALOG, WS_EX_WINDOWEDGE), nullptr);
    const int before = Requests("GET /image/screens/");
    m_actions.detailWindows.clear();
    std::atomic<bool> ended{false};
    std::chrono::steady_clock::time_point start;
    std::thread driver([&] {
        while (!ended && Requests("GET /image/screens/") == before)
            RunOnUiThread([] { return 0; }); // lets the modal loop run between looks
        RunOnUiThread([&] {
            start = std::chrono::steady_clock::now();
            owner.DestroyWindow();
            return 0;
        });
    });
    const int result = CGameInfoFrameNew::Run(owner.GetHWND(), Game("105"), m_actions);
    ended = true;
    driver.join();
    EXPECT_EQ(result, IDCLOSE);
    std::printf("the detail window ended %.3f s after its owner went\n", SecondsSince(start));
    // Registered, then given up by the detail window, then by the owner (itself a detail window).
    ASSERT_EQ(m_actions.detailWindows.size(), 3u);
    EXPECT_NE(m_actions.detailWindows[0], nullptr);
    EXPECT_EQ(m_actions.detailWindows[1], nullptr);
    EXPECT_EQ(m_actions.detailWindows[2], nullptr);

    // The aborted screenshot left nothing behind.
    EXPECT_FALSE(fs::exists(CachedImagePath("screens/3/0.png")));
    EXPECT_FALSE(fs::exists(CachedImagePath("screens/4/0.png")));
}

TEST_F(GameInfoFrameTest, ActionButtonFollowsTheGamesStatus)
{
    m_actions.taskGame = "101";
    m_actions.taskStatus = 3;
    CGameInfoFrameNew& window = Open(Game("101"));
    EXPECT_EQ(ButtonText(), u"下载暂停");
    EXPECT_EQ(Find(u"Btn_InstallGame")->GetTag(), 3u);
    Click(u"Btn_InstallGame");
    PostStatus("101", 2);
    EXPECT_EQ(ButtonText(), u"下载中");
    EXPECT_EQ(window.ActionState(), 2);
    Click(u"Btn_InstallGame");
    // Another game's status, and statuses without a text, change nothing.
    PostStatus("100", 8);
    PostStatus("1010", 3);
    PostStatus("101", 1);
    PostStatus("101", 7);
    EXPECT_EQ(ButtonText(), u"下载中");
    EXPECT_EQ(Find(u"Btn_InstallGame")->GetTag(), 2u);
    Click(u"Btn_InstallGame");
    const std::pair<int, const char16_t*> states[] = {
        {4, u"下载等待"}, {5, u"解压中"}, {6, u"解压暂停"}, {8, u"启动"}};
    for (const auto& [state, text] : states) {
        PostStatus("101", state);
        EXPECT_EQ(ButtonText(), text);
        EXPECT_EQ(Find(u"Btn_InstallGame")->GetTag(), static_cast<UINT_PTR>(state));
        Click(u"Btn_InstallGame");
    }
    EXPECT_EQ(m_actions.calls,
              (std::vector<std::string>{"state 101 1", "state 101 2", "state 101 2", "state 101 2",
                                        "state 101 2", "state 101 1", "launch 101"}));
    PostStatus("101", 1); // 1 and 7 do nothing when clicked either
    Click(u"Btn_InstallGame");
    EXPECT_EQ(m_actions.calls.back(), "launch 101");
    Click(u"Btn_Close");

    // A game in the library opens with 启动 whatever its task says, and starts without a download.
    m_actions.calls.clear();
    m_actions.libraryGame = "101";
    Open(Game("101"));
    EXPECT_EQ(ButtonText(), u"启动");
    Click(u"Btn_InstallGame");
    EXPECT_EQ(m_actions.calls, (std::vector<std::string>{"launch 101"}));
    Click(u"Btn_Close");

    // Install: a PC game asks for no emulator; a platform without an emulator adds no task.
    m_actions.calls.clear();
    Open(Game("100", "138"));
    EXPECT_EQ(ButtonText(), u"安装");
    Click(u"Btn_InstallGame");
    Click(u"Btn_Close");
    m_actions.emulatorReady = false;
    Open(Game("102", "130"));
    Click(u"Btn_InstallGame");
    Click(u"Btn_Close");
    m_actions.emulatorReady = true;
    Open(Game("102", "0130"));
    Click(u"Btn_InstallGame");
    EXPECT_EQ(m_actions.calls, (std::vector<std::string>{"add 100 owned", "ensure 130 owned",
                                                         "ensure 130 owned", "add 102 owned"}));
}

TEST_F(GameInfoFrameTest, RunIsModalOverItsOwnerAndRegistersTheWindow)
{
    HWND seen = nullptr;
    const int result = testsupport::DriveModalDialog(
        testsupport::AskedFrom::UiThread, u"GameInfoFrame",
        [&] { return CGameInfoFrameNew::Run(nullptr, Game("101"), m_actions); },
        [&](HWND hwnd) {
            seen = hwnd;
            auto* window = dynamic_cast<CGameInfoFrameNew*>(WindowFromHandle(hwnd));
            ASSERT_NE(window, nullptr);
            EXPECT_TRUE(TestInput::WaitFor([&] { return window->DetailEnded(); }, 8000));
            TestInput::ProcessEvents();
            testsupport::ClickOn(hwnd, u"Btn_Close");
        });
    EXPECT_EQ(result, 1);
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(m_actions.detailWindows, (std::vector<HWND>{seen, nullptr}));
    EXPECT_FALSE(m_actions.statusReadUnregistered) << "the window registers before it reads the status";
}

} // namespace
