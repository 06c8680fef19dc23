// The settings window's emulator page: the tree from the stand-in server's list over loopback with a
// real store file, installs, updates and removals through the item buttons and the menu, settings
// runs as real child processes, and the reset buttons on the emulators' folders.

#include "tests/maintenance/SystemSetTestFixture.h"

using namespace systemsettest;

namespace {

TEST_F(SystemSetEmulatorTest, TheTreeFillsInIdOrderRefreshesAndKeepsItsItemsWhenTheServerFails)
{
    WriteList(R"({"fc": [)" + Emulator("1250002", "NesB", "1.0", "125") + "," +
              Emulator("1250001", "NesA", "1.0", "125") + R"(], "sfc": [)" +
              Emulator("1210001", "Snes", "1.0", "121") + R"(], "ps": [)" +
              Emulator("9990001", "Nowhere", "1.0", "999") + "]}");
    // Filled while the emulator page is hidden: the items show once it is chosen.
    Open(0);
    ASSERT_TRUE(WaitForItems(3));
    Click(u"Opt_EmuSet");
    const auto& items = m_window->Items();
    EXPECT_EQ(items[0].record->EmulatorId, "1210001");
    EXPECT_EQ(items[1].record->EmulatorId, "1250001");
    EXPECT_EQ(items[2].record->EmulatorId, "1250002");
    EXPECT_EQ(items[0].item->GetParentNode(), Control<CTreeNodeUI>(u"TreeNode_Sfc"));
    EXPECT_EQ(items[1].item->GetParentNode(), Control<CTreeNodeUI>(u"TreeNode_Fc"));
    EXPECT_EQ(Control(u"TreeNode_Fc")->GetTag(), 125u);
    EXPECT_EQ(Control(u"TreeNode_Arcade")->GetTag(), 126u);
    EXPECT_EQ(items[0].item->GetClass(), std::u16string_view(u"TreeNodeUI"));
    auto* name = static_cast<CContainerUI*>(items[1].item)->FindSubControl(u"Lb_EmulatorName");
    EXPECT_EQ(name->GetText().Str(), u"NesA");
    EXPECT_EQ(static_cast<CContainerUI*>(items[1].item)->FindSubControl(u"Rd_Description")->GetText().Str(),
              u"notes of NesA");
    EXPECT_TRUE(Visible("1250001", u"Btn_DownloadEmu"));
    EXPECT_FALSE(Visible("1250001", u"Btn_Option"));
    EXPECT_FALSE(Visible("1250001", u"Btn_EmuSet"));

    // A selected item opens to show its description and buttons, and folds when another is chosen.
    EXPECT_EQ(items[1].item->GetFixedHeight(), 64);
    ClickControl(name);
    EXPECT_EQ(items[1].item->GetFixedHeight(), 162);
    ClickControl(static_cast<CContainerUI*>(items[0].item)->FindSubControl(u"Lb_EmulatorName"));
    EXPECT_EQ(items[1].item->GetFixedHeight(), 64);

    WriteList(R"({"fc": [)" + Emulator("1250001", "NesA", "1.0", "125") + "," +
              Emulator("1250003", "NesC", "1.0", "125") + "]}");
    Click(u"Btn_Refresh");
    ASSERT_TRUE(TestInput::WaitFor(
        [&] { return m_window->Items().size() == 2 && m_window->Items()[1].record->EmulatorId == "1250003"; },
        10000));

    ASSERT_TRUE(m_world.Faults(R"({"path": "/download/pc/update/emulators.php", "status": 500})"));
    Click(u"Btn_Refresh");
    ASSERT_TRUE(Manager().WaitForRefresh(10000));
    TestInput::ProcessEvents();
    ASSERT_EQ(m_window->Items().size(), 2u);
    EXPECT_EQ(m_window->Items()[1].record->EmulatorId, "1250003");
}

TEST_F(SystemSetEmulatorTest, InstallUpdateAndRemoveThroughTheButtonsAndTheMenu)
{
    AddInstalledRow("1210001", "Snes", "2.0", 121);
    WriteList(R"({"fc": [)" + Emulator("1250001", "Nes", "1.0", "125") + R"(], "sfc": [)" +
              Emulator("1210001", "Snes", "1.9.9", "121") + "]}");
    Open(1);
    ASSERT_TRUE(WaitForItems(2));
    EXPECT_FALSE(Visible("1210001", u"Btn_DownloadEmu"));
    EXPECT_TRUE(Visible("1210001", u"Btn_Option"));
    EXPECT_TRUE(Visible("1210001", u"Btn_EmuSet"));

    // Install with the item's button: folder, row, buttons.
    ClickControl(ItemButton("1250001", u"Btn_DownloadEmu"));
    EXPECT_EQ(m_installer.calls, 1);
    EXPECT_TRUE(fs::exists(m_world.ProgramDir() + "Emulator/FC/Nes/" + LauncherName()));
    EXPECT_EQ(Rows().count("1250001"), 1u);
    EXPECT_FALSE(Visible("1250001", u"Btn_DownloadEmu"));
    EXPECT_TRUE(Visible("1250001", u"Btn_Option"));
    EXPECT_TRUE(Visible("1250001", u"Btn_EmuSet"));

    // 2.0 installed, 1.9.9 listed: the installed one is the latest.
    ChooseFromMenu("1210001", u"Menu_UpdateEmu");
    EXPECT_EQ(m_boxes, std::vector<std::string>{"提示|Snes已是最新版本"});

    // A newer listing is offered; No keeps the installed record.
    m_boxes.clear();
    WriteList(R"({"fc": [)" + Emulator("1250001", "Nes", "1.0", "125") + R"(], "sfc": [)" +
              Emulator("1210001", "Snes", "2.1", "121") + "]}");
    Click(u"Btn_Refresh");
    ASSERT_TRUE(TestInput::WaitFor(
        [&] { return m_window->Items().size() == 2 && m_window->Items()[0].record->Version == "2.1"; },
        10000));
    m_answer = IDNO;
    ChooseFromMenu("1210001", u"Menu_UpdateEmu");
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0], "提示:检测到新版本2.1是否更新|更新说明:\n\nnotes of Snes");
    EXPECT_EQ(Rows().at("1210001").Version, "2.0");

    // Remove through the menu: the download button comes back on the same item, without a rebuild.
    m_boxes.clear();
    m_answer = IDYES;
    CEmuInfoItemUI* item = m_window->Items()[1].item;
    ChooseFromMenu("1250001", u"Menu_DelEmu");
    EXPECT_EQ(m_boxes, std::vector<std::string>{"提示|是否删除模拟器"});
    EXPECT_EQ(Rows().count("1250001"), 0u);
    EXPECT_FALSE(fs::exists(m_world.ProgramDir() + "Emulator/FC/Nes"));
    EXPECT_EQ(m_window->Items()[1].item, item);
    EXPECT_TRUE(Visible("1250001", u"Btn_DownloadEmu"));
    EXPECT_FALSE(Visible("1250001", u"Btn_Option"));
    EXPECT_FALSE(Visible("1250001", u"Btn_EmuSet"));
}

