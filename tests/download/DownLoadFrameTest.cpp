// The task list window in a real window on Qt's offscreen platform, driven by real input. Rows come
// from the real engine downloading from the stand-in server on a loopback port, or, where a text or
// a timing must be exact, from the engine's messages posted by the test into the real UI loop.

#include "download/DownLoadFrameNew.h"
#include "download/DownloadManager.h"
#include "download/DownloadProgress.h"
#include "foundation/AppMessages.h"
#include "foundation/AppPaths.h"
#include "foundation/NetGlobal.h"
#include "store/GameStore.h"
#include "tests/account/IdentityServer.h"
#include "tests/download/ZipTestArchive.h"
#include "tests/support/TempDir.h"
#include "ui/Button.h"
#include "ui/Label.h"
#include "ui/List.h"
#include "ui/Option.h"
#include "ui/PaintManager.h"
#include "ui/Progress.h"
#include "ui/TestInput.h"

#include <json/json.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <regex>

using namespace UiLib;
using testsupport::ReadFile;
using testsupport::WriteFile;

// Allocations that the system libraries under Qt keep for the life of the process.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig\nleak:libdbus\nleak:libglib\nleak:FcPattern\nleak:QFontDatabase\n";
}

namespace {

class UiEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        CPaintManagerUI::SetInstance(nullptr);
        ASSERT_TRUE(NetGlobalInit());
    }
    void TearDown() override
    {
        NetGlobalCleanup();
        CPaintManagerUI::Term();
    }
};

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new UiEnvironment); // gtest owns it

std::string Utf8(const CDuiString& text)
{
    return text.ToUtf8();
}

