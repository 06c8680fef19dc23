#pragma once

#include "download/Zip.h"
#include "foundation/HttpClient.h"
#include "maintenance/PopJob.h"
#include "platform/Event.h"

#include <atomic>
#include <cstdint>
#include <functional>

// One report of the installer's work, in the states of the installer window: 2 downloading, 5
// extracting (bytes), 9 failed (with a code), 10 finished, 11 installing (done of total, 0 to 100).
struct PopReport {
    int state = 0;
    double done = 0.0;
    double total = 0.0;
    int errorCode = 0;
};

// The program's own failure codes, beside transfer error codes and HTTP statuses.
inline constexpr int kPopErrorSizeQuery = 1001;         // the header request for the package failed
inline constexpr int kPopErrorFileNotWritable = 1002;   // the local package cannot be opened
inline constexpr int kPopErrorExtraction = 1003;        // the package does not unpack
inline constexpr int kPopErrorUpdaterNotStarted = 1005; // the updater of a self-update cannot be started

// The work behind the installer window: fetch a package (resuming a partial one where the job
// allows), unpack it, run its installer and wait for it.
//
// Run executes the steps on the calling thread (the window's worker thread) and reports through the
// reporter on that thread; it never touches a window. Cancel may be called from any thread at any
// time: a transfer ends within about 100 ms even when the server sends nothing, extraction stops
// at its next block and the wait for an installer ends within about 50 ms (the installer itself
// keeps running: stopping one half-way could leave the system worse off than either state). A
// cancelled run reports nothing more.
//
// Downloads go to the job's zip path in slices: a time-out ends one attempt and the next resumes
// where the file ends; so does a connection cut after bytes arrived (a few cuts in a row that bring
// nothing fail the job). A partial file larger than the server's, or a server that answers a resumed
// request with the whole file, makes the download start again from byte 0 rather than append to it.
// Bodies of answers other than 200 and 206 are never written to the file.
class CPackageInstaller {
public:
    using Reporter = std::function<void(const PopReport&)>;

    // Final results of Run.
    static constexpr int kFinished = 10;
    static constexpr int kFailed = 9;
    static constexpr int kCancelled = 0;

    CPackageInstaller(PopJob job, Reporter reporter);
    CPackageInstaller(const CPackageInstaller&) = delete;
    CPackageInstaller& operator=(const CPackageInstaller&) = delete;

    // Blocks until the job has finished (state 10 reported), failed (state 9 reported with its code)
    // or been cancelled; returns kFinished, kFailed or kCancelled. Call it once.
    int Run();

    void Cancel();
    bool IsCancelled() const { return m_cancel.load(); }

    // How long a report of the same state waits for the one before it, so a fast transfer does not
    // flood the window with messages. The first and the last report of a step always go out.
    static constexpr int64_t kReportIntervalMs = 40;

private:
    enum class Step { Done, Failed, Cancelled };
    struct Attempt;

    Step Download(double serverSize);
    // One GET from the file's current end. Sets `result` and `status` of the transfer.
    Step FetchOnce(int64_t offset, double serverSize, CURLcode& result, long& status, bool& restartedAtZero);
    Step Extract();
    Step Install();

    void Report(int state, double done, double total, int errorCode = 0);
    // Reports progress of `state` unless one went out less than kReportIntervalMs ago.
    void ReportThrottled(int state, double done, double total);
    static size_t WriteBlock(char* data, size_t size, size_t count, void* user);
    static int Progress(void* user, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t, curl_off_t);
    static void ExtractProgress(int64_t done, int64_t total, void* user);

    PopJob m_job;
    Reporter m_reporter;
    TransferCancel m_cancel{false};
    platform::Event m_stop;
    CZip m_zip;
    int64_t m_lastReportMs = 0;
    int m_lastReportState = 0;
};
