#pragma once

#include "emulator/LocalGameImport.h"
#include "emulator/StoreBatch.h"
#include "platform/WindowMessages.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class CGameStore;
class CLocalLibrary;

// Keeps the local library in step with the platform folders under LocalGameDir ("FC/", "SFC/", ...
// in PlatformDirNames order): every game file that appears there gets its row (see MakeLocalGameRow),
// is added to the library set and the store's LocalGame table, and is announced to the window as
// WM_LOCAL_GAME_ADDED. Files that go away keep their rows; the user removes games in the view.
//
// Threads: Start runs one thread that first scans every platform folder and its subfolders (platforms
// in PlatformDirNames order, entries in name order; its inserts framed by short store transactions,
// see CStoreBatch), then waits on inotify. A file counts when it is complete: closed after writing, moved in,
// or made as a link. A folder that appears (mkdir, a tree moved in, a recreated platform folder) is watched
// and scanned at once, so files made in it before its watch existed are found. A queue overflow rescans
// everything. A folder whose watch cannot be added (the watch limit, the descriptor limit, no
// permission), a folder on a network or FUSE file system (where a watch never hears of files another
// machine adds, see IsRemoteFileSystem), or every folder when inotify is missing, is scanned fully
// every poll interval (2 s) instead; the reason is traced. Links to folders are followed, but never round a
// loop; unreadable folders are traced and skipped. An empty LocalGameDir scans and watches nothing.
//
// Stop wakes the thread at once (an eventfd in its poll set) and joins it; a running scan ends at its
// next entry. The destructor stops. All methods may be called from any thread.
class CLocalGameWatcher {
public:
    static constexpr int kDefaultPollIntervalMs = 2000;

    // The process-wide watcher on the process-wide library set and store, with the resources of the
    // process-wide paths, made on first use under a lock.
    static CLocalGameWatcher& Instance();
    // Stops the process-wide watcher and destroys it; does nothing when there is none. Blocks until
    // its thread has ended.
    static void DestroyInstance();
    // Asks the process-wide watcher's thread to end, without making one and without waiting.
    static void BeginInstanceShutdown();

    // `library` and `store` must outlive the watcher.
    CLocalGameWatcher(CLocalLibrary& library, CGameStore& store, LocalGameResources resources);
    CLocalGameWatcher(const CLocalGameWatcher&) = delete;
    CLocalGameWatcher& operator=(const CLocalGameWatcher&) = delete;
    ~CLocalGameWatcher();

    // Starts the thread on `localGameDir` (a native folder path, usually LocalGameDir()), posting
    // to `window`. False, changing nothing, when it already runs. Returns at once.
    bool Start(platform::HWND window, const std::string& localGameDir);
    // Raises the stop flag and wakes the thread; returns at once.
    void BeginStop();
    // BeginStop, then joins the thread. Does nothing when none runs.
    void Stop();
    bool Running() const;

    // Watches another library folder (the settings window calls this after the user chose one): the
    // old watches go, the new folder gets a full initial scan. While stopped it only becomes the
    // folder of the next Start.
    void SetLocalGameDir(const std::string& localGameDir);

    // The number of full passes finished since construction: the initial scan, each rescan after an
    // overflow or a folder change, and each timed scan of folders without a watch. WaitForScans blocks
    // until at least `count` have finished, at most `timeoutMs`; true when they have.
    uint64_t CompletedScans() const;
    bool WaitForScans(uint64_t count, int timeoutMs);
    // Blocks until at least `count` passes have finished; false, at once, when the thread ends first.
    bool WaitForScans(uint64_t count);
    // The folders currently scanned on the timer instead of watched.
    std::vector<std::string> PolledFolders() const;

    // Seams for tests and benchmarks. The interval of the timed scans (before Start).
    void SetPollInterval(int milliseconds);
    // Makes the nth inotify_add_watch from now on (1 = the next) fail with `error`.
    void FailWatchAt(int nth, int error);
    // Behaves as if inotify could not be set up (before Start).
    void DisableInotify(bool disabled);
    // While set, events read from inotify are thrown away, as the kernel does when its queue
    // overflows; InjectOverflow then clears it and delivers the overflow.
    void SetDropEvents(bool drop);
    void InjectOverflow();
    // Replaces the test for folders whose changes inotify cannot report (IsRemoteFileSystem) (before
    // Start).
    void SetRemoteCheck(std::function<bool(const std::string& folder)> isRemote);
    // Called on the watcher's thread after each game it adds, with the number added since Start; the
    // thread waits while it runs, so a test can look at the store in the middle of a pass (before
    // Start).
    void SetAddedHook(std::function<void(uint64_t added)> hook);

private:
    struct Watch {
        std::string path;
        int typeId = 0; // 0 for LocalGameDir itself
    };
    struct PolledFolder {
        std::string path;
        int typeId = 0;
    };
    class Fd;

    void Run(platform::HWND window, std::string localGameDir);
    void Setup(const std::string& localGameDir);
    void TearDownWatches();
    // Scans a platform folder or one of its subfolders. With `watch`, every folder met is watched as
    // it is entered (before it is read, so nothing made meanwhile is missed); a folder whose watch
    // fails is polled from then on, and so are folders below it.
    void ScanTree(const std::string& folder, int typeId, bool watch);
    void FullScan(bool watch);
    void PollScan();
    bool AddWatch(const std::string& folder, int typeId);
    void RemoveWatchesUnder(const std::string& folder);
    bool IsPolled(const std::string& folder) const;
    void AddPolled(const std::string& folder, int typeId, const char* reason);
    void ReadEvents();
    void ConsiderFile(const std::string& path, const std::string& name, int typeId);
    void FinishScan();
    int PlatformOfFolderName(const std::string& name) const;
    int PollTimeoutMs() const;

    CLocalLibrary& m_library;
    CGameStore& m_store;
    const LocalGameResources m_resources;

    mutable std::mutex m_mutex;
    std::condition_variable m_scanDone;
    uint64_t m_completedScans = 0;
    std::optional<std::string> m_pendingDir; // a SetLocalGameDir for the running thread
    std::string m_localGameDir;
    bool m_overflowInjected = false;
    int m_pollIntervalMs = kDefaultPollIntervalMs;
    int m_failWatchAt = 0;
    int m_failWatchError = 0;
    bool m_inotifyDisabled = false;
    std::function<bool(const std::string&)> m_isRemote;
    std::function<void(uint64_t)> m_addedHook;
    std::vector<std::string> m_polledSnapshot;
    bool m_runEnded = false; // the thread left Run since the last Start

    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_dropEvents{false};
    std::unique_ptr<Fd> m_wake; // eventfd
    std::mutex m_threadMutex;   // serialises Start and Stop
    std::thread m_thread;
    std::atomic<bool> m_running{false};

    // Owned by the thread.
    platform::HWND m_window = nullptr;
    std::unique_ptr<Fd> m_inotify;
    std::string m_root; // LocalGameDir without its trailing separator; empty for none
    bool m_rootWatched = false;
    bool m_rootMissing = false;
    std::map<int, Watch> m_watches;
    std::vector<PolledFolder> m_polled;
    int64_t m_nextPollMs = 0;
    CStoreBatch m_batch;
    std::function<bool(const std::string&)> m_remoteCheck; // m_isRemote as the thread started
    std::function<void(uint64_t)> m_onAdded;
    uint64_t m_added = 0;
    bool m_utf8CodePage = true;
};
