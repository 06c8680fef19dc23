#include "maintenance/PackageInstaller.h"

#include "foundation/StringConv.h"
#include "maintenance/FolderReplacement.h"
#include "platform/Process.h"
#include "platform/Trace.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <exception>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

// Restarts from byte 0 that one run makes for servers that ignore the requested range.
constexpr int kMaxRestarts = 2;
// The wait for an installer wakes this often to report that it is still running.
constexpr int64_t kInstallerStepMs = 400;
// Blocks of the package file are gathered in a buffer of this size before they are written.
constexpr size_t kFileBufferBytes = 256 * 1024;
// How long an installer ended with SIGKILL is waited for to be reaped; one the kernel has not let go
// of by then is reaped by the process layer later.
constexpr int64_t kReapMs = 2000;

int64_t NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The size of the file at `path`, 0 when there is none.
int64_t FileSize(const std::string& path)
{
    struct stat info;
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return 0;
    return static_cast<int64_t>(info.st_size);
}

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Opens the package for reading and writing, creating it and its folders when missing, positioned at
// its end. Null when it cannot be opened.
FilePtr OpenPackage(const std::string& path)
{
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return nullptr;
    FILE* file = ::fdopen(fd, "r+b");
    if (!file) {
        ::close(fd);
        return nullptr;
    }
    FilePtr owned(file);
    std::setvbuf(file, nullptr, _IOFBF, kFileBufferBytes);
    if (std::fseek(file, 0, SEEK_END) != 0)
        return nullptr;
    return owned;
}

// Cut connections: the server or the network ended the answer early.
bool IsCut(CURLcode result)
{
    return result == CURLE_PARTIAL_FILE || result == CURLE_RECV_ERROR || result == CURLE_GOT_NOTHING ||
           result == CURLE_SEND_ERROR;
}

} // namespace

// What one GET writes and reports. The write callback looks at the status once, at the answer's
// first block: a 200 to a request that asked for a range empties the file and ends the attempt, so
// the next one starts from byte 0; the body of any status but 200 or 206 (an error page) is read
// and dropped. A block that would take the file past the package's length ends the attempt unwritten.
struct CPackageInstaller::Attempt {
    CPackageInstaller* self = nullptr;
    CURL* handle = nullptr;
    FILE* file = nullptr;
    int64_t offset = 0;
    int64_t size = 0;
    int64_t received = 0;
    bool statusChecked = false;
    bool discard = false;
    bool restartedAtZero = false;
    bool writeFailed = false;
    int writeErrno = 0; // the write's errno, when it failed
    bool overran = false;
};

CPackageInstaller::CPackageInstaller(PopJob job, Reporter reporter)
    : m_job(std::move(job)), m_reporter(std::move(reporter))
{
    m_zip.SetPUser(this);
    m_zip.SetExtractProgressFun(&CPackageInstaller::ExtractProgress);
    m_zip.SetLimits(m_job.unpackLimits);
}

void CPackageInstaller::Cancel()
{
    m_cancel = true;
    m_zip.Exit();
    m_stop.Set();
}

void CPackageInstaller::EndInstaller()
{
    m_endInstaller = true;
    Cancel();
    m_end.Set();
}

void CPackageInstaller::Report(int state, double done, double total, int errorCode)
{
    m_lastReportMs = NowMs();
    m_lastReportState = state;
    if (m_reporter)
        m_reporter(PopReport{state, done, total, errorCode});
}

void CPackageInstaller::ReportThrottled(int state, double done, double total)
{
    if (state == m_lastReportState && NowMs() - m_lastReportMs < kReportIntervalMs && done < total)
        return;
    Report(state, done, total);
}

int CPackageInstaller::Run()
{
    // Step 1: a fresh package for jobs that never resume.
    if (!m_job.resumePartial)
        ::unlink(m_job.zipPath.c_str());

    const Step step = RunSteps();
    if (step != Step::Done) {
        // A job that does not resume has no use for what it fetched: the next run starts afresh.
        if (!m_job.resumePartial)
            ::unlink(m_job.zipPath.c_str());
        return step == Step::Cancelled ? kCancelled : kFailed;
    }
    Report(kFinished, 100, 100);
    return kFinished;
}