POINT Center(CControlUI* control)
{
    const RECT& rc = control->GetPos();
    return {(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
}

// Answers every source question with the own server.
class OwnServerChooser : public IDownloadSourceChooser {
public:
    int ChooseDownloadSource(HWND, int) override { return kSourceOwnServer; }
};

// Bytes that do not compress, the same for the same seed.
std::string NoiseBytes(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    unsigned state = seed * 2654435761u + 1;
    for (char& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>(state >> 23);
    }
    return bytes;
}

class DownLoadFrameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_store = std::make_unique<CGameStore>(m_server.Dir() + "database/quokka.db");
        MakeEngineAndWindow();
    }

    // A new engine on the test's store and a new window fed by it, as the program makes them at
    // each start.
    void MakeEngineAndWindow()
    {
        DownloadEngineOptions options;
        options.store = m_store.get();
        options.chooser = m_chooser;
        options.romDir = m_server.Dir() + "roms/";
        options.pictureFolder = m_server.Dir() + "pictures/";
        m_engine = std::make_unique<DownloadManager>(std::move(options));

        m_frame = std::make_unique<CDownLoadFrameNew>(*m_engine);
        ASSERT_NE(m_frame->CreateHidden(), nullptr);
        m_engine->Start(nullptr, m_frame->GetHWND());
        m_frame->ShowWindow(true);
        TestInput::ProcessEvents();
    }

    // The program stopped and started again: the window goes, then the engine; new ones follow.
    void Restart()
    {
        m_frame.reset();
        m_engine->Shutdown();
        m_engine.reset();
        MakeEngineAndWindow();
    }

    void TearDown() override
    {
        if (const char* shots = std::getenv("QUOKKA_SHOT_DIR")) {
            const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
            TestInput::SaveImage(m_frame->GetHWND(), std::string(shots) + "/" + info->name() + ".png");
        }
        // The window goes before the engine whose tasks its rows point at.
        m_frame.reset();
        m_engine->Shutdown();
        m_store->Shutdown();
    }

    HWND Hwnd() const { return m_frame->GetHWND(); }
    CControlUI* Find(const char16_t* name) const { return m_frame->GetPaintManager().FindControl(name); }
    CControlUI* InRow(const std::string& gameId, const char16_t* name) const
    {
        CListContainerElementUI* row = m_frame->RowOf(gameId);
        return row != nullptr ? row->FindSubControl(name) : nullptr;
    }
    std::string RowText(const std::string& gameId, const char16_t* name) const
    {
        CControlUI* control = InRow(gameId, name);
        return control != nullptr ? Utf8(control->GetText()) : std::string("<no control>");
    }
    bool Selected(const std::string& gameId, const char16_t* name) const
    {
        auto* option = static_cast<COptionUI*>(InRow(gameId, name));
        return option != nullptr && option->IsSelected();
    }
    bool Enabled(const char16_t* name) const { return Find(name)->IsEnabled(); }
    bool WaitRowText(const std::string& gameId, const char16_t* name, const std::string& prefix,
                     int timeoutMs = 15000)
    {
        return TestInput::WaitFor([&] { return RowText(gameId, name).rfind(prefix, 0) == 0; }, timeoutMs);
    }
    void ClickRow(const std::string& gameId, const char16_t* name)
    {
        CControlUI* control = InRow(gameId, name);
        ASSERT_NE(control, nullptr);
        TestInput::Click(Hwnd(), Center(control));
        TestInput::ProcessEvents();
    }
    void Click(const char16_t* name)
    {
        TestInput::Click(Hwnd(), Center(Find(name)));
        TestInput::ProcessEvents();
    }

    // Serves a single-archive game whose archive holds `size` bytes that do not compress.
    void ServeGame(const std::string& gameId, size_t size)
    {
        ziptest::Entry entry;
        entry.rawName = "game.bin";
        entry.data = NoiseBytes(size, 7);
        entry.stored = true;
        std::filesystem::create_directories(m_server.DataDir() + "download/games");
        ASSERT_TRUE(ziptest::WriteArchive(m_server.DataDir() + "download/games/" + gameId + ".zip", {entry}));
        Json::Value descriptor;
        descriptor["status"] = 1;
        descriptor["fileurl"] = "{{origin}}/download/games/" + gameId + ".zip";
        descriptor["volume"] = "0";
        ASSERT_TRUE(WriteFile(m_server.DataDir() + "descriptors/" + gameId + ".json",
                              Json::writeString(Json::StreamWriterBuilder(), descriptor)));
    }
    void SlowDownloads()
    {
        ASSERT_TRUE(m_server.Faults(
            R"([{"path": "/download/games/", "prefix": true, "method": "GET", "rateKiBps": 64}])"));
    }
    DownloadGameFields Game(const std::string& gameId) const
    {
        DownloadGameFields game;
        game.gameid = gameId;
        game.icon = "/icons//" + gameId + ".png";
        game.gamename = "游戏" + gameId;
        game.emulatorshortname = "PS";
        game.categoryshortname = "act";
        game.emulatorid = "119";
        game.categoryid = "7";
        game.size = "1.00";
        return game;
    }
    // Adds the games and waits until each row shows a running download.
    void StartDownloads(const std::vector<std::string>& ids)
    {
        for (const std::string& id : ids)
            m_engine->AddTask(Game(id), nullptr);
        for (const std::string& id : ids) {
            ASSERT_TRUE(WaitRowText(id, u"Lb_Status", "已下载")) << id << ": " << RowText(id, u"Lb_Status");
            ASSERT_TRUE(TestInput::WaitFor([&] { return Selected(id, u"Opt_StartOrPause"); })) << id;
        }
    }

    // A task the engine does not know, shown by posting the engine's message.
    DownloadTask* ShowTestTask(const std::string& gameId, const std::string& totalSize = "12.5")
    {
        DownloadTaskRecord record;
        record.GameId = gameId;
        record.GameName = "测试" + gameId;
        record.TotalSize = totalSize;
        m_testTasks.push_back(std::make_unique<DownloadTask>(record));
        DownloadTask* task = m_testTasks.back().get();
        platform::PostMessage(Hwnd(), WM_DOWNLOAD_ADDED, 0, reinterpret_cast<LPARAM>(task));
        TestInput::ProcessEvents();
        return task;
    }
    void PostProgress(DownloadTask* task, int kind, double done, double total, int errorCode = 0,
                      int volume = 0, int volumes = 0)
    {
        auto record = std::make_unique<DownloadProgress>();
        record->listItem = task->ListItem();
        record->kind = kind;
        record->done = done;
        record->total = total;
        record->errorCode = errorCode;
        record->volumeMode = volumes > 0;
        record->currentVolume = volume;
        record->volumeCount = volumes;
        platform::PostMessage(Hwnd(), WM_DOWNLOAD_PROGRESS, 0, std::move(record));
        TestInput::ProcessEvents();
    }
    CProgressUI* Bar(const std::string& gameId) const
    {
        return static_cast<CProgressUI*>(InRow(gameId, u"Progress_Download"));
    }

    testsupport::IdentityServer m_server;
    std::shared_ptr<OwnServerChooser> m_chooser = std::make_shared<OwnServerChooser>();
    std::unique_ptr<CGameStore> m_store;
    std::unique_ptr<DownloadManager> m_engine;
    std::vector<std::unique_ptr<DownloadTask>> m_testTasks; // outlive the window (declared first)
    std::unique_ptr<CDownLoadFrameNew> m_frame;
};

