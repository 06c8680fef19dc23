#include "store/GameStore.h"

#include "foundation/AppPaths.h"
#include "platform/Event.h"
#include "platform/Trace.h"
#include "store/CppSQLite3Exception.h"
#include "store/StoreTables.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <system_error>

struct CGameStore::Completion {
    platform::Event done{platform::Event::Mode::ManualReset, false};
    bool succeeded = false; // written by the worker before `done` is set
};

namespace {

constexpr char kDatabaseFile[] = "database/quokka.db";

std::string Placeholders(size_t count)
{
    std::string text;
    for (size_t i = 0; i < count; ++i)
        text += ",?";
    return text;
}

std::string InsertStatement(const char* table, const std::vector<std::string>& columns)
{
    return std::string("insert into ") + table + " values (NULL" + Placeholders(columns.size()) + ");";
}

// "update <table> set <column> = ?, ... where <key> = ?;" over the columns from `first` on.
std::string UpdateStatement(const char* table, const std::vector<std::string>& columns, size_t first,
                            const char* key)
{
    std::string sql = std::string("update ") + table + " set ";
    for (size_t i = first; i < columns.size(); ++i) {
        if (i != first)
            sql += ", ";
        sql += columns[i] + " = ?";
    }
    return sql + " where " + key + " = ?;";
}

std::vector<std::string_view> Views(const std::vector<std::string>& values)
{
    return std::vector<std::string_view>(values.begin(), values.end());
}

// Reads a whole table into `map`; the first row of a key wins.
template <typename Map, typename FromRow, typename KeyOf>
void ReadTable(CppSQLite3DB& db, const char* sql, Map& map, FromRow fromRow, KeyOf keyOf)
{
    CppSQLite3Query query = db.Query(sql);
    for (; !query.AtEnd(); query.Step()) {
        auto record = fromRow(query);
        std::string key = keyOf(record);
        map.try_emplace(std::move(key), std::move(record));
    }
}

// Deletes owned data as the type that its operation takes. Unknown codes carry no known type and
// are refused before they reach here.
void DeleteData(int operation, void* data)
{
    switch (operation) {
    case kStoreRemoveGameinfo:
    case kStoreRemoveLocalGame:
    case kStoreRemoveDownload:
    case kStoreExecute:
    case kStoreRemoveEmulator:
        delete static_cast<std::string*>(data);
        break;
    case kStoreAddGameinfo:
        delete static_cast<GameinfoRecord*>(data);
        break;
    case kStoreAddLocalGame:
    case kStoreRenameLocalGame:
        delete static_cast<LocalGameRecord*>(data);
        break;
    case kStoreAddDownload:
    case kStoreUpdateDownload:
        delete static_cast<DownloadTaskRecord*>(data);
        break;
    case kStoreAddEmulator:
    case kStoreUpdateEmulator:
        delete static_cast<EmulatorRecord*>(data);
        break;
    default:
        break; // the read operations' maps, and operations without data
    }
}

bool IsKnownOperation(int operation)
{
    return operation >= kStoreAddGameinfo && operation <= kStoreUpdateEmulator;
}

bool NeedsData(int operation)
{
    switch (operation) {
    case 2:
    case kStoreCreateTables:
    case 14:
    case kStoreBeginTransaction:
    case kStoreCommitTransaction:
        return false;
    default:
        return true;
    }
}

std::mutex g_instanceMutex;
std::unique_ptr<CGameStore> g_instance;
std::atomic<CGameStore*> g_instancePointer{nullptr};

} // namespace

CGameStore& CGameStore::Instance()
{
    if (CGameStore* store = g_instancePointer.load(std::memory_order_acquire))
        return *store;
    std::lock_guard lock(g_instanceMutex);
    if (!g_instance) {
        g_instance = std::make_unique<CGameStore>(DefaultDatabasePath());
        g_instancePointer.store(g_instance.get(), std::memory_order_release);
    }
    return *g_instance;
}

