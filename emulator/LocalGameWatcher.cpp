#include "emulator/LocalGameWatcher.h"

#include "emulator/PlatformTable.h"
#include "emulator/WatchedFileChecks.h"
#include "foundation/AppPaths.h"
#include "foundation/StringHelpers.h"
#include "platform/Trace.h"
#include "store/GameStore.h"
#include "store/LocalLibrary.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::mutex g_instanceMutex;
std::unique_ptr<CLocalGameWatcher> g_instance;

// Events of a folder below a platform folder: complete files, links, folders coming and going.
constexpr uint32_t kFolderMask =
    IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_MOVED_FROM | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// LocalGameDir itself: only platform folders appearing, and the folder itself going.
constexpr uint32_t kRootMask =
    IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool IsFolder(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

class CLocalGameWatcher::Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

CLocalGameWatcher& CLocalGameWatcher::Instance()
{
    std::lock_guard lock(g_instanceMutex);
    if (!g_instance)
        g_instance = std::make_unique<CLocalGameWatcher>(CLocalLibrary::Instance(), CGameStore::Instance(),
                                                         LocalGameResources::FromAppPaths());
    return *g_instance;
}

void CLocalGameWatcher::DestroyInstance()
{
    std::unique_ptr<CLocalGameWatcher> gone;
    {
        std::lock_guard lock(g_instanceMutex);
        gone = std::move(g_instance);
    }
    // Destroyed outside the lock: the destructor joins the thread.
}

void CLocalGameWatcher::BeginInstanceShutdown()
{
    std::lock_guard lock(g_instanceMutex);
    if (g_instance)
        g_instance->BeginStop();
}

CLocalGameWatcher::CLocalGameWatcher(CLocalLibrary& library, CGameStore& store, LocalGameResources resources)
    : m_library(library), m_store(store), m_resources(std::move(resources)), m_isRemote(IsRemoteFileSystem),
      m_wake(std::make_unique<Fd>(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))), m_batch(store)
{
    if (m_wake->Get() < 0)
        platform::TraceF("local watcher: no eventfd: %s", std::strerror(errno));
}

CLocalGameWatcher::~CLocalGameWatcher()
{
    Stop();
}

bool CLocalGameWatcher::Start(platform::HWND window, const std::string& localGameDir)
{
    std::lock_guard control(m_threadMutex);
    if (m_thread.joinable())
        return false;
    {
        std::lock_guard lock(m_mutex);
        m_localGameDir = localGameDir;
        m_pendingDir.reset();
        m_runEnded = false;
        m_remoteCheck = m_isRemote;
        m_onAdded = m_addedHook;
    }
    m_added = 0;
    m_stop.store(false);
    m_running.store(true);
    m_thread = std::thread([this, window, localGameDir] { Run(window, localGameDir); });
    return true;
}

void CLocalGameWatcher::BeginStop()
{
    m_stop.store(true);
    uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(m_wake->Get(), &one, sizeof one);
}

void CLocalGameWatcher::Stop()
{
    std::lock_guard control(m_threadMutex);
    BeginStop();
    if (m_thread.joinable())
        m_thread.join();
    m_running.store(false);
}

bool CLocalGameWatcher::Running() const
{
    return m_running.load();
}

void CLocalGameWatcher::SetLocalGameDir(const std::string& localGameDir)
{
    {
        std::lock_guard lock(m_mutex);
        m_localGameDir = localGameDir;
        m_pendingDir = localGameDir;
    }
    uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(m_wake->Get(), &one, sizeof one);
}

uint64_t CLocalGameWatcher::CompletedScans() const
{
    std::lock_guard lock(m_mutex);
    return m_completedScans;
}

bool CLocalGameWatcher::WaitForScans(uint64_t count, int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    return m_scanDone.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [&] { return m_completedScans >= count; });
}

bool CLocalGameWatcher::WaitForScans(uint64_t count)
{
    std::unique_lock lock(m_mutex);
    m_scanDone.wait(lock, [&] { return m_completedScans >= count || m_runEnded; });
    return m_completedScans >= count;
}

std::vector<std::string> CLocalGameWatcher::PolledFolders() const
{
    std::lock_guard lock(m_mutex);
    return m_polledSnapshot;
}

void CLocalGameWatcher::SetPollInterval(int milliseconds)
{
    std::lock_guard lock(m_mutex);
    m_pollIntervalMs = std::max(1, milliseconds);
}

void CLocalGameWatcher::FailWatchAt(int nth, int error)
{
    std::lock_guard lock(m_mutex);
    m_failWatchAt = nth;
    m_failWatchError = error;
}

