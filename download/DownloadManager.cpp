#include "download/DownloadManager.h"

#include "download/DownloadProgress.h"
#include "download/DownloadTaskPreparation.h"
#include "foundation/AppMessages.h"
#include "foundation/AppPaths.h"
#include "foundation/FileSystem.h"
#include "platform/Registry.h"
#include "platform/Trace.h"
#include "store/GameStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <string_view>

namespace {

std::mutex g_instanceMutex;
std::unique_ptr<DownloadManager> g_instance;

// Emulators whose games are extracted after the download.
bool NeedsExtraction(const std::string& emulatorId)
{
    static const std::set<std::string> kExtracted = {"119", "129", "133", "138", "140", "142"};
    return kExtracted.count(emulatorId) != 0;
}

std::string Megabytes(int64_t bytes)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(bytes) / 1048576.0);
    return text;
}

std::string WithSeparator(std::string folder)
{
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    return CollapseSeparators(folder);
}

std::string Native(const std::string& ansiPath)
{
    try {
        return NativePath(ansiPath);
    } catch (...) {
        return {};
    }
}

// The remembered library folders: a short text file of the program's own beside the database.
constexpr char kRootsFileName[] = "library-folders.lst";
constexpr char kRootsFileHeader[] = "# Library folders that unfinished downloads lie in, one a line.\n";
constexpr size_t kMaxRootsFileBytes = 64 * 1024;
constexpr size_t kMaxRememberedRoots = 64;
constexpr size_t kMaxRootLength = 4096;

// Whether `folder` (ending with '/') lies strictly inside `root` (ending with '/').
bool InsideRoot(const std::string& root, const std::string& folder)
{
    if (folder.size() <= root.size() || folder.compare(0, root.size(), root) != 0)
        return false;
    std::string joined;
    return JoinInsideFolder(root, folder.substr(root.size()), joined) && joined.size() > root.size();
}

class ScopedFd {
public:
    explicit ScopedFd(int fd) : m_fd(fd) {}
    ScopedFd(const ScopedFd&) = delete;
    ScopedFd& operator=(const ScopedFd&) = delete;
    ~ScopedFd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int Get() const { return m_fd; }

private:
    int m_fd;
};

// The bytes of the regular file at the native path `path` when it holds at most `limit` of them;
// nothing for a missing, larger or special file (a fifo is refused without being waited on).
std::optional<std::string> ReadSmallFile(const std::string& path, size_t limit)
{
    ScopedFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.Get() < 0)
        return std::nullopt;
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<uint64_t>(info.st_size) > limit) {
        platform::TraceF("download: %s is not a small file; ignored\n", path.c_str());
        return std::nullopt;
    }
    std::string bytes;
    char buffer[8192];
    for (;;) {
        ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 || bytes.size() + static_cast<size_t>(got) > limit) {
            platform::TraceF("download: %s cannot be read whole; ignored\n", path.c_str());
            return std::nullopt;
        }
        if (got == 0)
            return bytes;
        bytes.append(buffer, static_cast<size_t>(got));
    }
}

// A library folder as the remembered list may hold it: absolute, below the file-system root, with
// no "." or ".." component and no control character (a line break would split it in two lines).
// Returns it ending with '/', or empty when `text` is no such folder.
std::string CheckedRoot(const std::string& text)
{
    if (text.empty() || text.size() > kMaxRootLength || text.front() != '/')
        return {};
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7f)
            return {};
    std::string root = WithSeparator(text);
    if (root == "/")
        return {};
    std::string_view rest(root);
    rest.remove_prefix(1);
    while (!rest.empty()) {
        size_t end = rest.find('/');
        std::string_view part = rest.substr(0, end);
        if (part == "." || part == "..")
            return {};
        rest.remove_prefix(end + 1);
    }
    if (Native(root).empty())
        return {};
    return root;
}

// The remembered library folders, in the file's order. A missing, oversized or damaged file gives
// none; a line that is not a plain absolute folder is skipped, and so is every one beyond the bound.
std::vector<std::string> ReadRememberedRoots(const std::string& path)
{
    std::vector<std::string> roots;
    if (path.empty())
        return roots;
    std::optional<std::string> text = ReadSmallFile(path, kMaxRootsFileBytes);
    if (!text)
        return roots;
    std::string_view rest(*text);
    while (!rest.empty() && roots.size() < kMaxRememberedRoots) {
        size_t end = rest.find('\n');
        std::string line(rest.substr(0, end));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (line.empty() || line.front() == '#')
            continue;
        std::string root = CheckedRoot(line);
        if (root.empty()) {
            platform::TraceF("download: a line of %s is no library folder; skipped\n", path.c_str());
            continue;
        }
        if (std::find(roots.begin(), roots.end(), root) == roots.end())
            roots.push_back(root);
    }
    return roots;
}

