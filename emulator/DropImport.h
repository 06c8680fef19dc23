#pragma once

#include "emulator/LocalGameImport.h"
#include "platform/WindowMessages.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CGameStore;
class CLocalLibrary;

// Imports files and folders dropped on the local games view for the platform the view shows. Drops
// are queued and imported one at a time, in the order they came, on one worker thread: a drop made
// during an import waits for it and is never lost.
//
// A dropped file is imported when the library does not hold its path yet and its name ends with one
// of the platform's extensions (letter case ignored). A dropped folder is searched with its
// subfolders for such files, except for PC, whose games are single programs. A platform without
// extensions (0, all platforms) imports nothing. Each new game is added as AddImportedGame does and
// announced to the window set with SetWindow.
//
// The worker starts with the first drop. Stop (and the destructor) ends the import at its next file,
// forgets queued drops and joins the worker.
class CDropImport {
public:
    // The process-wide importer on the process-wide library set and store, made on first use.
    static CDropImport& Instance();
    // Stops the process-wide importer and destroys it; does nothing when there is none.
    static void DestroyInstance();
    // Asks the process-wide importer to stop, without making one and without waiting.
    static void BeginInstanceShutdown();

    // `library` and `store` must outlive the importer.
    CDropImport(CLocalLibrary& library, CGameStore& store, LocalGameResources resources);
    CDropImport(const CDropImport&) = delete;
    CDropImport& operator=(const CDropImport&) = delete;
    ~CDropImport();

    // The window told of new games (the main window sets it once).
    void SetWindow(platform::HWND window);

    // Queues a drop of native paths for a platform type id; returns at once. Ignored after BeginStop.
    void QueueDrop(std::vector<std::string> paths, int platformTypeId);

    // Blocks until every queued drop is imported, at most `timeoutMs`; true when none is left.
    bool WaitIdle(int timeoutMs);

    void BeginStop();
    // BeginStop, then joins the worker.
    void Stop();

private:
    struct Drop {
        std::vector<std::string> paths;
        int platformTypeId = 0;
    };

    void WorkerLoop();
    void Import(const Drop& drop);
    void ImportFile(const std::string& path, const std::string& name, int typeId,
                    std::string_view extensions);

    CLocalLibrary& m_library;
    CGameStore& m_store;
    const LocalGameResources m_resources;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<Drop> m_queue;
    bool m_busy = false;
    platform::HWND m_window = nullptr;
    std::atomic<bool> m_stop{false};
    std::mutex m_threadMutex;
    std::thread m_worker;
};
