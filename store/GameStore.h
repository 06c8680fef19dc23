#pragma once

#include "store/CppSQLite3DB.h"
#include "store/DownloadTaskRecord.h"
#include "store/EmulatorRecord.h"
#include "store/GameinfoRecord.h"
#include "store/LocalGameRecord.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// Operation codes of CGameStore::Submit, with the data each one takes. Codes 2 and 14 do nothing.
enum GameStoreOperation : int {
    kStoreAddGameinfo = 0,        // GameinfoRecord
    kStoreRemoveGameinfo = 1,     // std::string GameId
    kStoreReadGameinfo = 3,       // GameinfoMap to fill
    kStoreAddLocalGame = 4,       // LocalGameRecord
    kStoreRemoveLocalGame = 5,    // std::string FilePath
    kStoreRenameLocalGame = 6,    // LocalGameRecord: its GameName is set on the rows with its FilePath
    kStoreReadLocalGames = 7,     // LocalGameMap to fill
    kStoreAddDownload = 8,        // DownloadTaskRecord
    kStoreRemoveDownload = 9,     // std::string GameId
    kStoreUpdateDownload = 10,    // DownloadTaskRecord: every column of the rows with its GameId
    kStoreReadDownloads = 11,     // DownloadTaskMap to fill
    kStoreExecute = 12,           // std::string statement text, run as it is
    kStoreCreateTables = 13,      // no data
    kStoreBeginTransaction = 15,  // no data
    kStoreCommitTransaction = 16, // no data
    kStoreReadEmulators = 17,     // EmulatorMap to fill
    kStoreAddEmulator = 18,       // EmulatorRecord
    kStoreRemoveEmulator = 19,    // std::string EmulatorId
    kStoreUpdateEmulator = 20,    // EmulatorRecord: every column of the rows with its EmulatorId
};

// The game store: the program's one SQLite file with the tables Gameinfo, DownloadInfo, LocalGame
// and EmulatorInfo, and the one worker thread that owns its connection. Every other thread reaches
// the file only through Submit, and requests are carried out one at a time in the order they were
// submitted.
//
// Starting: the constructor opens the file (creating its folder and the missing tables) on the
// calling thread, then starts the worker. Stopping: Shutdown (or the destructor) lets the worker
// carry out every request already queued, joins it and closes the file; Submit refuses requests
// after that point.
//
// A request that fails (an SQLite error, or a null pointer where the operation needs data) is
// traced and counted as failed; its completion is still reported, its owned data still freed, and
// the worker goes on with the next request. Values are bound as SQL parameters, so any text is stored
// byte for byte and cannot change a statement.
class CGameStore {
public:
    // The process-wide store on DataFolder() + "database/quokka.db", made on first use. Throws
    // CppSQLite3Exception when the file cannot be opened (the next call tries again).
    static CGameStore& Instance();
    // Makes `store` the process-wide store: start-up opens it itself (OpenStoreForStartup) before any
    // service asks for it, so a damaged file is dealt with before anything uses it. False, and
    // `store` is shut down, when a process-wide store is already made.
    static bool InstallInstance(std::unique_ptr<CGameStore> store);
    // Shuts the process-wide store down and destroys it; does nothing when there is none. Blocks
    // until its queue is empty.
    static void DestroyInstance();

    // DataFolder() + "database/quokka.db".
    static std::string DefaultDatabasePath();

    // Opens the store on a native file path; the folders of the path are created when missing.
    // Throws CppSQLite3Exception when the file cannot be opened or its tables made.
    explicit CGameStore(const std::string& databasePath);
    CGameStore(const CGameStore&) = delete;
    CGameStore& operator=(const CGameStore&) = delete;
    // Shutdown.
    ~CGameStore();

    // Queues a request. `data` points to the operation's data (see GameStoreOperation), which the
    // caller keeps alive until the request is done unless it hands it over with ownsData; the store
    // then deletes it as the type that the code takes, after the operation (the maps of the read
    // operations are never deleted). A synchronous request (async false) blocks without time-out
    // until the worker has carried it out.
    //
    // Returns, for a synchronous request, whether the operation succeeded; for an asynchronous
    // one, whether it was queued. After Shutdown has begun the request is refused: false, and owned
    // data is deleted at once. An unknown code is refused too, and its data, of no known type, is
    // left alone.
    bool Submit(int operation, void* data, bool ownsData, bool async);

    // Stops taking requests, waits until the worker has carried out every queued one and has
    // ended, and closes the file. Blocks; does nothing the second time.
    void Shutdown();

    // True once Shutdown has begun.
    bool StopRequested() const;

private:
    struct Completion;
    struct Request {
        int operation = 0;
        void* data = nullptr;
        bool ownsData = false;
        std::shared_ptr<Completion> completion; // synchronous requests only
    };

    void WorkerLoop();
    // Runs one operation; exceptions are caught and traced. True on success.
    bool Run(const Request& request);
    void RunOperation(int operation, void* data);

    CppSQLite3DB m_db; // used by the constructing thread until the worker starts, then by the worker only
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Request> m_queue;
    bool m_stop = false;
    std::mutex m_shutdownMutex;
    bool m_shutDown = false;
    std::thread m_worker;
};