bool SameRoots(std::vector<std::string> a, std::vector<std::string> b)
{
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    return a == b;
}

} // namespace

DownloadManager& DownloadManager::Instance()
{
    std::lock_guard lock(g_instanceMutex);
    if (!g_instance) {
        DownloadEngineOptions options;
        options.store = &CGameStore::Instance();
        g_instance = std::make_unique<DownloadManager>(std::move(options));
    }
    return *g_instance;
}

void DownloadManager::DestroyInstance()
{
    std::unique_ptr<DownloadManager> instance;
    {
        std::lock_guard lock(g_instanceMutex);
        instance = std::move(g_instance);
    }
    if (instance)
        instance->Shutdown();
}

DownloadManager::DownloadManager(DownloadEngineOptions options) : m_options(std::move(options)) {}

DownloadManager::~DownloadManager()
{
    Shutdown();
}

void DownloadManager::SetAddToLibrary(std::function<void(const GameinfoRecord&)> add)
{
    std::lock_guard lock(m_lock);
    m_options.addToLibrary = std::move(add);
}

void DownloadManager::SetLibraryFolder(const std::string& romDir)
{
    if (romDir.empty())
        return;
    std::string root = WithSeparator(romDir);
    // The task lock (taken before the roots' lock) only tells which folders the tasks in hand lie
    // in; without it every folder in use is remembered, more than needed but never too few. The
    // deadline is on the system clock for the thread sanitizer's sake, as in AddTask.
    std::unique_lock tasks(m_lock, std::defer_lock);
    if (m_started)
        (void)tasks.try_lock_until(std::chrono::system_clock::now() + std::chrono::milliseconds(500));
    std::lock_guard lock(m_rootsMutex);
    if (root == m_romDir)
        return;
    if (std::find(m_usedRoots.begin(), m_usedRoots.end(), root) == m_usedRoots.end())
        m_usedRoots.push_back(root);
    if (m_rememberRoots) {
        // On disk before any task can be filed under the new folder: a run that ends without a
        // shutdown still finds the folders of every stored task at its next start.
        std::vector<std::string> keep = {root};
        for (const std::string& used : m_usedRoots) {
            if (used == root)
                continue;
            bool needed = !tasks.owns_lock();
            for (auto it = m_tasks.begin(); !needed && it != m_tasks.end(); ++it)
                needed = InsideRoot(used, WithSeparator(it->second->m_record.FilePath));
            if (needed)
                keep.push_back(used);
        }
        RememberRoots(keep);
    }
    m_romDir = root;
}

std::string DownloadManager::LibraryFolder() const
{
    std::lock_guard lock(m_rootsMutex);
    return m_romDir;
}

bool DownloadManager::FolderInsideLibrary(const std::string& folder) const
{
    std::lock_guard lock(m_rootsMutex);
    return !RootsHolding(folder).empty();
}

std::vector<std::string> DownloadManager::RootsHolding(const std::string& folder) const
{
    std::string collapsed = WithSeparator(folder);
    std::vector<std::string> roots;
    for (const std::string& root : m_usedRoots)
        if (InsideRoot(root, collapsed))
            roots.push_back(root);
    return roots;
}

void DownloadManager::RememberRoots(const std::vector<std::string>& roots)
{
    if (m_rootsFile.empty())
        return;
    std::string text = kRootsFileHeader;
    size_t count = 0;
    for (const std::string& root : roots) {
        // A folder the list could not give back as it is (a line break in its name) is left out.
        if (count == kMaxRememberedRoots || CheckedRoot(root) != root)
            continue;
        text += root + "\n";
        ++count;
    }
    if (!platform::WriteFileWhole(m_rootsFile, text))
        platform::TraceF("download: cannot write %s\n", m_rootsFile.c_str());
}