TEST_F(DownLoadFrameTest, IsMadeHiddenAndClosingOrEscOnlyHidesIt)
{
    // A second window of its own, never shown: made hidden, with its layout, class and title.
    CDownLoadFrameNew other(*m_engine);
    HWND hwnd = other.CreateHidden();
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(other.CreateHidden(), hwnd);
    EXPECT_FALSE(other.IsVisible());
    EXPECT_TRUE(other.IsTopMost());
    EXPECT_EQ(Utf8(other.GetWindowText()), "任务查看");
    EXPECT_EQ(other.GetClientRect().Width(), 592);
    EXPECT_EQ(other.GetClientRect().Height(), 482);
    EXPECT_EQ(std::u16string_view(other.GetWindowClassName()), u"DownLoadFrame");

    ASSERT_TRUE(m_frame->IsVisible());
    Click(u"Btn_Close");
    EXPECT_FALSE(m_frame->IsVisible());
    EXPECT_TRUE(IsWindow(Hwnd()));

    m_frame->ShowWindow(true);
    SendMessage(Hwnd(), WM_SYSCOMMAND, SC_CLOSE, 0);
    TestInput::ProcessEvents();
    EXPECT_FALSE(m_frame->IsVisible());
    EXPECT_TRUE(IsWindow(Hwnd()));

    m_frame->ShowWindow(true);
    TestInput::Key(Hwnd(), VK_ESCAPE);
    TestInput::ProcessEvents();
    EXPECT_FALSE(m_frame->IsVisible());
    EXPECT_TRUE(IsWindow(Hwnd()));
}

TEST_F(DownLoadFrameTest, RowsFollowRealDownloadsAndTheirButtons)
{
    // The icon is shown from the image cache when it is there (the path's doubled and leading
    // separators collapse); a game without a cached icon keeps the default one.
    std::filesystem::create_directories(ImageCacheDir() + "icons");
    std::filesystem::copy_file(std::string(QUOKKA_SOURCE_DIR) + "/skin/ui/FC.png",
                               ImageCacheDir() + "icons/61001.png");
    ServeGame("61001", 1024 * 1024);
    ServeGame("61002", 1024 * 1024);
    ServeGame("61003", 64 * 1024);
    SlowDownloads();
    StartDownloads({"61001", "61002"});
    ASSERT_EQ(m_frame->List()->GetCount(), 2);

    EXPECT_EQ(RowText("61001", u"Lb_GameName"), "游戏61001");
    EXPECT_NE(Utf8(InRow("61001", u"Ctr_GameIcon")->GetBkImage()).find("icons/61001.png"), std::string::npos)
        << Utf8(InRow("61001", u"Ctr_GameIcon")->GetBkImage());
    EXPECT_EQ(Utf8(InRow("61002", u"Ctr_GameIcon")->GetBkImage()), "skin\\ui\\DefaultGameIcon.png");
    EXPECT_FALSE(InRow("61001", u"Lb_Percent")->IsVisible());
    EXPECT_GT(Bar("61001")->GetMaxValue(), 1000) << "kilobytes of the archive";

    // While bytes arrive the speed shows over the last seconds with the time left.
    const std::regex speed(R"(\d+\.\d\dM/s 剩余\d\d:\d\d:\d\d)");
    EXPECT_TRUE(
        TestInput::WaitFor([&] { return std::regex_match(RowText("61001", u"Lb_Speed"), speed); }, 5000))
        << RowText("61001", u"Lb_Speed");

    // The row's switch pauses a running download and starts it again.
    ClickRow("61001", u"Opt_StartOrPause");
    ASSERT_TRUE(WaitRowText("61001", u"Lb_Status", "下载停止,完成")) << RowText("61001", u"Lb_Status");
    EXPECT_TRUE(
        std::regex_match(RowText("61001", u"Lb_Status"), std::regex(R"(下载停止,完成\d+\.\d\dM/1\.00M)")))
        << RowText("61001", u"Lb_Status");
    ASSERT_TRUE(TestInput::WaitFor([&] { return !Selected("61001", u"Opt_StartOrPause"); }));
    EXPECT_EQ(RowText("61001", u"Lb_Speed"), "");
    int status = -1;
    EXPECT_TRUE(m_engine->GetDisplayStatus("61001", status));
    EXPECT_EQ(status, kDisplayPaused);

    ClickRow("61001", u"Opt_StartOrPause");
    ASSERT_TRUE(WaitRowText("61001", u"Lb_Status", "已下载")) << RowText("61001", u"Lb_Status");
    EXPECT_TRUE(TestInput::WaitFor([&] { return Selected("61001", u"Opt_StartOrPause"); }));

    // The row's delete button removes a running task and its row.
    ClickRow("61002", u"Btn_Delete");
    ASSERT_TRUE(TestInput::WaitFor([&] { return m_frame->RowOf("61002") == nullptr; }, 10000));
    EXPECT_FALSE(m_engine->GetDisplayStatus("61002", status));
    EXPECT_EQ(m_frame->List()->GetCount(), 1);

    // A finished download leaves the list.
    ASSERT_TRUE(m_server.Faults("[]"));
    m_engine->AddTask(Game("61003"), nullptr);
    ASSERT_TRUE(TestInput::WaitFor([&] { return m_frame->RowOf("61003") != nullptr; }, 10000));
    ASSERT_TRUE(TestInput::WaitFor([&] { return m_frame->RowOf("61003") == nullptr; }, 15000));
    EXPECT_TRUE(std::filesystem::exists(m_server.Dir() + "roms/PS/61003/game.bin"));
    EXPECT_NE(m_frame->RowOf("61001"), nullptr);
}

