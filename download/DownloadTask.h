#pragma once

#include "download/TransferControl.h"
#include "platform/WindowMessages.h"
#include "store/DownloadTaskRecord.h"
#include "store/GameinfoRecord.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>

class DownloadManager;

// The scheduler's states of a task.
enum DownloadTaskState : int {
    kTaskNew = 0,   // needs its descriptor and a source
    kTaskReady = 1, // start requested
    kTaskPauseRequested = 2,
    kTaskDeleteRequested = 3,
    kTaskWaiting = 4,  // waits for a free slot
    kTaskUnderWay = 5, // a worker runs, or the task rests paused or failed
};

// Results a worker or the scheduler leaves for the scheduler, each reported once.
enum DownloadOutcome : int {
    kOutcomeNone = 0,
    kOutcomeReported = 1,
    kOutcomeStarted = 2,
    kOutcomePaused = 3,
    kOutcomeWaiting = 4,
    kOutcomeExtracting = 5,
    kOutcomeExtractionPaused = 6,
    kOutcomeFailed = 9,
    kOutcomeFinished = 10,
};

// What the game views show for a game.
enum DisplayStatus : int {
    kDisplayNotInstalled = 0,
    kDisplayDownloading = 2,
    kDisplayPaused = 3,
    kDisplayWaiting = 4,
    kDisplayExtracting = 5,
    kDisplayExtractionPaused = 6,
    kDisplayInstalled = 8,
};

// The engine's own error codes beside libcurl's and HTTP statuses.
enum DownloadError : int {
    kErrorNoLink = 1000,
    kErrorNoLength = 1001,
    kErrorFileNotCreatable = 1002,
    kErrorExtraction = 1003,
    kErrorNoVolumes = 1004,
    kErrorVerification = 1005,      // the finished file is not the one the server described
    kErrorBodyTooLong = 1006,       // the server sent more bytes than the length it gave
    kErrorDescriptorRefused = 1007, // the game's descriptor names unsafe files or too many entries
    kErrorNotStored = 1008,         // the game store did not take the task's or the game's row
    kErrorDiskFull = 1009,          // the disk has not the room the game needs
    kErrorStopped = 23,             // the library's write error: the stop flag ended the transfer
};

// The download window's text for a task's error code, in the process code page: the engine's own
// codes from 1006 on here, every other code as TransferErrorText gives it.
std::string DownloadErrorText(int code);

// One game's download: the stored record and the running state around it. Owned by the
// DownloadManager. The identity fields (game id, name, icon, emulator) never change after the task
// is made, so the download window may read them from its thread. While a worker runs, the record's
// tables belong to the worker; the scheduler touches them only when no worker exists.
class DownloadTask {
public:
    explicit DownloadTask(DownloadTaskRecord record) : m_record(std::move(record)) {}
    DownloadTask(const DownloadTask&) = delete;
    DownloadTask& operator=(const DownloadTask&) = delete;
    ~DownloadTask();

    const std::string& GameId() const { return m_record.GameId; }
    const std::string& GameName() const { return m_record.GameName; }
    const std::string& Icon() const { return m_record.Icon; }
    const std::string& TotalSize() const { return m_record.TotalSize; }

    // The download window's row of this task; set by the window when it builds the row.
    void SetListItem(void* item) { m_listItem = item; }
    void* ListItem() const { return m_listItem; }

    // Set once the engine has removed the task (deleted or finished); a window that receives the
    // task's WM_DOWNLOAD_ADDED late builds no row for it then.
    bool Removed() const { return m_removed; }

    int DisplayStatus() const { return m_displayStatus; }
    int ErrorCode() const { return m_errorCode; }

private:
    friend class DownloadManager;
    friend class DownloadWorker;
    friend class DownloadTransfer;
    friend class DownloadFinisher;

    bool HasWorker() const { return m_worker.joinable(); }

    DownloadTaskRecord m_record;
    int m_state = kTaskNew; // under the manager's lock
    std::atomic<int> m_outcome{kOutcomeNone};
    std::atomic<int> m_displayStatus{kDisplayNotInstalled};
    std::atomic<int> m_errorCode{0};
    std::atomic<void*> m_listItem{nullptr};
    std::atomic<bool> m_removed{false};
    platform::HWND m_owner = nullptr;
    std::unique_ptr<TransferControl> m_control;
    std::thread m_worker;
    std::atomic<bool> m_workerEnded{true};
    bool m_refused = false; // under the manager's lock: its preparation failed, a start prepares again
    std::unique_ptr<GameinfoRecord> m_finished; // the library record a finished worker leaves
};
