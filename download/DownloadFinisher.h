#pragma once

#include "download/DownloadTask.h"
#include "download/DownloadWorkerEnvironment.h"

#include <cstdint>
#include <string>

class DownloadTransfer;

// The end of one task's run once its file is whole: the file is checked, extracted when the game
// needs it, and the game stored. Used by the task's worker on the worker's thread only.
//
// A finished file is checked before it is extracted or stored: an archive against the MD5 the
// server gave, a no-zip file against its described size; a mismatch deletes the file and fails with
// kErrorVerification. A finished game's Gameinfo row is stored before its DownloadInfo row is removed
// and before its archive is deleted. A game whose Gameinfo row the store does not take fails with
// kErrorNotStored, its download row and files left for a later start. An extraction that finds the
// disk full fails with kErrorDiskFull.
class DownloadFinisher {
public:
    // The task, environment, target (narrow) and transfer outlive the finisher.
    DownloadFinisher(DownloadTask& task, const DownloadWorkerEnvironment& env, const std::string& target,
                     DownloadTransfer& transfer);

    // Checks, extracts when `extract`, and stores the finished game, which is left in the task.
    // 0, or the error that ends the worker.
    int Finish(bool extract);

private:
    static void ExtractionProgress(int64_t done, int64_t total, void* transfer);

    DownloadTask& m_task;
    DownloadTaskRecord& m_record;
    TransferControl& m_control;
    const DownloadWorkerEnvironment& m_env;
    const std::string& m_target;
    DownloadTransfer& m_transfer;
};
