#pragma once

#include "platform/WindowMessages.h"
#include "store/GameinfoRecord.h"
#include "store/LocalGameRecord.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

class CGameStore;

// The process-wide set of the user's games: downloaded games (Gameinfo rows by GameId) and local
// games (LocalGame rows by FilePath), read from the game store when the set is made. One lock guards
// both maps and the view filters, so any thread may look records up or add them.
//
// The set hands out copies, never references into its maps: a caller keeps what it got however the
// set changes afterwards.
//
// Fillers: each view has at most one filler thread, which walks its map in key order and posts an
// owned copy of every record passing the view's filter to the receiving window (WM_GAME_INSTALLED
// for downloaded games, WM_LOCAL_GAME_ADDED for local games). The walk looks each next key up under
// the lock, so records added or removed meanwhile neither break it nor are posted twice. Starting a
// filler first stops and joins the previous one of that view; stopping raises its flag and joins
// (the filler notices the flag before every post). The destructor stops and joins both.
class CLocalLibrary {
public:
    // The process-wide set on CGameStore::Instance(), made on first use under a lock (its two
    // synchronous store reads run in the first caller's thread).
    static CLocalLibrary& Instance();
    // Stops both fillers of the process-wide set and destroys it; does nothing when there is none.
    static void DestroyInstance();

    // Reads both tables from `store` synchronously. The store is not kept.
    explicit CLocalLibrary(CGameStore& store);
    // An empty set (no store), for callers that fill it themselves.
    CLocalLibrary();
    CLocalLibrary(const CLocalLibrary&) = delete;
    CLocalLibrary& operator=(const CLocalLibrary&) = delete;
    // Stops and joins both fillers.
    ~CLocalLibrary();

    // Downloaded games. The map is all that changes: callers write the store themselves.
    std::optional<GameinfoRecord> FindGame(const std::string& gameId) const;
    bool AddGame(const GameinfoRecord& record); // false when the id is present
    bool RemoveGame(const std::string& gameId); // false when it is absent
    GameinfoMap Games() const;                  // a copy of the whole map
    size_t GameCount() const;

    // Local games, keyed by FilePath; the map is all that changes.
    std::optional<LocalGameRecord> FindLocalGame(const std::string& filePath) const;
    bool AddLocalGame(const LocalGameRecord& record);  // false when the path is present
    bool RemoveLocalGame(const std::string& filePath); // false when it is absent
    // Sets the GameName of the record under filePath; false when there is none.
    bool RenameLocalGame(const std::string& filePath, const std::string& gameName);
    bool HasLocalGame(const std::string& filePath) const;
    LocalGameMap LocalGames() const;
    size_t LocalGameCount() const;

    // Fillers. Each posts owned heap copies (platform::PostMessage with a std::unique_ptr) to
    // `receiver`: WM_GAME_INSTALLED per Gameinfo record, in GameId order, passing both filters;
    // WM_LOCAL_GAME_ADDED per LocalGame record, in FilePath order, passing the emulator filter. A start
    // stops and joins the previous filler of that view, then stores the filters and starts a new
    // thread; it returns without waiting for the new one.
    void StartDownloadedFiller(platform::HWND receiver, int emulatorFilter, int categoryFilter);
    void StartLocalFiller(platform::HWND receiver, int emulatorFilter);
    // Raises the filler's stop flag and joins it; nothing of it is posted after this returns. Blocks
    // for at most one post. Does nothing when none runs.
    void StopDownloadedFiller();
    void StopLocalFiller();
    // Whether the view's filler thread is still walking (false once it has posted its last record).
    bool DownloadedFillerRunning() const;
    bool LocalFillerRunning() const;

    // The filters last given to a start (0 = none): a CategoryId or EmulatorId text is read as a
    // decimal number (leading digits; no digits read as 0) and must equal a non-zero filter. The
    // window's handlers use these so that a record its view excludes adds no tile.
    bool MatchesDownloadedFilter(const GameinfoRecord& record) const;
    bool MatchesLocalFilter(const LocalGameRecord& record) const;

private:
    struct Filler {
        std::thread thread;
        std::atomic<bool> stop{false};
        std::atomic<bool> running{false};
    };

    static bool Matches(const GameinfoRecord& record, int emulatorFilter, int categoryFilter);
    static bool Matches(const LocalGameRecord& record, int emulatorFilter);
    static void StopFiller(Filler& filler);
    void DownloadedFillerLoop(platform::HWND receiver, int emulatorFilter, int categoryFilter);
    void LocalFillerLoop(platform::HWND receiver, int emulatorFilter);

    mutable std::mutex m_mutex;
    GameinfoMap m_games;
    LocalGameMap m_localGames;
    int m_downloadedEmulatorFilter = 0;
    int m_downloadedCategoryFilter = 0;
    int m_localEmulatorFilter = 0;

    // Starting and stopping a view's filler is serialised by its own lock, so two threads restarting
    // one view never leave a thread unjoined.
    std::mutex m_downloadedControl;
    std::mutex m_localControl;
    Filler m_downloadedFiller;
    Filler m_localFiller;
};
