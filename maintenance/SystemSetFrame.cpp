#include "maintenance/SystemSetFrame.h"

#include "emulator/EmulatorConfig.h"
#include "emulator/LocalGameWatcher.h"
#include "foundation/AppMessages.h"
#include "foundation/AppPaths.h"
#include "foundation/FileSystem.h"
#include "foundation/StringConv.h"
#include "maintenance/DownLoadPopFrame.h"
#include "maintenance/EmuInfoItemUI.h"
#include "maintenance/PopJob.h"
#include "maintenance/RuntimeRows.h"
#include "maintenance/SystemSetActions.h"
#include "maintenance/UpdateCheck.h"
#include "maintenance/UpdateVersion.h"
#include "platform/Process.h"
#include "platform/Trace.h"
#include "ui/Button.h"
#include "ui/DialogBuilder.h"
#include "ui/Edit.h"
#include "ui/Label.h"
#include "ui/MenuWnd.h"
#include "ui/MessageBox.h"
#include "ui/Option.h"
#include "ui/RichEdit.h"
#include "ui/TabLayout.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace {

struct PlatformNode {
    const char16_t* name;
    int typeId;
    const char16_t* logo;
};

const PlatformNode kPlatformNodes[] = {
    {u"TreeNode_Fc", 125, u"skin\\ui\\local_fc.png"},
    {u"TreeNode_Sfc", 121, u"skin\\ui\\local_sfc.png"},
    {u"TreeNode_N64", 130, u"skin\\ui\\local_n64.png"},
    {u"TreeNode_Wii", 140, u"skin\\ui\\local_wii.png"},
    {u"TreeNode_Gbc", 124, u"skin\\ui\\local_gbc.png"},
    {u"TreeNode_Gba", 120, u"skin\\ui\\local_gba.png"},
    {u"TreeNode_Nds", 127, u"skin\\ui\\local_nds.png"},
    {u"TreeNode_Md", 122, u"skin\\ui\\local_md.png"},
    {u"TreeNode_Dc", 133, u"skin\\ui\\local_dc.png"},
    {u"TreeNode_Ps", 119, u"skin\\ui\\local_ps.png"},
    {u"TreeNode_Ps2", 142, u"skin\\ui\\local_ps2.png"},
    {u"TreeNode_Psp", 129, u"skin\\ui\\local_psp.png"},
    {u"TreeNode_Pce", 148, u"skin\\ui\\local_pce.png"},
    {u"TreeNode_Wsc", 131, u"skin\\ui\\local_wsc.png"},
    {u"TreeNode_Arcade", 126, u"skin\\ui\\local_fba.png"},
    {u"TreeNode_Mame", 123, u"skin\\ui\\local_mame.png"},
    {u"TreeNode_Mameplus", 146, u"skin\\ui\\local_mameplus.png"},
};

const char16_t* const kPageOptions[] = {u"Opt_CommonSet", u"Opt_EmuSet", u"Opt_Plugin",
                                        u"Opt_DownloadUpdate"};

// Text of the process code page for the toolkit; text the code page cannot hold shows as '?'.
std::u16string ToUi(const std::string& text)
{
    try {
        return AnsiToUtf16(text);
    } catch (const std::runtime_error&) {
        std::u16string shown;
        for (unsigned char c : text)
            shown += c < 0x80 ? static_cast<char16_t>(c) : u'?';
        return shown;
    }
}

std::string ToAnsi(const std::u16string& text)
{
    try {
        return Utf16ToOem(text);
    } catch (const std::runtime_error&) {
        return {};
    }
}

std::string ToNative(const std::string& ansiPath)
{
    try {
        return NativePath(ansiPath);
    } catch (const std::runtime_error&) {
        return {};
    }
}

template <class T> T* Find(UiLib::CPaintManagerUI& pm, const char16_t* name)
{
    return static_cast<T*>(pm.FindControl(name));
}

