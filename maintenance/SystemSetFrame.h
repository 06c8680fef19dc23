#pragma once

#include "emulator/EmulatorManager.h"
#include "foundation/AppSettings.h"
#include "ui/DialogFrameWnd.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class CEmuInfoItemUI;
class CLocalGameWatcher;
class CRuntimeRows;
struct RuntimeStates;

namespace UiLib {
class CButtonUI;
class CEditUI;
class CMenuWnd;
class COptionUI;
class CTabLayoutUI;
class CTreeNodeUI;
} // namespace UiLib

// The system settings window ("系统设置"): four pages over Tab_SystemSet (常规设置, 模拟器设置, 必备组件,
// 下载与更新) for the settings file's values, the emulators (install, update, remove, configure), the
// runtime components and the library folder, with the program's version and its update check.
//
// The window reads the settings file once when it is built and keeps its own copy. Changing an option
// alone does nothing at once; changing the page copies every option group into the copy and writes
// the file. Closing (the window being destroyed, however that happens) sets RomDir and LocalGameDir to
// the chosen library folder, creates the platform folders, re-points the local game watcher when the
// folder changed, writes or removes the autostart entry and writes the settings file.
//
// The runtime page's rows show "已安装" or "未安装" once the checks, run on a worker at initialisation
// and after each runtime install window, post their result: the window never waits for the registry.
//
// The emulator tree is filled only when the manager posts WM_EMULIST_READY after the refresh the
// window starts at initialisation (or Btn_Refresh): items in EmulatorId order under their platform's
// node. Every emulator action goes through the EmulatorManager, which blocks the UI thread on the
// window or message box it opens. UI thread only.
//
// Result codes: 2 for Btn_Close, 886 when the update check started the updater (the caller then ends
// the program), otherwise the code the window was ended with.
class CSystemSetFrame : public UiLib::CDialogFrameWnd {
public:
    static constexpr char16_t kLayout[] = u"skin\\xmls\\SystemSetDialog.xml";
    static constexpr char16_t kItemLayout[] = u"skin\\xmls\\EmulatorItem.xml";
    static constexpr char16_t kMenuLayout[] = u"skin\\xmls\\EmulatorMenu.xml";
    static constexpr char16_t kTitle[] = u"系统设置";
    static constexpr int kResultClosed = 2;
    static constexpr int kResultUpdateReady = 886;
    // The page a first run opens on: the library folder.
    static constexpr int kDownloadPage = 3;

    // `emulators` must outlive the window; `watcher` (may be null) is re-pointed on closing when the
    // library folder changed. The window opens on `startPage` (0 to 3).
    CSystemSetFrame(EmulatorManager& emulators, CLocalGameWatcher* watcher, int startPage = 0);
    ~CSystemSetFrame() override;

    // Runs the window modally over `owner` with the process-wide emulator manager and local game
    // watcher; a first run opens on the library page. Returns the window's result.
    static int Run(UiLib::HWND owner, bool firstRun);

    UiLib::CDuiString GetSkinFile() const override { return kLayout; }
    UiLib::LPCTSTR GetWindowClassName() const override { return u"SystemSetFrame"; }
    void InitWindow() override;
    void Notify(UiLib::TNotifyUI& msg) override;
    UiLib::CControlUI* CreateControl(UiLib::LPCTSTR pstrClass) override;
    UiLib::LRESULT HandleCustomMessage(UiLib::UINT uMsg, UiLib::WPARAM wParam, UiLib::LPARAM lParam,
                                       bool& handled) override;

    // How Btn_OpenDir shows the library folder (a native path); the default starts the desktop's
    // file manager on it.
    void SetFolderOpener(std::function<void(const std::string& folder)> opener);
    // What the runtime checks run, on a thread of their own; by default ReadRuntimeStates. Set before
    // the window is created.
    void SetRuntimeCheck(std::function<RuntimeStates()> check);

    // The library folder the window holds (process code page, ending with '/').
    const std::string& RomPath() const { return m_settings.RomPath(); }
    // The emulator items in the tree, in the order they were added.
    struct Item {
        CEmuInfoItemUI* item = nullptr;
        EmulatorRecordPtr record;
        int typeId = 0;
    };
    const std::vector<Item>& Items() const { return m_items; }
    // The record whose menu was opened last, and the menu while it is open (null otherwise).
    const EmulatorRecordPtr& MenuRecord() const { return m_menuRecord; }
    UiLib::CMenuWnd* OpenMenu() const;

private:
    // Shows the window's library folder in Ed_DownloadPath, whole in its tip.
    void ShowLibraryFolder();
    void ReadOptions();
    void CopyOptionsToSettings();
    void SelectPage(int page);
    void RebuildEmulatorTree();
    void ShowInstalledButtons(const std::string& emulatorId, bool installed);
    const Item* ItemOfSender(UiLib::CControlUI* sender) const;
    void HandleNotify(UiLib::TNotifyUI& msg);
    void OnClick(UiLib::CControlUI* sender);
    void OnMenuCommand(const std::u16string& name);
    void PickLibraryFolder();
    void InstallRuntime(int kind);
    bool HandleTypeChosen() const;
    void EndSettingsRun();
    void OnClosing();

    EmulatorManager& m_emulators;
    CLocalGameWatcher* m_watcher = nullptr;
    int m_startPage = 0;
    CAppSettings m_settings;
    std::string m_romDirBefore;
    bool m_closed = false;
    std::function<void(const std::string&)> m_folderOpener;
    std::unique_ptr<CRuntimeRows> m_runtimeRows;

    int m_clickDepth = 0;
    bool m_rebuildPending = false;
    std::vector<Item> m_items;
    EmulatorRecordPtr m_menuRecord;
    UiLib::CMenuWnd* m_menu = nullptr;
    UiLib::HWND m_menuWindow = nullptr;

    UiLib::CTabLayoutUI* m_tab = nullptr;
    UiLib::COptionUI* m_pages[4] = {};
    UiLib::COptionUI* m_autoRun = nullptr;
    UiLib::COptionUI* m_tray = nullptr;
    UiLib::COptionUI* m_exit = nullptr;
    UiLib::COptionUI* m_xinput = nullptr;
    UiLib::COptionUI* m_keyboard = nullptr;
    UiLib::COptionUI* m_showKeyMap = nullptr;
    UiLib::COptionUI* m_hideKeyMap = nullptr;
    UiLib::COptionUI* m_autoUpdate = nullptr;
    UiLib::COptionUI* m_manualUpdate = nullptr;
    UiLib::CEditUI* m_downloadPath = nullptr;
    std::vector<std::pair<int, UiLib::CTreeNodeUI*>> m_platformNodes; // type id, node
};
