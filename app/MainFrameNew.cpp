#include "app/MainFrameNew.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "account/PageVisit.h"
#include "account/SecurityCodeAsker.h"
#include "account/SuggestionFrame.h"
#include "app/ButtonUIEx.h"
#include "app/DropTileLayoutUI.h"
#include "app/GameInfoActionsImpl.h"
#include "app/LaunchDialogs.h"
#include "app/LibraryViews.h"
#include "app/MessageBoxPrompts.h"
#include "catalogue/CatalogueClient.h"
#include "catalogue/CatalogueControls.h"
#include "catalogue/DispatchEventButtonUI.h"
#include "catalogue/DispatchEventOptionUI.h"
#include "catalogue/EmuFilterUI.h"
#include "catalogue/GameInfoFrameNew.h"
#include "catalogue/GameItemUI.h"
#include "catalogue/GameList.h"
#include "catalogue/GameRankfilter.h"
#include "catalogue/GameTypeFilterUI.h"
#include "catalogue/ImageLoader.h"
#include "catalogue/LoadingFailUI.h"
#include "catalogue/LoadingUI.h"
#include "catalogue/PageLabelUI.h"
#include "controller/GamePadTest.h"
#include "controller/XInput.h"
#include "controller/XInputPads.h"
#include "download/DownLoadFrameNew.h"
#include "download/DownLoadTypeChooser.h"
#include "download/DownloadManager.h"
#include "emulator/DropImport.h"
#include "emulator/EmulatorList.h"
#include "emulator/EmulatorManager.h"
#include "emulator/GameLauncher.h"
#include "emulator/KeyMapTipsFrame.h"
#include "emulator/LocalGameWatcher.h"
#include "emulator/PlatformTable.h"
#include "foundation/AppMessages.h"
#include "foundation/AppPaths.h"
#include "foundation/AppSettings.h"
#include "foundation/FileSystem.h"
#include "foundation/ServerEndpoints.h"
#include "foundation/StringConv.h"
#include "maintenance/EmulatorPopInstaller.h"
#include "maintenance/SystemSetFrame.h"
#include "maintenance/UpdateCheck.h"
#include "maintenance/UpdateHandOff.h"
#include "platform/Trace.h"
#include "store/GameStore.h"
#include "store/LocalLibrary.h"
#include "ui/Edit.h"
#include "ui/MenuWnd.h"
#include "ui/MessageBox.h"
#include "ui/Option.h"
#include "ui/PaintManager.h"
#include "ui/RenderEngine.h"
#include "ui/TabLayout.h"
#include "ui/TestInput.h"
#include "ui/TileLayout.h"
#include "ui/TrayIcon.h"

using namespace UiLib;

namespace {

constexpr int kPollMs = 100;
// A search asks with 40 games a page, and its pager counts with the same size.
constexpr int kSearchPageSize = 40;

// The download engine the download poller reads, null while none runs. The shutdown clears it
// before the engine goes, under the same lock, so the poller never reads a destroyed engine (the
// shutdown of a lost display runs while the pollers still do).
std::mutex g_pollEngineMutex;
DownloadManager* g_pollEngine = nullptr;

// Set on the UI thread when a termination signal ends the program: questions that start-up has
// not asked yet are skipped, and the main window's loop is not entered.
bool g_endRequested = false;

std::string ToAnsi(const CDuiString& text)
{
    try {
        return CWideToNarrow(text.GetData()).c_str();
    } catch (const CConversionException&) {
        return {};
    }
}

CDuiString FromAnsi(const std::string& text)
{
    return CDuiString(AnsiToUtf16(text));
}

} // namespace

CMainFrameNew::CMainFrameNew()
    : m_emulatorInstaller(std::make_unique<CEmulatorPopInstaller>()),
      m_prompts(std::make_unique<CMessageBoxPrompts>()), m_launchDialogs(std::make_unique<CLaunchDialogs>()),
      m_gameInfoActions(std::make_unique<CGameInfoActionsImpl>(
          [this](const GameinfoRecord& game) { LaunchDownloadedGame(game); }))
{
    m_library = std::make_unique<CLibraryViews>(m_pm, this);
    m_library->onLaunchDownloaded = [this](const GameinfoRecord& game) { LaunchDownloadedGame(game); };
    m_library->onLaunchLocal = [this](const LocalGameRecord& game) { LaunchLocalGame(game); };
    m_library->onDownloadedChanged = [this](const std::string& gameId, bool downloaded) {
        ShowDownloaded(gameId, downloaded);
    };
    m_library->onDropFiles = [this](const std::vector<std::string>& paths, int platformTypeId) {
        ImportDroppedFiles(paths, platformTypeId);
    };
    m_searchView.search = true;
    if (const char* shot = std::getenv("QUOKKA_SCREENSHOT"))
        m_screenshotPath = shot;
    // A signal's end is taken up by the UI loop, which has not run since the signal watcher
    // started; an end left from an earlier main window of this process does not count.
    g_endRequested = false;
}