template <class T> T* FindIn(UiLib::CControlUI* root, const char16_t* name)
{
    auto* container = static_cast<UiLib::CContainerUI*>(root->GetInterface(u"Container"));
    return container ? static_cast<T*>(container->FindSubControl(name)) : nullptr;
}

void SetVisible(UiLib::CControlUI* root, const char16_t* name, bool visible)
{
    if (UiLib::CControlUI* control = FindIn<UiLib::CControlUI>(root, name))
        control->SetVisible(visible);
}

} // namespace

CSystemSetFrame::CSystemSetFrame(EmulatorManager& emulators, CLocalGameWatcher* watcher, int startPage)
    : m_emulators(emulators), m_watcher(watcher), m_startPage(startPage < 0 || startPage > 3 ? 0 : startPage),
      m_romDirBefore(RomDir()), m_runtimeRows(std::make_unique<CRuntimeRows>())
{
    m_folderOpener = [](const std::string& folder) {
        // Nothing to tell the user about, but a desktop without an opener (xdg-open) is worth a trace.
        if (!platform::StartProcess(folder, "", "", platform::kShowNormal))
            platform::TraceF("settings: cannot open %s: %s", folder.c_str(), std::strerror(errno));
    };
}

CSystemSetFrame::~CSystemSetFrame() = default;

int CSystemSetFrame::Run(UiLib::HWND owner, bool firstRun)
{
    CSystemSetFrame window(EmulatorManager::Instance(), &CLocalGameWatcher::Instance(),
                           firstRun ? kDownloadPage : 0);
    return window.DoModal(owner, kTitle);
}

void CSystemSetFrame::SetFolderOpener(std::function<void(const std::string&)> opener)
{
    m_folderOpener = std::move(opener);
}

void CSystemSetFrame::SetRuntimeCheck(std::function<RuntimeStates()> check)
{
    m_runtimeRows->SetCheck(std::move(check));
}

UiLib::CControlUI* CSystemSetFrame::CreateControl(UiLib::LPCTSTR pstrClass)
{
    if (std::u16string_view(pstrClass) == u"EmuInfoItem")
        return new CEmuInfoItemUI();
    return nullptr;
}

UiLib::CMenuWnd* CSystemSetFrame::OpenMenu() const
{
    return m_menuWindow != nullptr && UiLib::IsWindow(m_menuWindow) ? m_menu : nullptr;
}

void CSystemSetFrame::InitWindow()
{
    m_tab = Find<UiLib::CTabLayoutUI>(m_pm, u"Tab_SystemSet");
    for (int i = 0; i < 4; ++i)
        m_pages[i] = Find<UiLib::COptionUI>(m_pm, kPageOptions[i]);
    m_autoRun = Find<UiLib::COptionUI>(m_pm, u"Opt_AutoRun");
    m_tray = Find<UiLib::COptionUI>(m_pm, u"Opt_Tray");
    m_exit = Find<UiLib::COptionUI>(m_pm, u"Opt_Exit");
    m_xinput = Find<UiLib::COptionUI>(m_pm, u"Opt_Xinput");
    m_keyboard = Find<UiLib::COptionUI>(m_pm, u"Opt_Keyboard");
    m_showKeyMap = Find<UiLib::COptionUI>(m_pm, u"Opt_ShowKeyMap");
    m_hideKeyMap = Find<UiLib::COptionUI>(m_pm, u"Opt_HideKeyMap");
    m_autoUpdate = Find<UiLib::COptionUI>(m_pm, u"Opt_AutoUpdate");
    m_manualUpdate = Find<UiLib::COptionUI>(m_pm, u"Opt_ManualUpdate");
    m_downloadPath = Find<UiLib::CEditUI>(m_pm, u"Ed_DownloadPath");
    for (const PlatformNode& node : kPlatformNodes) {
        auto* control = Find<UiLib::CControlUI>(m_pm, node.name);
        auto* treeNode =
            control ? static_cast<UiLib::CTreeNodeUI*>(control->GetInterface(u"TreeNode")) : nullptr;
        if (treeNode == nullptr)
            continue;
        treeNode->SetTag(static_cast<UiLib::UINT_PTR>(node.typeId));
        m_platformNodes.emplace_back(node.typeId, treeNode);
    }

    ReadOptions();

    // The library folder: a first run takes the place with the most free space, or, installed, the
    // user's data folder.
    if (m_settings.RomPath().empty()) {
        const std::string folder = DefaultLibraryFolder();
        if (!folder.empty()) {
            EnsureDirectoryTree(folder);
            m_settings.SetRomPath(folder);
            platform::TraceF("settings: a first run proposes the library folder %s", folder.c_str());
        }
    }
    if (m_downloadPath != nullptr)
        m_downloadPath->SetReadOnly(true);
    ShowLibraryFolder();

    if (auto* version = Find<UiLib::CControlUI>(m_pm, u"Tx_Version"))
        version->SetText(ToUi(QuokkaVersion()));
    m_runtimeRows->Attach(m_hWnd, m_pm);

    if (m_pages[m_startPage] != nullptr)
        m_pages[m_startPage]->Selected(true, false);
    if (m_tab != nullptr)
        m_tab->SelectItem(m_startPage);

    m_emulators.RefreshEmulatorList(m_hWnd);
}

