#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "store/GameinfoRecord.h"
#include "store/LocalGameRecord.h"
#include "ui/DialogBuilder.h"
#include "ui/Notify.h"
#include "ui/UiTypes.h"

class CDropTileLayoutUI;
class CEmuFilterUI;
class CGameItemUI;
class CGameTypeFilterUI;
class CLocalLibrary;

namespace UiLib {
class CContainerUI;
class CControlUI;
class CLabelUI;
class CPaintManagerUI;
} // namespace UiLib

// The user's own games in the main window: the downloaded view (Tl_GameView_DownloadGame, its
// platform and genre filters) and the local view (Tl_GameView_LocalGame, a drop target, its
// platform filter), filled from the local library set by its two fillers.
//
// Tiles keep their record's key (GameId, FilePath), never a record: a message that adds a tile
// (WM_GAME_INSTALLED, WM_LOCAL_GAME_ADDED) is checked against the set, the view's filter and the
// tiles already shown, so a stale or repeated message adds nothing. Changing a filter stops the
// view's filler before the view is emptied and starts a new one. The tiles' buttons launch,
// delete, show the folder of, and rename (local games) their game. UI thread only.
class CLibraryViews {
public:
    // Posted by the views to their own window: builds the next tiles that wait (see OnMessage).
    static constexpr UiLib::UINT kBuildTilesMessage = UiLib::WM_USER + 210;

    // What the window wires: starting a game (the launcher), telling the catalogue views that a
    // game was downloaded or deleted, and importing dropped files for a platform.
    std::function<void(const GameinfoRecord&)> onLaunchDownloaded;
    std::function<void(const LocalGameRecord&)> onLaunchLocal;
    std::function<void(const std::string& gameId, bool downloaded)> onDownloadedChanged;
    std::function<void(const std::vector<std::string>& paths, int platformTypeId)> onDropFiles;

    // `callback` builds the tiles' own controls (the window's control factory).
    CLibraryViews(UiLib::CPaintManagerUI& pm, UiLib::IDialogBuilderCallback* callback);
    ~CLibraryViews();
    CLibraryViews(const CLibraryViews&) = delete;
    CLibraryViews& operator=(const CLibraryViews&) = delete;

    // Looks the views' controls up (window initialisation).
    void FindControls();
    // Starts both fillers with no filters, posting to `window` (the windowinit notification).
    void Start(UiLib::HWND window);

    // A "click" of a library view's filter, tile or drop; false for anything else.
    bool OnClick(UiLib::TNotifyUI& msg);
    // WM_GAME_INSTALLED, WM_MYGAME_ICON, WM_LOCAL_GAME_ADDED, WM_LOCAL_ICON and
    // kBuildTilesMessage; false for other messages. Frees what the message carries. A game that
    // gets a tile waits in its view's queue; tiles are built a few milliseconds' worth at a time,
    // each batch posted after the last one's repaint, so a library of thousands of games keeps the
    // window painting while its tiles arrive.
    bool OnMessage(UiLib::UINT uMsg, UiLib::WPARAM wParam, UiLib::LPARAM lParam);

    // Whether the library holds the downloaded game `gameId`.
    bool IsDownloaded(const std::string& gameId) const;
    // The downloaded game `gameId` from the library.
    std::optional<GameinfoRecord> FindDownloaded(const std::string& gameId) const;

    // The process-wide set, or null when the game store cannot be opened (traced).
    static CLocalLibrary* Library();

private:
    struct View {
        bool local = false;
        UiLib::CContainerUI* tiles = nullptr;
        UiLib::CLabelUI* label = nullptr;
        UiLib::CLabelUI* numbers = nullptr;
        CEmuFilterUI* emu = nullptr;
        CGameTypeFilterUI* type = nullptr; // downloaded view only
        int emuFilter = 0;
        int typeFilter = 0;
        UiLib::CDialogBuilder builder;
        std::map<std::string, CGameItemUI*> byKey;
        std::map<UiLib::CControlUI*, std::string> keyOf;
        std::deque<std::string> waiting; // keys of games whose tiles are still to be built
        std::set<std::string> waitingKeys;
    };

    void Restart(View& view);
    void ShowCount(View& view);
    void ShowLabel(View& view);
    CGameItemUI* BuildTile(View& view, const std::string& key);
    void RemoveTile(View& view, const std::string& key);
    void Enqueue(View& view, const std::string& key);
    void BuildWaitingTiles();
    void AddDownloaded(const GameinfoRecord& game);
    void AddLocal(const LocalGameRecord& game);
    void SetAnswerIcon(View& view, const std::string& key, const std::string& image);
    void OnTileClick(View& view, UiLib::TNotifyUI& msg);
    void DeleteDownloaded(const std::string& gameId);
    void DeleteLocal(const std::string& filePath);
    void OpenFolder(View& view, const std::string& key);
    void Rename(const std::string& filePath);

    UiLib::CPaintManagerUI& m_pm;
    UiLib::IDialogBuilderCallback* m_callback;
    UiLib::HWND m_window = nullptr;
    bool m_buildPosted = false;
    View m_downloaded;
    View m_local;
};