CMainFrameNew::~CMainFrameNew()
{
    // The pollers end first; then the views' tiles go before the pages they point into; then the
    // services are stopped in the order the program shuts down. The list window's rows point at the
    // engine's tasks: the engine is stopped, then the window goes, then the engine.
    // Workers are waited for from here on, on this thread: one asking for a dialog (download source,
    // security code) gets "closed" instead of waiting for this thread, whether it asked before (its
    // request may be queued behind a main loop that has ended) or asks during the shutdown.
    CUiRequestRefusal refuseDialogs;
    StopPollers();
    if (m_downloadWindow) {
        {
            std::lock_guard lock(g_pollEngineMutex);
            if (g_pollEngine != nullptr)
                g_pollEngine->Shutdown();
        }
        if (m_downloadWindow->GetHWND() != nullptr)
            m_downloadWindow->DestroyWindow();
        m_downloadWindow.reset();
    }
    for (OnlineView* view : {&m_find, &m_searchView}) {
        if (view->tiles != nullptr)
            view->tiles->RemoveAll();
        view->page.reset();
    }
    ShutdownServices();
    DestroyToolWindows();
    // With the pad poller gone nothing reads the pads: their motors stop and SDL lets them go.
    CXInputPads::Instance().Shutdown();
    m_pm.GetTrayObject().DeleteTrayIcon();
}

void CMainFrameNew::ShutdownServices()
{
    // No new source or code dialog opens from here on.
    InstallDownloadSourceChooser(nullptr);
    InstallSecurityCodePrompt(nullptr);
    // Every transfer and scan is told to stop before any service is waited for.
    CLocalGameWatcher::BeginInstanceShutdown();
    CDropImport::BeginInstanceShutdown();
    CImageLoader::BeginInstanceShutdown();
    CCatalogueClient::BeginInstanceShutdown();
    EmulatorManager::BeginInstanceShutdown();
    GameLauncher::BeginInstanceShutdown();
    // The download engine goes first: its workers write the store and add to the library set.
    {
        std::lock_guard lock(g_pollEngineMutex);
        g_pollEngine = nullptr;
    }
    DownloadManager::DestroyInstance();
    // The folder watcher and the drop importer end next: they add to the library set and the store.
    CLocalGameWatcher::DestroyInstance();
    CDropImport::DestroyInstance();
    CImageLoader::DestroyInstance();
    CCatalogueClient::DestroyInstance();
    // The launcher's worker takes a game's configuration back through the emulator manager, so it
    // ends before the manager goes. A game still running is left to run; its run record stays.
    GameLauncher::DestroyInstance();
    EmulatorManager::DestroyInstance();
    CLocalLibrary::DestroyInstance(); // joins its fillers
    CGameStore::DestroyInstance();
    // Beacons still on their way are aborted; the program's network clean-up follows.
    ShutdownPageVisits();
}

void CMainFrameNew::PostShowRequest(HWND window)
{
    auto* name = new CDuiString(u"Menu_ShowMain");
    UiLib::PostMessage(window, WM_MENU_COMMAND, reinterpret_cast<WPARAM>(name), 0, [name] { delete name; });
}

CControlUI* CMainFrameNew::CreateControl(LPCTSTR pstrClass)
{
    std::u16string_view tag(pstrClass);
    if (EqualsNoCase(tag, u"ButtonEx"))
        return new CButtonUIEx;
    if (EqualsNoCase(tag, u"DropTileLayout"))
        return new CDropTileLayoutUI;
    return CreateCatalogueControl(tag);
}

void CMainFrameNew::FindControls()
{
    auto find = [this](std::u16string_view name) { return m_pm.FindControl(name); };
    m_tabGame = static_cast<CTabLayoutUI*>(find(u"Tab_Game"));
    m_tabMyGame = static_cast<CTabLayoutUI*>(find(u"Tab_MyGame"));
    m_search = static_cast<CEditUI*>(find(u"Ed_SearchKeyWord"));
    m_optMyGame = static_cast<COptionUI*>(find(u"Opt_MyGame"));
    m_optFindGame = static_cast<COptionUI*>(find(u"Opt_FindGame"));
    m_btnDownload = static_cast<CButtonUIEx*>(find(u"Btn_DownLoad")->GetInterface(u"CButtonUIEx"));
    m_btnGamePad = static_cast<CButtonUIEx*>(find(u"Btn_GamePad")->GetInterface(u"CButtonUIEx"));
    m_loading = static_cast<CLoadingUI*>(find(u"Loading_Game"));
    m_loadingFail = static_cast<CLoadingFailUI*>(find(u"LoadingFail_Game"));
    for (auto [view, suffix] : {std::pair{&m_find, u"FindGame"}, std::pair{&m_searchView, u"SearchGame"}}) {
        auto named = [&](const char16_t* prefix) { return find(CDuiString(prefix) + suffix); };
        view->tiles = static_cast<CTileLayoutUI*>(named(u"Tl_GameView_"));
        view->pager = static_cast<CPageLabelUI*>(named(u"Pl_Page_"));
        view->emu = static_cast<CEmuFilterUI*>(named(u"Ef_"));
        view->type = static_cast<CGameTypeFilterUI*>(named(u"Gf_"));
        view->rank = static_cast<CGameRankfilter*>(named(u"Grf_"));
        view->label = static_cast<CLabelUI*>(named(u"Lb_GameLabel_"));
        view->numbers = static_cast<CLabelUI*>(named(u"Lb_GameNumbers_"));
        view->emptyNotice = static_cast<CLabelUI*>(named(u"Lb_EmptyNotice_"));
        view->retry = named(u"Tx_Retry_");
        view->retry->SetText(u"加载失败，<a>重试</a>");
    }
    m_library->FindControls();
}