void CSystemSetFrame::ReadOptions()
{
    if (m_autoRun != nullptr)
        m_autoRun->Selected(m_settings.AutoRun() == "1", false);
    if (m_settings.IsTray() == "1" && m_tray != nullptr)
        m_tray->Selected(true, false);
    if (m_settings.IsTray() == "0" && m_exit != nullptr)
        m_exit->Selected(true, false);
    if (m_settings.HandleType() == "1" && m_xinput != nullptr)
        m_xinput->Selected(true, false);
    if (m_settings.HandleType() == "2" && m_keyboard != nullptr)
        m_keyboard->Selected(true, false);
    if (m_settings.ShowKeyMapTips() == "1" && m_showKeyMap != nullptr)
        m_showKeyMap->Selected(true, false);
    if (m_settings.ShowKeyMapTips() == "0" && m_hideKeyMap != nullptr)
        m_hideKeyMap->Selected(true, false);
    UiLib::COptionUI* update = m_settings.UpdateType() == "0" ? m_manualUpdate : m_autoUpdate;
    if (update != nullptr)
        update->Selected(true, false);
}

void CSystemSetFrame::CopyOptionsToSettings()
{
    auto selected = [](UiLib::COptionUI* option) { return option != nullptr && option->IsSelected(); };
    m_settings.SetAutoRun(selected(m_autoRun) ? "1" : "0");
    if (selected(m_tray))
        m_settings.SetIsTray("1");
    else if (selected(m_exit))
        m_settings.SetIsTray("0");
    if (selected(m_xinput))
        m_settings.SetHandleType("1");
    else if (selected(m_keyboard))
        m_settings.SetHandleType("2");
    if (selected(m_showKeyMap))
        m_settings.SetShowKeyMapTips("1");
    else if (selected(m_hideKeyMap))
        m_settings.SetShowKeyMapTips("0");
    if (selected(m_autoUpdate))
        m_settings.SetUpdateType("1");
    else if (selected(m_manualUpdate))
        m_settings.SetUpdateType("0");
}

void CSystemSetFrame::SelectPage(int page)
{
    if (m_tab != nullptr)
        m_tab->SelectItem(page);
    CopyOptionsToSettings();
    m_settings.Save();
}