void DownloadManager::Start(platform::HWND mainWindow, platform::HWND downloadWindow)
{
    std::call_once(m_startOnce, [&] {
        m_mainWindow = mainWindow;
        m_downloadWindow = downloadWindow;
        if (LibraryFolder().empty())
            SetLibraryFolder(m_options.romDir.empty() ? RomDir() : m_options.romDir);
        std::string rootsFile = m_options.libraryFoldersFile;
        if (rootsFile.empty() && !DataFolder().empty())
            rootsFile = DataFolder() + "database/" + kRootsFileName;
        // Folders of earlier runs: a task filed under a library folder the user has since left is
        // still taken back, into the folder it began in.
        const std::vector<std::string> remembered = ReadRememberedRoots(rootsFile);
        {
            std::lock_guard lock(m_rootsMutex);
            m_rootsFile = rootsFile;
            for (const std::string& root : remembered)
                if (std::find(m_usedRoots.begin(), m_usedRoots.end(), root) == m_usedRoots.end())
                    m_usedRoots.push_back(root);
        }
        std::set<std::string> rootsInUse;
        m_workerEnv.store = m_options.store;
        m_workerEnv.downloadWindow = downloadWindow;
        m_workerEnv.pictureFolder =
            m_options.pictureFolder.empty() ? ImageCacheDir() : m_options.pictureFolder;
        if (!m_workerEnv.pictureFolder.empty())
            EnsureDirectoryTree(WithSeparator(m_workerEnv.pictureFolder)); // takes the narrow path
        m_workerEnv.sliceMs = m_options.sliceMs;
        m_workerEnv.progressIntervalMs = m_options.progressIntervalMs;
        m_workerEnv.runningCount = &m_running;
        m_workerEnv.freeBytes = m_options.freeBytes;
        m_workerEnv.wake = [this] { Wake(); };

        std::vector<DownloadTask*> loaded;
        if (m_options.store) {
            DownloadTaskMap rows;
            GameinfoMap installed;
            m_options.store->Submit(kStoreReadDownloads, &rows, false, false);
            m_options.store->Submit(kStoreReadGameinfo, &installed, false, false);
            std::lock_guard lock(m_lock);
            for (auto& [gameId, row] : rows) {
                // The file name in the form it is checked in, as new tasks keep it ('\\' read as '/').
                std::string archive, fileName;
                bool safe = IsPlainNameSegment(row.GameId) && IsPlainNameSegment(row.EmulatorShortName) &&
                            FolderInsideLibrary(row.FilePath) &&
                            NormalizedRelativeFileName(row.FileName, fileName) &&
                            JoinInsideFolder(WithSeparator(row.FilePath), fileName, archive);
                if (installed.count(gameId) != 0) {
                    // Finished before the last stop: the library row is there, the download row and
                    // an extracted archive are leftovers.
                    m_options.store->Submit(kStoreRemoveDownload, new std::string(gameId), true, false);
                    if (safe && row.NeedUnZip == "1")
                        ::unlink(Native(archive).c_str());
                    continue;
                }
                if (!safe) {
                    platform::TraceF("download task %s dropped: its folder is not inside the library\n",
                                     gameId.c_str());
                    m_options.store->Submit(kStoreRemoveDownload, new std::string(gameId), true, false);
                    continue;
                }
                {
                    std::lock_guard roots(m_rootsMutex);
                    for (std::string& root : RootsHolding(row.FilePath))
                        rootsInUse.insert(std::move(root));
                }
                row.FileName = fileName;
                row.CurrentSize = Megabytes(DownloadWorker::FileSize(archive));
                auto task = std::make_unique<DownloadTask>(std::move(row));
                task->m_state = kTaskUnderWay;
                task->m_displayStatus = kDisplayPaused;
                loaded.push_back(task.get());
                m_tasks[gameId] = std::move(task);
            }
        }
        {
            // Only the library folder and the folders of the tasks taken back stay accepted, and
            // only they are remembered.
            std::lock_guard lock(m_rootsMutex);
            std::vector<std::string> kept;
            for (const std::string& root : m_usedRoots)
                if (root == m_romDir || rootsInUse.count(root) != 0)
                    kept.push_back(root);
            m_usedRoots = kept;
            m_rememberRoots = true;
            if (!SameRoots(kept, remembered))
                RememberRoots(kept);
        }
        // A reloaded task rests paused: its row and the game's tiles show so from the start. No
        // scheduler runs yet, so nothing else touches the tasks.
        for (DownloadTask* task : loaded) {
            platform::PostMessage(m_downloadWindow, WM_DOWNLOAD_ADDED, 0,
                                  reinterpret_cast<platform::LPARAM>(task));
            PostProgress(*task, 3, std::atof(task->m_record.CurrentSize.c_str()),
                         std::atof(task->m_record.TotalSize.c_str()));
            PostStatus(task->GameId(), kDisplayPaused);
        }
        m_scheduler = std::thread([this] { SchedulerLoop(); });
        m_started = true;
    });
}