void CMainFrameNew::InitWindow()
{
    CenterWindow();
    // The window exists: an update that started this program is final now, before the start-up
    // questions can keep the updater that waits for it waiting.
    ConfirmProgramStarted();
    FindControls();
    EnableSizeBox(true);
    // The catalogue is the page the program opens on.
    m_tabGame->SelectItem(1);
    m_searchView.pager->SetPageSize(kSearchPageSize);
    for (OnlineView* view : {&m_find, &m_searchView}) {
        view->wanted.pageSize = view->pager->GetPageSize();
        view->shown = view->wanted;
    }
    m_pm.GetTrayObject().CreateTrayIcon(m_hWnd, kTrayIconId, u"Quokka模拟器", kTrayMessage);
    // The list window and the tips window: no owner, on top, hidden until wanted.
    if (!m_downloadWindow) {
        m_downloadWindow = std::make_unique<CDownLoadFrameNew>(DownloadManager::Instance());
        if (m_downloadWindow->CreateHidden() == nullptr) {
            platform::Trace("main window: the download list window cannot be made");
            m_downloadWindow.reset();
        }
    }
    if (!m_tips) {
        m_tips = std::make_unique<CKeyMapTipsFrame>();
        if (m_tips->CreateHidden() == nullptr) {
            platform::Trace("main window: the key map tips window cannot be made");
            m_tips.reset();
        }
    }
    StartLibraryServices();
    // Made now: a game that an earlier run of the program left running is adopted, and its
    // configuration taken back when it ends.
    GameLauncher::Instance().SetPrompts(m_launchDialogs.get());
    // Before the start-up questions: the first-run settings window installs, removes and runs
    // emulators too. Installs go through the installer window and ask through message boxes over
    // this window.
    EmulatorManager& emulators = EmulatorManager::Instance();
    emulators.SetInstaller(m_emulatorInstaller.get());
    emulators.SetPrompts(m_prompts.get());
    emulators.SetLaunchPrompts(m_launchDialogs.get()); // a settings run's emulator that cannot start

    ReportPageVisit(SiteUrl(""));
    UserIdentity user;
    CAppSettings(GetAppPaths().ConfigFilePath).LoadUser(user);
    if (user.Uid.empty() && user.Ticket.empty())
        ReportPageVisit(SiteUrl("newuser/"));
    if (!RunStartupQuestions()) {
        Close(1);
        return;
    }
    // After the first-run settings: the engine keeps the library folder it starts with.
    StartDownloadEngine();
}

bool CMainFrameNew::RunStartupQuestions()
{
    // Once the updater runs, the program ends for it.
    if (RunAutomaticUpdateCheck(m_hWnd) || g_endRequested)
        return false;
    // Without a library folder the settings window asks for one first.
    if (CAppSettings(GetAppPaths().ConfigFilePath).RomPath().empty()) {
        platform::Trace("start-up: no library folder; the settings window asks for one");
        if (CSystemSetFrame::Run(m_hWnd, true) == CSystemSetFrame::kResultUpdateReady)
            return false;
    }
    return !g_endRequested;
}

void CMainFrameNew::EndForSignal()
{
    g_endRequested = true;
    CPaintManagerUI::EndAllModalLoops(IDCLOSE);
}

bool CMainFrameNew::EndRequested()
{
    return g_endRequested;
}

void CMainFrameNew::StartDownloadEngine()
{
    DownloadManager& engine = DownloadManager::Instance();
    // Runs on the engine's scheduler, before the engine posts WM_GAME_INSTALLED.
    engine.SetAddToLibrary([](const GameinfoRecord& game) {
        if (CLocalLibrary* library = CLibraryViews::Library())
            library->AddGame(game);
    });
    engine.Start(m_hWnd, m_downloadWindow ? m_downloadWindow->GetHWND() : nullptr);
    std::lock_guard lock(g_pollEngineMutex);
    g_pollEngine = &engine;
}

