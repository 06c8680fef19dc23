// The system settings window on Qt's offscreen platform, driven by real clicks: quokka.cfg compared
// byte for byte, the library folder picked through the folder picker's seam, the local game watcher
// re-pointed at a real folder, the autostart entry in a temporary XDG_CONFIG_HOME, the emulator tree
// from the stand-in server over loopback with a real store file, a settings run as a real child
// process, and the runtime states from the emulated registry.

#include "maintenance/SystemSetFrame.h"

#include "emulator/LocalGameWatcher.h"
#include "foundation/AppMessages.h"
#include "foundation/AppPaths.h"
#include "foundation/FileSystem.h"
#include "foundation/StringConv.h"
#include "maintenance/EmuInfoItemUI.h"
#include "maintenance/RuntimeChecks.h"
#include "maintenance/SystemSetActions.h"
#include "maintenance/UpdateHandOff.h"
#include "platform/Registry.h"
#include "store/GameStore.h"
#include "store/LocalLibrary.h"
#include "tests/maintenance/PackageServer.h"
#include "tests/support/Fifo.h"
#include "ui/Edit.h"
#include "ui/MenuWnd.h"
#include "ui/MessageBox.h"
#include "ui/Option.h"
#include "ui/PaintManager.h"
#include "ui/TabLayout.h"
#include "ui/TestInput.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <thread>

using namespace UiLib;
using namespace maintenancetest;
using testsupport::ReadFile;
using testsupport::WriteFile;
namespace fs = std::filesystem;

namespace {

std::string Emulator(const std::string& id, const std::string& name, const std::string& version,
                     const std::string& type, const std::string& execute = "run.sh")
{
    return R"({"emulatorid": ")" + id + R"(", "name": ")" + name + R"(", "version": ")" + version +
           R"(", "update": "2026-01-02", "description": "notes of )" + name + R"(", "emulatortype": ")" +
           type + R"(", "downloadurl": "{{origin}}/download/emulators/)" + name + R"(.zip", "execute": [")" +
           execute + R"("]})";
}

// The installer window's stand-in: unpacks a launcher script into the emulator's folder.
class ScriptInstaller : public IEmulatorInstaller {
public:
    bool InstallEmulator(const EmulatorRecord& record, platform::HWND, bool) override
    {
        ++calls;
        if (duringInstall)
            duringInstall();
        const std::string folder = EmulatorManager::EmulatorDirectory(record);
        fs::create_directories(folder);
        return WriteFile(folder + "/" + record.Execute.front(), script);
    }
    int calls = 0;
    std::function<void()> duringInstall; // runs while the "window" is up, as its modal loop would
    std::string script = "#!/bin/sh\nexit 0\n";
};

// The manager's questions through the toolkit's message box, so the test's answerer sees them all.
class BoxPrompts : public IEmulatorPrompts {
public:
    bool AskYesNo(platform::HWND owner, const std::string& text, const std::string& caption) override
    {
        return MessageBox(owner, Utf8ToUtf16(text), Utf8ToUtf16(caption), MB_YESNO) == IDYES;
    }
    void Tell(platform::HWND owner, const std::string& text, const std::string& caption) override
    {
        MessageBox(owner, Utf8ToUtf16(text), Utf8ToUtf16(caption), MB_OK);
    }
};

// Stands in for the main window: records the files that WM_LOCAL_GAME_ADDED announces.
class ReceiverWindow : public CDialogFrameWnd {
public:
    CDuiString GetSkinFile() const override { return u"<Window size=\"100,100\"><VerticalLayout/></Window>"; }
    LPCTSTR GetWindowClassName() const override { return u"ReceiverWindow"; }
    LRESULT HandleCustomMessage(UINT uMsg, WPARAM, LPARAM lParam, bool& handled) override
    {
        if (uMsg == WM_LOCAL_GAME_ADDED) {
            std::unique_ptr<LocalGameRecord> record(reinterpret_cast<LocalGameRecord*>(lParam));
            files.push_back(record->FilePath);
            handled = true;
        }
        return 0;
    }
    std::vector<std::string> files;
};

class SystemSetFrameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(m_world.Start(error)) << error;
        AppPaths paths = GetAppPaths();
        paths.ConfigFilePath = m_world.ProgramDir() + "quokka.cfg";
        paths.RomDir.clear();
        paths.LocalGameDir.clear();
        SetAppPaths(paths);
        fs::create_directories(Home());
        if (const char* home = std::getenv("HOME"))
            m_savedHome = home;
        setenv("HOME", Home().c_str(), 1);
        setenv("XDG_CONFIG_HOME", (m_world.Root() + "config").c_str(), 1);
        fs::create_directories(m_world.DataDir() + "update");
        WriteList("{}");
        m_store = std::make_unique<CGameStore>(m_world.Root() + "database/quokka.db");

        SetMessageBoxAnswerer([this](HWND, const CDuiString& text, const CDuiString& caption, UINT) {
            m_boxes.push_back(Utf16ToUtf8(caption.Str()) + "|" + Utf16ToUtf8(text.Str()));
            return m_answer;
        });
        SetFolderAnswerer([this](HWND, const CDuiString& title, CDuiString& folder) {
            m_pickerTitles.push_back(Utf16ToUtf8(title.Str()));
            if (m_pick.empty())
                return false;
            folder = Utf8ToUtf16(m_pick);
            return true;
        });
    }

    void TearDown() override
    {
        if (m_window && IsWindow(m_window->GetHWND()))
            m_window->Close(IDCLOSE);
        TestInput::WaitFor([this] { return !m_window || !IsWindow(m_window->GetHWND()); });
        m_window.reset();
        if (m_manager)
            m_manager->Shutdown();
        m_manager.reset();
        m_store.reset();
        SetMessageBoxAnswerer(nullptr);
        SetFolderAnswerer(nullptr);
        unsetenv("XDG_CONFIG_HOME");
        if (m_savedHome)
            setenv("HOME", m_savedHome->c_str(), 1);
        else
            unsetenv("HOME");
    }

    std::string Home() const { return m_world.Root() + "home/"; }
    std::string ConfigPath() const { return m_world.ProgramDir() + "quokka.cfg"; }

    void WriteList(const std::string& json)
    {
        ASSERT_TRUE(WriteFile(m_world.DataDir() + "update/emulators.json", json));
    }

    // quokka.cfg with the six Set values, written by the settings class itself.
    static void WriteSettings(const std::string& path, const std::string& romPath,
                              const std::string& updateType, const std::string& handleType,
                              const std::string& showTips, const std::string& autoRun,
                              const std::string& isTray)
    {
        CAppSettings settings(path);
        settings.SetRomPath(romPath);
        settings.SetUpdateType(updateType);
        settings.SetHandleType(handleType);
        settings.SetShowKeyMapTips(showTips);
        settings.SetAutoRun(autoRun);
        settings.SetIsTray(isTray);
        settings.Save();
    }

    EmulatorManager& Manager()
    {
        if (!m_manager) {
            m_manager = std::make_unique<EmulatorManager>(*m_store, false);
            m_manager->SetInstaller(&m_installer);
            m_manager->SetPrompts(&m_prompts);
        }
        return *m_manager;
    }

    CSystemSetFrame& Open(int startPage = 0, CLocalGameWatcher* watcher = nullptr)
    {
        m_window = std::make_unique<CSystemSetFrame>(Manager(), watcher, startPage);
        m_window->SetFolderOpener([this](const std::string& folder) { m_opened.push_back(folder); });
        EXPECT_NE(m_window->Create(nullptr, CSystemSetFrame::kTitle, UI_WNDSTYLE_DIALOG, WS_EX_WINDOWEDGE),
                  nullptr);
        TestInput::ProcessEvents();
        return *m_window;
    }

    template <class T = CControlUI> T* Control(const char16_t* name)
    {
        return static_cast<T*>(m_window->GetPaintManager().FindControl(name));
    }
    void ClickControl(CControlUI* control)
    {
        ASSERT_NE(control, nullptr);
        TestInput::ProcessEvents();
        RECT rc = control->GetPos();
        ASSERT_LT(rc.left, rc.right) << "not laid out";
        TestInput::Click(m_window->GetHWND(), POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2});
        TestInput::ProcessEvents();
    }
    void Click(const char16_t* name)
    {
        CControlUI* control = Control(name);
        ASSERT_NE(control, nullptr) << Utf16ToUtf8(name);
        ClickControl(control);
    }
    bool Selected(const char16_t* name) { return Control<COptionUI>(name)->IsSelected(); }

    // Closes with Btn_Close and waits until the window is gone; answers its result.
    int CloseWindow()
    {
        int result = -1;
        HWND hwnd = m_window->GetHWND();
        Click(u"Btn_Close");
        EXPECT_TRUE(TestInput::WaitFor([hwnd] { return !IsWindow(hwnd); }));
        result = CSystemSetFrame::kResultClosed;
        return result;
    }

    // The button of an item in the tree.
    CControlUI* ItemButton(const std::string& emulatorId, const char16_t* name)
    {
        for (const CSystemSetFrame::Item& item : m_window->Items()) {
            if (item.record->EmulatorId == emulatorId)
                return static_cast<CContainerUI*>(item.item)->FindSubControl(name);
        }
        return nullptr;
    }
    bool WaitForItems(size_t count)
    {
        return TestInput::WaitFor([&] { return m_window->Items().size() == count; }, 10000);
    }

    PackageWorld m_world;
    std::unique_ptr<CGameStore> m_store;
    ScriptInstaller m_installer;
    BoxPrompts m_prompts;
    std::unique_ptr<EmulatorManager> m_manager;
    std::unique_ptr<CSystemSetFrame> m_window;
    std::vector<std::string> m_boxes;
    std::vector<std::string> m_pickerTitles;
    std::vector<std::string> m_opened;
    std::string m_pick;
    int m_answer = IDYES;
    std::optional<std::string> m_savedHome;
};

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

