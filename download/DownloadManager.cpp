#include "download/DownloadManager.h"

#include "download/DownloadProgress.h"
#include "download/DownloadTaskPreparation.h"
#include "foundation/AppMessages.h"
#include "store/GameStore.h"

#include <cstdlib>
#include <set>

namespace {

std::mutex g_instanceMutex;
std::unique_ptr<DownloadManager> g_instance;

// Emulators whose games are extracted after the download.
bool NeedsExtraction(const std::string& emulatorId)
{
    static const std::set<std::string> kExtracted = {"119", "129", "133", "138", "140", "142"};
    return kExtracted.count(emulatorId) != 0;
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
    if (prepared != PrepareOutcome::Ready) {
        // The task stays, failed with the reason, so that the download list and the game's tiles
        // show it; a start asks for the descriptor again, a deletion drops it. Nothing was stored.
        task.m_refused = true;
        task.m_state = kTaskUnderWay;
        task.m_errorCode = prepared == PrepareOutcome::NoSpace     ? kErrorDiskFull
                           : prepared == PrepareOutcome::NotStored ? kErrorNotStored
                                                                   : kErrorDescriptorRefused;
        task.m_outcome = kOutcomeFailed;
    } else {
        task.m_refused = false;
        task.m_record = std::move(record);
        task.m_state = kTaskReady;
    }
    // Posted once the task is filled in: the list reads its record without the lock.
    platform::PostMessage(m_downloadWindow, WM_DOWNLOAD_ADDED, 0, reinterpret_cast<platform::LPARAM>(&task));
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