TEST_F(DownLoadFrameTest, SelectionAndBulkButtonsOnRealDownloads)
{
    const std::vector<std::string> ids = {"62001", "62002", "62003"};
    for (const std::string& id : ids)
        ServeGame(id, 1024 * 1024);
    SlowDownloads();
    StartDownloads(ids);

    // Nothing selected: no bulk action.
    EXPECT_FALSE(Enabled(u"Btn_MultiStart"));
    EXPECT_FALSE(Enabled(u"Btn_MultiPause"));
    EXPECT_FALSE(Enabled(u"Btn_MultiDelete"));
    EXPECT_FALSE(static_cast<COptionUI*>(Find(u"Opt_MultiSelected"))->IsSelected());

    // Pressing a row selects it alone and ticks its box.
    ClickRow("62002", u"Lb_GameName");
    EXPECT_TRUE(m_frame->RowOf("62002")->IsSelected());
    EXPECT_TRUE(Selected("62002", u"Opt_Selected"));
    EXPECT_FALSE(Selected("62001", u"Opt_Selected"));
    EXPECT_FALSE(Enabled(u"Btn_MultiStart")) << "every selected task runs";
    EXPECT_TRUE(Enabled(u"Btn_MultiPause"));
    EXPECT_TRUE(Enabled(u"Btn_MultiDelete"));

    // "Select all" ticks every row; unticking one row unticks "select all"; ticking it again ticks it.
    Click(u"Opt_MultiSelected");
    for (const std::string& id : ids) {
        EXPECT_TRUE(m_frame->RowOf(id)->IsSelected()) << id;
        EXPECT_TRUE(Selected(id, u"Opt_Selected")) << id;
    }
    ClickRow("62003", u"Opt_Selected");
    EXPECT_FALSE(m_frame->RowOf("62003")->IsSelected());
    EXPECT_TRUE(m_frame->RowOf("62001")->IsSelected());
    EXPECT_FALSE(static_cast<COptionUI*>(Find(u"Opt_MultiSelected"))->IsSelected());
    ClickRow("62003", u"Opt_Selected");
    EXPECT_TRUE(static_cast<COptionUI*>(Find(u"Opt_MultiSelected"))->IsSelected());

    // Bulk pause stops every selected download; then start is offered and pause is not.
    Click(u"Btn_MultiPause");
    for (const std::string& id : ids) {
        ASSERT_TRUE(WaitRowText(id, u"Lb_Status", "下载停止")) << id << ": " << RowText(id, u"Lb_Status");
        EXPECT_TRUE(TestInput::WaitFor([&] { return !Selected(id, u"Opt_StartOrPause"); })) << id;
    }
    EXPECT_TRUE(
        TestInput::WaitFor([&] { return Enabled(u"Btn_MultiStart") && !Enabled(u"Btn_MultiPause"); }));

    // Bulk start on two of them.
    Click(u"Opt_MultiSelected"); // untick all
    EXPECT_FALSE(Enabled(u"Btn_MultiDelete"));
    ClickRow("62001", u"Opt_Selected");
    ClickRow("62002", u"Opt_Selected");
    Click(u"Btn_MultiStart");
    for (const char* id : {"62001", "62002"})
        ASSERT_TRUE(WaitRowText(id, u"Lb_Status", "已下载")) << id << ": " << RowText(id, u"Lb_Status");
    EXPECT_TRUE(RowText("62003", u"Lb_Status").rfind("下载停止", 0) == 0);

    // Bulk delete of everything empties the list, and "select all" cannot stay ticked on nothing.
    Click(u"Opt_MultiSelected");
    Click(u"Btn_MultiDelete");
    ASSERT_TRUE(TestInput::WaitFor([&] { return m_frame->List()->GetCount() == 0; }, 10000));
    EXPECT_TRUE(TestInput::WaitFor(
        [&] { return !static_cast<COptionUI*>(Find(u"Opt_MultiSelected"))->IsSelected(); }));
    EXPECT_FALSE(Enabled(u"Btn_MultiDelete"));
    for (const std::string& id : ids)
        EXPECT_FALSE(std::filesystem::exists(m_server.Dir() + "roms/PS/" + id)) << id;
}