TEST_F(SystemSetEmulatorTest, AListArrivingWhileAnInstallWindowIsUpRebuildsTheTreeAfterTheClick)
{
    WriteList(R"({"fc": [)" + Emulator("1250001", "Nes", "1.0", "125") + "]}");
    Open(1);
    ASSERT_TRUE(WaitForItems(1));
    m_installer.duringInstall = [this] {
        WriteList(R"({"fc": [)" + Emulator("1250001", "Nes", "1.0", "125") + "," +
                  Emulator("1250002", "Nes2", "1.0", "125") + "]}");
        Manager().RefreshEmulatorList(m_window->GetHWND());
        ASSERT_TRUE(Manager().WaitForRefresh(10000));
        TestInput::ProcessEvents();
        EXPECT_EQ(m_window->Items().size(), 1u) << "rebuilt under the clicked button";
    };
    ClickControl(ItemButton("1250001", u"Btn_DownloadEmu"));
    EXPECT_EQ(m_installer.calls, 1);
    ASSERT_TRUE(WaitForItems(2));
    EXPECT_TRUE(Visible("1250001", u"Btn_Option"));
    EXPECT_TRUE(Visible("1250002", u"Btn_DownloadEmu"));
}

TEST_F(SystemSetEmulatorTest, WithoutAControlMethodSettingsAndDefaultsDoNothing)
{
    AddInstalledRow("1250001", "Nes", "1.0", 125);
    fs::create_directories(m_world.ProgramDir() + "Emulator/FC/Nes");
    ASSERT_TRUE(WriteFile(m_world.ProgramDir() + "Emulator/FC/Nes/" + LauncherName(), "#!/bin/sh\nexit 0\n"));
    WriteSettings(ConfigPath(), m_world.Root() + "library/", "0", "0", "1", "0", "1");
    WriteList(R"({"fc": [)" + Emulator("1250001", "Nes", "1.0", "125") + "]}");
    Open(1);
    ASSERT_TRUE(WaitForItems(1));
    ClickControl(ItemButton("1250001", u"Btn_EmuSet"));
    EXPECT_FALSE(Manager().SettingsRunRunning());
    ChooseFromMenu("1250001", u"Menu_SetDefault");
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(SystemSetEmulatorTest, ASettingsRunHidesTheMenuAndCloseEndsTheEmulator)
{
    testsupport::Fifo fifo(m_world.Root() + "started");
    m_installer.script = "#!/bin/sh\necho up > '" + fifo.Path() + "'\nwhile :; do sleep 1; done\n";
    // A name no other test's process carries.
    const std::string launcher = "settings-run-" + std::to_string(::getpid()) + ".sh";
    WriteList(R"({"fc": [)" + Emulator("1250001", "Nes", "1.0", "125", launcher) + "]}");
    Open(1);
    ASSERT_TRUE(WaitForItems(1));
    ClickControl(ItemButton("1250001", u"Btn_DownloadEmu"));
    ASSERT_TRUE(Visible("1250001", u"Btn_EmuSet"));

    ClickControl(ItemButton("1250001", u"Btn_EmuSet"));
    ASSERT_EQ(fifo.ReadLine(10000), std::optional<std::string>("up"));
    // The manager notes the process as soon as it has started it, which the emulator's first
    // words may still beat.
    ASSERT_TRUE(TestInput::WaitFor([&] { return Manager().SettingsProcessId() > 0; }, 5000));
    EXPECT_TRUE(IsEmulatorRunning(*m_window->Items()[0].record));

    ClickControl(ItemButton("1250001", u"Btn_Option"));
    EXPECT_EQ(m_window->OpenMenu(), nullptr);
    EXPECT_EQ(m_window->MenuRecord()->EmulatorId, "1250001");

    CloseWindow();
    EXPECT_TRUE(Manager().WaitForSettingsRun(10000));
    EXPECT_FALSE(IsEmulatorRunning(*Manager().Installed("1250001")));
}

TEST_F(SystemSetEmulatorTest, AnEmulatorItsLauncherBecameStillCountsAsRunning)
{
    // The launcher replaces itself with the emulator, as the packages' launchers do: no process
    // carries the launcher's name while the emulator runs.
    testsupport::Fifo fifo(m_world.Root() + "started");
    m_installer.script = "#!/bin/sh\necho up > '" + fifo.Path() + "'\nexec sleep 1000\n";
    const std::string launcher = "exec-run-" + std::to_string(::getpid()) + ".sh";
    WriteList(R"({"fc": [)" + Emulator("1250001", "Nes", "1.0", "125", launcher) + "]}");
    Open(1);
    ASSERT_TRUE(WaitForItems(1));
    ClickControl(ItemButton("1250001", u"Btn_DownloadEmu"));
    ClickControl(ItemButton("1250001", u"Btn_EmuSet"));
    ASSERT_EQ(fifo.ReadLine(10000), std::optional<std::string>("up"));
    ASSERT_TRUE(TestInput::WaitFor(
        [&] {
            const pid_t pid = Manager().SettingsProcessId();
            std::error_code ec;
            return pid > 0 &&
                   fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec).filename() == "sleep";
        },
        10000));
    EXPECT_FALSE(IsProgramRunning(launcher));
    EXPECT_TRUE(IsEmulatorRunning(*m_window->Items()[0].record));

    ClickControl(ItemButton("1250001", u"Btn_Option"));
    EXPECT_EQ(m_window->OpenMenu(), nullptr);
    // A second settings run is not started either.
    const pid_t first = Manager().SettingsProcessId();
    ClickControl(ItemButton("1250001", u"Btn_EmuSet"));
    EXPECT_EQ(Manager().SettingsProcessId(), first);

    CloseWindow();
    EXPECT_TRUE(Manager().WaitForSettingsRun(10000));
    EXPECT_FALSE(Manager().EndSettingsRun()) << "nothing of the run is left to end";
    EXPECT_FALSE(IsEmulatorRunning(*Manager().Installed("1250001")));
    EXPECT_FALSE(IsProcessInFolder(EmulatorManager::EmulatorDirectory(*Manager().Installed("1250001"))));
}