void DownloadManager::AddTask(const DownloadGameFields& game, platform::HWND owner)
{
    if (!m_started || m_stop)
        return;
    const std::string root = LibraryFolder();
    if (!IsPlainNameSegment(game.gameid) || !IsPlainNameSegment(game.emulatorshortname) || root.empty())
        return;
    // A deadline on the system clock: the wait then goes through pthread_mutex_timedlock, which the
    // thread sanitizer sees (a wait on the steady clock uses pthread_mutex_clocklock, which it does
    // not, and it then reports the unlock as one of an unlocked mutex).
    std::unique_lock lock(m_lock, std::chrono::system_clock::now() + std::chrono::milliseconds(500));
    if (!lock.owns_lock() || m_tasks.count(game.gameid) != 0)
        return;
    DownloadTaskRecord record;
    record.GameId = game.gameid;
    record.Icon = game.icon;
    record.GameName = game.gamename;
    record.EmulatorShortName = game.emulatorshortname;
    record.CategoryShortName = game.categoryshortname;
    record.EmulatorId = game.emulatorid;
    record.CategoryId = game.categoryid;
    record.PlayUrl = game.playurl;
    record.FilePath = root + game.emulatorshortname + "/" + game.gameid + "/";
    record.FileName = game.gameid + ".zip";
    record.NeedUnZip = NeedsExtraction(game.emulatorid) ? "1" : "0";
    record.TotalSize = game.size;
    record.CurrentSize = "0.0";
    auto task = std::make_unique<DownloadTask>(std::move(record));
    task->m_owner = owner;
    m_tasks[game.gameid] = std::move(task);
    lock.unlock();
    Wake();
}

bool DownloadManager::RequestState(const std::string& gameId, int state)
{
    if (state != kTaskReady && state != kTaskPauseRequested && state != kTaskDeleteRequested)
        return false;
    bool applied = false;
    {
        std::lock_guard lock(m_lock);
        auto it = m_tasks.find(gameId);
        if (it != m_tasks.end() &&
            (it->second->m_state == kTaskWaiting || it->second->m_state == kTaskUnderWay)) {
            it->second->m_state = state;
            applied = true;
        }
    }
    if (applied)
        Wake();
    return applied;
}

bool DownloadManager::RequestStateMany(const std::vector<std::string>& gameIds, int state)
{
    if (!m_started)
        return false;
    for (const auto& id : gameIds)
        RequestState(id, state);
    return true;
}

int DownloadManager::CountActive(const std::vector<std::string>& gameIds)
{
    std::lock_guard lock(m_lock);
    int count = 0;
    for (const auto& id : gameIds) {
        auto it = m_tasks.find(id);
        if (it == m_tasks.end())
            continue;
        const DownloadTask& task = *it->second;
        if (!task.HasWorker())
            count += task.m_state == kTaskWaiting ? 1 : 0;
        else
            count += task.m_control && task.m_control->ExtractionPaused() ? 0 : 1;
    }
    return count;
}

int DownloadManager::CountPaused(const std::vector<std::string>& gameIds)
{
    std::lock_guard lock(m_lock);
    int count = 0;
    for (const auto& id : gameIds) {
        auto it = m_tasks.find(id);
        if (it == m_tasks.end())
            continue;
        const DownloadTask& task = *it->second;
        if (!task.HasWorker() || (task.m_control && task.m_control->ExtractionPaused()))
            ++count;
    }
    return count;
}

int DownloadManager::CountRunningWorkers()
{
    std::lock_guard lock(m_lock);
    int count = 0;
    for (const auto& [id, task] : m_tasks)
        count += task->HasWorker() ? 1 : 0;
    return count;
}

bool DownloadManager::GetDisplayStatus(const std::string& gameId, int& status)
{
    std::lock_guard lock(m_lock);
    auto it = m_tasks.find(gameId);
    if (it == m_tasks.end())
        return false;
    status = it->second->m_displayStatus;
    return true;
}