// A fifth download waits for a slot from the moment its row appears (the engine says so before the
// window has built the row), and starts by itself when a running one goes.
TEST_F(DownLoadFrameTest, AFifthDownloadShowsItWaitsAndThenStartsByItself)
{
    const std::vector<std::string> running = {"68001", "68002", "68003", "68004"};
    for (const std::string& id : running)
        ServeGame(id, 1024 * 1024);
    ServeGame("68005", 64 * 1024);
    SlowDownloads();
    StartDownloads(running);

    m_engine->AddTask(Game("68005"), nullptr);
    ASSERT_TRUE(WaitRowText("68005", u"Lb_Status", "等待下载")) << RowText("68005", u"Lb_Status");
    // The active switch follows its own message, which comes after the status.
    EXPECT_TRUE(TestInput::WaitFor([&] { return Selected("68005", u"Opt_StartOrPause"); }))
        << "a waiting task counts as active";

    ClickRow("68001", u"Btn_Delete");
    ASSERT_TRUE(WaitRowText("68005", u"Lb_Status", "已下载")) << RowText("68005", u"Lb_Status");
}

TEST_F(DownLoadFrameTest, StatusTextAndScalePerKind)
{
    DownloadTask* task = ShowTestTask("63001", "12.5");
    ASSERT_NE(m_frame->RowOf("63001"), nullptr);
    EXPECT_EQ(RowText("63001", u"Lb_GameName"), "测试63001");
    const double mb = 1048576.0;

    PostProgress(task, 2, 3 * mb, 10 * mb, 0, 2, 5);
    EXPECT_EQ(RowText("63001", u"Lb_Status"), "正在下载分卷2/5,已下载3.00M/10.00M");
    EXPECT_EQ(Bar("63001")->GetMaxValue(), 10240);
    EXPECT_EQ(Bar("63001")->GetValue(), 3072);

    PostProgress(task, 2, 1.5 * mb, 4 * mb);
    EXPECT_EQ(RowText("63001", u"Lb_Status"), "已下载1.50M/4.00M");
    EXPECT_EQ(Bar("63001")->GetValue(), 1536);

    // Paused and waiting carry megabytes; the total is the task's own size text.
    PostProgress(task, 3, 2.25, 12.5);
    EXPECT_EQ(RowText("63001", u"Lb_Status"), "下载停止,完成2.25M/12.5M");
    EXPECT_EQ(Bar("63001")->GetMaxValue(), 1250);
    EXPECT_EQ(Bar("63001")->GetValue(), 225);
    PostProgress(task, 4, 2.25, 12.5);
    EXPECT_EQ(RowText("63001", u"Lb_Status"), "等待下载");
    EXPECT_EQ(Bar("63001")->GetValue(), 225);

    PostProgress(task, 5, 5 * mb, 20 * mb);
    EXPECT_EQ(RowText("63001", u"Lb_Status"), "已解压5.00M/20.00M");
    EXPECT_EQ(Bar("63001")->GetMaxValue(), 2048);
    EXPECT_EQ(Bar("63001")->GetValue(), 512);
    PostProgress(task, 6, 5 * mb, 20 * mb);
    EXPECT_EQ(RowText("63001", u"Lb_Status"), "解压停止,完成5.00M/20.00M");
    EXPECT_EQ(Bar("63001")->GetMaxValue(), 20480);

    PostProgress(task, 9, 2.5, 12.5, 28);
    EXPECT_EQ(RowText("63001", u"Lb_Status"), "下载失败,CURLE_OPERATION_TIMEDOUT");
    EXPECT_EQ(Bar("63001")->GetValue(), 250);
    PostProgress(task, 9, 2.5, 12.5, 404);
    EXPECT_EQ(RowText("63001", u"Lb_Status"), "下载失败,未知错误");
    PostProgress(task, 9, 2.5, 12.5, kErrorDiskFull);
    EXPECT_EQ(RowText("63001", u"Lb_Status"), "下载失败,磁盘空间不足");
    PostProgress(task, 9, 2.5, 12.5, 1005);
    EXPECT_EQ(RowText("63001", u"Lb_Status"), "下载失败,文件校验失败");

    // A kind the window does not know changes nothing; a size past what the bar holds is held there.
    PostProgress(task, 7, 1, 2);
    EXPECT_EQ(RowText("63001", u"Lb_Status"), "下载失败,文件校验失败");
    PostProgress(task, 2, 1e13, 4e13);
    EXPECT_EQ(Bar("63001")->GetMaxValue(), INT_MAX);
}