void CMainFrameNew::DestroyToolWindows()
{
    if (m_tips) {
        if (m_tips->GetHWND() != nullptr)
            m_tips->DestroyWindow();
        m_tips.reset();
    }
}

void CMainFrameNew::StartLibraryServices()
{
    // Made here, before any view asks: its two store reads run once, at start.
    if (CLibraryViews::Library() == nullptr)
        return;
    try {
        CLocalGameWatcher::Instance().Start(m_hWnd, LocalGameDir());
        CDropImport::Instance().SetWindow(m_hWnd);
    } catch (const std::exception& e) {
        platform::TraceF("main window: no library folder watcher: %s", e.what());
    }
}

void CMainFrameNew::LaunchDownloadedGame(const GameinfoRecord& game)
{
    platform::TraceF("main window: start %s (%s)", game.GameId.c_str(), game.FilePath.c_str());
    GameLauncher::Instance().LaunchDownloadedGame(&game, m_hWnd);
}

void CMainFrameNew::LaunchLocalGame(const LocalGameRecord& game)
{
    platform::TraceF("main window: start %s", game.FilePath.c_str());
    GameLauncher::Instance().LaunchLocalGame(&game, m_hWnd);
}

void CMainFrameNew::OnGameState(WPARAM wParam)
{
    if (!m_tips)
        return;
    if (wParam != 0) {
        const GameLauncher& launcher = GameLauncher::Instance();
        m_tips->ShowFor(InstancePath(), launcher.Platform(), launcher.ControlMethod());
    } else {
        m_tips->HideTips();
    }
}

void CMainFrameNew::ImportDroppedFiles(const std::vector<std::string>& paths, int platformTypeId)
{
    // The importer announces each new game with WM_LOCAL_GAME_ADDED.
    try {
        CDropImport::Instance().QueueDrop(paths, platformTypeId);
    } catch (const std::exception& e) {
        platform::TraceF("main window: dropped files not imported: %s", e.what());
    }
}

void CMainFrameNew::ShowDownloaded(const std::string& gameId, bool downloaded)
{
    ShowInstallState(gameId, downloaded ? 8 : 0);
}

void CMainFrameNew::ShowInstallState(const std::string& gameId, int state)
{
    CDuiString key = FromAnsi(gameId);
    for (OnlineView* view : {&m_find, &m_searchView}) {
        if (view->tiles == nullptr)
            continue;
        for (int i = 0; i < view->tiles->GetCount(); ++i) {
            CControlUI* item = view->tiles->GetItemAt(i);
            if (item->GetUserData() == key)
                static_cast<CGameItemUI*>(item)->SetInstallState(state);
        }
    }
}

void CMainFrameNew::RequestPage(OnlineView& view, const CGameListQuery& query)
{
    view.wanted = query;
    view.loading = true;
    ShowFilters(view, query);
    m_loadingFail->HideFail();
    m_loading->ShowLoading();
    CCatalogueClient::Instance().RequestGameList(m_hWnd, query);
}

void CMainFrameNew::ShowFilters(OnlineView& view, const CGameListQuery& query)
{
    view.emu->SelectId(query.emulatorId);
    view.emu->SetTag(static_cast<UINT_PTR>(query.emulatorId));
    view.type->SelectId(query.categoryId);
    view.type->SetTag(static_cast<UINT_PTR>(query.categoryId));
    view.rank->SelectId(query.order);
    view.rank->SetTag(static_cast<UINT_PTR>(query.order));
}

void CMainFrameNew::HideLoadingWhenIdle()
{
    if (!m_find.loading && !m_searchView.loading)
        m_loading->HideLoading();
}

void CMainFrameNew::Search()
{
    CDuiString text = m_search->GetText();
    if (text.IsEmpty())
        return;
    std::string keyword = ToAnsi(text);
    if (keyword.empty())
        return; // not expressible in the process code page
    // The search asked for last is shown, or on its way: only the results page is brought up.
    if (keyword == m_searchView.wanted.keyword) {
        ShowSearchResults();
        return;
    }
    CGameListQuery query = m_searchView.wanted;
    query.keyword = keyword;
    query.page = 1;
    query.pageSize = kSearchPageSize;
    RequestPage(m_searchView, query);
}

void CMainFrameNew::ShowSearchResults()
{
    m_optMyGame->Selected(false, false);
    m_optFindGame->Selected(false, false);
    m_tabGame->SelectItem(2);
}

void CMainFrameNew::ShowMain()
{
    ShowWindow(true);
}

void CMainFrameNew::CloseHandling(bool exit)
{
    CAppSettings settings(GetAppPaths().ConfigFilePath);
    if (settings.IsTray() == "1" && !exit) {
        m_pm.GetTrayObject().HideToTray(*this);
        if (m_downloadWindow && m_downloadWindow->GetHWND() != nullptr)
            m_downloadWindow->ShowWindow(false);
        return;
    }
    DownloadManager& engine = DownloadManager::Instance();
    if (engine.Started() && engine.CountRunningWorkers() > 0 &&
        MessageBox(m_hWnd, u"有下载任务进行中是否退出", u"提示", MB_YESNO) != IDYES)
        return;
    Close(IDOK);
}

