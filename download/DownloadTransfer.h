#pragma once

#include "download/DownloadTask.h"
#include "download/DownloadWorkerEnvironment.h"

#include <openssl/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The bytes of one task's target file: ranges of it downloaded in resumed slices, the running digest
// of what was written, and the task's progress reports. Used by the task's worker on the worker's
// thread only.
//
// The digest is taken as the bytes are written, so a finished download is not read back whole: only
// bytes already on disk when a run began (or past a cut) are read from the file, once.
//
// Every loop is bounded: slices that bring no byte stop after kMaxRetries with the last error. A stop
// request ends a transfer within about 100 ms and a retry wait at once. Files are written through
// fsync before any progress derived from them is stored. A write that finds the disk full fails with
// kErrorDiskFull.
class DownloadTransfer {
public:
    static constexpr int kMaxRetries = 20;
    // Received bytes are written to the file in blocks of up to this size.
    static constexpr size_t kWriteBufferBytes = 256 * 1024;

    // `target` (the download folder and the file name, narrow) is read at each call, so it may be
    // set after construction; the task, environment and target outlive the transfer.
    DownloadTransfer(DownloadTask& task, const DownloadWorkerEnvironment& env, const std::string& target);

    // Keeps a running MD5 of the target from now on, for TargetMd5.
    void EnableDigest();

    // Downloads the bytes [base, base + length) of the target file from `url`. 0 when the file
    // holds exactly base + length bytes; else the error, with `needLength` set when the server's
    // answer says that the length must be asked again (a range error, 416, a file grown past it).
    // An answer that goes on past base + length ends its slice there: the bytes up to the end are
    // kept, none past it is written, and the range fails with kErrorBodyTooLong; with `needLength`
    // set when the answer's Content-Length announced the longer body (the file changed).
    int TransferRange(const std::string& url, int64_t base, int64_t length, bool& needLength);

    // Cuts the target file to `size` bytes (creating nothing when it is absent).
    bool Truncate(int64_t size);

    // The MD5 of the whole target as 32 lower-case hexadecimal digits, read from the file only
    // where the running digest has not taken its bytes yet. False when there is no digest, the file
    // cannot be read or a stop was requested meanwhile.
    bool TargetMd5(std::string& digest);

    // Posts a progress report of `kind` to the download window, at most one per progress interval
    // unless `force`; the figures are kept for RepeatProgress either way.
    void ReportProgress(double done, double total, int kind, bool force);
    // Posts the last figures reported again, as `kind`, at once.
    void RepeatProgress(int kind);

private:
    // One resumed request appending to the file from its size, writing nothing at or past
    // base + length. Sets the curl result, the status and the bytes written.
    int PerformSlice(const std::string& url, int64_t base, int64_t length, int64_t offset, long& status,
                     int64_t& written, CURLcode& result);

    // The running digest of the target. It covers the file's first m_hashed bytes; CatchUpDigest
    // reads the file from there up to `size` (starting over when the file is now shorter). False
    // when the file cannot be read or a stop was requested meanwhile.
    bool CatchUpDigest(int fd, int64_t size);
    void ResetDigest();

    // Writes the gathered blocks of the slice to the file. False (and m_writeFailed) on an error.
    bool FlushPending();
    // Records a failed write, from errno: m_writeFailed, and m_noSpace for a full disk.
    void NoteWriteFailure();
    static size_t WriteBlock(char* data, size_t size, size_t count, void* self);
    static int Progress(void* self, curl_off_t total, curl_off_t done, curl_off_t, curl_off_t);

    DownloadTask& m_task;
    DownloadTaskRecord& m_record;
    TransferControl& m_control;
    const DownloadWorkerEnvironment& m_env;
    const std::string& m_target;

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
