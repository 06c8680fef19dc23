#pragma once

#include "download/DownloadFinisher.h"
#include "download/DownloadTask.h"
#include "download/DownloadTransfer.h"
#include "download/DownloadWorkerEnvironment.h"

#include <cstdint>
#include <map>
#include <string>

// The thread that moves one task's bytes: it picks a URL, learns the length, downloads into the
// task's one file in resumed slices (volume after volume for volume games) through its
// DownloadTransfer, and hands the whole file to a DownloadFinisher, which checks it, extracts it when
// the game needs it, and stores the finished game. Its result is left in the task's error code and
// outcome (10 finished, 3 stopped, 9 failed), then the running count is decremented and the scheduler
// woken.
//
// Every loop is bounded: slices that bring no byte, range errors, URL-choice rounds and share
// re-resolutions stop after kMaxRetries with the last error. A stop request ends a transfer within
// about 100 ms and a retry wait at once. The lengths learnt are stored with the task before the bytes
// they describe are fetched.
class DownloadWorker {
public:
    static constexpr int kMaxRetries = DownloadTransfer::kMaxRetries;
    // Received bytes are written to the file in blocks of up to this size.
    static constexpr size_t kWriteBufferBytes = DownloadTransfer::kWriteBufferBytes;

    DownloadWorker(DownloadTask& task, const DownloadWorkerEnvironment& env);

    // Runs the worker to its end on the calling thread.
    void Run();

    // The length of the file at the narrow path, 0 when absent.
    static int64_t FileSize(const std::string& ansiPath);

private:
    int RunSingle();
    int RunVolumes();

    // Chooses a direct URL and its length for the single archive. 0 with both set, else the error.
    int ChooseOwnUrl(const std::map<int, std::string>& urls, bool byContentLength, std::string& url,
                     int64_t& length);
    int ChooseShareUrl(std::string& url, int64_t& length);
    bool ResolveShare(const std::string& link, std::string& direct);
    bool ObtainLength(std::string& url, bool byContentLength, int64_t& length);
    // Cuts the target back to `base` when the range there was begun against another length than
    // `length` or is longer than it. 0, or the error that ends the worker.
    int RestartIfChanged(int64_t base, int64_t recorded, int64_t length);
    bool StoreTask();

    DownloadTask& m_task;
    DownloadTaskRecord& m_record;
    TransferControl& m_control;
    const DownloadWorkerEnvironment& m_env;
    std::string m_target; // the download folder and the file name
    bool m_restartedOnce = false;
    DownloadTransfer m_transfer; // writes m_target
    DownloadFinisher m_finisher;
};
