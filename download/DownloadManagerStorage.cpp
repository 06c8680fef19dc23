// DownloadManager's stored side: the tasks taken back from the store at Start, the library folders
// tasks are filed under and remembered in, and the removal of a deleted task's row and folder. The
// public operations and the scheduling are in DownloadManager.cpp.
#include "download/DownloadManager.h"

#include "download/DownloadFiles.h"
#include "download/DownloadTaskPreparation.h"
#include "download/LibraryFolderList.h"
#include "foundation/AppMessages.h"
#include "foundation/AppPaths.h"
#include "foundation/FileSystem.h"
#include "platform/Registry.h"
#include "platform/Trace.h"
#include "store/GameStore.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>

using downloadfiles::Megabytes;
using downloadfiles::Native;
using downloadfiles::WithSeparator;
using namespace libraryfolders;

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
    if (!platform::WriteFileWhole(m_rootsFile, RememberedRootsText(roots)))
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
                row.CurrentSize = Megabytes(downloadfiles::FileSize(archive));
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

void DownloadManager::MeasureDownloaded(DownloadTask& task)
{
    task.m_record.CurrentSize =
        Megabytes(downloadfiles::FileSize(task.m_record.FilePath + task.m_record.FileName));
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
