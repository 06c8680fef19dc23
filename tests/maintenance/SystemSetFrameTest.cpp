// The system settings window on Qt's offscreen platform, driven by real clicks: quokka.cfg compared
// byte for byte, the library folder picked through the folder picker's seam, the local game watcher
// re-pointed at a real folder, the autostart entry in a temporary XDG_CONFIG_HOME, the update button
// against the stand-in server, and the runtime states from the emulated registry.

#include "platform/Event.h"
#include "tests/maintenance/SystemSetTestFixture.h"
#include "tests/support/FirstRunLibraryFolder.h"

#include <atomic>

using namespace systemsettest;

namespace {

// How long a test waits for the runtime checks' result before it gives up on it: a bound for a result
// that never comes, far past what a loaded machine takes.
constexpr int kResultWaitMs = 60000;

// ---- Settings -------------------------------------------------------------------------------------

TEST_F(SystemSetFrameTest, OptionGroupsShowTheFileAndAPageChangeWritesEveryGroupBack)
{
    const std::string library = m_world.Root() + "library/";
    fs::create_directories(library);
    WriteSettings(ConfigPath(), library, "1", "2", "0", "0", "0");
    Open();
    EXPECT_FALSE(Selected(u"Opt_AutoRun"));
    EXPECT_FALSE(Selected(u"Opt_Tray"));
    EXPECT_TRUE(Selected(u"Opt_Exit"));
    EXPECT_FALSE(Selected(u"Opt_Xinput"));
    EXPECT_TRUE(Selected(u"Opt_Keyboard"));
    EXPECT_FALSE(Selected(u"Opt_ShowKeyMap"));
    EXPECT_TRUE(Selected(u"Opt_HideKeyMap"));
    EXPECT_TRUE(Selected(u"Opt_AutoUpdate"));
    EXPECT_FALSE(Selected(u"Opt_ManualUpdate"));
    EXPECT_EQ(Control(u"Ed_DownloadPath")->GetText().Str(), Utf8ToUtf16(library));
    EXPECT_EQ(Control(u"Tx_Version")->GetText().Str(), u"0.0.14");
    const std::string before = ReadFile(ConfigPath());

    // Every group flipped on page 0: nothing is written until the page changes.
    Click(u"Opt_Tray");
    Click(u"Opt_Xinput");
    Click(u"Opt_ShowKeyMap");
    EXPECT_EQ(ReadFile(ConfigPath()), before);
    Click(u"Opt_DownloadUpdate");
    EXPECT_EQ(Control<CTabLayoutUI>(u"Tab_SystemSet")->GetCurSel(), 3);
    Click(u"Opt_ManualUpdate");
    Click(u"Opt_CommonSet");
    EXPECT_EQ(Control<CTabLayoutUI>(u"Tab_SystemSet")->GetCurSel(), 0);

    const std::string expected = m_world.Root() + "expected.cfg";
    WriteSettings(expected, library, "0", "1", "1", "0", "1");
    EXPECT_EQ(ReadFile(ConfigPath()), ReadFile(expected));

    // And back again, closing this time: the same groups written by the closing.
    Click(u"Opt_Exit");
    Click(u"Opt_Keyboard");
    Click(u"Opt_HideKeyMap");
    Click(u"Opt_DownloadUpdate");
    Click(u"Opt_AutoUpdate");
    CloseWindow();
    WriteSettings(expected, library, "1", "2", "0", "0", "0");
    EXPECT_EQ(ReadFile(ConfigPath()), ReadFile(expected));
}

TEST_F(SystemSetFrameTest, NoControlMethodChosenSelectsNoGamepadOptionAndKeepsTheValue)
{
    const std::string library = m_world.Root() + "library/";
    fs::create_directories(library);
    WriteSettings(ConfigPath(), library, "0", "0", "1", "0", "1");
    Open();
    EXPECT_FALSE(Selected(u"Opt_Xinput"));
    EXPECT_FALSE(Selected(u"Opt_Keyboard"));
    EXPECT_TRUE(Selected(u"Opt_ManualUpdate"));
    Click(u"Opt_Plugin");
    CloseWindow();
    EXPECT_EQ(CAppSettings(ConfigPath()).HandleType(), "0");
}

// The window's edge stays drawn all round on every page: over the main window's light background
// it would otherwise have none.
TEST_F(SystemSetFrameTest, TheWindowKeepsItsEdgeOnEveryPage)
{
    const std::string library = m_world.Root() + "library/";
    fs::create_directories(library);
    WriteSettings(ConfigPath(), library, "0", "1", "1", "0", "1");
    Open();
    for (const char16_t* page : {u"Opt_CommonSet", u"Opt_EmuSet", u"Opt_Plugin", u"Opt_DownloadUpdate"}) {
        Click(page);
        const TestInput::TestImage image = TestInput::Grab(m_window->GetHWND());
        ASSERT_FALSE(image.IsNull());
        const std::uint32_t edge = 0xFFB8C3D1;
        const int w = image.width;
        const int h = image.height;
        for (auto [x, y] : {std::pair{w / 4, h - 1}, std::pair{w * 3 / 4, h - 1}, std::pair{0, h / 2},
                            std::pair{w - 1, h / 2}})
            EXPECT_EQ(image.Pixel(x, y), edge) << CDuiString(page).ToUtf8() << " at " << x << "," << y;
    }
}

// ---- Library folder ---------------------------------------------------------------------------------

TEST_F(SystemSetFrameTest, FirstRunTakesGamesOnTheLargestDriveAndOpensOnTheLibraryPage)
{
    const testsupport::FirstRunLibraryFolder firstRunLibrary;
    ASSERT_FALSE(firstRunLibrary.Path().empty()) << "no drive";
    const std::string& games = firstRunLibrary.Path();
    Open(CSystemSetFrame::kDownloadPage);
    EXPECT_EQ(Control<CTabLayoutUI>(u"Tab_SystemSet")->GetCurSel(), 3);
    EXPECT_TRUE(Selected(u"Opt_DownloadUpdate"));
    EXPECT_EQ(m_window->RomPath(), games);
    EXPECT_EQ(Control(u"Ed_DownloadPath")->GetText().Str(), Utf8ToUtf16(games));
    EXPECT_TRUE(fs::is_directory(games));
    CloseWindow();
    EXPECT_EQ(CAppSettings(ConfigPath()).RomPath(), games);
    EXPECT_EQ(RomDir(), games);
}

TEST_F(SystemSetFrameTest, PickedFoldersGetTheirSeparatorDriveRootsGetGamesAndUnwritableOnesAreRefused)
{
    const std::string first = m_world.Root() + "first/";
    fs::create_directories(first);
    WriteSettings(ConfigPath(), first, "0", "1", "1", "0", "1");
    Open(CSystemSetFrame::kDownloadPage);

    // Cancelled: nothing changes.
    Click(u"Btn_PickDir");
    ASSERT_EQ(m_pickerTitles, std::vector<std::string>{"游戏下载目录"});
    EXPECT_EQ(m_window->RomPath(), first);

    // A folder without its separator, not there yet.
    m_pick = m_world.Root() + "picked";
    Click(u"Btn_PickDir");
    EXPECT_EQ(m_window->RomPath(), m_world.Root() + "picked/");
    EXPECT_TRUE(fs::is_directory(m_world.Root() + "picked"));
    EXPECT_EQ(Control(u"Ed_DownloadPath")->GetText().Str(), Utf8ToUtf16(m_world.Root() + "picked/"));

    // A path longer than the box is cut at its end; the box's tip shows all of it.
    const std::string deep = m_world.Root() + std::string(120, 'd') + "/游戏库";
    m_pick = deep;
    Click(u"Btn_PickDir");
    EXPECT_EQ(Control(u"Ed_DownloadPath")->GetText().Str(), Utf8ToUtf16(deep + "/"));
    EXPECT_EQ(Control(u"Ed_DownloadPath")->GetToolTip().Str(), Utf8ToUtf16(deep + "/"));

    // The home folder stands for the root drive.
    m_pick = Home();
    Click(u"Btn_PickDir");
    EXPECT_EQ(m_window->RomPath(), Home() + "Games/");
    EXPECT_TRUE(fs::is_directory(Home() + "Games"));

    // A folder that cannot be made (its parent is a file): refused, the previous one kept.
    ASSERT_TRUE(WriteFile(m_world.Root() + "plain", "x"));
    m_pick = m_world.Root() + "plain/sub/";
    Click(u"Btn_PickDir");
    ASSERT_EQ(m_boxes, std::vector<std::string>{"提示|该目录无法写入，请选择其他目录"});
    EXPECT_EQ(m_window->RomPath(), Home() + "Games/");
    EXPECT_EQ(Control(u"Ed_DownloadPath")->GetText().Str(), Utf8ToUtf16(Home() + "Games/"));

    Click(u"Btn_OpenDir");
    EXPECT_EQ(m_opened, std::vector<std::string>{Home() + "Games/"});
}

TEST_F(SystemSetFrameTest, AMountPointIsADriveRoot)
{
    EXPECT_TRUE(IsDriveRoot("/"));
    EXPECT_TRUE(IsDriveRoot(Home()));
    EXPECT_FALSE(IsDriveRoot(m_world.Root()));
    // /proc is a file system of its own wherever the tests run.
    EXPECT_TRUE(IsDriveRoot("/proc"));
    EXPECT_FALSE(IsDriveRoot("/proc/self/"));
    if (IsDriveRoot("/dev/shm") && IsWritableFolder("/dev/shm/")) {
        const testsupport::FirstRunLibraryFolder shmLibrary("/dev/shm/");
        EXPECT_EQ(PrepareLibraryFolder("/dev/shm"), std::optional<std::string>("/dev/shm/Games/"));
    }
    EXPECT_EQ(PrepareLibraryFolder("/proc/self"), std::nullopt);
}

TEST_F(SystemSetFrameTest, ClosingMakesThePlatformFoldersAndTheWatcherFollowsTheNewLibrary)
{
    const std::string oldRoot = m_world.Root() + "old/";
    WriteSettings(ConfigPath(), oldRoot, "0", "1", "1", "0", "1");
    SetRomDir(oldRoot);
    CreatePlatformDirs();

    ReceiverWindow main;
    ASSERT_NE(main.Create(nullptr, u"main", UI_WNDSTYLE_DIALOG, WS_EX_WINDOWEDGE), nullptr);
    CLocalLibrary library(*m_store);
    CLocalGameWatcher watcher(library, *m_store, LocalGameResources::FromAppPaths());
    ASSERT_TRUE(watcher.Start(main.GetHWND(), LocalGameDir()));
    ASSERT_TRUE(watcher.WaitForScans(1, 10000));

    Open(CSystemSetFrame::kDownloadPage, &watcher);
    const uint64_t scans = watcher.CompletedScans();
    m_pick = m_world.Root() + "new";
    Click(u"Btn_PickDir");
    CloseWindow();

    const std::string newLocal = m_world.Root() + "new/LocalGame/";
    EXPECT_EQ(LocalGameDir(), newLocal);
    int folders = 0;
    for (const auto& entry : fs::directory_iterator(newLocal))
        folders += entry.is_directory() ? 1 : 0;
    EXPECT_EQ(folders, 17);
    ASSERT_TRUE(watcher.WaitForScans(scans + 1, 10000));

    ASSERT_TRUE(WriteFile(oldRoot + "LocalGame/FC/old.nes", "rom"));
    ASSERT_TRUE(WriteFile(newLocal + "FC/new.nes", "rom"));
    EXPECT_TRUE(TestInput::WaitFor([&] { return !main.files.empty(); }, 10000));
    EXPECT_EQ(main.files, std::vector<std::string>{newLocal + "FC/new.nes"});
    watcher.Stop();
    main.Close(IDCLOSE);
    TestInput::WaitFor([&] { return !IsWindow(main.GetHWND()); });
}

// ---- Autostart ----------------------------------------------------------------------------------------

TEST_F(SystemSetFrameTest, TheAutostartEntryQuotesItsPathAndGoesWhenUnchecked)
{
    EXPECT_EQ(AutostartEntryPath(), m_world.Root() + "config/autostart/QuokkaApp.desktop");
    EXPECT_EQ(AutostartEntryText("/opt/my games/$HOME/100%/q\"uo`k\\a"),
              "[Desktop Entry]\nType=Application\nName=Quokka模拟器\n"
              "Exec=\"/opt/my games/\\\\$HOME/100%%/q\\\\\"uo\\\\`k\\\\\\\\a\"\n"
              "Terminal=false\n");

    const std::string library = m_world.Root() + "library/";
    fs::create_directories(library);
    WriteSettings(ConfigPath(), library, "0", "1", "1", "0", "1");
    Open();
    Click(u"Opt_AutoRun");
    CloseWindow();
    EXPECT_EQ(ReadFile(AutostartEntryPath()), AutostartEntryText(RunningExecutable()));
    EXPECT_EQ(CAppSettings(ConfigPath()).AutoRun(), "1");
    EXPECT_FALSE(fs::exists(AutostartEntryPath() + ".tmp"));

    Open();
    EXPECT_TRUE(Selected(u"Opt_AutoRun"));
    Click(u"Opt_AutoRun");
    CloseWindow();
    EXPECT_FALSE(fs::exists(AutostartEntryPath()));
    EXPECT_EQ(CAppSettings(ConfigPath()).AutoRun(), "0");
}

TEST_F(SystemSetFrameTest, TheUpdateButtonSaysWhatTheManifestSays)
{
    const std::string library = m_world.Root() + "library/";
    fs::create_directories(library);
    WriteSettings(ConfigPath(), library, "0", "1", "1", "0", "1");
    fs::create_directories(m_world.DataDir() + "update");
    Open(CSystemSetFrame::kDownloadPage);

    ASSERT_TRUE(m_world.Faults(R"({"path": "/download/pc/update/index.php", "status": 500})"));
    Click(u"Btn_Update");
    ASSERT_TRUE(m_world.Faults("[]"));
    ASSERT_TRUE(WriteFile(m_world.DataDir() + "update/index.json",
                          R"({"version": "0.0.14", "downloadurl": "", "description": "same"})"));
    Click(u"Btn_Update");
    ASSERT_TRUE(WriteFile(m_world.DataDir() + "update/index.json",
                          R"({"version": "0.1.0", "downloadurl": "", "description": "newer"})"));
    m_answer = IDNO;
    Click(u"Btn_Update");
    EXPECT_EQ(m_boxes, (std::vector<std::string>{"提示|获取更新信息失败", "提示|Quokka模拟器已是最新版本",
                                                 "提示:检测到新版本0.1.0是否更新|更新说明:\n\nnewer"}));
    EXPECT_TRUE(IsWindow(m_window->GetHWND()));
}

// ---- Runtimes ------------------------------------------------------------------------------------------

TEST_F(SystemSetFrameTest, RuntimeStatesFollowTheRegistryAndAnInstallFlipsItsRow)
{
    platform::Registry registry;
    const std::u16string key =
        u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VC2010";
    ASSERT_TRUE(registry.CreateKey(key));
    ASSERT_TRUE(
        registry.SetString(key, u"DisplayName", u"Microsoft Visual C++ 2010  x86 Redistributable - 10.0"));
    const std::string library = m_world.Root() + "library/";
    fs::create_directories(library);
    WriteSettings(ConfigPath(), library, "0", "1", "1", "0", "1");
    Open(2);
    ASSERT_TRUE(TestInput::WaitFor(
        [&] { return Control(u"Tx_IsInstallVc2010")->GetText().Str() == u"已安装"; }, kResultWaitMs));
    EXPECT_EQ(Control(u"Btn_InstallVc2010")->GetText().Str(), u"修复");
    for (const char16_t* text : {u"Tx_IsInstallVc2005", u"Tx_IsInstallVc2008", u"Tx_IsInstallVc2012",
                                 u"Tx_IsInstalledDx", u"Tx_IsInstalledXinput"})
        EXPECT_EQ(Control(text)->GetText().Str(), u"未安装") << Utf16ToUtf8(text);
    EXPECT_EQ(Control(u"Btn_InstallVc2012")->GetText().Str(), u"安装");

    // A stand-in package for VC2012 that registers itself, then says so through the fifo; once it
    // has, the installer window is ended as a person would close it.
    testsupport::Fifo fifo(m_world.Root() + "installed");
    const std::string name = "Microsoft Visual C++ 2012 Redistributable (x64)";
    const std::string script =
        "#!/bin/sh\ncat > entry.reg <<'EOF'\nWindows Registry Editor Version 5.00\n\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VC2012]\n"
        "\"DisplayName\"=\"Microsoft Visual C++ 2012 x64 Additional Runtime\"\nEOF\n"
        "\"$QUOKKA_TEST_REGEDIT\" /s entry.reg\necho done > '" +
        fifo.Path() + "'\n";
    std::string x86 = "Microsoft Visual C++ 2012 Redistributable (x86)";
    ASSERT_TRUE(m_world.Put(name + ".zip", MakePackage({{name + ".exe", script, 0100755}})));
    ASSERT_TRUE(m_world.Put(x86 + ".zip", MakePackage({{x86 + ".exe", script, 0100755}})));
    std::thread closer([&] {
        if (fifo.ReadLine(20000))
            RunOnUiThread([] {
                CPaintManagerUI::EndAllModalLoops(IDCLOSE);
                return 0;
            });
    });
    Click(u"Btn_InstallVc2012");
    closer.join();
    EXPECT_TRUE(IsVc2012Installed());
    ASSERT_TRUE(TestInput::WaitFor(
        [&] { return Control(u"Tx_IsInstallVc2012")->GetText().Str() == u"已安装"; }, kResultWaitMs));
    EXPECT_EQ(Control(u"Btn_InstallVc2012")->GetText().Str(), u"修复");
    EXPECT_EQ(Control(u"Tx_IsInstallVc2005")->GetText().Str(), u"未安装");
}

// The checks run on a worker: the window opens and answers while they are held, shows their result
// when it comes, and closes without waiting for one still under way, whose late result is dropped.
TEST_F(SystemSetFrameTest, RuntimeChecksNeverHoldTheWindow)
{
    const std::string library = m_world.Root() + "library/";
    fs::create_directories(library);
    WriteSettings(ConfigPath(), library, "0", "1", "1", "0", "1");
    // Shared with the check, which may outlive this body when an assertion ends it early; whatever the
    // outcome, a held check is let go, so the window's worker can be joined.
    struct Held {
        platform::Event release;
        std::atomic<int> checks{0};
        std::atomic<bool> onWindowThread{false};
    };
    auto held = std::make_shared<Held>();
    struct LetGo {
        std::shared_ptr<Held> held;
        ~LetGo() { held->release.Set(); }
    } letGo{held};
    platform::Event& release = held->release;
    const std::atomic<int>& checks = held->checks;
    const std::thread::id windowThread = std::this_thread::get_id();
    m_runtimeCheck = [held, windowThread] {
        ++held->checks;
        held->onWindowThread = std::this_thread::get_id() == windowThread;
        held->release.Wait();
        RuntimeStates states;
        states.vc2010 = true;
        return states;
    };
    Open(2);
    ASSERT_TRUE(IsWindow(m_window->GetHWND()));
    Click(u"Opt_CommonSet");
    EXPECT_TRUE(Selected(u"Opt_CommonSet")) << "the window answers while the checks run";
    EXPECT_EQ(Control(u"Tx_IsInstallVc2010")->GetText().Str(), u"未安装");
    release.Set();
    ASSERT_TRUE(TestInput::WaitFor(
        [&] { return Control(u"Tx_IsInstallVc2010")->GetText().Str() == u"已安装"; }, kResultWaitMs));
    EXPECT_EQ(Control(u"Btn_InstallVc2010")->GetText().Str(), u"修复");
    EXPECT_EQ(Control(u"Tx_IsInstallVc2005")->GetText().Str(), u"未安装");
    EXPECT_FALSE(held->onWindowThread);
    EXPECT_EQ(checks, 1);
    CloseWindow();
    m_window.reset();

    // Closed while a check is held: the window goes at once, and the check's end lets the window
    // object go.
    release.Reset();
    Open(2);
    ASSERT_TRUE(TestInput::WaitFor([&] { return checks == 2; }, kResultWaitMs));
    CloseWindow();
    release.Set();
    m_window.reset();
}

} // namespace
