#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/GameListQuery.h"
#include "ui/DialogBuilder.h"
#include "ui/WindowImplBase.h"

class CButtonUIEx;
class CDownLoadFrameNew;
class CGameInfoActionsImpl;
class CKeyMapTipsFrame;
class CLaunchDialogs;
class CLibraryViews;
struct GameinfoRecord;
struct LocalGameRecord;
class CEmulatorPopInstaller;
class CMessageBoxPrompts;
class CEmuFilterUI;
class CGameItemUI;
class CGameList;
class CGameRankfilter;
class CGameTypeFilterUI;
class CLoadingFailUI;
class CLoadingUI;
class CPageLabelUI;

namespace UiLib {
class CEditUI;
class CLabelUI;
class COptionUI;
class CTabLayoutUI;
class CTileLayoutUI;
} // namespace UiLib

// The program's main window and main loop: the catalogue and search views, the user's own games,
// the search box, the title bar buttons, the tray icon. Background work reaches it as posted
// messages; two pollers report the running downloads and the connected pads. Its destructor runs
// the program's shutdown of the services it uses.
class CMainFrameNew : public UiLib::WindowImplBase {
public:
    static constexpr UiLib::UINT kTrayIconId = 107;
    // Tray clicks (wParam the icon id, lParam WM_LBUTTONUP or WM_RBUTTONUP).
    static constexpr UiLib::UINT kTrayMessage = UiLib::WM_USER + 200;

    CMainFrameNew();
    ~CMainFrameNew() override;

    UiLib::LPCTSTR GetWindowClassName() const override { return u"QuokkaMainFrame"; }
    UiLib::CDuiString GetSkinFolder() const override { return {}; }
    UiLib::CDuiString GetSkinFile() const override { return u"skin\\xmls\\MainDialogNew.xml"; }
    int GetResourceType() const override { return 4; }
    int GetResourceID() const override { return 129; }

    void InitWindow() override;
    void Notify(UiLib::TNotifyUI& msg) override;
    UiLib::CControlUI* CreateControl(UiLib::LPCTSTR pstrClass) override;
    UiLib::LRESULT HandleCustomMessage(UiLib::UINT uMsg, UiLib::WPARAM wParam, UiLib::LPARAM lParam,
                                       bool& handled) override;

    // Close handling: with IsTray "1" and not `exit`, the window goes to the tray (hidden where the
    // desktop has a tray, minimised where it has none, so it can never be lost); otherwise it closes.
    void CloseHandling(bool exit);
    // Asks the window, from any thread, to show itself (a second start of the program).
    static void PostShowRequest(UiLib::HWND window);

    // Stops and destroys the process-wide services in the program's shutdown order: image loader,
    // catalogue client, game store. Every service is told to abort its transfers before any is
    // waited for, so the whole wait is one abort, not the sum of the services' time-outs. Blocks
    // until their threads have ended. It touches no window and nothing of the display, so it is also
    // the shutdown when the display is gone; a second call finds nothing left and returns at once.
    // UI thread; the destructor runs it.
    static void ShutdownServices();

    // A termination signal's end, on the UI thread: every modal loop ends as if closed without a
    // choice (the start-up questions, the main window's loop), and from then on start-up asks
    // nothing more and does not enter the main window's loop. It may come before the main window
    // exists, while start-up still asks its questions.
    static void EndForSignal();
    static bool EndRequested();

    // The downloaded and local games' views.
    CLibraryViews& Library() { return *m_library; }
    // The key map tips window, made hidden at initialisation; null before.
    CKeyMapTipsFrame* TipsWindow() const { return m_tips.get(); }
    // The download list window, made hidden at initialisation; null before.
    CDownLoadFrameNew* DownloadWindow() const { return m_downloadWindow.get(); }

    // 启动 on a downloaded game (its tile, or a catalogue tile in state 8) and on a local game: the
    // game launcher's entry points.
    void LaunchDownloadedGame(const GameinfoRecord& game);
    void LaunchLocalGame(const LocalGameRecord& game);
    // Files dropped on the local view, for the platform it shows (0: all platforms).
    void ImportDroppedFiles(const std::vector<std::string>& paths, int platformTypeId);

private:
    // One of the two online views (catalogue, search). The view's filters show what it asked for
    // last (`wanted`); its tiles, label and count show the page of `shown`. An answer to anything
    // but `wanted` is dropped (a newer one follows), and a failure puts the filters back to `shown`.
    struct OnlineView {
        bool search = false;
        UiLib::CTileLayoutUI* tiles = nullptr;
        CPageLabelUI* pager = nullptr;
        CEmuFilterUI* emu = nullptr;
        CGameTypeFilterUI* type = nullptr;
        CGameRankfilter* rank = nullptr;
        UiLib::CLabelUI* label = nullptr;
        UiLib::CLabelUI* numbers = nullptr;
        UiLib::CLabelUI* emptyNotice = nullptr;
        // "加载失败，重试" in place of the tiles while the view has never had a page: the link asks
        // for `failed` again.
        UiLib::CControlUI* retry = nullptr;
        CGameListQuery failed;
        CGameListQuery wanted;
        CGameListQuery shown;
        bool loading = false;
        std::unique_ptr<CGameList> page; // the games the tiles show; tiles go before it does
        std::vector<UiLib::CDuiString> iconPaths;
        int pendingIcons = 0;
    };