void CSystemSetFrame::RebuildEmulatorTree()
{
    m_items.clear();
    for (auto& [typeId, node] : m_platformNodes)
        node->RemoveAllChildNodes();

    for (const EmulatorRecordPtr& record : m_emulators.ListedEmulators()) {
        UiLib::CTreeNodeUI* node = nullptr;
        const PlatformNode* platform = nullptr;
        for (const PlatformNode& candidate : kPlatformNodes) {
            if (candidate.typeId == record->Emulatortype)
                platform = &candidate;
        }
        for (auto& [typeId, candidate] : m_platformNodes) {
            if (typeId == record->Emulatortype)
                node = candidate;
        }
        if (node == nullptr || platform == nullptr)
            continue;
        UiLib::CDialogBuilder builder;
        UiLib::CControlUI* built = builder.Create(kItemLayout, this, &m_pm);
        auto* item = built ? static_cast<CEmuInfoItemUI*>(built->GetInterface(u"EmuInfoItemUI")) : nullptr;
        if (item == nullptr) {
            delete built;
            platform::TraceF("settings: the emulator item layout cannot be built");
            return;
        }
        auto setText = [item](const char16_t* name, const std::string& text) {
            if (auto* control = FindIn<UiLib::CControlUI>(item, name))
                control->SetText(ToUi(text));
        };
        setText(u"Lb_EmulatorName", record->Name);
        setText(u"Lb_EmulatorVersion", record->Version);
        setText(u"Lb_EmulatorUpdate", record->UpdateDate);
        setText(u"Rd_Description", record->Description);
        if (auto* logo = FindIn<UiLib::CControlUI>(item, u"Ctr_EmulatroLogo"))
            logo->SetBkImage(platform->logo);
        for (const char16_t* button : {u"Btn_Option", u"Btn_DownloadEmu", u"Btn_EmuSet"}) {
            if (auto* control = FindIn<UiLib::CControlUI>(item, button))
                control->SetTag(reinterpret_cast<UiLib::UINT_PTR>(record.get()));
        }
        const bool installed = m_emulators.Installed(record->EmulatorId) != nullptr;
        SetVisible(item, u"Btn_DownloadEmu", !installed);
        SetVisible(item, u"Btn_Option", installed);
        SetVisible(item, u"Btn_EmuSet", installed);
        if (item->GetUnSelectHeight() > 0)
            item->SetFixedHeight(item->GetUnSelectHeight());
        node->AddChildNode(item);
        // The tree may be filled while its page is hidden: the item shows with its node.
        item->SetVisible(node->IsExpanded());
        m_items.push_back(Item{item, record, record->Emulatortype});
    }
}

void CSystemSetFrame::ShowInstalledButtons(const std::string& emulatorId, bool installed)
{
    for (const Item& entry : m_items) {
        if (entry.record->EmulatorId != emulatorId)
            continue;
        SetVisible(entry.item, u"Btn_DownloadEmu", !installed);
        SetVisible(entry.item, u"Btn_Option", installed);
        SetVisible(entry.item, u"Btn_EmuSet", installed);
    }
}

const CSystemSetFrame::Item* CSystemSetFrame::ItemOfSender(UiLib::CControlUI* sender) const
{
    const UiLib::UINT_PTR tag = sender->GetTag();
    for (const Item& entry : m_items) {
        if (reinterpret_cast<UiLib::UINT_PTR>(entry.record.get()) == tag)
            return &entry;
    }
    return nullptr;
}

bool CSystemSetFrame::HandleTypeChosen() const
{
    return m_settings.HandleType() == "1" || m_settings.HandleType() == "2";
}

void CSystemSetFrame::Notify(UiLib::TNotifyUI& msg)
{
    // A click may open a modal window or box, whose loop delivers WM_EMULIST_READY meanwhile; the
    // tree is rebuilt only after the click's handling, so the clicked button outlives it.
    ++m_clickDepth;
    HandleNotify(msg);
    if (--m_clickDepth == 0 && m_rebuildPending) {
        m_rebuildPending = false;
        PostMessage(WM_EMULIST_READY);
    }
}