// Tasks a new engine takes back from the store show at once what they rest in: paused, with the
// megabytes their files hold against the whole, and a switch that offers to start them.
TEST_F(DownLoadFrameTest, ReloadedTasksShowTheirPausedStatusAndScale)
{
    const std::string folder = m_server.Dir() + "roms/PS/";
    auto stored = [&](const std::string& id, const std::string& total, size_t bytesOnDisk) {
        DownloadTaskRecord record;
        record.GameId = id;
        record.GameName = "游戏" + id;
        record.EmulatorShortName = "PS";
        record.EmulatorId = "119";
        record.FilePath = folder + id + "/";
        record.FileName = id + ".zip";
        record.NeedUnZip = "1";
        record.Source = kSourceOwnServer;
        record.TotalSize = total;
        record.CurrentSize = "0.0"; // what the file holds counts, not what was stored
        record.UrlList[0] = m_server.Server().Origin() + "/download/games/" + id + ".zip";
        ASSERT_TRUE(m_store->Submit(kStoreAddDownload, &record, false, false));
        if (bytesOnDisk > 0) {
            std::filesystem::create_directories(folder + id);
            ASSERT_TRUE(WriteFile(folder + id + "/" + id + ".zip", std::string(bytesOnDisk, 'x')));
        }
    };
    stored("67001", "4.00", 1048576 + 524288);
    stored("67002", "12.5", 0); // stopped before its first byte

    Restart();
    ASSERT_TRUE(TestInput::WaitFor([&] { return m_frame->List()->GetCount() == 2; }));
    TestInput::ProcessEvents();
    EXPECT_EQ(RowText("67001", u"Lb_Status"), "下载停止,完成1.50M/4.00M");
    EXPECT_EQ(Bar("67001")->GetMaxValue(), 400);
    EXPECT_EQ(Bar("67001")->GetValue(), 150);
    EXPECT_EQ(RowText("67002", u"Lb_Status"), "下载停止,完成0.00M/12.5M");
    EXPECT_EQ(Bar("67002")->GetMaxValue(), 1250);
    EXPECT_EQ(Bar("67002")->GetValue(), 0);
    EXPECT_FALSE(Selected("67001", u"Opt_StartOrPause"));
    int status = -1;
    ASSERT_TRUE(m_engine->GetDisplayStatus("67001", status));
    EXPECT_EQ(status, kDisplayPaused);

    // Selected, they offer to start and not to pause.
    Click(u"Opt_MultiSelected");
    EXPECT_TRUE(Enabled(u"Btn_MultiStart"));
    EXPECT_FALSE(Enabled(u"Btn_MultiPause"));

    // Their row switch starts them where their files end.
    ServeGame("67001", 2 * 1048576);
    SlowDownloads();
    ClickRow("67001", u"Opt_StartOrPause");
    ASSERT_TRUE(WaitRowText("67001", u"Lb_Status", "已下载")) << RowText("67001", u"Lb_Status");
    EXPECT_TRUE(TestInput::WaitFor([&] { return Selected("67001", u"Opt_StartOrPause"); }));
    EXPECT_EQ(RowText("67002", u"Lb_Status"), "下载停止,完成0.00M/12.5M");
}

