#pragma once

#include "download/DownloadSourceChooser.h"
#include "download/DownloadTask.h"
#include "download/DownloadWorker.h"
#include "platform/Event.h"
#include "platform/WindowMessages.h"
#include "store/GameinfoRecord.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CGameStore;

// What a new download task is made from: the catalogue fields of the game.
struct DownloadGameFields {
    std::string gameid;
    std::string icon;
    std::string gamename;
    std::string emulatorshortname;
    std::string categoryshortname;
    std::string emulatorid;
    std::string categoryid;
    std::string playurl;
    std::string size; // megabytes as text
};

// Everything the engine reaches outside itself. The process's engine gets the game store, the
// installed source chooser and the library's add function from the program; tests give their own.
struct DownloadEngineOptions {
    CGameStore* store = nullptr;
    // The chooser in force is asked at each preparation; null uses InstalledDownloadSourceChooser.
    std::shared_ptr<IDownloadSourceChooser> chooser;
    // Adds a finished game to the local library set. Called on the scheduler thread with the
    // engine's lock held, before WM_GAME_INSTALLED is posted, so it must not call back into the
    // engine; may be empty.
    std::function<void(const GameinfoRecord&)> addToLibrary;
    // The library root that every task folder must lie inside; empty reads RomDir() at Start.
    std::string romDir;
    // Where share-link code pictures are kept; empty reads ImageCacheDir() at Start.
    std::string pictureFolder;
    // The file (a native path) that remembers the library folders unfinished tasks were filed
    // under, so that a task begun under an earlier library folder is taken back after a restart;
    // empty reads DataFolder() + "database/library-folders.lst" at Start, and none is kept while
    // DataFolder() is empty.
    std::string libraryFoldersFile;
    // The bytes free on the file system of a native folder (-1 unknown), for the games' space checks;
    // empty asks the file system.
    std::function<int64_t(const std::string& folder)> freeBytes;
    int sliceMs = 15000;          // the longest one resumed request runs
    int progressIntervalMs = 100; // at most one progress report per task this often
};

// The download engine: one task per game, at most four transfers at once, each on a worker thread
// (DownloadWorker), every change reported to the windows by posted messages:
//   WM_DOWNLOAD_STATUS (display status, new std::string game id) to the main window and the detail
//   window; WM_GAME_INSTALLED (owned GameinfoRecord) to the main window; WM_DOWNLOAD_PROGRESS
//   (owned DownloadProgress), WM_DOWNLOAD_ADDED (the task, owned by the engine),
//   WM_DOWNLOAD_REMOVED (the task's list item), WM_DOWNLOAD_ACTIVE (1 or 0, new std::string game
//   id) and WM_DOWNLOAD_COUNTS to the download window.
//
// Threads: Start starts one scheduler thread, which waits on an event that every operation and
// every worker's end sets; it prepares new tasks (descriptor request and source dialog, without
// holding the task lock) and starts, pauses, deletes and finishes tasks. Shutdown stops the
// scheduler, which stops every worker (transfers end within about 100 ms, extraction at its next
// block) and joins it; nothing waits out a time-out.
//
// Operations are safe from any thread and never block on the network or a dialog: they take the
// task lock only while the scheduler is between two steps.
class DownloadManager {
public:
    static constexpr int kSlotLimit = 4;

    // The process's engine, made on first use with the process's store and chooser.
    static DownloadManager& Instance();
    // Shuts the process's engine down and destroys it; does nothing when there is none.
    static void DestroyInstance();

    explicit DownloadManager(DownloadEngineOptions options);
    DownloadManager(const DownloadManager&) = delete;
    DownloadManager& operator=(const DownloadManager&) = delete;
    // Shutdown.
    ~DownloadManager();

    // Once only: reloads the saved tasks and starts the scheduler. A row is kept when its folder
    // lies strictly inside the library folder or one of the remembered library folders (see
    // libraryFoldersFile); rows of games already installed and rows outside every one of them are
    // dropped. Remembered folders that no kept task lies in are forgotten. Each reloaded task rests
    // paused: the download window gets WM_DOWNLOAD_ADDED and a paused report (kind 3, its measured
    // and total megabytes), the main window WM_DOWNLOAD_STATUS paused. Blocks on the store's reads.
    void Start(platform::HWND mainWindow, platform::HWND downloadWindow);

    // Files new tasks under `romDir` (the library folder the user chose) from now on; before Start,
    // it is the folder Start takes. Tasks already made keep the folders they were recorded with,
    // and deleting one still removes its folder: every library folder this engine has filed tasks
    // under stays accepted until the engine goes. After Start, the new folder and the folders of
    // the tasks in hand are remembered on disk before any task can be filed under the new one, so
    // the next run takes those tasks back. An empty folder changes nothing.
    void SetLibraryFolder(const std::string& romDir);
    // The library folder new tasks are filed under, ending with '/'; empty before Start without one.
    std::string LibraryFolder() const;
    // Whether `folder` lies strictly inside one of the library folders this engine accepts: those
    // it has filed tasks under and the remembered ones its reloaded tasks lie in (the only folders
    // a deletion removes).
    bool FolderInsideLibrary(const std::string& folder) const;

