#include "store/LocalLibrary.h"

#include "foundation/AppMessages.h"
#include "platform/Trace.h"
#include "store/GameStore.h"
#include "store/StoreListFormat.h"

#include <memory>

namespace {

std::mutex g_instanceMutex;
std::unique_ptr<CLocalLibrary> g_instance;
std::atomic<CLocalLibrary*> g_instancePointer{nullptr};

// The next entry after `last` (the first one when `first`), copied under the caller's lock.
template <class Map>
typename Map::const_iterator NextEntry(const Map& map, bool first, const std::string& last)
{
    return first ? map.begin() : map.upper_bound(last);
}

} // namespace

CLocalLibrary& CLocalLibrary::Instance()
{
    if (CLocalLibrary* library = g_instancePointer.load(std::memory_order_acquire))
        return *library;
    std::lock_guard lock(g_instanceMutex);
    if (!g_instance) {
        g_instance = std::make_unique<CLocalLibrary>(CGameStore::Instance());
        g_instancePointer.store(g_instance.get(), std::memory_order_release);
    }
    return *g_instance;
}

void CLocalLibrary::DestroyInstance()
{
    std::unique_ptr<CLocalLibrary> library;
    {
        std::lock_guard lock(g_instanceMutex);
        g_instancePointer.store(nullptr, std::memory_order_release);
        library = std::move(g_instance);
    }
    library.reset();
}

CLocalLibrary::CLocalLibrary() = default;

CLocalLibrary::CLocalLibrary(CGameStore& store)
{
    if (!store.Submit(kStoreReadGameinfo, &m_games, false, false))
        platform::Trace("local library: the downloaded games could not be read");
    if (!store.Submit(kStoreReadLocalGames, &m_localGames, false, false))
        platform::Trace("local library: the local games could not be read");
}

CLocalLibrary::~CLocalLibrary()
{
    StopDownloadedFiller();
    StopLocalFiller();
}

std::optional<GameinfoRecord> CLocalLibrary::FindGame(const std::string& gameId) const
{
    std::lock_guard lock(m_mutex);
    auto it = m_games.find(gameId);
    if (it == m_games.end())
        return std::nullopt;
    return it->second;
}

bool CLocalLibrary::AddGame(const GameinfoRecord& record)
{
    std::lock_guard lock(m_mutex);
    return m_games.emplace(record.GameId, record).second;
}

bool CLocalLibrary::RemoveGame(const std::string& gameId)
{
    std::lock_guard lock(m_mutex);
    return m_games.erase(gameId) > 0;
}

GameinfoMap CLocalLibrary::Games() const
{
    std::lock_guard lock(m_mutex);
    return m_games;
}

size_t CLocalLibrary::GameCount() const
{
    std::lock_guard lock(m_mutex);
    return m_games.size();
}

std::optional<LocalGameRecord> CLocalLibrary::FindLocalGame(const std::string& filePath) const
{
    std::lock_guard lock(m_mutex);
    auto it = m_localGames.find(filePath);
    if (it == m_localGames.end())
        return std::nullopt;
    return it->second;
}

bool CLocalLibrary::AddLocalGame(const LocalGameRecord& record)
{
    std::lock_guard lock(m_mutex);
    return m_localGames.emplace(record.FilePath, record).second;
}

bool CLocalLibrary::RemoveLocalGame(const std::string& filePath)
{
    std::lock_guard lock(m_mutex);
    return m_localGames.erase(filePath) > 0;
}

bool CLocalLibrary::RenameLocalGame(const std::string& filePath, const std::string& gameName)
{
    std::lock_guard lock(m_mutex);
    auto it = m_localGames.find(filePath);
    if (it == m_localGames.end())
        return false;
    it->second.GameName = gameName;
    return true;
}

bool CLocalLibrary::HasLocalGame(const std::string& filePath) const
{
    std::lock_guard lock(m_mutex);
    return m_localGames.count(filePath) > 0;
}

LocalGameMap CLocalLibrary::LocalGames() const
{
    std::lock_guard lock(m_mutex);
    return m_localGames;
}

size_t CLocalLibrary::LocalGameCount() const
{
    std::lock_guard lock(m_mutex);
    return m_localGames.size();
}