void DownloadManager::Shutdown()
{
    std::lock_guard guard(m_shutdownMutex);
    if (m_shutDown)
        return;
    m_shutDown = true;
    m_stop = true;
    Wake();
    if (m_scheduler.joinable())
        m_scheduler.join();
    std::lock_guard lock(m_lock);
    m_tasks.clear();
    m_retired.clear();
}

void DownloadManager::SchedulerLoop()
{
    while (!m_stop) {
        std::vector<Removal> removals;
        std::string prepare = Pass(removals);
        for (const Removal& removal : removals)
            CarryOutRemoval(removal);
        if (!prepare.empty()) {
            Prepare(prepare);
            continue;
        }
        if (!removals.empty())
            continue;
        m_wake.Wait();
    }

    // Stop every worker first, then wait for them, so they end side by side.
    std::lock_guard lock(m_lock);
    for (auto& [id, task] : m_tasks)
        if (task->m_control)
            task->m_control->RequestStop(true);
    for (auto& [id, task] : m_tasks) {
        if (task->m_worker.joinable())
            task->m_worker.join();
        task->m_control.reset();
    }
}

std::string DownloadManager::Pass(std::vector<Removal>& removals)
{
    std::lock_guard lock(m_lock);
    std::string prepare;
    for (auto it = m_tasks.begin(); it != m_tasks.end();) {
        DownloadTask& task = *it->second;
        if (task.m_state == kTaskNew) {
            if (prepare.empty())
                prepare = it->first;
            ++it;
            continue;
        }
        bool erase = false;
        HandleState(task, erase, removals);
        if (!erase)
            HandleOutcome(task, erase);
        if (erase) {
            task.m_removed = true;
            m_retired.push_back(std::move(it->second));
            it = m_tasks.erase(it);
        } else {
            ++it;
        }
    }
    return prepare;
}

void DownloadManager::Prepare(const std::string& gameId)
{
    DownloadTaskRecord record;
    platform::HWND owner = nullptr;
    {
        std::lock_guard lock(m_lock);
        auto it = m_tasks.find(gameId);
        if (it == m_tasks.end() || it->second->m_state != kTaskNew)
            return;
        record = it->second->m_record;
        owner = it->second->m_owner;
    }
    // The descriptor request and the source dialog run without the lock: the dialog waits on the UI
    // thread, which may itself be waiting for the lock in an operation.
    std::shared_ptr<IDownloadSourceChooser> chooser =
        m_options.chooser ? m_options.chooser : InstalledDownloadSourceChooser();
    const PrepareOutcome prepared =
        m_options.store && chooser
            ? PrepareDownloadTask(record, owner, *chooser, *m_options.store, &m_stop, m_options.freeBytes)
            : PrepareOutcome::Dropped;
    std::lock_guard lock(m_lock);
    auto it = m_tasks.find(gameId);
    if (it == m_tasks.end())
        return;
    DownloadTask& task = *it->second;
    if (prepared == PrepareOutcome::Dropped) {
        if (task.m_refused) {
            // Shown since an earlier refusal: its row and the game's tiles hear that it is gone.
            platform::PostMessage(m_downloadWindow, WM_DOWNLOAD_REMOVED, 0,
                                  reinterpret_cast<platform::LPARAM>(task.ListItem()));
            PostStatus(gameId, kDisplayNotInstalled);
            PostCounts();
        }
        task.m_displayStatus = kDisplayNotInstalled;
        task.m_removed = true;
        m_retired.push_back(std::move(it->second));
        m_tasks.erase(it);
        return;
    }
    platform::PostMessage(m_downloadWindow, WM_DOWNLOAD_ADDED, 0, reinterpret_cast<platform::LPARAM>(&task));
    if (prepared != PrepareOutcome::Ready) {
        // The task stays, failed with the reason, so that the download list and the game's tiles
        // show it; a start asks for the descriptor again, a deletion drops it. Nothing was stored.
        task.m_refused = true;
        task.m_state = kTaskUnderWay;
        task.m_errorCode = prepared == PrepareOutcome::NoSpace     ? kErrorDiskFull
                           : prepared == PrepareOutcome::NotStored ? kErrorNotStored
                                                                   : kErrorDescriptorRefused;
        task.m_outcome = kOutcomeFailed;
        return;
    }
    task.m_refused = false;
    task.m_record = std::move(record);
    task.m_state = kTaskReady;
}