TEST_F(SystemSetEmulatorTest, ARunningProgramIsFoundByItsExecutableOrItsScript)
{
    EXPECT_TRUE(IsProgramRunning(fs::path(RunningExecutable()).filename().string()));
    EXPECT_FALSE(IsProgramRunning("no-such-program-here"));
    EmulatorRecord none;
    EXPECT_FALSE(IsEmulatorRunning(none));
}

TEST_F(SystemSetEmulatorTest, MenuItemsAndResetButtonsReachTheEmulatorsFolders)
{
    AddInstalledRow("1250001", "Nes", "1.0", 125);
    AddInstalledRow("1210001", "Snes", "1.0", 121);
    const std::string nes = m_world.ProgramDir() + "Emulator/FC/Nes/";
    const std::string snes = m_world.ProgramDir() + "Emulator/SFC/Snes/";
    for (const std::string& folder : {nes, snes}) {
        fs::create_directories(folder + "UserGamePadCfg");
        fs::create_directories(folder + "UserKeyBoardCfg");
        ASSERT_TRUE(WriteFile(folder + "UserGamePadCfg/keys.ini", "pad"));
        ASSERT_TRUE(WriteFile(folder + "UserKeyBoardCfg/keys.ini", "keys"));
    }
    std::vector<std::string> shown;
    Manager().SetFolderOpener([&](const std::string& folder) { shown.push_back(folder); });
    WriteList(R"({"fc": [)" + Emulator("1250001", "Nes", "1.0", "125") + "]}");
    Open(1);
    ASSERT_TRUE(WaitForItems(1));

    ChooseFromMenu("1250001", u"Menu_OpenEmuDir");
    EXPECT_EQ(shown, std::vector<std::string>{m_world.ProgramDir() + "Emulator/FC/Nes"});

    // HandleType "1": the gamepad copy of this emulator alone goes, after the question.
    m_answer = IDNO;
    ChooseFromMenu("1250001", u"Menu_SetDefault");
    EXPECT_EQ(m_boxes, std::vector<std::string>{"提示|是否恢复默认设置"});
    EXPECT_TRUE(fs::exists(nes + "UserGamePadCfg"));
    m_answer = IDYES;
    ChooseFromMenu("1250001", u"Menu_SetDefault");
    EXPECT_FALSE(fs::exists(nes + "UserGamePadCfg"));
    EXPECT_TRUE(fs::exists(nes + "UserKeyBoardCfg"));
    EXPECT_TRUE(fs::exists(snes + "UserGamePadCfg"));

    // The page's reset buttons act on every installed emulator, listed or not.
    m_boxes.clear();
    Click(u"Opt_CommonSet");
    m_answer = IDNO;
    Click(u"Btn_ResetKeyboard");
    EXPECT_TRUE(fs::exists(snes + "UserKeyBoardCfg"));
    m_answer = IDYES;
    Click(u"Btn_ResetKeyboard");
    EXPECT_EQ(m_boxes, (std::vector<std::string>{"提示|是否恢复默认", "提示|是否恢复默认"}));
    EXPECT_FALSE(fs::exists(nes + "UserKeyBoardCfg"));
    EXPECT_FALSE(fs::exists(snes + "UserKeyBoardCfg"));
    EXPECT_TRUE(fs::exists(snes + "UserGamePadCfg"));
    Click(u"Btn_ResetXinput");
    EXPECT_FALSE(fs::exists(snes + "UserGamePadCfg"));
}