CPackageInstaller::Step CPackageInstaller::RunSteps()
{
    // Step 2: the size and final address of the package.
    std::string finalUrl;
    double serverSize = -1.0;
    bool resolved = NetResolveUrl(m_job.url, finalUrl, serverSize, &m_cancel);
    if (m_cancel)
        return Step::Cancelled;
    if (!resolved || serverSize < 0 || serverSize > static_cast<double>(kMaxPackageBytes)) {
        Report(kFailed, 0, 0, kPopErrorSizeQuery);
        return Step::Failed;
    }
    m_job.url = finalUrl;

    // Steps 3 to 7.
    Step downloaded = Download(static_cast<int64_t>(serverSize));
    if (downloaded != Step::Done)
        return downloaded;
    if (m_job.verifyPackage) {
        if (int refused = m_job.verifyPackage(m_job.zipPath); refused != 0) {
            ::unlink(m_job.zipPath.c_str());
            Report(kFailed, 0, 0, refused);
            return Step::Failed;
        }
    }
    Step extracted = Extract();
    if (extracted != Step::Done)
        return extracted;
    if (m_job.deleteZipAfterExtract)
        ::unlink(m_job.zipPath.c_str());
    return Install();
}

CPackageInstaller::Step CPackageInstaller::Download(int64_t size)
{
    const double total = static_cast<double>(size);
    int failedAttempts = 0;
    int restarts = 0;
    if (int64_t local = FileSize(m_job.zipPath); local < size)
        Report(2, static_cast<double>(local), total); // the window shows the size before any byte arrives
    for (;;) {
        if (m_cancel)
            return Step::Cancelled;
        int64_t local = FileSize(m_job.zipPath);
        if (local == size)
            return Step::Done;
        if (local > size) {
            // Not a part of the server's file: no range could continue it.
            platform::TraceF("package larger than the server's (%lld > %lld): starting again",
                             static_cast<long long>(local), static_cast<long long>(size));
            if (::truncate(m_job.zipPath.c_str(), 0) != 0) {
                Report(kFailed, 0, total, kPopErrorFileNotWritable);
                return Step::Failed;
            }
            local = 0;
        }

        Outcome outcome;
        Step step = FetchOnce(local, size, outcome);
        if (step != Step::Done)
            return step;
        if (m_cancel)
            return Step::Cancelled;
        if (outcome.restartedAtZero && restarts < kMaxRestarts) {
            ++restarts;
            continue;
        }
        const int64_t now = FileSize(m_job.zipPath);
        const bool answered = outcome.status == 200 || outcome.status == 206;
        if (outcome.result == CURLE_OK && answered && now == size)
            return Step::Done;
        if (outcome.status >= 300 || (outcome.result == CURLE_OK && !answered)) {
            // An error answer, whatever the library made of its missing range.
            Report(kFailed, static_cast<double>(now), total, static_cast<int>(outcome.status));
            return Step::Failed;
        }

        // The attempt ended before the package was whole. Time-outs, cut connections, answers that
        // end early and answers that run on past the package's length are tried again from where
        // the file ends, as long as some attempt brings bytes.
        int code = 0;
        if (outcome.overran)
            code = kPopErrorBodyTooLong;
        else if (outcome.result == CURLE_OK)
            code = CURLE_PARTIAL_FILE;
        else if (outcome.result == CURLE_OPERATION_TIMEDOUT || IsCut(outcome.result))
            code = outcome.result;
        if (code == 0 && outcome.result == CURLE_RANGE_ERROR && restarts < kMaxRestarts) {
            // The server answered the range with something else than the part asked for.
            ++restarts;
            if (::truncate(m_job.zipPath.c_str(), 0) == 0)
                continue;
        }
        if (code == 0) {
            Report(kFailed, static_cast<double>(now), total, static_cast<int>(outcome.result));
            return Step::Failed;
        }
        failedAttempts = now > local ? 0 : failedAttempts + 1;
        if (failedAttempts < kMaxFailedAttempts)
            continue;
        platform::TraceF("package download: %d attempts in a row brought nothing (code %d)", failedAttempts,
                         code);
        Report(kFailed, static_cast<double>(now), total, code);
        return Step::Failed;
    }
}