TEST_F(DownLoadFrameTest, SpeedIsMeasuredOverTheLastThreeSeconds)
{
    CDownLoadFrameNew::Clock::time_point now{};
    m_frame->SetClock([&] { return now; });
    DownloadTask* task = ShowTestTask("64001");
    const double mb = 1048576.0;
    auto at = [&](int ms, double done, int kind = 2) {
        now = CDownLoadFrameNew::Clock::time_point{} + std::chrono::milliseconds(ms);
        PostProgress(task, kind, done, 17 * mb);
        return RowText("64001", u"Lb_Speed");
    };

    EXPECT_EQ(at(0, 0), "") << "one report tells no speed";
    EXPECT_EQ(at(1000, 1 * mb), "1.00M/s 剩余00:00:16");
    EXPECT_EQ(at(2000, 2 * mb), "1.00M/s 剩余00:00:15");
    EXPECT_EQ(at(3000, 3 * mb), "1.00M/s 剩余00:00:14");
    // From 1 s to 4 s: 6 MiB in 3 s.
    EXPECT_EQ(at(4000, 7 * mb), "2.00M/s 剩余00:00:05");
    // The window reaches back to the newest report at or before its start: from 2 s to 5.5 s.
    EXPECT_EQ(at(5500, 7 * mb), "1.43M/s 剩余00:00:07");
    // A stall over the whole window: nothing moves, the time left is unknown.
    EXPECT_EQ(at(7000, 7 * mb), "0.00M/s 剩余99:59:59");
    EXPECT_EQ(at(10000, 7 * mb), "0.00M/s 剩余99:59:59");

    // Fewer bytes than before (the next volume) start the measure again.
    EXPECT_EQ(at(11000, 1 * mb), "");
    EXPECT_EQ(at(11500, 2 * mb), "2.00M/s 剩余00:00:08");

    // Any other kind empties the label, and so does the engine saying the task stopped.
    EXPECT_EQ(at(12000, 2, 3), "");
    EXPECT_EQ(at(13000, 3 * mb), "");
    EXPECT_EQ(at(14000, 4 * mb), "1.00M/s 剩余00:00:13");
    platform::PostMessage(Hwnd(), WM_DOWNLOAD_ACTIVE, 0, std::make_unique<std::string>("64001"));
    TestInput::ProcessEvents();
    EXPECT_EQ(RowText("64001", u"Lb_Speed"), "");

    EXPECT_EQ(Utf8(CDownLoadFrameNew::SpeedText(mb, 3600 * mb)), "1.00M/s 剩余01:00:00");
    EXPECT_EQ(Utf8(CDownLoadFrameNew::SpeedText(mb, 0.5 * mb)), "1.00M/s 剩余00:00:01");
    EXPECT_EQ(Utf8(CDownLoadFrameNew::SpeedText(1.0, 1e15)), "0.00M/s 剩余99:59:59");
    EXPECT_EQ(Utf8(CDownLoadFrameNew::SpeedText(0.0, 0.0)), "0.00M/s 剩余00:00:00");
}