void CLocalGameWatcher::DisableInotify(bool disabled)
{
    std::lock_guard lock(m_mutex);
    m_inotifyDisabled = disabled;
}

void CLocalGameWatcher::SetDropEvents(bool drop)
{
    m_dropEvents.store(drop);
}

void CLocalGameWatcher::SetRemoteCheck(std::function<bool(const std::string& folder)> isRemote)
{
    std::lock_guard lock(m_mutex);
    m_isRemote = std::move(isRemote);
}

void CLocalGameWatcher::SetAddedHook(std::function<void(uint64_t added)> hook)
{
    std::lock_guard lock(m_mutex);
    m_addedHook = std::move(hook);
}

void CLocalGameWatcher::InjectOverflow()
{
    {
        std::lock_guard lock(m_mutex);
        m_overflowInjected = true;
    }
    uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(m_wake->Get(), &one, sizeof one);
}

// ---- the thread ----

void CLocalGameWatcher::Run(platform::HWND window, std::string localGameDir)
{
    m_window = window;
    Setup(localGameDir);
    while (!m_stop.load()) {
        pollfd fds[2] = {{m_wake->Get(), POLLIN, 0}, {m_inotify ? m_inotify->Get() : -1, POLLIN, 0}};
        int ready = ::poll(fds, 2, PollTimeoutMs());
        if (ready < 0 && errno != EINTR) {
            platform::TraceF("local watcher: poll failed: %s", std::strerror(errno));
            break;
        }
        if (m_stop.load())
            break;
        if (fds[0].revents & POLLIN) {
            uint64_t count = 0;
            [[maybe_unused]] ssize_t got = ::read(m_wake->Get(), &count, sizeof count);
        }
        std::optional<std::string> newDir;
        bool overflow = false;
        {
            std::lock_guard lock(m_mutex);
            newDir.swap(m_pendingDir);
            std::swap(overflow, m_overflowInjected);
        }
        if (newDir) {
            Setup(*newDir);
            continue;
        }
        if (fds[1].revents & POLLIN)
            ReadEvents();
        if (overflow) {
            ReadEvents(); // still dropping: what the queue holds went with the overflow
            m_dropEvents.store(false);
            platform::Trace("local watcher: event queue overflow, rescanning");
            FullScan(m_rootWatched);
        }
        if ((!m_polled.empty() || m_rootMissing) && NowMs() >= m_nextPollMs)
            PollScan();
    }
    m_batch.End(); // a scan or a batch of events cut short by the stop still commits what it added
    TearDownWatches();
    m_window = nullptr;
    {
        std::lock_guard lock(m_mutex);
        m_runEnded = true;
    }
    m_scanDone.notify_all();
}

int CLocalGameWatcher::PollTimeoutMs() const
{
    if (m_polled.empty() && !m_rootMissing)
        return -1;
    return static_cast<int>(std::clamp<int64_t>(m_nextPollMs - NowMs(), 0, INT32_MAX));
}

void CLocalGameWatcher::TearDownWatches()
{
    m_inotify.reset(); // closing the descriptor drops every watch
    m_watches.clear();
    m_polled.clear();
    m_rootWatched = false;
    m_rootMissing = false;
    std::lock_guard lock(m_mutex);
    m_polledSnapshot.clear();
}

void CLocalGameWatcher::Setup(const std::string& localGameDir)
{
    TearDownWatches();
    m_root = localGameDir;
    while (m_root.size() > 1 && m_root.back() == '/')
        m_root.pop_back();
    if (m_root.empty()) {
        platform::Trace("local watcher: no library folder, nothing to watch");
        FinishScan();
        return;
    }

    bool disabled = false;
    int pollInterval = 0;
    {
        std::lock_guard lock(m_mutex);
        disabled = m_inotifyDisabled;
        pollInterval = m_pollIntervalMs;
    }
    m_nextPollMs = NowMs() + pollInterval;
    if (disabled) {
        platform::Trace("local watcher: inotify switched off, scanning every poll interval");
    } else {
        int fd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (fd < 0)
            platform::TraceF("local watcher: no inotify (%s), scanning every poll interval",
                             std::strerror(errno));
        else
            m_inotify = std::make_unique<Fd>(fd);
    }

    if (!IsFolder(m_root)) {
        // Checked again on the timer; once it exists it is set up like a new library folder.
        platform::TraceF("local watcher: %s does not exist yet", m_root.c_str());
        m_rootMissing = true;
        FinishScan();
        return;
    }
    m_rootWatched = m_inotify && AddWatch(m_root, 0);
    FullScan(m_rootWatched);
}