CMainFrameNew::OnlineView* CMainFrameNew::ViewOfSender(CControlUI* sender)
{
    for (OnlineView* view : {&m_find, &m_searchView}) {
        if (sender == view->pager || sender == view->emu || sender == view->type || sender == view->rank ||
            (view->tiles != nullptr && sender->GetParent() == view->tiles))
            return view;
    }
    return nullptr;
}

void CMainFrameNew::Notify(TNotifyUI& msg)
{
    const CDuiString& name = msg.pSender != nullptr ? msg.pSender->GetName() : CDuiString();
    if (msg.sType == u"windowinit") {
        InstallDownloadSourceChooser(std::make_shared<CDownLoadTypeChooser>());
        InstallSecurityCodePrompt(std::make_shared<CSecurityCodeAsker>());
        RequestPage(m_find, m_find.wanted);
        m_library->Start(m_hWnd);
        StartPollers();
        return;
    }
    if (msg.sType == u"link") {
        for (OnlineView* view : {&m_find, &m_searchView})
            if (msg.pSender == view->retry)
                RequestPage(*view, view->failed);
        return;
    }
    if (msg.sType == u"return" && name == u"Ed_SearchKeyWord") {
        Search();
        return;
    }
    if (msg.sType == u"selectchanged") {
        if (name == u"Opt_MyGame") {
            m_tabGame->SelectItem(0);
            ReportPageVisit(SiteUrl("mygame/"));
        } else if (name == u"Opt_FindGame") {
            m_tabGame->SelectItem(1);
            ReportPageVisit(SiteUrl(""));
        } else if (name == u"Opt_DownLoadGame") {
            m_tabMyGame->SelectItem(0);
        } else if (name == u"Opt_LocalGame") {
            m_tabMyGame->SelectItem(1);
        }
        return;
    }
    if (msg.sType != u"click")
        return;
    if (m_library->OnClick(msg))
        return;
    if (name == u"Btn_Close") {
        CloseHandling(false);
    } else if (name == u"Btn_Min") {
        PostMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
    } else if (name == u"Btn_Search") {
        Search();
    } else if (name == u"Btn_GamePad") {
        CGamePadTest::Show(m_hWnd);
    } else if (name == u"Btn_Suggestion") {
        CSuggestionFrame::Run(m_hWnd);
    } else if (name == u"Btn_DownLoad") {
        if (m_downloadWindow && m_downloadWindow->GetHWND() != nullptr)
            m_downloadWindow->ShowWindow(true);
    } else if (name == u"Btn_Set") {
        const int result = CSystemSetFrame::Run(m_hWnd, false);
        // Closing the window may have moved the library folder: new downloads go there.
        DownloadManager::Instance().SetLibraryFolder(RomDir());
        if (result == CSystemSetFrame::kResultUpdateReady)
            Close(1); // the updater runs; the program ends for it
    } else if (OnlineView* view = ViewOfSender(msg.pSender)) {
        // Filters and pager build on the latest request, shown or still on its way.
        CGameListQuery query = view->wanted;
        const int chosen = static_cast<int>(msg.wParam);
        if (msg.pSender == view->pager) {
            if (chosen < 1)
                return;
            query.page = chosen;
        } else if (msg.pSender == view->emu) {
            query.emulatorId = chosen;
            query.page = 1;
        } else if (msg.pSender == view->type) {
            query.categoryId = chosen;
            query.page = 1;
        } else if (msg.pSender == view->rank) {
            query.order = chosen;
            query.page = 1;
        } else {
            OnTileClick(*view, msg);
            return;
        }
        if (view->search && query.keyword.empty()) {
            ShowFilters(*view, view->wanted); // nothing searched yet: nothing to filter
            return;
        }
        RequestPage(*view, query);
    }
}