    // Makes a task for a game that has none yet; the scheduler then asks for its descriptor and
    // source. Does nothing before Start, for a game id or emulator short name that is not one plain
    // name segment, or when the lock cannot be had within 500 ms.
    void AddTask(const DownloadGameFields& game, platform::HWND owner);
    template <class Game> void AddTask(const Game& game, platform::HWND owner)
    {
        AddTask(DownloadGameFields{game.gameid, game.icon, game.gamename, game.emulatorshortname,
                                   game.categoryshortname, game.emulatorid, game.categoryid, game.playurl,
                                   game.size},
                owner);
    }

    // Asks for a state (kTaskReady start, kTaskPauseRequested, kTaskDeleteRequested) of a task that is
    // waiting or under way. True when applied.
    bool RequestState(const std::string& gameId, int state);
    // The same for each id; true when the engine is started.
    bool RequestStateMany(const std::vector<std::string>& gameIds, int state);

    // How many of the ids are active: waiting for a slot, or with a worker that is not resting in a
    // paused extraction.
    int CountActive(const std::vector<std::string>& gameIds);
    // How many of the ids have no worker, or a worker whose extraction stands paused.
    int CountPaused(const std::vector<std::string>& gameIds);
    // How many tasks have a worker (the main window asks before exiting).
    int CountRunningWorkers();
    // How many workers hold a slot now.
    int RunningCount() const { return m_running; }

    // The task's display status; false when there is no such task.
    bool GetDisplayStatus(const std::string& gameId, int& status);

    // Sets the function that adds a finished game to the local library set (see
    // DownloadEngineOptions::addToLibrary).
    void SetAddToLibrary(std::function<void(const GameinfoRecord&)> add);

    // The game detail window that also receives WM_DOWNLOAD_STATUS; null for none.
    void SetDetailWindow(platform::HWND window) { m_detailWindow = window; }

    // Stops the scheduler and every worker and joins them; tasks stay stored for the next run.
    // Blocks; does nothing the second time.
    void Shutdown();

    bool Started() const { return m_started; }

private:
    using TaskPtr = std::unique_ptr<DownloadTask>;
    // A deleted task's row and folder, removed after the pass without the lock.
    struct Removal {
        std::string gameId;
        std::string folder;
        void* listItem = nullptr;
    };

    void SchedulerLoop();
    // One walk over the tasks under the lock; returns the id of a new task to prepare, or an empty
    // string, and the deletions to carry out.
    std::string Pass(std::vector<Removal>& removals);
    void Prepare(const std::string& gameId);
    void HandleState(DownloadTask& task, bool& erase, std::vector<Removal>& removals);
    void HandleOutcome(DownloadTask& task, bool& erase);
    void StartWorker(DownloadTask& task);
    // Joins an ended worker and frees its control record. False while the worker still runs.
    bool CollectWorker(DownloadTask& task);
    void MeasureDownloaded(DownloadTask& task);
    void CarryOutRemoval(const Removal& removal);
    void FinishTask(DownloadTask& task);

    void PostStatus(const std::string& gameId, int status);
    void PostActive(const std::string& gameId, bool active);
    void PostCounts();
    void PostProgress(DownloadTask& task, int kind, double done, double total);
    // The library folders (of m_usedRoots) that `folder` lies strictly inside. Needs m_rootsMutex.
    std::vector<std::string> RootsHolding(const std::string& folder) const;
    // Writes `roots` as the remembered library folders. Needs m_rootsMutex.
    void RememberRoots(const std::vector<std::string>& roots);
    void Wake() { m_wake.Set(); }

    DownloadEngineOptions m_options;
    mutable std::mutex m_rootsMutex;      // the four below
    std::string m_romDir;                 // where new tasks go, ending with '/'
    std::vector<std::string> m_usedRoots; // every m_romDir so far and the remembered roots in use, each once
    std::string m_rootsFile;              // where the roots are remembered; empty for nowhere
    bool m_rememberRoots = false;         // set once Start has reloaded the tasks
    DownloadWorkerEnvironment m_workerEnv;
    std::atomic<platform::HWND> m_mainWindow{nullptr};
    std::atomic<platform::HWND> m_downloadWindow{nullptr};
    std::atomic<platform::HWND> m_detailWindow{nullptr};

    std::timed_mutex m_lock; // the task table and every task's state
    std::map<std::string, TaskPtr> m_tasks;
    // Removed tasks stay alive until shutdown: a window may still hold one from WM_DOWNLOAD_ADDED.
    std::vector<TaskPtr> m_retired;

    platform::Event m_wake{platform::Event::Mode::AutoReset, false};
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_running{0};
    std::atomic<bool> m_started{false};
    std::once_flag m_startOnce;
    std::mutex m_shutdownMutex;
    bool m_shutDown = false;
    std::thread m_scheduler;
};