void CLocalGameWatcher::FullScan(bool watch)
{
    for (const std::string& name : SplitString(PlatformDirNames, ",")) {
        if (m_stop.load())
            break;
        const std::optional<int> typeId = ShortNameToTypeId(name);
        if (!typeId || *typeId == kAllPlatformsTypeId)
            continue;
        const std::string folder = m_root + "/" + name;
        if (!watch) {
            if (!IsPolled(folder))
                AddPolled(folder, *typeId, m_inotify ? "its library folder has no watch" : "no inotify");
            ScanTree(folder, *typeId, false);
        } else if (!IsPolled(folder)) {
            ScanTree(folder, *typeId, true);
        }
    }
    m_batch.End();
    FinishScan();
}

void CLocalGameWatcher::PollScan()
{
    int pollInterval = 0;
    {
        std::lock_guard lock(m_mutex);
        pollInterval = m_pollIntervalMs;
    }
    m_nextPollMs = NowMs() + pollInterval;
    if (m_rootMissing) {
        if (IsFolder(m_root)) {
            platform::TraceF("local watcher: %s appeared", m_root.c_str());
            Setup(m_root);
        }
        return;
    }
    const std::vector<PolledFolder> polled = m_polled;
    for (const PolledFolder& folder : polled) {
        if (m_stop.load())
            break;
        ScanTree(folder.path, folder.typeId, false);
    }
    m_batch.End();
    FinishScan();
}

void CLocalGameWatcher::FinishScan()
{
    {
        std::lock_guard lock(m_mutex);
        ++m_completedScans;
    }
    m_scanDone.notify_all();
}

void CLocalGameWatcher::ScanTree(const std::string& folder, int typeId, bool watch)
{
    m_utf8CodePage = ProcessCodePageIsUtf8(); // looked up once per tree, not per file
    CFolderWalker walker({
        [&](const std::string& path) {
            // A folder whose watch fails is polled from now on; its files are still read in this pass.
            if (watch && !IsPolled(path))
                AddWatch(path, typeId);
            return true;
        },
        [&](const std::string& path, const std::string& name) { ConsiderFile(path, name, typeId); },
        [&] {
            m_batch.CommitIfDue();
            return m_stop.load();
        },
    });
    walker.Walk(folder);
}

bool CLocalGameWatcher::AddWatch(const std::string& folder, int typeId)
{
    int injected = 0;
    {
        std::lock_guard lock(m_mutex);
        if (m_failWatchAt > 0 && --m_failWatchAt == 0)
            injected = m_failWatchError;
    }
    if (!injected && m_inotify && m_remoteCheck && m_remoteCheck(folder)) {
        // A watch there would be accepted and then hear nothing of what other machines add.
        const char* reason = "a network or FUSE file system";
        if (typeId == 0) {
            platform::TraceF("local watcher: %s is on %s, scanning the platform folders every poll interval",
                             folder.c_str(), reason);
            return false;
        }
        AddPolled(folder, typeId, reason);
        return false;
    }
    int wd = -1;
    int error = injected;
    if (!m_inotify) {
        error = ENOSYS;
    } else if (!injected) {
        wd = ::inotify_add_watch(m_inotify->Get(), folder.c_str(), typeId == 0 ? kRootMask : kFolderMask);
        if (wd < 0)
            error = errno;
    }
    if (wd >= 0) {
        // A second path to a folder already watched (a link) keeps the first path.
        m_watches.emplace(wd, Watch{folder, typeId});
        return true;
    }
    if (error == ENOENT || error == ENOTDIR)
        return true; // gone before its watch: nothing there to miss
    if (typeId == 0) {
        platform::TraceF(
            "local watcher: cannot watch %s (%s), scanning the platform folders every poll interval",
            folder.c_str(), std::strerror(error));
        return false;
    }
    AddPolled(folder, typeId, std::strerror(error));
    return false;
}

void CLocalGameWatcher::AddPolled(const std::string& folder, int typeId, const char* reason)
{
    platform::TraceF("local watcher: cannot watch %s (%s), scanning it every poll interval", folder.c_str(),
                     reason);
    std::lock_guard lock(m_mutex);
    if (m_polled.empty())
        m_nextPollMs = NowMs() + m_pollIntervalMs;
    m_polled.push_back({folder, typeId});
    m_polledSnapshot.push_back(folder);
}

bool CLocalGameWatcher::IsPolled(const std::string& folder) const
{
    for (const PolledFolder& polled : m_polled)
        if (folder == polled.path ||
            (folder.size() > polled.path.size() && folder.compare(0, polled.path.size(), polled.path) == 0 &&
             folder[polled.path.size()] == '/'))
            return true;
    return false;
}

