#pragma once

// The parts the settings window tests share: a stand-in server on loopback with the program, work
// and registry folders (PackageWorld), a real store file, an emulator manager whose installer
// unpacks a launcher script, and the message box and folder picker answered by their seams.

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
#include "tests/support/OffscreenUi.h"
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
#include <unistd.h>

namespace systemsettest {

using namespace UiLib;
using namespace maintenancetest;
using testsupport::ReadFile;
using testsupport::WriteFile;
namespace fs = std::filesystem;

// The test emulators' launcher. "Runs" means some process on the machine runs a program of this
// name, so the name is this test program's own: a "run.sh" of anything else running (a shell
// running the project's own run script) would keep the emulators' menus shut.
inline std::string LauncherName()
{
    return "run-" + std::to_string(::getpid()) + ".sh";
}

inline std::string Emulator(const std::string& id, const std::string& name, const std::string& version,
                            const std::string& type, const std::string& execute = LauncherName())
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
        if (m_runtimeCheck)
            m_window->SetRuntimeCheck(m_runtimeCheck);
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
        TestInput::Click(m_window->GetHWND(), testsupport::CentreOf(control));
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
    std::function<RuntimeStates()> m_runtimeCheck; // unset: the window's own checks
    std::optional<std::string> m_savedHome;
};

// The emulator page: a settings file with the gamepad chosen and a library folder.
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
        row.Execute = {LauncherName()};
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

} // namespace systemsettest