void DownloadManager::StartWorker(DownloadTask& task)
{
    ++m_running;
    task.m_outcome = kOutcomeStarted;
    task.m_errorCode = 0;
    task.m_control = std::make_unique<TransferControl>();
    task.m_workerEnded = false;
    task.m_worker = std::thread([this, &task] {
        DownloadWorker worker(task, m_workerEnv);
        worker.Run();
    });
}

bool DownloadManager::CollectWorker(DownloadTask& task)
{
    if (!task.HasWorker())
        return true;
    if (!task.m_workerEnded)
        return false;
    task.m_worker.join();
    task.m_control.reset();
    return true;
}

void DownloadManager::MeasureDownloaded(DownloadTask& task)
{
    task.m_record.CurrentSize =
        Megabytes(DownloadWorker::FileSize(task.m_record.FilePath + task.m_record.FileName));
}

void DownloadManager::HandleState(DownloadTask& task, bool& erase, std::vector<Removal>& removals)
{
    switch (task.m_state) {
    case kTaskReady:
        if (task.m_refused && !task.HasWorker()) {
            task.m_state = kTaskNew; // prepared again by a later pass
            Wake();
            return;
        }
        if (task.HasWorker() && task.m_workerEnded) {
            // A worker that ended on its own before its outcome was seen: take it in first.
            int outcome = task.m_outcome;
            if (outcome == kOutcomeFinished) {
                task.m_state = kTaskUnderWay;
                return;
            }
            CollectWorker(task);
        }
        if (task.HasWorker()) {
            if (task.m_control->busy) {
                task.m_control->zip.m_pause = 0;
                task.m_outcome = kOutcomeExtracting;
            }
            task.m_state = kTaskUnderWay;
        } else if (m_running >= kSlotLimit) {
            task.m_outcome = kOutcomeWaiting;
            task.m_state = kTaskWaiting;
        } else {
            StartWorker(task);
            task.m_state = kTaskUnderWay;
        }
        return;
    case kTaskPauseRequested:
        if (task.HasWorker() && task.m_control->busy && !task.m_workerEnded) {
            task.m_control->zip.m_pause = 1;
            task.m_outcome = kOutcomeExtractionPaused;
            task.m_state = kTaskUnderWay;
            return;
        }
        if (task.HasWorker()) {
            task.m_control->RequestStop(false);
            if (!CollectWorker(task))
                return; // the worker's end wakes the scheduler again
            if (task.m_outcome == kOutcomeFinished) {
                task.m_state = kTaskUnderWay;
                return;
            }
        }
        MeasureDownloaded(task);
        task.m_outcome = kOutcomePaused;
        task.m_state = kTaskUnderWay;
        return;
    case kTaskDeleteRequested:
        if (task.HasWorker()) {
            task.m_control->RequestStop(true);
            if (!CollectWorker(task))
                return;
            if (task.m_outcome == kOutcomeFinished) {
                task.m_state = kTaskUnderWay;
                return;
            }
        }
        removals.push_back({task.m_record.GameId, task.m_record.FilePath, task.ListItem()});
        task.m_displayStatus = kDisplayNotInstalled;
        erase = true;
        return;
    case kTaskWaiting:
        if (m_running < kSlotLimit) {
            StartWorker(task);
            task.m_state = kTaskUnderWay;
        }
        return;
    default:
        return;
    }
}