bool CLocalLibrary::Matches(const GameinfoRecord& record, int emulatorFilter, int categoryFilter)
{
    if (categoryFilter != 0 && LeadingInt(record.CategoryId) != categoryFilter)
        return false;
    if (emulatorFilter != 0 && LeadingInt(record.EmulatorId) != emulatorFilter)
        return false;
    return true;
}

bool CLocalLibrary::Matches(const LocalGameRecord& record, int emulatorFilter)
{
    return emulatorFilter == 0 || LeadingInt(record.EmulatorId) == emulatorFilter;
}

bool CLocalLibrary::MatchesDownloadedFilter(const GameinfoRecord& record) const
{
    std::lock_guard lock(m_mutex);
    return Matches(record, m_downloadedEmulatorFilter, m_downloadedCategoryFilter);
}

bool CLocalLibrary::MatchesLocalFilter(const LocalGameRecord& record) const
{
    std::lock_guard lock(m_mutex);
    return Matches(record, m_localEmulatorFilter);
}

void CLocalLibrary::StopFiller(Filler& filler)
{
    filler.stop.store(true);
    if (filler.thread.joinable())
        filler.thread.join();
    filler.running.store(false);
}

void CLocalLibrary::StartDownloadedFiller(platform::HWND receiver, int emulatorFilter, int categoryFilter)
{
    std::lock_guard control(m_downloadedControl);
    StopFiller(m_downloadedFiller);
    {
        std::lock_guard lock(m_mutex);
        m_downloadedEmulatorFilter = emulatorFilter;
        m_downloadedCategoryFilter = categoryFilter;
    }
    m_downloadedFiller.stop.store(false);
    m_downloadedFiller.running.store(true);
    m_downloadedFiller.thread = std::thread([this, receiver, emulatorFilter, categoryFilter] {
        DownloadedFillerLoop(receiver, emulatorFilter, categoryFilter);
    });
}

void CLocalLibrary::StartLocalFiller(platform::HWND receiver, int emulatorFilter)
{
    std::lock_guard control(m_localControl);
    StopFiller(m_localFiller);
    {
        std::lock_guard lock(m_mutex);
        m_localEmulatorFilter = emulatorFilter;
    }
    m_localFiller.stop.store(false);
    m_localFiller.running.store(true);
    m_localFiller.thread =
        std::thread([this, receiver, emulatorFilter] { LocalFillerLoop(receiver, emulatorFilter); });
}

void CLocalLibrary::StopDownloadedFiller()
{
    std::lock_guard control(m_downloadedControl);
    StopFiller(m_downloadedFiller);
}

void CLocalLibrary::StopLocalFiller()
{
    std::lock_guard control(m_localControl);
    StopFiller(m_localFiller);
}

bool CLocalLibrary::DownloadedFillerRunning() const
{
    return m_downloadedFiller.running.load();
}

bool CLocalLibrary::LocalFillerRunning() const
{
    return m_localFiller.running.load();
}

void CLocalLibrary::DownloadedFillerLoop(platform::HWND receiver, int emulatorFilter, int categoryFilter)
{
    bool first = true;
    std::string last;
    while (!m_downloadedFiller.stop.load()) {
        std::unique_ptr<GameinfoRecord> record;
        {
            std::lock_guard lock(m_mutex);
            auto it = NextEntry(m_games, first, last);
            for (; it != m_games.end(); ++it)
                if (Matches(it->second, emulatorFilter, categoryFilter))
                    break;
            if (it == m_games.end())
                break;
            first = false;
            last = it->first;
            record = std::make_unique<GameinfoRecord>(it->second);
        }
        platform::PostMessage(receiver, WM_GAME_INSTALLED, 0, std::move(record));
    }
    m_downloadedFiller.running.store(false);
}

void CLocalLibrary::LocalFillerLoop(platform::HWND receiver, int emulatorFilter)
{
    bool first = true;
    std::string last;
    while (!m_localFiller.stop.load()) {
        std::unique_ptr<LocalGameRecord> record;
        {
            std::lock_guard lock(m_mutex);
            auto it = NextEntry(m_localGames, first, last);
            for (; it != m_localGames.end(); ++it)
                if (Matches(it->second, emulatorFilter))
                    break;
            if (it == m_localGames.end())
                break;
            first = false;
            last = it->first;
            record = std::make_unique<LocalGameRecord>(it->second);
        }
        platform::PostMessage(receiver, WM_LOCAL_GAME_ADDED, 0, std::move(record));
    }
    m_localFiller.running.store(false);
}
