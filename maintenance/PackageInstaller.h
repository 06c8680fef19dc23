#pragma once

#include "download/Zip.h"
#include "foundation/HttpClient.h"
#include "maintenance/PopJob.h"
#include "platform/Event.h"
#include "platform/Process.h"

#include <atomic>
#include <cstdint>
#include <functional>

// One report of the installer's work, in the states of the installer window: 2 downloading, 5
// extracting (bytes), 9 failed (with a code), 10 finished, 11 installing (done of total, 0 to 100),
// 12 cancelled while the installer runs (the run waits for it to end) and 13 ending the installer.
struct PopReport {
    int state = 0;
    double done = 0.0;
    double total = 0.0;
    int errorCode = 0;
};

inline constexpr int kPopStateWaitingForInstaller = 12;
inline constexpr int kPopStateEndingInstaller = 13;

// The program's own failure codes, beside transfer error codes and HTTP statuses.
inline constexpr int kPopErrorSizeQuery = 1001;         // the header request failed or gave no usable size
inline constexpr int kPopErrorFileNotWritable = 1002;   // the local package cannot be opened
inline constexpr int kPopErrorExtraction = 1003;        // the package does not unpack
inline constexpr int kPopErrorUpdaterNotStarted = 1005; // the updater of a self-update cannot be started
inline constexpr int kPopErrorBodyTooLong = 1006;       // the server sent more than the package's length
inline constexpr int kPopErrorDiskFull = 1007;          // the package or its files do not fit on the disk

// The work behind the installer window: fetch a package (resuming a partial one where the job
// allows), unpack it, run its installer and wait for it.
//
// Run executes the steps on the calling thread (the window's worker thread) and reports through the
// reporter on that thread; it never touches a window. Cancel and EndInstaller may be called from any
// thread at any time. Cancel ends a transfer within about 100 ms even when the server sends nothing
// and stops extraction at its next block. An installer that already runs is not stopped by Cancel
// (stopping one half-way could leave the system worse off than either state): the run reports state
// 12 and goes on waiting until the installer ends by itself or EndInstaller is called. EndInstaller
// cancels likewise and ends a running installer, with its process group, through its process
// handle: the run reports state 13 and returns once the installer has been reaped. A cancelled run
// reports nothing else.
//
// Downloads go to the job's zip path in attempts, each one GET from where the file ends, ended by a
// time-out (job.attemptTimeoutMs) at the latest. An attempt that adds no byte to the package (a
// time-out or a cut connection with nothing, an answer that ends before the package does) is a
// failed attempt; kMaxFailedAttempts of them in a row fail the job with the last one's code.
// Nothing past the length that the header request announced is ever kept: an answer that runs on
// past it fails its attempt, and what that attempt wrote is removed (code kPopErrorBodyTooLong when
// it is the last). A partial file larger than the server's, or a server that answers a resumed
// request with the whole file, makes the download start again from byte 0 rather than append to it.
// Bodies of answers other than 200 and 206 are never written to the file. A job that does not
// resume deletes its package when the download fails or is cancelled; one that resumes keeps what
// complete attempts brought for the next run.
//
// A job with replaceFolder unpacks into a sibling of its extract folder and swaps it in only once
// the whole package is there (CFolderReplacement): a cancel or a failure leaves the old folder as
// it was.
class CPackageInstaller {
public:
    using Reporter = std::function<void(const PopReport&)>;

    // Final results of Run.
    static constexpr int kFinished = 10;
    static constexpr int kFailed = 9;
    static constexpr int kCancelled = 0;

    // Failed attempts in a row after which a download fails.
    static constexpr int kMaxFailedAttempts = 5;
    // The largest package a server may announce; a larger one fails the header step.
    static constexpr int64_t kMaxPackageBytes = int64_t{4} << 30;

    CPackageInstaller(PopJob job, Reporter reporter);
    CPackageInstaller(const CPackageInstaller&) = delete;
    CPackageInstaller& operator=(const CPackageInstaller&) = delete;

    // Blocks until the job has finished (state 10 reported), failed (state 9 reported with its code)
    // or been cancelled; returns kFinished, kFailed or kCancelled. Call it once.
    int Run();

    // Neither blocks.
    void Cancel();
    void EndInstaller();
    bool IsCancelled() const { return m_cancel.load(); }

    // How long a report of the same state waits for the one before it, so a fast transfer does not
    // flood the window with messages. The first and the last report of a step always go out.
    static constexpr int64_t kReportIntervalMs = 40;

private:
    enum class Step { Done, Failed, Cancelled };
    struct Attempt;
    // How one GET ended.
    struct Outcome {
        CURLcode result = CURLE_OK;
        long status = 0;
        bool restartedAtZero = false; // the file was emptied for a fresh request from byte 0
        bool overran = false;         // the body ran past the package's length; its bytes were removed
    };

    // Steps 2 to 7 of Run: the header request, the download, the check, the unpacking, the installer.
    Step RunSteps();
    Step Download(int64_t size);
    // One GET from `offset`, the file's current end.
    Step FetchOnce(int64_t offset, int64_t size, Outcome& outcome);
    Step Extract();
    Step Install();
    Step WaitForInstaller(platform::ProcessHandle& process);

    void Report(int state, double done, double total, int errorCode = 0);
    // Reports progress of `state` unless one went out less than kReportIntervalMs ago.
    void ReportThrottled(int state, double done, double total);
    static size_t WriteBlock(char* data, size_t size, size_t count, void* user);
    static int Progress(void* user, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t, curl_off_t);
    static void ExtractProgress(int64_t done, int64_t total, void* user);

    PopJob m_job;
    Reporter m_reporter;
    TransferCancel m_cancel{false};
    std::atomic<bool> m_endInstaller{false};
    platform::Event m_stop;
    platform::Event m_end;
    CZip m_zip;
    int64_t m_lastReportMs = 0;
    int m_lastReportState = 0;
};