    void FindControls();
    // The library set, its folder watcher and the drop importer, with this window as the receiver
    // of what they post.
    void StartLibraryServices();
    // The catalogue and search tiles of `gameId` show 启动 (downloaded) or 安装 again.
    void ShowDownloaded(const std::string& gameId, bool downloaded);
    // Sets the install state of the game's catalogue and search tiles.
    void ShowInstallState(const std::string& gameId, int state);
    void StartPollers();
    void StopPollers();
    void DownloadPoller(UiLib::HWND window);
    void PadPoller(UiLib::HWND window);

    // A click on a tile of `view`: the tile itself opens the game's detail window; its button acts
    // by the tile's install state.
    void OnTileClick(OnlineView& view, const UiLib::TNotifyUI& msg);
    // The start-up steps that may ask the user (update check, library folder); false when the
    // window is to close.
    bool RunStartupQuestions();
    void OnPageArrived(OnlineView& view, int pageNumber, std::unique_ptr<CGameList> page);
    void OnPageFailed(std::unique_ptr<CGameListQuery> request);
    void FillTiles(OnlineView& view);
    void ShowFilters(OnlineView& view, const CGameListQuery& query);
    void HideLoadingWhenIdle();
    void OnGameIcon(UiLib::LPARAM lParam);
    void OnMenuCommand(UiLib::WPARAM wParam);
    void OnTrayClick(UiLib::LPARAM lParam);
    // Keys the window takes before its controls: Esc leaves the search results for the catalogue,
    // Page Up and Page Down turn the shown view's pages as its pager would. False for other keys.
    bool OnKeyDown(UiLib::UINT vk);
    // Puts the keyboard focus on the first tile's 安装 of `view` when nothing has it (the window's
    // start, or the focused tile went with its page).
    void FocusFirstTile(OnlineView& view);
    // WM_GAME_STATE: the tips of the running game shown at the right edge (non-zero), or hidden.
    void OnGameState(UiLib::WPARAM wParam);
    // WM_DOWNLOAD_STATUS: the game's catalogue and search tiles show the engine's status.
    void OnDownloadStatus(UiLib::WPARAM wParam, UiLib::LPARAM lParam);
    // The install state a catalogue tile of the game shows: 8 for a game of the library, else the
    // download engine's status of its task, else 0.
    int InstallStateOf(const std::string& gameId) const;
    // The download engine started with this window and the list window as its receivers.
    void StartDownloadEngine();
    // The windows without an owner that this window made, destroyed after the services.
    void DestroyToolWindows();
    void RequestPage(OnlineView& view, const CGameListQuery& query);
    void Search();
    void ShowSearchResults();
    void SetViewLabel(OnlineView& view);
    void ShowMain();
    OnlineView* ViewOfSender(UiLib::CControlUI* sender);
    void MaybeTakeScreenshot();

    // Named controls.
    UiLib::CTabLayoutUI* m_tabGame = nullptr;
    UiLib::CTabLayoutUI* m_tabMyGame = nullptr;
    UiLib::CEditUI* m_search = nullptr;
    UiLib::COptionUI* m_optMyGame = nullptr;
    UiLib::COptionUI* m_optFindGame = nullptr;
    CButtonUIEx* m_btnDownload = nullptr;
    CButtonUIEx* m_btnGamePad = nullptr;
    CLoadingUI* m_loading = nullptr;
    CLoadingFailUI* m_loadingFail = nullptr;

    OnlineView m_find;
    OnlineView m_searchView;
    UiLib::CDialogBuilder m_tileBuilder;
    std::unique_ptr<CLibraryViews> m_library;

    // What the emulator manager installs and asks through; they outlive it (ShutdownServices ends
    // the manager before the window's members go).
    std::unique_ptr<CEmulatorPopInstaller> m_emulatorInstaller;
    std::unique_ptr<CMessageBoxPrompts> m_prompts;
    // What the game launcher asks through; it outlives the launcher for the same reason.
    std::unique_ptr<CLaunchDialogs> m_launchDialogs;
    std::unique_ptr<CKeyMapTipsFrame> m_tips;
    std::unique_ptr<CDownLoadFrameNew> m_downloadWindow;
    // What the game detail window asks of the services.
    std::unique_ptr<CGameInfoActionsImpl> m_gameInfoActions;

    std::string m_screenshotPath; // QUOKKA_SCREENSHOT: written once the first page shows its icons
    bool m_screenshotTaken = false;

    std::mutex m_pollMutex;
    std::condition_variable m_pollWake;
    bool m_stop = false;
    std::thread m_downloadPoller;
    std::thread m_padPoller;
};