void CMainFrameNew::OnTileClick(OnlineView& view, const TNotifyUI& msg)
{
    // The install button by the tile's state: 0 downloads the game (its emulator first), 2, 4 and
    // 5 pause its task, 3 and 6 start it again, 8 starts the downloaded game.
    if (view.page == nullptr)
        return;
    const int index = view.tiles->GetItemIndex(msg.pSender);
    if (index < 0 || static_cast<size_t>(index) >= view.page->GameCount())
        return;
    // A copy: a page that arrives while a dialog is open replaces the one the tile points into.
    const CGame game = view.page->GameAt(static_cast<size_t>(index));
    if (msg.wParam == 0) {
        ReportPageVisit(SiteUrl("game/" + game.gameid + "/"));
        CGameInfoFrameNew::Run(m_hWnd, game, *m_gameInfoActions);
        return;
    }
    if (msg.wParam != 1)
        return;
    if (msg.lParam == 8) {
        std::optional<GameinfoRecord> downloaded = m_library->FindDownloaded(game.gameid);
        if (downloaded && m_library->onLaunchDownloaded)
            m_library->onLaunchDownloaded(*downloaded);
        return;
    }
    switch (msg.lParam) {
    case 0: {
        // PC games need no emulator; any other game waits for its platform's emulator.
        const std::string emulatorId = game.emulatorid;
        if (emulatorId != "138" &&
            !EmulatorManager::Instance().EnsureEmulator(static_cast<int>(LeadingInt(emulatorId)), m_hWnd))
            return;
        DownloadManager::Instance().AddTask(game, m_hWnd);
        return;
    }
    case 2:
    case 4:
    case 5:
    case 3:
    case 6: {
        const bool pause = msg.lParam == 2 || msg.lParam == 4 || msg.lParam == 5;
        const bool applied =
            DownloadManager::Instance().RequestState(game.gameid, pause ? kTaskPauseRequested : kTaskReady);
        platform::TraceF("main window: %s %s %s", pause ? "pause" : "start", game.gameid.c_str(),
                         applied ? "asked" : "refused");
        return;
    }
    default:
        return;
    }
}

int CMainFrameNew::InstallStateOf(const std::string& gameId) const
{
    if (m_library->IsDownloaded(gameId))
        return 8;
    DownloadManager& engine = DownloadManager::Instance();
    int status = 0;
    if (engine.Started() && engine.GetDisplayStatus(gameId, status))
        return status;
    return 0;
}

void CMainFrameNew::OnDownloadStatus(WPARAM wParam, LPARAM lParam)
{
    std::unique_ptr<std::string> gameId(reinterpret_cast<std::string*>(lParam));
    if (!gameId)
        return;
    // The library's word wins: a game it holds shows 启动 whatever its task last said.
    ShowInstallState(*gameId, m_library->IsDownloaded(*gameId) ? 8 : static_cast<int>(wParam));
}

void CMainFrameNew::SetViewLabel(OnlineView& view)
{
    const int emu = view.shown.emulatorId;
    const int type = view.shown.categoryId;
    CDuiString keyword = FromAnsi(view.shown.keyword);
    CDuiString text;
    if (emu != 0 || type != 0) {
        // The names of the platform table and the genre list, not the filter options' texts.
        text = CDuiString::FromUtf8(TypeIdToShortName(emu)) + u"/" +
               CDuiString::FromUtf8(GenreNumberToName(type)).Str();
        if (view.search)
            text = text + u"/" + keyword.Str();
    } else {
        text = view.search ? CDuiString(u"全部/") + keyword.Str() : CDuiString(u"全部");
    }
    view.label->SetText(text);
    SIZE size = CRenderEngine::GetTextSize(nullptr, &m_pm, text.Str(), view.label->GetFont(), DT_SINGLELINE);
    view.label->SetFixedWidth(size.cx + 4);
}

void CMainFrameNew::OnPageArrived(OnlineView& view, int pageNumber, std::unique_ptr<CGameList> page)
{
    if (page->request && *page->request != view.wanted) {
        platform::TraceF("main window: page %d of an older request dropped", pageNumber);
        return; // the answer to the newer request follows
    }
    view.shown = page->request.value_or(view.wanted);
    view.loading = false;
    ShowFilters(view, view.shown);

    const int count = page->TotalCount();
    view.pager->SetPage(pageNumber, count);
    SetViewLabel(view);
    view.numbers->SetText(CDuiString(u"约" + CDuiString::FromInt(count).Str() + u"款游戏"));

    // Tiles point into the page they show: they go first, then the old page.
    view.tiles->RemoveAll();
    view.tiles->SetScrollPos(SIZE{0, 0});
    view.page = std::move(page);
    FillTiles(view);

    const bool empty = view.page->GameCount() == 0;
    view.retry->SetVisible(false);
    view.tiles->SetVisible(!empty);
    if (view.emptyNotice != nullptr) {
        view.emptyNotice->SetText(view.search ? u"没有找到相关游戏" : u"暂无游戏");
        view.emptyNotice->SetVisible(empty);
    }
    HideLoadingWhenIdle();
    if (view.search)
        ShowSearchResults();
    FocusFirstTile(view);
    platform::TraceF("%s page %d: %d tiles, %d games; first: %s", view.search ? "search" : "catalogue",
                     pageNumber, view.tiles->GetCount(), count,
                     view.page->GameCount() > 0 ? AnsiToUtf8(view.page->GameAt(0).gamename).c_str() : "");
    MaybeTakeScreenshot();
}

