#include "emulator/DropImport.h"

#include "emulator/PlatformTable.h"
#include "platform/Trace.h"
#include "store/GameStore.h"
#include "store/LocalLibrary.h"

#include <sys/stat.h>

namespace {

constexpr int kPlatformPc = 138;

std::mutex g_instanceMutex;
std::unique_ptr<CDropImport> g_instance;

std::string NameOf(const std::string& path)
{
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    size_t slash = trimmed.find_last_of('/');
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

} // namespace

CDropImport& CDropImport::Instance()
{
    std::lock_guard lock(g_instanceMutex);
    if (!g_instance)
        g_instance = std::make_unique<CDropImport>(CLocalLibrary::Instance(), CGameStore::Instance(),
                                                   LocalGameResources::FromAppPaths());
    return *g_instance;
}

void CDropImport::DestroyInstance()
{
    std::unique_ptr<CDropImport> gone;
    {
        std::lock_guard lock(g_instanceMutex);
        gone = std::move(g_instance);
    }
    // Destroyed outside the lock: the destructor joins the worker.
}

void CDropImport::BeginInstanceShutdown()
{
    std::lock_guard lock(g_instanceMutex);
    if (g_instance)
        g_instance->BeginStop();
}

CDropImport::CDropImport(CLocalLibrary& library, CGameStore& store, LocalGameResources resources)
    : m_library(library), m_store(store), m_resources(std::move(resources))
{
}

CDropImport::~CDropImport()
{
    Stop();
}

void CDropImport::SetWindow(platform::HWND window)
{
    std::lock_guard lock(m_mutex);
    m_window = window;
}

void CDropImport::QueueDrop(std::vector<std::string> paths, int platformTypeId)
{
    std::lock_guard control(m_threadMutex);
    if (m_stop.load())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back({std::move(paths), platformTypeId});
    }
    m_wake.notify_all();
    if (!m_worker.joinable())
        m_worker = std::thread([this] { WorkerLoop(); });
}

bool CDropImport::WaitIdle(int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    return m_idle.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [this] { return m_queue.empty() && !m_busy; });
}

void CDropImport::BeginStop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop.store(true);
    }
    m_wake.notify_all();
}

void CDropImport::Stop()
{
    std::lock_guard control(m_threadMutex);
    BeginStop();
    if (m_worker.joinable())
        m_worker.join();
}

void CDropImport::WorkerLoop()
{
    for (;;) {
        Drop drop;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop.load() || !m_queue.empty(); });
            if (m_stop.load()) {
                m_queue.clear();
                m_busy = false;
                m_idle.notify_all();
                return;
            }
            drop = std::move(m_queue.front());
            m_queue.pop_front();
            m_busy = true;
        }
        Import(drop);
        {
            std::lock_guard lock(m_mutex);
            m_busy = false;
        }
        m_idle.notify_all();
    }
}

void CDropImport::Import(const Drop& drop)
{
    const PlatformInfo* platform = FindPlatform(drop.platformTypeId);
    const std::string_view extensions = platform ? platform->Extensions : "";
    if (extensions.empty()) {
        platform::TraceF("drop import: platform %d has no game files, %zu paths ignored", drop.platformTypeId,
                         drop.paths.size());
        return;
    }
    for (const std::string& path : drop.paths) {
        if (m_stop.load())
            return;
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) {
            platform::TraceF("drop import: %s cannot be read", path.c_str());
            continue;
        }
        if (!S_ISDIR(info.st_mode)) {
            ImportFile(path, NameOf(path), drop.platformTypeId, extensions);
            continue;
        }
        if (drop.platformTypeId == kPlatformPc)
            continue; // a PC game is its program, never a folder's contents
        std::string folder = path;
        while (folder.size() > 1 && folder.back() == '/')
            folder.pop_back();
        CFolderWalker walker({
            nullptr,
            [&](const std::string& file, const std::string& name) {
                ImportFile(file, name, drop.platformTypeId, extensions);
            },
            [this] { return m_stop.load(); },
        });
        walker.Walk(folder);
    }
}

void CDropImport::ImportFile(const std::string& path, const std::string& name, int typeId,
                             std::string_view extensions)
{
    if (!MatchesExtensionList(name, extensions))
        return;
    if (m_library.HasLocalGame(NativeNameToAnsi(path)))
        return;
    std::optional<LocalGameRecord> row = MakeLocalGameRow(path, typeId, m_resources);
    if (!row)
        return;
    platform::HWND window = nullptr;
    {
        std::lock_guard lock(m_mutex);
        window = m_window;
    }
    AddImportedGame(*row, m_library, m_store, window);
}
