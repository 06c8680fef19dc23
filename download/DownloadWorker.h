#pragma once

#include "download/DownloadTask.h"
#include "platform/WindowMessages.h"

#include <openssl/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CGameStore;

// What a worker needs from the engine around it.
struct DownloadWorkerEnvironment {
    CGameStore* store = nullptr;
    platform::HWND downloadWindow = nullptr; // receives progress; owns the code dialog of share links
    std::string pictureFolder;               // where share-link code pictures are kept
    int sliceMs = 15000;                     // the longest one resumed request runs
    int progressIntervalMs = 100;            // at most one progress report per task this often
    std::atomic<int>* runningCount = nullptr;
    std::function<void()> wake; // tells the scheduler that the worker's outcome changed
    // The bytes free on the file system of a native folder (-1 unknown), for the extraction's bound;
    // empty asks the file system.
    std::function<int64_t(const std::string& folder)> freeBytes;
};

// The thread that moves one task's bytes: it picks a URL, learns the length, downloads into the
// task's one file in resumed slices (volume after volume for volume games), checks the result,
// extracts it when the game needs it, and stores the finished game. Its result is left in the
// task's error code and outcome (10 finished, 3 stopped, 9 failed), then the running count is
// decremented and the scheduler woken.
//
// A finished file is checked before it is extracted or stored: an archive against the MD5 the
// server gave, a no-zip file against its described size; a mismatch deletes the file and fails with
// kErrorVerification. The digest is taken as the bytes are written, so a finished download is not
// read back whole: only bytes already on disk when a run began (or past a cut) are read from the
// file, once.
//
// Every loop is bounded: slices that bring no byte, range errors, URL-choice rounds and share
// re-resolutions stop after kMaxRetries with the last error. A stop request ends a transfer within
// about 100 ms and a retry wait at once. Files are written through fsync before any progress
// derived from them is stored; a finished game's Gameinfo row is stored before its DownloadInfo row
// is removed and before its archive is deleted. A game whose Gameinfo row the store does not take
// fails with kErrorNotStored, its download row and files left for a later start. A write or an
// extraction that finds the disk full fails with kErrorDiskFull.
class DownloadWorker {
public:
    static constexpr int kMaxRetries = 20;
    // Received bytes are written to the file in blocks of up to this size.
    static constexpr size_t kWriteBufferBytes = 256 * 1024;

    DownloadWorker(DownloadTask& task, const DownloadWorkerEnvironment& env);

    // Runs the worker to its end on the calling thread.
    void Run();

    // The length of the file at the narrow path, 0 when absent.
    static int64_t FileSize(const std::string& ansiPath);

private:
    int RunSingle();
    int RunVolumes();
    int Finish(bool extract);

    // Chooses a direct URL and its length for the single archive. 0 with both set, else the error.
    int ChooseOwnUrl(const std::map<int, std::string>& urls, bool byContentLength, std::string& url,
                     int64_t& length);
    int ChooseShareUrl(std::string& url, int64_t& length);
    bool ResolveShare(const std::string& link, std::string& direct);
    bool ObtainLength(std::string& url, bool byContentLength, int64_t& length);
    // Cuts the target back to `base` when the range there was begun against another length than
    // `length` or is longer than it. 0, or the error that ends the worker.
    int RestartIfChanged(int64_t base, int64_t recorded, int64_t length);

    // Downloads the bytes [base, base + length) of the target file from `url`. 0 when the file
    // holds exactly base + length bytes; else the error, with `needLength` set when the server's
    // answer says that the length must be asked again (a range error, 416, a file grown past it).
    // An answer that goes on past base + length ends its slice there: the bytes up to the end are
    // kept, none past it is written, and the range fails with kErrorBodyTooLong; with `needLength`
    // set when the answer's Content-Length announced the longer body (the file changed).
    int TransferRange(const std::string& url, int64_t base, int64_t length, bool& needLength);
    // One resumed request appending to the file from its size, writing nothing at or past
    // base + length. Sets the curl result, the status and the bytes written.
    int PerformSlice(const std::string& url, int64_t base, int64_t length, int64_t offset, long& status,
                     int64_t& written, CURLcode& result);

    // The running digest of the target. It covers the file's first m_hashed bytes; CatchUpDigest
    // reads the file from there up to `size` (starting over when the file is now shorter). False
    // when the file cannot be read or a stop was requested meanwhile.
    bool CatchUpDigest(int fd, int64_t size);
    void ResetDigest();
    // The MD5 of the whole target as 32 lower-case hexadecimal digits, read from the file only
    // where the running digest has not taken its bytes yet. False as CatchUpDigest.
    bool TargetMd5(std::string& digest);
    // Cuts the target file to `size` bytes (creating nothing when it is absent).
    bool Truncate(int64_t size);
    bool StoreTask();
    void ReportProgress(double done, double total, int kind, bool force);

    // Writes the gathered blocks of the slice to the file. False (and m_writeFailed) on an error.
    bool FlushPending();
    // Records a failed write, from errno: m_writeFailed, and m_noSpace for a full disk.
    void NoteWriteFailure();
    static size_t WriteBlock(char* data, size_t size, size_t count, void* self);
    static int Progress(void* self, curl_off_t total, curl_off_t done, curl_off_t, curl_off_t);
    static void ExtractionProgress(int64_t done, int64_t total, void* self);

    DownloadTask& m_task;
    DownloadTaskRecord& m_record;
    TransferControl& m_control;
    const DownloadWorkerEnvironment& m_env;
    std::string m_target; // the download folder and the file name
    bool m_restartedOnce = false;

    struct DigestDeleter {
        void operator()(EVP_MD_CTX* context) const;
    };
    std::unique_ptr<EVP_MD_CTX, DigestDeleter> m_digest; // null when the task has no digest to meet
    int64_t m_hashed = 0; // bytes from the target's start that m_digest has taken

    // State of the slice in flight.
    int m_fd = -1;
    CURL* m_handle = nullptr;
    int64_t m_base = 0;   // where this file or volume starts inside the target
    int64_t m_end = 0;    // where it ends: no byte of the slice is written at or past it
    int64_t m_offset = 0; // bytes of this range already on disk when the slice began
    int64_t m_written = 0;
    int64_t m_position = 0;      // where the slice's next block lands in the target (pending included)
    std::vector<char> m_pending; // received blocks not yet written, at most kWriteBufferBytes
    bool m_checkedStatus = false;
    bool m_discardBody = false;
    bool m_writeFailed = false;
    bool m_noSpace = false;          // the failed write found the disk full
    bool m_overran = false;          // the answer went on past the range's end
    bool m_overranAnnounced = false; // and its Content-Length had said so
    int64_t m_bodyStart = 0;         // where the answer's first byte lands in the target
    std::chrono::steady_clock::time_point m_lastProgress{};
    double m_lastDone = 0, m_lastTotal = 0;
};