CPackageInstaller::Step CPackageInstaller::FetchOnce(int64_t offset, int64_t size, Outcome& outcome)
{
    const double total = static_cast<double>(size);
    FilePtr file = OpenPackage(m_job.zipPath);
    if (!file) {
        Report(kFailed, static_cast<double>(offset), total, kPopErrorFileNotWritable);
        return Step::Failed;
    }
    CurlEasyPtr handle = NewCurlEasy();
    if (!handle) {
        Report(kFailed, static_cast<double>(offset), total, CURLE_FAILED_INIT);
        return Step::Failed;
    }
    Attempt attempt;
    attempt.self = this;
    attempt.handle = handle.get();
    attempt.file = file.get();
    attempt.offset = offset;
    attempt.size = size;
    TransferSink sink;
    sink.write = &CPackageInstaller::WriteBlock;
    sink.writeData = &attempt;
    sink.progress = &CPackageInstaller::Progress;
    sink.progressData = &attempt;
    ApplyPackageDownloadProfile(handle.get(), m_job.url, offset, sink);
    curl_easy_setopt(handle.get(), CURLOPT_BUFFERSIZE, 128L * 1024L);
    if (m_job.attemptTimeoutMs > 0)
        curl_easy_setopt(handle.get(), CURLOPT_TIMEOUT_MS, m_job.attemptTimeoutMs);

    outcome.result = NetPerform(handle.get(), &m_cancel);
    curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, &outcome.status);
    outcome.restartedAtZero = attempt.restartedAtZero;
    // The last buffered bytes reach the file only now; losing them is a write failure.
    FILE* raw = file.release();
    const bool closed = std::fclose(raw) == 0;
    if (!closed && attempt.writeErrno == 0)
        attempt.writeErrno = errno;
    if (!closed || attempt.writeFailed) {
        if (m_cancel)
            return Step::Cancelled;
        // A full disk (or quota) is said as such; other write failures keep the transfer's code.
        const bool full = attempt.writeErrno == ENOSPC || attempt.writeErrno == EDQUOT;
        Report(kFailed, static_cast<double>(offset), total, full ? kPopErrorDiskFull : CURLE_WRITE_ERROR);
        return Step::Failed;
    }
    if (attempt.overran) {
        // An answer longer than the package is not the package: nothing it brought is kept.
        platform::TraceF("package download: the answer ran past %lld bytes", static_cast<long long>(size));
        if (::truncate(m_job.zipPath.c_str(), offset) != 0) {
            Report(kFailed, static_cast<double>(offset), total, kPopErrorFileNotWritable);
            return Step::Failed;
        }
        outcome.overran = true;
        return Step::Done;
    }
    if (attempt.received > 0)
        Report(2, static_cast<double>(attempt.offset + attempt.received), total);
    return Step::Done;
}

size_t CPackageInstaller::WriteBlock(char* data, size_t size, size_t count, void* user)
{
    auto* attempt = static_cast<Attempt*>(user);
    if (attempt->self->m_cancel)
        return 0;
    const size_t bytes = size * count;
    if (!attempt->statusChecked) {
        attempt->statusChecked = true;
        long status = 0;
        curl_easy_getinfo(attempt->handle, CURLINFO_RESPONSE_CODE, &status);
        if (status == 200 && attempt->offset > 0) {
            platform::Trace("the server sent the whole package to a resumed request: starting again");
            if (std::fflush(attempt->file) != 0 || ::ftruncate(::fileno(attempt->file), 0) != 0 ||
                std::fseek(attempt->file, 0, SEEK_SET) != 0) {
                attempt->writeFailed = true;
                return 0;
            }
            // The library may already have dropped the bytes it meant to skip; a fresh request
            // without a range is the only sure way to the whole file.
            attempt->restartedAtZero = true;
            return 0;
        } else if (status != 200 && status != 206) {
            attempt->discard = true;
        }
    }
    if (attempt->discard)
        return bytes;
    if (static_cast<int64_t>(bytes) > attempt->size - attempt->offset - attempt->received) {
        attempt->overran = true;
        return 0;
    }
    size_t written = std::fwrite(data, 1, bytes, attempt->file);
    if (written != bytes) {
        attempt->writeFailed = true;
        attempt->writeErrno = errno;
    }
    attempt->received += static_cast<int64_t>(written);
    return written;
}

int CPackageInstaller::Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto* attempt = static_cast<Attempt*>(user);
    CPackageInstaller* self = attempt->self;
    if (self->m_cancel)
        return 1;
    // Reports only once something has arrived, and only what reached the file.
    if (attempt->received > 0 && !attempt->discard)
        self->ReportThrottled(2, static_cast<double>(attempt->offset + attempt->received),
                              static_cast<double>(attempt->size));
    return 0;
}

