// The usage beacons of the main window's pages. The program's reporter is shut down once, with the
// program, so this check runs in a process of its own with one window: on Qt's offscreen platform
// against an in-process stand-in server whose request log shows each beacon's page as its referer.

#include "app/MainFrameNew.h"

#include "catalogue/GameInfoFrameNew.h"
#include "foundation/AppPaths.h"
#include "foundation/ServerEndpoints.h"
#include "server/StandInServer.h"
#include "tests/app/LeakSuppressions.h"
#include "tests/support/TempDir.h"
#include "ui/Container.h"
#include "ui/PaintManager.h"
#include "ui/TestInput.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <atomic>
#include <filesystem>
#include <sstream>
#include <thread>

using namespace UiLib;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> BeaconReferers(const std::string& log)
{
    std::vector<std::string> referers;
    std::istringstream lines(testsupport::ReadFile(log));
    for (std::string text; std::getline(lines, text);) {
        Json::Value line;
        std::istringstream(text) >> line;
        if (line["path"].asString().rfind("/stat/", 0) == 0)
            referers.push_back(line["referer"].asString());
    }
    return referers;
}

POINT Centre(CPaintManagerUI& pm, CControlUI* control)
{
    pm.UpdateLayout();
    const RECT& rc = control->GetPos();
    return POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
}

// The start, a user without identity, a catalogue game's detail window and the two main tabs
// report their pages.
TEST(MainFrameBeaconTest, TheStartANewUserAGamesPageAndTheMainTabsAreReported)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    testsupport::TempDir dir;
    const std::string log = dir.Path() + "requests.log";
    StandInServerOptions options;
    options.dataDir = QUOKKA_APP_DEMO_DIR;
    options.logPath = log;
    CStandInServer server(options);
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;
    ASSERT_TRUE(server.WriteServersCfg(dir.Path() + "servers.cfg"));
    SetServerEndpoints(LoadServerEndpoints(dir.Path() + "servers.cfg"));
    AppPaths paths;
    paths.InstancePath = dir.Path();
    paths.WorkDir = dir.Path() + "work/";
    paths.ImageCacheDir = paths.WorkDir + "cache/image/";
    paths.ConfigFilePath = dir.Path() + "quokka.cfg";
    fs::create_directories(paths.ImageCacheDir);
    SetAppPaths(paths);
    // A library folder is set, so no first-run question comes up.
    ASSERT_TRUE(testsupport::WriteFile(paths.ConfigFilePath, "[Set]\nRomPath=" + dir.Path() + "rom/\n"));

    auto saw = [&](const std::string& page) {
        return TestInput::WaitFor(
            [&] {
                for (const std::string& referer : BeaconReferers(log))
                    if (referer == SiteUrl(page))
                        return true;
                return false;
            },
            10000);
    };

    CPaintManagerUI::SetInstance(nullptr);
    auto frame = std::make_unique<CMainFrameNew>();
    ASSERT_NE(frame->Create(nullptr, u"Quokka模拟器", 0x10CF0000, 0x100), nullptr);
    CPaintManagerUI& pm = frame->GetPaintManager();
    auto* tiles = static_cast<CContainerUI*>(pm.FindControl(u"Tl_GameView_FindGame"));
    ASSERT_TRUE(TestInput::WaitFor([&] { return tiles->GetCount() > 0; }, 15000));
    EXPECT_TRUE(saw(""));
    EXPECT_TRUE(saw("newuser/")) << "no Uid and no Ticket";

    CControlUI* tile = tiles->GetItemAt(0);
    const std::string gameId = tile->GetUserData().ToUtf8();
    std::atomic<bool> closed{false};
    std::thread inside([&] {
        RunOnUiThread([&] {
            TestInput::WaitFor([] { return FindWindow(u"GameInfoFrame") != nullptr; }, 10000);
            CPaintManagerUI::EndAllModalLoops(IDCLOSE);
            closed = true;
            return 0;
        });
    });
    TestInput::Click(frame->GetHWND(),
                     Centre(pm, static_cast<CContainerUI*>(tile)->FindSubControl(u"Ctr_GameIcon")));
    TestInput::WaitFor([&] { return closed.load(); }, 15000);
    inside.join();
    EXPECT_TRUE(saw("game/" + gameId + "/"));

    TestInput::Click(frame->GetHWND(), Centre(pm, pm.FindControl(u"Opt_MyGame")));
    EXPECT_TRUE(saw("mygame/"));
    const size_t before = BeaconReferers(log).size();
    TestInput::Click(frame->GetHWND(), Centre(pm, pm.FindControl(u"Opt_FindGame")));
    EXPECT_TRUE(TestInput::WaitFor([&] { return BeaconReferers(log).size() > before; }, 10000));
    EXPECT_EQ(BeaconReferers(log).back(), SiteUrl(""));

    frame.reset();
    CPaintManagerUI::Term();
}

} // namespace