void CMainFrameNew::FocusFirstTile(OnlineView& view)
{
    if (m_pm.GetFocus() != nullptr || view.tiles->GetCount() == 0 || !view.tiles->IsVisible())
        return;
    m_pm.SetFocus(m_pm.FindSubControlByName(view.tiles->GetItemAt(0), u"Btn_InstallGame"));
}

bool CMainFrameNew::OnKeyDown(UINT vk)
{
    const int shown = m_tabGame->GetCurSel();
    if (vk == VK_ESCAPE && shown == 2) {
        m_optFindGame->Selected(true); // as a click on 找游戏 leaves the results
        return true;
    }
    if (vk != VK_PRIOR && vk != VK_NEXT)
        return false;
    OnlineView* view = shown == 1 ? &m_find : (shown == 2 ? &m_searchView : nullptr);
    if (view == nullptr || !view->pager->IsVisible())
        return false;
    const int perPage = std::max(1, view->pager->GetPageSize());
    const int pages = (view->pager->GetTotal() + perPage - 1) / perPage;
    const int page = view->pager->GetPage() + (vk == VK_NEXT ? 1 : -1);
    if (page >= 1 && page <= pages)
        m_pm.SendNotify(view->pager, u"click", static_cast<WPARAM>(page)); // the pager's own pick
    return true;
}

void CMainFrameNew::FillTiles(OnlineView& view)
{
    for (const CDuiString& path : view.iconPaths)
        m_pm.RemoveImage(path);
    view.iconPaths.clear();
    view.pendingIcons = 0;

    if (!m_tileBuilder.IsLoaded())
        m_tileBuilder.Load(u"skin\\xmls\\GameItemNew.xml");
    std::vector<std::string> wanted; // the icons this page still needs, in tile order
    for (size_t i = 0; i < view.page->GameCount(); ++i) {
        const CGame& game = view.page->GameAt(i);
        CControlUI* built = m_tileBuilder.Create(this, &m_pm);
        auto* tile =
            built != nullptr ? static_cast<CGameItemUI*>(built->GetInterface(u"CGameItemUI")) : nullptr;
        if (tile == nullptr) {
            delete built;
            platform::Trace("main window: the tile layout cannot be built");
            break;
        }
        view.tiles->Add(tile);
        tile->SetUserData(FromAnsi(game.gameid));
        tile->FillFromGame(game);
        tile->SetInstallState(InstallStateOf(game.gameid));
        const std::string iconPath = IconCachePath(game.icon);
        if (iconPath.empty()) {
            tile->SetIcon(FromAnsi(CImageLoader::kDefaultIcon)); // a path outside the cache counts as missing
            continue;
        }
        CDuiString image = FromAnsi(iconPath);
        view.iconPaths.push_back(image);
        if (IsCachedImage(iconPath)) {
            tile->SetIcon(image);
        } else {
            ++view.pendingIcons;
            CImageLoader::Instance().Request(m_hWnd, 0, 0, game.gameid, game.icon);
            wanted.push_back(game.gameid);
        }
    }
    // The icons on screen go before those of pages no longer shown.
    CImageLoader::Instance().PutFirst(wanted);
}

void CMainFrameNew::OnPageFailed(std::unique_ptr<CGameListQuery> request)
{
    OnlineView& view = request && request->IsSearch() ? m_searchView : m_find;
    if (request && *request != view.wanted)
        return; // a newer request of this view is on its way
    // The screen goes on showing the last page; the filters and the keyword go back to it, so the
    // same choice can be made again.
    view.loading = false;
    view.wanted = view.shown;
    ShowFilters(view, view.shown);
    HideLoadingWhenIdle();
    m_loadingFail->ShowFail();
    // With no page on screen the notice would leave an empty area behind: a line stays that asks
    // again.
    if (!view.page && request) {
        view.failed = *request;
        view.tiles->SetVisible(false);
        view.retry->SetVisible(true);
    }
}

void CMainFrameNew::OnGameIcon(LPARAM lParam)
{
    std::unique_ptr<CImageAnswer> answer(reinterpret_cast<CImageAnswer*>(lParam));
    if (!answer)
        return;
    CDuiString key = FromAnsi(answer->key);
    CDuiString image = FromAnsi(answer->image);
    for (OnlineView* view : {&m_find, &m_searchView}) {
        for (int i = 0; i < view->tiles->GetCount(); ++i) {
            CControlUI* item = view->tiles->GetItemAt(i);
            if (item->GetUserData() != key)
                continue;
            static_cast<CGameItemUI*>(item)->SetIcon(image);
            if (view->pendingIcons > 0)
                --view->pendingIcons;
        }
    }
    MaybeTakeScreenshot();
}

void CMainFrameNew::MaybeTakeScreenshot()
{
    if (m_screenshotPath.empty() || m_screenshotTaken || !m_find.page || m_find.pendingIcons > 0)
        return;
    m_screenshotTaken = true;
    bool saved = TestInput::SaveImage(m_hWnd, m_screenshotPath);
    platform::TraceF("main window: screenshot %s %s", m_screenshotPath.c_str(), saved ? "written" : "failed");
}