void DownloadManager::HandleOutcome(DownloadTask& task, bool& erase)
{
    int outcome = task.m_outcome;
    const std::string& id = task.m_record.GameId;
    switch (outcome) {
    case kOutcomeStarted:
        PostStatus(id, kDisplayDownloading);
        PostActive(id, true);
        PostCounts();
        task.m_displayStatus = kDisplayDownloading;
        break;
    case kOutcomePaused:
        if (!CollectWorker(task))
            return;
        PostProgress(task, 3, std::atof(task.m_record.CurrentSize.c_str()),
                     std::atof(task.m_record.TotalSize.c_str()));
        PostStatus(id, kDisplayPaused);
        PostActive(id, false);
        PostCounts();
        task.m_displayStatus = kDisplayPaused;
        break;
    case kOutcomeWaiting:
        PostProgress(task, 4, std::atof(task.m_record.CurrentSize.c_str()),
                     std::atof(task.m_record.TotalSize.c_str()));
        PostStatus(id, kDisplayWaiting);
        PostActive(id, true);
        task.m_displayStatus = kDisplayWaiting;
        break;
    case kOutcomeExtracting:
        PostStatus(id, kDisplayExtracting);
        PostActive(id, true);
        PostCounts();
        task.m_displayStatus = kDisplayExtracting;
        break;
    case kOutcomeExtractionPaused: {
        double done = task.m_control ? static_cast<double>(task.m_control->zip.m_bytesDone) : 0.0;
        double total = task.m_control ? static_cast<double>(task.m_control->zip.m_bytesTotal) : 0.0;
        PostProgress(task, 6, done, total);
        PostStatus(id, kDisplayExtractionPaused);
        PostActive(id, false);
        PostCounts();
        task.m_displayStatus = kDisplayExtractionPaused;
        break;
    }
    case kOutcomeFailed:
        if (!CollectWorker(task))
            return;
        MeasureDownloaded(task);
        PostProgress(task, 9, std::atof(task.m_record.CurrentSize.c_str()),
                     std::atof(task.m_record.TotalSize.c_str()));
        PostStatus(id, kDisplayPaused);
        PostActive(id, false);
        PostCounts();
        task.m_displayStatus = kDisplayPaused;
        break;
    case kOutcomeFinished:
        if (!CollectWorker(task))
            return;
        FinishTask(task);
        erase = true;
        return;
    default:
        return;
    }
    // A worker's newer outcome, written meanwhile, is kept for the next pass.
    task.m_outcome.compare_exchange_strong(outcome, kOutcomeReported);
}

void DownloadManager::FinishTask(DownloadTask& task)
{
    const std::string& id = task.m_record.GameId;
    std::unique_ptr<GameinfoRecord> game = std::move(task.m_finished);
    if (game) {
        if (m_options.addToLibrary)
            m_options.addToLibrary(*game);
        platform::PostMessage(m_mainWindow, WM_GAME_INSTALLED, 0, std::make_unique<GameinfoRecord>(*game));
    }
    task.m_displayStatus = kDisplayInstalled;
    PostStatus(id, kDisplayInstalled);
    platform::PostMessage(m_downloadWindow, WM_DOWNLOAD_REMOVED, 0,
                          reinterpret_cast<platform::LPARAM>(task.ListItem()));
    PostCounts();
}

void DownloadManager::CarryOutRemoval(const Removal& removal)
{
    // The row goes first: a crash between the two leaves a folder without a task, never a task
    // whose files are gone.
    if (m_options.store)
        m_options.store->Submit(kStoreRemoveDownload, new std::string(removal.gameId), true, false);
    if (FolderInsideLibrary(removal.folder)) {
        // Named without its trailing separator, a folder that is a symbolic link is the link itself:
        // the link goes and what it points at stays.
        std::string folder = WithSeparator(removal.folder);
        folder.pop_back();
        std::error_code error;
        std::filesystem::remove_all(Native(folder), error);
    } else {
        platform::TraceF("download folder %s is not inside the library; left in place\n",
                         removal.folder.c_str());
    }
    platform::PostMessage(m_downloadWindow, WM_DOWNLOAD_REMOVED, 0,
                          reinterpret_cast<platform::LPARAM>(removal.listItem));
    PostStatus(removal.gameId, kDisplayNotInstalled);
    PostCounts();
}

void DownloadManager::PostStatus(const std::string& gameId, int status)
{
    platform::PostMessage(m_mainWindow, WM_DOWNLOAD_STATUS, static_cast<platform::WPARAM>(status),
                          std::make_unique<std::string>(gameId));
    if (platform::HWND detail = m_detailWindow)
        platform::PostMessage(detail, WM_DOWNLOAD_STATUS, static_cast<platform::WPARAM>(status),
                              std::make_unique<std::string>(gameId));
}

void DownloadManager::PostActive(const std::string& gameId, bool active)
{
    platform::PostMessage(m_downloadWindow, WM_DOWNLOAD_ACTIVE, active ? 1 : 0,
                          std::make_unique<std::string>(gameId));
}

void DownloadManager::PostCounts()
{
    platform::PostMessage(m_downloadWindow, WM_DOWNLOAD_COUNTS, 0, 0);
}

void DownloadManager::PostProgress(DownloadTask& task, int kind, double done, double total)
{
    auto record = std::make_unique<DownloadProgress>();
    record->done = done;
    record->total = total;
    record->listItem = task.ListItem();
    record->task = &task;
    record->kind = kind;
    record->errorCode = task.m_errorCode;
    platform::PostMessage(m_downloadWindow, WM_DOWNLOAD_PROGRESS, 0, std::move(record));
}