void CPackageInstaller::ExtractProgress(int64_t done, int64_t total, void* user)
{
    auto* self = static_cast<CPackageInstaller*>(user);
    self->ReportThrottled(5, static_cast<double>(done), static_cast<double>(total));
}

CPackageInstaller::Step CPackageInstaller::Extract()
{
    if (m_cancel)
        return Step::Cancelled;
    std::string destination = m_job.extractFolder;
    // Removes the sibling on every way out but a completed swap.
    std::optional<CFolderReplacement> replacement;
    if (m_job.replaceFolder) {
        replacement.emplace(m_job.extractFolder);
        if (!replacement->Begin()) {
            Report(kFailed, 0, 0, kPopErrorFileNotWritable);
            return Step::Failed;
        }
        destination = replacement->Staging();
    } else {
        std::error_code madeFolder;
        std::filesystem::create_directories(destination, madeFolder);
    }
    int extracted = 0;
    try {
        extracted = m_zip.ZipExtract(Utf8ToUtf16(m_job.zipPath), Utf8ToUtf16(destination));
    } catch (const std::exception& error) {
        platform::TraceF("package path not convertible: %s", error.what());
    }
    if (m_cancel)
        return Step::Cancelled;
    if (extracted != kZipExtractDone) {
        ::unlink(m_job.zipPath.c_str());
        Report(kFailed, 0, 0, extracted == kZipExtractNoSpace ? kPopErrorDiskFull : kPopErrorExtraction);
        return Step::Failed;
    }
    if (replacement) {
        const bool carried = replacement->CarryOver(m_cancel);
        if (m_cancel)
            return Step::Cancelled;
        if (!carried || !replacement->Commit()) {
            Report(kFailed, 0, 0, kPopErrorExtraction);
            return Step::Failed;
        }
    }
    const double total = static_cast<double>(m_zip.m_bytesTotal.load());
    Report(5, total, total);
    return Step::Done;
}

CPackageInstaller::Step CPackageInstaller::Install()
{
    Report(11, 100, 100);
    if (m_job.installer.empty())
        return Step::Done;
    if (m_cancel)
        return Step::Cancelled; // nothing has been started yet
    if (m_job.startInstaller) {
        if (m_job.startInstaller())
            return Step::Done;
        platform::TraceF("installer %s not started", m_job.installer.c_str());
        Report(kFailed, 0, 0, kPopErrorUpdaterNotStarted);
        return Step::Failed;
    }
    platform::ProcessHandle process =
        platform::StartProcess(m_job.installer, m_job.switches, m_job.installerDir, platform::kShowNormal);
    if (!process) {
        platform::TraceF("installer %s not started", m_job.installer.c_str());
        if (m_job.kind == kPopSelfUpdate) {
            Report(kFailed, 0, 0, kPopErrorUpdaterNotStarted);
            return Step::Failed;
        }
        return Step::Done; // the check after it tells the user that nothing was installed
    }
    if (!m_job.waitForInstaller)
        return Step::Done;
    return WaitForInstaller(process);
}

CPackageInstaller::Step CPackageInstaller::WaitForInstaller(platform::ProcessHandle& process)
{
    int value = 10;
    bool saidWaiting = false;
    for (;;) {
        if (m_endInstaller) {
            Report(kPopStateEndingInstaller, 0, 0);
            process.Terminate();
            if (process.Wait(kReapMs) != platform::WaitResult::Exited)
                platform::TraceF("installer %s ended but not yet reaped", m_job.installer.c_str());
            return Step::Cancelled;
        }
        if (m_cancel && !saidWaiting) {
            Report(kPopStateWaitingForInstaller, 0, 0);
            saidWaiting = true;
        }
        // Once cancelled, only EndInstaller wakes the wait early.
        platform::WaitResult waited = process.Wait(kInstallerStepMs, m_cancel ? &m_end : &m_stop);
        if (waited == platform::WaitResult::Exited || waited == platform::WaitResult::Failed)
            return m_cancel ? Step::Cancelled : Step::Done;
        if (waited == platform::WaitResult::TimedOut && !m_cancel) {
            Report(11, value, 100);
            value = value == 100 ? 0 : value + 10;
        }
    }
}