TEST_F(DownLoadFrameTest, MessagesAboutGoneRowsAreDroppedAndRowsAreNotDoubled)
{
    DownloadTask* task = ShowTestTask("65001");
    DownloadTask* other = ShowTestTask("65002");
    // The same task announced twice keeps one row.
    platform::PostMessage(Hwnd(), WM_DOWNLOAD_ADDED, 0, reinterpret_cast<LPARAM>(task));
    TestInput::ProcessEvents();
    ASSERT_EQ(m_frame->List()->GetCount(), 2);

    void* gone = task->ListItem();
    platform::PostMessage(Hwnd(), WM_DOWNLOAD_REMOVED, 0, reinterpret_cast<LPARAM>(gone));
    TestInput::ProcessEvents();
    EXPECT_EQ(m_frame->RowOf("65001"), nullptr);
    ASSERT_EQ(m_frame->List()->GetCount(), 1);

    // Late reports about the removed row, a second removal and reports naming no row touch nothing.
    PostProgress(task, 2, 1, 2);
    platform::PostMessage(Hwnd(), WM_DOWNLOAD_REMOVED, 0, reinterpret_cast<LPARAM>(gone));
    platform::PostMessage(Hwnd(), WM_DOWNLOAD_REMOVED, 0, 0);
    platform::PostMessage(Hwnd(), WM_DOWNLOAD_ACTIVE, 1, std::make_unique<std::string>("65001"));
    platform::PostMessage(Hwnd(), WM_DOWNLOAD_ADDED, 0, 0);
    auto nowhere = std::make_unique<DownloadProgress>();
    nowhere->kind = 2;
    platform::PostMessage(Hwnd(), WM_DOWNLOAD_PROGRESS, 0, std::move(nowhere));
    TestInput::ProcessEvents();
    EXPECT_EQ(m_frame->List()->GetCount(), 1);
    EXPECT_EQ(RowText("65002", u"Lb_Status"), "");

    platform::PostMessage(Hwnd(), WM_DOWNLOAD_ACTIVE, 1, std::make_unique<std::string>("65002"));
    TestInput::ProcessEvents();
    EXPECT_TRUE(Selected("65002", u"Opt_StartOrPause"));

    // Rows made after the removal never answer to the removed row's address.
    for (int i = 0; i < 20; ++i)
        ASSERT_NE(ShowTestTask("6510" + std::to_string(i))->ListItem(), gone);
    PostProgress(task, 2, 1048576, 2097152);
    for (int i = 0; i < m_frame->List()->GetCount(); ++i) {
        auto* row = static_cast<CContainerUI*>(m_frame->List()->GetItemAt(i));
        EXPECT_EQ(Utf8(row->FindSubControl(u"Lb_Status")->GetText()), "") << i;
    }
    (void)other;
}

TEST_F(DownLoadFrameTest, RowButtonsActOnlyWhenPressAndReleaseMeetAndFollowTheEngine)
{
    // Real tasks of the engine, paused, so that a delete would show.
    ServeGame("66001", 1024 * 1024);
    ServeGame("66002", 1024 * 1024);
    SlowDownloads();
    StartDownloads({"66001", "66002"});
    ClickRow("66001", u"Opt_StartOrPause");
    ASSERT_TRUE(WaitRowText("66001", u"Lb_Status", "下载停止"));

    // A press that began elsewhere, released over the delete button, deletes nothing; nor does a
    // press on it released elsewhere.
    CControlUI* remove = InRow("66001", u"Btn_Delete");
    CControlUI* name = InRow("66001", u"Lb_GameName");
    TestInput::MouseDown(Hwnd(), Center(name));
    TestInput::MouseMove(Hwnd(), Center(remove));
    TestInput::MouseUp(Hwnd(), Center(remove));
    TestInput::MouseDown(Hwnd(), Center(remove));
    TestInput::MouseMove(Hwnd(), Center(name));
    TestInput::MouseUp(Hwnd(), Center(name));
    // The other row's delete, clicked properly, is the marker that the engine has seen the clicks.
    ClickRow("66002", u"Btn_Delete");
    ASSERT_TRUE(TestInput::WaitFor([&] { return m_frame->RowOf("66002") == nullptr; }, 10000));
    int status = -1;
    EXPECT_TRUE(m_engine->GetDisplayStatus("66001", status));
    EXPECT_NE(m_frame->RowOf("66001"), nullptr);

    // A switch click the engine does not take (a task it does not know) leaves the switch as the
    // engine last said.
    ShowTestTask("66003");
    ASSERT_FALSE(Selected("66003", u"Opt_StartOrPause"));
    ClickRow("66003", u"Opt_StartOrPause");
    EXPECT_FALSE(Selected("66003", u"Opt_StartOrPause"));
    platform::PostMessage(Hwnd(), WM_DOWNLOAD_ACTIVE, 1, std::make_unique<std::string>("66003"));
    TestInput::ProcessEvents();
    ClickRow("66003", u"Opt_StartOrPause");
    EXPECT_TRUE(Selected("66003", u"Opt_StartOrPause"));
}

} // namespace