bool CGameStore::InstallInstance(std::unique_ptr<CGameStore> store)
{
    std::lock_guard lock(g_instanceMutex);
    if (g_instance || !store)
        return false;
    g_instance = std::move(store);
    g_instancePointer.store(g_instance.get(), std::memory_order_release);
    return true;
}

void CGameStore::DestroyInstance()
{
    std::unique_ptr<CGameStore> store;
    {
        std::lock_guard lock(g_instanceMutex);
        g_instancePointer.store(nullptr, std::memory_order_release);
        store = std::move(g_instance);
    }
    store.reset();
}

std::string CGameStore::DefaultDatabasePath()
{
    return DataFolder() + kDatabaseFile;
}

CGameStore::CGameStore(const std::string& databasePath)
{
    std::filesystem::path parent = std::filesystem::path(databasePath).parent_path();
    if (!parent.empty()) {
        std::error_code ignored; // a folder that cannot be made shows as a failure to open the file
        std::filesystem::create_directories(parent, ignored);
    }
    m_db.OpenUtf8(databasePath);
    CreateMissingTables(m_db);
    m_worker = std::thread([this] { WorkerLoop(); });
}

CGameStore::~CGameStore()
{
    Shutdown();
}

bool CGameStore::StopRequested() const
{
    std::lock_guard lock(m_mutex);
    return m_stop;
}

bool CGameStore::Submit(int operation, void* data, bool ownsData, bool async)
{
    if (!IsKnownOperation(operation)) {
        // The type of the data is unknown, so owned data cannot be freed either; it is left alone.
        platform::TraceF("game store: unknown operation %d refused", operation);
        return false;
    }
    Request request{operation, data, ownsData, nullptr};
    if (!async)
        request.completion = std::make_shared<Completion>();
    std::shared_ptr<Completion> completion = request.completion;
    {
        std::lock_guard lock(m_mutex);
        if (m_stop) {
            platform::TraceF("game store: operation %d refused after shutdown", operation);
            if (ownsData)
                DeleteData(operation, data);
            return false;
        }
        m_queue.push_back(std::move(request));
    }
    m_wake.notify_one();
    if (!completion)
        return true;
    completion->done.Wait();
    return completion->succeeded;
}

void CGameStore::Shutdown()
{
    std::lock_guard shutdownLock(m_shutdownMutex);
    if (m_shutDown)
        return;
    m_shutDown = true;
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    if (m_worker.joinable())
        m_worker.join();
    try {
        m_db.Close();
    } catch (const CppSQLite3Exception& e) {
        platform::TraceF("game store: %s", e.ErrorMessage());
    }
}

void CGameStore::WorkerLoop()
{
    for (;;) {
        Request request;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
            if (m_queue.empty())
                return; // stopping, and everything queued has been carried out
            request = std::move(m_queue.front());
            m_queue.pop_front();
        }
        bool succeeded = Run(request);
        if (request.completion) {
            request.completion->succeeded = succeeded;
            request.completion->done.Set();
        }
        if (request.ownsData)
            DeleteData(request.operation, request.data);
    }
}

bool CGameStore::Run(const Request& request)
{
    if (request.data == nullptr && NeedsData(request.operation)) {
        platform::TraceF("game store: operation %d without data", request.operation);
        return false;
    }
    try {
        RunOperation(request.operation, request.data);
        return true;
    } catch (const CppSQLite3Exception& e) {
        platform::TraceF("game store: operation %d failed: %s", request.operation, e.ErrorMessage());
    } catch (const std::exception& e) {
        platform::TraceF("game store: operation %d failed: %s", request.operation, e.what());
    } catch (...) {
        platform::TraceF("game store: operation %d failed", request.operation);
    }
    return false;
}