// ---- Library folder ---------------------------------------------------------------------------------

TEST_F(SystemSetFrameTest, FirstRunTakesGamesOnTheLargestDriveAndOpensOnTheLibraryPage)
{
    const std::string drive = GetLargestFreeDrive();
    ASSERT_FALSE(drive.empty());
    const std::string games = drive + "Games/";
    const bool existed = fs::exists(games);
    Open(CSystemSetFrame::kDownloadPage);
    EXPECT_EQ(Control<CTabLayoutUI>(u"Tab_SystemSet")->GetCurSel(), 3);
    EXPECT_TRUE(Selected(u"Opt_DownloadUpdate"));
    EXPECT_EQ(m_window->RomPath(), games);
    EXPECT_EQ(Control(u"Ed_DownloadPath")->GetText().Str(), Utf8ToUtf16(games));
    EXPECT_TRUE(fs::is_directory(games));
    CloseWindow();
    EXPECT_EQ(CAppSettings(ConfigPath()).RomPath(), games);
    EXPECT_EQ(RomDir(), games);
    if (!existed)
        fs::remove_all(games);
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
        const bool existed = fs::exists("/dev/shm/Games");
        EXPECT_EQ(PrepareLibraryFolder("/dev/shm"), std::optional<std::string>("/dev/shm/Games/"));
        if (!existed)
            fs::remove_all("/dev/shm/Games");
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

// ---- Emulators ----------------------------------------------------------------------------------------

class SystemSetEmulatorTest : public SystemSetFrameTest {
protected:
    void SetUp() override
    {
        SystemSetFrameTest::SetUp();
        const std::string library = m_world.Root() + "library/";
        fs::create_directories(library);
        WriteSettings(ConfigPath(), library, "0", "1", "1", "0", "1");
    }
    void AddInstalledRow(const std::string& id, const std::string& name, const std::string& version, int type)
    {
        EmulatorRecord row;
        row.EmulatorId = id;
        row.Name = name;
        row.Version = version;
        row.Emulatortype = type;
        row.Execute = {"run.sh"};
        row.IsDefault = "0";
        ASSERT_TRUE(m_store->Submit(kStoreAddEmulator, &row, false, false));
    }
    EmulatorMap Rows()
    {
        EmulatorMap rows;
        EXPECT_TRUE(m_store->Submit(kStoreReadEmulators, &rows, false, false));
        return rows;
    }
    bool Visible(const std::string& id, const char16_t* name)
    {
        CControlUI* button = ItemButton(id, name);
        return button != nullptr && button->IsVisible();
    }
    void ChooseFromMenu(const std::string& id, const char16_t* item)
    {
        ClickControl(ItemButton(id, u"Btn_Option"));
        CMenuWnd* menu = m_window->OpenMenu();
        ASSERT_NE(menu, nullptr);
        ASSERT_TRUE(menu->Choose(item));
        TestInput::ProcessEvents();
    }
};

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
    EXPECT_TRUE(fs::exists(m_world.ProgramDir() + "Emulator/FC/Nes/run.sh"));
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
    ASSERT_TRUE(WriteFile(m_world.ProgramDir() + "Emulator/FC/Nes/run.sh", "#!/bin/sh\nexit 0\n"));
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
    const pid_t pid = Manager().SettingsProcessId();
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(IsEmulatorRunning(*m_window->Items()[0].record));

    ClickControl(ItemButton("1250001", u"Btn_Option"));
    EXPECT_EQ(m_window->OpenMenu(), nullptr);
    EXPECT_EQ(m_window->MenuRecord()->EmulatorId, "1250001");

    CloseWindow();
    EXPECT_TRUE(Manager().WaitForSettingsRun(10000));
    EXPECT_FALSE(IsEmulatorRunning(*Manager().Installed("1250001")));
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
    EXPECT_EQ(Control(u"Tx_IsInstallVc2010")->GetText().Str(), u"已安装");
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
    EXPECT_EQ(Control(u"Tx_IsInstallVc2012")->GetText().Str(), u"已安装");
    EXPECT_EQ(Control(u"Btn_InstallVc2012")->GetText().Str(), u"修复");
    EXPECT_EQ(Control(u"Tx_IsInstallVc2005")->GetText().Str(), u"未安装");
}

} // namespace