TEST_F(SystemSetEmulatorTest, TheMenuShowsItsSixItemsWithoutAScrollBar)
{
    WriteList(R"({"fc": [)" + Emulator("1250001", "Nes", "1.0", "125") + "]}");
    Open(1);
    ASSERT_TRUE(WaitForItems(1));
    ClickControl(ItemButton("1250001", u"Btn_DownloadEmu"));
    ClickControl(ItemButton("1250001", u"Btn_Option"));
    CMenuWnd* menu = m_window->OpenMenu();
    ASSERT_NE(menu, nullptr);
    TestInput::ProcessEvents();
    const TestInput::TestImage image = TestInput::Grab(menu->GetHWND());
    ASSERT_FALSE(image.IsNull());
    // A scroll bar would stand along the right edge, inside the border: there is only the menu's
    // white there, from the first item to the last.
    int marked = 0;
    for (int y = 6; y < image.height - 6; ++y)
        for (int x = image.width - 10; x < image.width - 2; ++x)
            marked += (image.Pixel(x, y) & 0xFFFFFF) != 0xFFFFFF ? 1 : 0;
    EXPECT_EQ(marked, 0) << "a scroll bar beside items that fit";

    // Closing the window while its menu is open takes the menu with it.
    const HWND menuWindow = menu->GetHWND();
    CloseWindow();
    EXPECT_FALSE(UiLib::IsWindow(menuWindow));
}

} // namespace