void CLocalGameWatcher::RemoveWatchesUnder(const std::string& folder)
{
    const std::string prefix = folder + "/";
    for (auto it = m_watches.begin(); it != m_watches.end();) {
        if (it->second.typeId != 0 && (it->second.path == folder || it->second.path.rfind(prefix, 0) == 0)) {
            if (m_inotify)
                ::inotify_rm_watch(m_inotify->Get(), it->first);
            it = m_watches.erase(it);
        } else {
            ++it;
        }
    }
}

int CLocalGameWatcher::PlatformOfFolderName(const std::string& name) const
{
    for (const std::string& entry : SplitString(PlatformDirNames, ","))
        if (entry == name)
            return ShortNameToTypeId(name).value_or(0);
    return 0;
}

void CLocalGameWatcher::ReadEvents()
{
    if (!m_inotify)
        return;
    m_utf8CodePage = ProcessCodePageIsUtf8();
    alignas(inotify_event) char buffer[64 * 1024];
    bool overflow = false;
    for (;;) {
        ssize_t length = ::read(m_inotify->Get(), buffer, sizeof buffer);
        if (length <= 0)
            break;
        for (ssize_t offset = 0; offset < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (m_stop.load())
                return;
            if (event->mask & IN_Q_OVERFLOW) {
                overflow = true;
                continue;
            }
            if (m_dropEvents.load())
                continue;
            auto found = m_watches.find(event->wd);
            if (found == m_watches.end())
                continue;
            const Watch watch = found->second; // the map may change below
            if (event->mask & IN_IGNORED) {
                m_watches.erase(found);
                continue;
            }
            if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
                if (watch.typeId == 0) {
                    platform::TraceF("local watcher: %s went away", m_root.c_str());
                    m_batch.End();
                    TearDownWatches();
                    m_rootMissing = true;
                    m_nextPollMs = NowMs();
                    return;
                }
                RemoveWatchesUnder(watch.path);
                continue;
            }
            if (event->len == 0)
                continue;
            const std::string name = event->name;
            const std::string path = watch.path + "/" + name;
            const bool isFolder = event->mask & IN_ISDIR;
            if (watch.typeId == 0) {
                // LocalGameDir: a platform folder made or moved in is watched and read at once.
                const int typeId = isFolder ? PlatformOfFolderName(name) : 0;
                if (typeId != 0 && (event->mask & (IN_CREATE | IN_MOVED_TO)))
                    ScanTree(path, typeId, true);
                else if (typeId != 0 && (event->mask & IN_MOVED_FROM))
                    RemoveWatchesUnder(path);
                continue;
            }
            if (isFolder) {
                if (event->mask & (IN_CREATE | IN_MOVED_TO))
                    ScanTree(path, watch.typeId, !IsPolled(path));
                else if (event->mask & IN_MOVED_FROM)
                    RemoveWatchesUnder(path);
                continue;
            }
            if (event->mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) {
                ConsiderFile(path, name, watch.typeId);
            } else if (event->mask & IN_CREATE) {
                // A link is complete when it is made; a plain new file waits for its close.
                struct stat info {};
                if (::lstat(path.c_str(), &info) != 0)
                    continue;
                if (S_ISLNK(info.st_mode) && IsFolder(path))
                    ScanTree(path, watch.typeId, !IsPolled(path)); // a link to a folder: read what it holds
                else if (S_ISLNK(info.st_mode) || (S_ISREG(info.st_mode) && info.st_nlink > 1))
                    ConsiderFile(path, name, watch.typeId);
            }
        }
    }
    m_batch.End();
    if (overflow) {
        platform::Trace("local watcher: event queue overflow, rescanning");
        FullScan(m_rootWatched);
    }
}

void CLocalGameWatcher::ConsiderFile(const std::string& path, const std::string& name, int typeId)
{
    const PlatformInfo* platform = FindPlatform(typeId);
    if (!platform || !MatchesExtensionList(name, platform->Extensions))
        return;
    if (m_library.HasLocalGame(m_utf8CodePage ? path : NativeNameToAnsi(path, false)))
        return;
    // A file still being written is taken when it is closed (its folder's watch reports that) or by
    // the next timed scan, so its row never holds a part of its size.
    if (IsOpenForWriting(path))
        return;
    std::optional<LocalGameRecord> row = MakeLocalGameRow(path, typeId, m_resources);
    if (!row)
        return;
    m_batch.Begin();
    if (AddImportedGame(*row, m_library, m_store, m_window)) {
        m_batch.Inserted();
        if (m_onAdded)
            m_onAdded(++m_added);
    }
}
