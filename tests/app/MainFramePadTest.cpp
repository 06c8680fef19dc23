// The main window's gamepad button and badge with virtual pads: the badge counts XInput pads only,
// the button opens the gamepad test modally, and the badge goes on counting under it. No server:
// the catalogue's first page simply fails.
#include "app/ButtonUIEx.h"
#include "app/MainFrameNew.h"

#include "controller/GamePadTest.h"
#include "controller/SdlContext.h"
#include "controller/XInputPads.h"
#include "foundation/AppPaths.h"
#include "foundation/ServerEndpoints.h"
#include "tests/controller/VirtualPad.h"
#include "tests/support/TempDir.h"
#include "ui/PaintManager.h"
#include "ui/TestInput.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

using namespace UiLib;

namespace {

POINT Centre(CControlUI* control)
{
    const RECT rc = control->GetPos();
    return {(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
}

} // namespace

TEST(MainFramePadTest, TheBadgeCountsPadsOnlyAndTheButtonOpensTheGamepadTest)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    CSdlContext sdl;
    ASSERT_TRUE(sdl.Ok()) << SDL_GetError();
    CXInputPads::Instance().Shutdown();
    testsupport::TempDir dir;
    AppPaths paths;
    paths.InstancePath = dir.Path();
    paths.WorkDir = dir.Path() + "work/";
    paths.ImageCacheDir = paths.WorkDir + "cache/image/";
    paths.ConfigFilePath = dir.Path() + "quokka.cfg";
    std::filesystem::create_directories(paths.ImageCacheDir);
    SetAppPaths(paths);
    // A library folder is set, so the settings window does not open for a first run.
    testsupport::WriteFile(paths.ConfigFilePath, "[Set]\nRomPath=" + dir.Path() + "rom/" + "\n");
    ServerEndpoints nowhere; // a closed loopback port: requests fail at once
    nowhere.ApiBase = nowhere.DownloadBase = nowhere.ImageBase = nowhere.ShareBase = nowhere.PcsBase =
        nowhere.StatBase = nowhere.SiteBase = "http://127.0.0.1:1/";
    SetServerEndpoints(nowhere);

    VirtualPad stick("flight stick", SDL_JOYSTICK_TYPE_FLIGHT_STICK);
    VirtualPad pad("first pad");
    ASSERT_TRUE(stick.Attached() && pad.Attached()) << SDL_GetError();

    CPaintManagerUI::SetInstance(nullptr);
    auto frame = std::make_unique<CMainFrameNew>();
    ASSERT_NE(frame->Create(nullptr, u"Quokka模拟器", 0x10CF0000, 0x100), nullptr);
    CPaintManagerUI& pm = frame->GetPaintManager();
    auto* badge = static_cast<CButtonUIEx*>(pm.FindControl(u"Btn_GamePad")->GetInterface(u"CButtonUIEx"));
    ASSERT_NE(badge, nullptr);
    // Both devices are there from the first count on: a count of 2 would have included the stick.
    ASSERT_TRUE(TestInput::WaitFor([&] { return badge->GetNumber() != 0; }, 5000));
    EXPECT_EQ(badge->GetNumber(), 1);

    // Inside the modal loop that the click starts: the window shows the pad, the badge under it
    // counts a second pad, and the window's own close button ends it.
    bool sawPanel = false;
    bool badgeCounted = false;
    std::unique_ptr<VirtualPad> second;
    std::atomic<bool> looked{false};
    std::thread inside([&] {
        RunOnUiThread([&] {
            looked = true;
            CGamePadTest* test = nullptr;
            TestInput::WaitFor(
                [&] {
                    test = static_cast<CGamePadTest*>(WindowFromHandle(FindWindow(u"GamePadTestFrame")));
                    return test != nullptr && test->PanelOf(0) != nullptr;
                },
                5000);
            if (test == nullptr)
                return 0;
            sawPanel = test->PanelOf(0) != nullptr;
            second = std::make_unique<VirtualPad>("second pad");
            badgeCounted = TestInput::WaitFor([&] { return badge->GetNumber() == 2; }, 5000);
            CControlUI* close = test->GetPaintManager().FindControl(u"Btn_Close");
            TestInput::Click(test->GetHWND(), Centre(close));
            return 0;
        });
    });
    TestInput::Click(frame->GetHWND(), Centre(pm.FindControl(u"Btn_GamePad")));
    // Had no modal loop started, the look runs here, inside this wait, instead of blocking the join.
    TestInput::WaitFor([&] { return looked.load(); }, 20000);
    inside.join();
    EXPECT_TRUE(sawPanel);
    EXPECT_TRUE(badgeCounted);
    EXPECT_EQ(FindWindow(u"GamePadTestFrame"), nullptr);

    frame.reset();
    second.reset();
    CXInputPads::Instance().Shutdown();
    CPaintManagerUI::Term();
}