void CSystemSetFrame::HandleNotify(UiLib::TNotifyUI& msg)
{
    if (msg.pSender == nullptr)
        return;
    const std::u16string name = msg.pSender->GetName().Str();
    if (msg.sType == u"selectchanged") {
        for (int i = 0; i < 4; ++i) {
            if (name == kPageOptions[i])
                return SelectPage(i);
        }
        return;
    }
    if (msg.sType == u"click")
        OnClick(msg.pSender);
}

void CSystemSetFrame::OnClick(UiLib::CControlUI* sender)
{
    const std::u16string name = sender->GetName().Str();
    if (name == u"Btn_Close") {
        EndSettingsRun();
        Close(kResultClosed);
        return;
    }
    if (name == u"Btn_OpenDir") {
        if (m_folderOpener)
            m_folderOpener(ToNative(m_settings.RomPath()));
        return;
    }
    if (name == u"Btn_PickDir")
        return PickLibraryFolder();
    if (const int kind = CRuntimeRows::KindOfButton(name); kind >= 0)
        return InstallRuntime(kind);
    if (name == u"Btn_Update") {
        if (RunManualUpdateCheck(m_hWnd) == kResultUpdateReady)
            Close(kResultUpdateReady);
        return;
    }
    if (name == u"Btn_Refresh") {
        m_emulators.RefreshEmulatorList(m_hWnd);
        return;
    }
    if (name == u"Btn_ResetXinput" || name == u"Btn_ResetKeyboard") {
        if (UiLib::MessageBox(m_hWnd, u"是否恢复默认", u"提示", UiLib::MB_YESNO) != UiLib::IDYES)
            return;
        const int controlMethod = name == u"Btn_ResetXinput" ? 1 : 2;
        for (const EmulatorRecordPtr& record : m_emulators.InstalledEmulators())
            emulator_config::RestoreDefaults(*record, controlMethod);
        return;
    }

    const Item* item = ItemOfSender(sender);
    if (item == nullptr)
        return;
    if (name == u"Btn_Option") {
        m_menuRecord = item->record;
        if (IsEmulatorRunning(*item->record))
            return;
        UiLib::POINT point{0, 0};
        UiLib::GetCursorPos(point);
        m_menu = UiLib::CMenuWnd::Show(m_hWnd, kMenuLayout, point, WM_MENU_COMMAND);
        m_menuWindow = m_menu != nullptr ? m_menu->GetHWND() : nullptr;
        return;
    }
    if (name == u"Btn_DownloadEmu") {
        const EmulatorRecordPtr record = item->record; // the tree may be rebuilt meanwhile
        if (m_emulators.Install(*record, m_hWnd))
            ShowInstalledButtons(record->EmulatorId, true);
        return;
    }
    if (name == u"Btn_EmuSet") {
        if (!HandleTypeChosen() || IsEmulatorRunning(*item->record))
            return;
        if (EmulatorRecordPtr installed = m_emulators.Installed(item->record->EmulatorId))
            m_emulators.RunForSettings(*installed, m_hWnd);
    }
}

void CSystemSetFrame::OnMenuCommand(const std::u16string& name)
{
    const EmulatorRecordPtr record = m_menuRecord;
    if (record == nullptr)
        return;
    const EmulatorRecordPtr installed = m_emulators.Installed(record->EmulatorId);
    if (name == u"Menu_DownloadEmu") {
        if (m_emulators.Install(*record, m_hWnd))
            ShowInstalledButtons(record->EmulatorId, true);
    } else if (name == u"Menu_DelEmu") {
        if (installed != nullptr && m_emulators.Uninstall(*installed, m_hWnd))
            ShowInstalledButtons(record->EmulatorId, false);
    } else if (name == u"Menu_UpdateEmu") {
        m_emulators.Update(*record, m_hWnd);
    } else if (name == u"Menu_SetEmu") {
        if (installed != nullptr)
            m_emulators.RunForSettings(*installed, m_hWnd);
    } else if (name == u"Menu_OpenEmuDir") {
        m_emulators.OpenDirectory(installed != nullptr ? *installed : *record);
    } else if (name == u"Menu_SetDefault") {
        if (!HandleTypeChosen() || installed == nullptr)
            return;
        if (UiLib::MessageBox(m_hWnd, u"是否恢复默认设置", u"提示", UiLib::MB_YESNO) == UiLib::IDYES)
            m_emulators.RestoreDefaultKeys(*installed);
    }
}