void CMainFrameNew::OnMenuCommand(WPARAM wParam)
{
    std::unique_ptr<CDuiString> name(reinterpret_cast<CDuiString*>(wParam));
    if (!name)
        return;
    if (*name == u"Menu_ShowMain")
        ShowMain();
    else if (*name == u"Menu_Exit")
        CloseHandling(true);
}

void CMainFrameNew::OnTrayClick(LPARAM lParam)
{
    if (lParam == WM_LBUTTONUP) {
        ShowMain();
    } else if (lParam == WM_RBUTTONUP) {
        // The menu opens at the cursor; where the platform cannot tell, at the window's centre.
        RECT rc = GetWindowRect();
        POINT at{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
        GetCursorPos(at);
        CMenuWnd::Show(m_hWnd, u"skin\\xmls\\TrayMenu.xml", at, WM_MENU_COMMAND);
    }
}

LRESULT CMainFrameNew::HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& handled)
{
    handled = true;
    if (m_library->OnMessage(uMsg, wParam, lParam))
        return 0;
    switch (uMsg) {
    case WM_GAMELIST_READY:
    case WM_SEARCHLIST_READY: {
        std::unique_ptr<CGameList> page(reinterpret_cast<CGameList*>(lParam));
        if (page)
            OnPageArrived(uMsg == WM_GAMELIST_READY ? m_find : m_searchView, static_cast<int>(wParam),
                          std::move(page));
        return 0;
    }
    case WM_GAMELIST_FAILED:
        OnPageFailed(std::unique_ptr<CGameListQuery>(reinterpret_cast<CGameListQuery*>(lParam)));
        return 0;
    case WM_GAME_ICON:
        OnGameIcon(lParam);
        return 0;
    case WM_PAD_COUNT:
        m_btnGamePad->SetNumber(static_cast<int>(wParam));
        return 0;
    case WM_RUNNING_DOWNLOADS:
        m_btnDownload->SetNumber(static_cast<int>(wParam));
        return 0;
    case WM_MENU_COMMAND:
        OnMenuCommand(wParam);
        return 0;
    case WM_GAME_STATE:
        OnGameState(wParam);
        return 0;
    case WM_DOWNLOAD_STATUS:
        OnDownloadStatus(wParam, lParam);
        return 0;
    case kTrayMessage:
        OnTrayClick(lParam);
        return 0;
    case WM_KEYDOWN:
        handled = OnKeyDown(static_cast<UINT>(wParam));
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE) {
            // Hidden to the tray, or minimised without one; never closed: the tray, the taskbar and
            // a second start bring it back.
            m_pm.GetTrayObject().HideToTray(*this);
            return 0;
        }
        break;
    default:
        break;
    }
    handled = false;
    return 0;
}

void CMainFrameNew::StartPollers()
{
    if (m_downloadPoller.joinable())
        return;
    // The handle is read here, on the UI thread: the window may be destroyed while they still run.
    const HWND window = m_hWnd;
    m_downloadPoller = std::thread([this, window] { DownloadPoller(window); });
    m_padPoller = std::thread([this, window] { PadPoller(window); });
}

void CMainFrameNew::StopPollers()
{
    {
        std::lock_guard lock(m_pollMutex);
        m_stop = true;
    }
    m_pollWake.notify_all();
    if (m_downloadPoller.joinable())
        m_downloadPoller.join();
    if (m_padPoller.joinable())
        m_padPoller.join();
}

void CMainFrameNew::DownloadPoller(HWND window)
{
    std::unique_lock lock(m_pollMutex);
    while (!m_stop) {
        lock.unlock();
        int running = 0;
        {
            std::lock_guard engineLock(g_pollEngineMutex);
            if (g_pollEngine != nullptr && g_pollEngine->Started())
                running = g_pollEngine->RunningCount();
        }
        UiLib::PostMessage(window, WM_RUNNING_DOWNLOADS, static_cast<WPARAM>(running), 0);
        lock.lock();
        m_pollWake.wait_for(lock, std::chrono::milliseconds(kPollMs), [this] { return m_stop; });
    }
}

void CMainFrameNew::PadPoller(HWND window)
{
    std::unique_lock lock(m_pollMutex);
    while (!m_stop) {
        lock.unlock();
        int pads = 0;
        for (uint32_t user = 0; user < XUSER_MAX_COUNT; ++user) {
            XINPUT_STATE state;
            if (XInputGetState(user, &state) == XINPUT_ERROR_SUCCESS)
                ++pads;
        }
        UiLib::PostMessage(window, WM_PAD_COUNT, static_cast<WPARAM>(pads), 0);
        lock.lock();
        m_pollWake.wait_for(lock, std::chrono::milliseconds(kPollMs), [this] { return m_stop; });
    }
}