void CGameStore::RunOperation(int operation, void* data)
{
    static const std::string insertGameinfo = InsertStatement("Gameinfo", GameinfoColumns());
    static const std::string insertLocalGame = InsertStatement("LocalGame", LocalGameColumns());
    static const std::string insertDownload = InsertStatement("DownloadInfo", DownloadInfoColumns());
    static const std::string insertEmulator = InsertStatement("EmulatorInfo", EmulatorInfoColumns());
    static const std::string updateDownload =
        UpdateStatement("DownloadInfo", DownloadInfoColumns(), 1, "GameId");
    static const std::string updateEmulator =
        UpdateStatement("EmulatorInfo", EmulatorInfoColumns(), 0, "EmulatorId");

    switch (operation) {
    case kStoreAddGameinfo:
        m_db.Execute(insertGameinfo.c_str(), Views(GameinfoValues(*static_cast<GameinfoRecord*>(data))));
        break;
    case kStoreRemoveGameinfo:
        m_db.Execute("delete from Gameinfo where GameId = ?;", {*static_cast<std::string*>(data)});
        break;
    case kStoreReadGameinfo:
        ReadTable(m_db, "select * from Gameinfo;", *static_cast<GameinfoMap*>(data), GameinfoFromRow,
                  [](const GameinfoRecord& r) { return r.GameId; });
        break;
    case kStoreAddLocalGame:
        m_db.Execute(insertLocalGame.c_str(), Views(LocalGameValues(*static_cast<LocalGameRecord*>(data))));
        break;
    case kStoreRemoveLocalGame:
        m_db.Execute("delete from LocalGame where FilePath = ?;", {*static_cast<std::string*>(data)});
        break;
    case kStoreRenameLocalGame: {
        const auto& record = *static_cast<LocalGameRecord*>(data);
        m_db.Execute("update LocalGame set GameName = ? where FilePath = ?;",
                     {record.GameName, record.FilePath});
        break;
    }
    case kStoreReadLocalGames:
        ReadTable(m_db, "select * from LocalGame;", *static_cast<LocalGameMap*>(data), LocalGameFromRow,
                  [](const LocalGameRecord& r) { return r.FilePath; });
        break;
    case kStoreAddDownload:
        m_db.Execute(insertDownload.c_str(),
                     Views(DownloadInfoValues(*static_cast<DownloadTaskRecord*>(data))));
        break;
    case kStoreRemoveDownload:
        m_db.Execute("delete from DownloadInfo where GameId = ?;", {*static_cast<std::string*>(data)});
        break;
    case kStoreUpdateDownload: {
        // The values after GameId, then GameId for the where clause.
        std::vector<std::string> values = DownloadInfoValues(*static_cast<DownloadTaskRecord*>(data));
        std::rotate(values.begin(), values.begin() + 1, values.end());
        m_db.Execute(updateDownload.c_str(), Views(values));
        break;
    }
    case kStoreReadDownloads:
        ReadTable(m_db, "select * from DownloadInfo;", *static_cast<DownloadTaskMap*>(data),
                  DownloadTaskFromRow, [](const DownloadTaskRecord& r) { return r.GameId; });
        break;
    case kStoreExecute:
        m_db.Execute(static_cast<std::string*>(data)->c_str());
        break;
    case kStoreCreateTables:
        CreateMissingTables(m_db);
        break;
    case kStoreBeginTransaction:
        m_db.Execute("BEGIN TRANSACTION;");
        break;
    case kStoreCommitTransaction:
        m_db.Execute("COMMIT TRANSACTION; ");
        break;
    case kStoreReadEmulators:
        ReadTable(m_db, "select * from EmulatorInfo;", *static_cast<EmulatorMap*>(data), EmulatorFromRow,
                  [](const EmulatorRecord& r) { return r.EmulatorId; });
        break;
    case kStoreAddEmulator:
        m_db.Execute(insertEmulator.c_str(), Views(EmulatorInfoValues(*static_cast<EmulatorRecord*>(data))));
        break;
    case kStoreRemoveEmulator:
        m_db.Execute("delete from EmulatorInfo where EmulatorId = ?;", {*static_cast<std::string*>(data)});
        break;
    case kStoreUpdateEmulator: {
        const auto& record = *static_cast<EmulatorRecord*>(data);
        std::vector<std::string> values = EmulatorInfoValues(record);
        values.push_back(record.EmulatorId);
        m_db.Execute(updateEmulator.c_str(), Views(values));
        break;
    }
    default:
        break; // 2 and 14 do nothing
    }
}