void CSystemSetFrame::PickLibraryFolder()
{
    UiLib::CDuiString folder(ToUi(ToNative(m_settings.RomPath())));
    if (!UiLib::BrowseForFolder(m_hWnd, u"游戏下载目录", folder))
        return;
    const std::string picked = Utf16ToUtf8(folder.Str());
    std::optional<std::string> prepared = PrepareLibraryFolder(picked);
    std::string ansi = prepared ? ToAnsi(Utf8ToUtf16(*prepared)) : std::string();
    // A name the process code page cannot hold would be stored with '?' in its place and name
    // another folder.
    if (!ansi.empty() && ToNative(ansi) != *prepared)
        ansi.clear();
    if (ansi.empty()) {
        UiLib::MessageBox(m_hWnd, u"该目录无法写入，请选择其他目录", u"提示", UiLib::MB_OK);
        return;
    }
    m_settings.SetRomPath(ansi);
    ShowLibraryFolder();
}

void CSystemSetFrame::ShowLibraryFolder()
{
    if (m_downloadPath == nullptr)
        return;
    // A long path is cut at the box's end: the whole of it shows as the box's tip.
    const UiLib::CDuiString text = ToUi(m_settings.RomPath());
    m_downloadPath->SetText(text);
    m_downloadPath->SetToolTip(text);
}

void CSystemSetFrame::InstallRuntime(int kind)
{
    {
        CDownLoadPopFrame window(kind);
        window.DoModal(m_hWnd, CDownLoadPopFrame::kTitle);
    }
    m_runtimeRows->Refresh();
}

void CSystemSetFrame::EndSettingsRun()
{
    m_emulators.EndSettingsRun();
}

UiLib::LRESULT CSystemSetFrame::HandleCustomMessage(UiLib::UINT uMsg, UiLib::WPARAM wParam,
                                                    UiLib::LPARAM lParam, bool& handled)
{
    if (uMsg == WM_EMULIST_READY) {
        if (m_clickDepth > 0)
            m_rebuildPending = true;
        else
            RebuildEmulatorTree();
        handled = true;
        return 0;
    }
    if (m_runtimeRows->HandleMessage(uMsg, lParam)) {
        handled = true;
        return 0;
    }
    if (uMsg == WM_MENU_COMMAND) {
        // wParam: the chosen item's name, which this window frees.
        std::unique_ptr<UiLib::CDuiString> item(reinterpret_cast<UiLib::CDuiString*>(wParam));
        handled = true;
        if (item != nullptr)
            OnMenuCommand(item->Str());
        return 0;
    }
    if (uMsg == UiLib::WM_DESTROY) {
        // The emulator menu is a window of its own: it goes with this window instead of staying
        // behind without an owner to report to.
        if (UiLib::CMenuWnd* menu = OpenMenu())
            menu->DestroyWindow();
        m_menu = nullptr;
        m_menuWindow = nullptr;
        OnClosing();
    }
    return CDialogFrameWnd::HandleCustomMessage(uMsg, wParam, lParam, handled);
}

void CSystemSetFrame::OnClosing()
{
    if (m_closed)
        return;
    m_closed = true;
    SetRomDir(m_settings.RomPath());
    CreatePlatformDirs();
    if (m_watcher != nullptr && RomDir() != m_romDirBefore)
        m_watcher->SetLocalGameDir(LocalGameDir());
    CopyOptionsToSettings();
    ApplyAutostart(m_autoRun != nullptr && m_autoRun->IsSelected());
    m_settings.Save();
}
