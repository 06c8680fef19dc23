#include "maintenance/PackageInstaller.h"

#include "foundation/StringConv.h"
#include "platform/Process.h"
#include "platform/Trace.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

// Attempts in a row that end in a cut connection without bringing a byte before the job fails.
constexpr int kMaxBarrenCuts = 5;
// Restarts from byte 0 that one run makes for servers that ignore the requested range.
constexpr int kMaxRestarts = 2;
// The wait for an installer wakes this often to report that it is still running.
constexpr int64_t kInstallerStepMs = 400;
// Blocks of the package file are gathered in a buffer of this size before they are written.
constexpr size_t kFileBufferBytes = 256 * 1024;

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
// and dropped.
struct CPackageInstaller::Attempt {
    CPackageInstaller* self = nullptr;
    CURL* handle = nullptr;
    FILE* file = nullptr;
    int64_t offset = 0;
    double serverSize = 0.0;
    int64_t received = 0;
    bool statusChecked = false;
    bool discard = false;
    bool restartedAtZero = false;
    bool writeFailed = false;
};

CPackageInstaller::CPackageInstaller(PopJob job, Reporter reporter)
    : m_job(std::move(job)), m_reporter(std::move(reporter))
{
    m_zip.SetPUser(this);
    m_zip.SetExtractProgressFun(&CPackageInstaller::ExtractProgress);
}

void CPackageInstaller::Cancel()
{
    m_cancel = true;
    m_zip.Exit();
    m_stop.Set();
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

    // Step 2: the size and final address of the package.
    std::string finalUrl;
    double serverSize = -1.0;
    bool resolved = NetResolveUrl(m_job.url, finalUrl, serverSize, &m_cancel);
    if (m_cancel)
        return kCancelled;
    if (!resolved || serverSize < 0) {
        Report(kFailed, 0, 0, kPopErrorSizeQuery);
        return kFailed;
    }
    m_job.url = finalUrl;

    // Steps 3 to 7.
    Step downloaded = Download(serverSize);
    if (downloaded != Step::Done)
        return downloaded == Step::Cancelled ? kCancelled : kFailed;
    if (m_job.verifyPackage) {
        if (int refused = m_job.verifyPackage(m_job.zipPath); refused != 0) {
            ::unlink(m_job.zipPath.c_str());
            Report(kFailed, 0, 0, refused);
            return kFailed;
        }
    }
    Step extracted = Extract();
    if (extracted != Step::Done)
        return extracted == Step::Cancelled ? kCancelled : kFailed;
    if (m_job.deleteZipAfterExtract)
        ::unlink(m_job.zipPath.c_str());
    Step installed = Install();
    if (installed != Step::Done)
        return installed == Step::Cancelled ? kCancelled : kFailed;
    Report(kFinished, 100, 100);
    return kFinished;
}

CPackageInstaller::Step CPackageInstaller::Download(double serverSize)
{
    const int64_t size = static_cast<int64_t>(serverSize);
    int barrenCuts = 0;
    int restarts = 0;
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
                Report(kFailed, 0, serverSize, kPopErrorFileNotWritable);
                return Step::Failed;
            }
            local = 0;
        }

        CURLcode result = CURLE_OK;
        long status = 0;
        bool restartedAtZero = false;
        Step step = FetchOnce(local, serverSize, result, status, restartedAtZero);
        if (step != Step::Done)
            return step;
        if (m_cancel)
            return Step::Cancelled;
        const int64_t now = FileSize(m_job.zipPath);
        if (restartedAtZero && restarts < kMaxRestarts) {
            ++restarts;
            continue;
        }

        if (result == CURLE_OK) {
            if (status == 200)
                return Step::Done;
            if (status == 206 && now == size)
                return Step::Done;
            Report(kFailed, static_cast<double>(now), serverSize, static_cast<int>(status));
            return Step::Failed;
        }
        if (status >= 300) {
            // An error answer, whatever the library made of its missing range.
            Report(kFailed, static_cast<double>(now), serverSize, static_cast<int>(status));
            return Step::Failed;
        }
        if (result == CURLE_OPERATION_TIMEDOUT)
            continue; // the next attempt resumes where this one stopped
        if (IsCut(result)) {
            barrenCuts = now > local ? 0 : barrenCuts + 1;
            if (barrenCuts < kMaxBarrenCuts)
                continue;
        }
        if (result == CURLE_RANGE_ERROR && restarts < kMaxRestarts) {
            // The server answered the range with something else than the part asked for.
            ++restarts;
            if (::truncate(m_job.zipPath.c_str(), 0) == 0)
                continue;
        }
        Report(kFailed, static_cast<double>(now), serverSize, static_cast<int>(result));
        return Step::Failed;
    }
}

CPackageInstaller::Step CPackageInstaller::FetchOnce(int64_t offset, double serverSize, CURLcode& result,
                                                     long& status, bool& restartedAtZero)
{
    FilePtr file = OpenPackage(m_job.zipPath);
    if (!file) {
        Report(kFailed, static_cast<double>(offset), serverSize, kPopErrorFileNotWritable);
        return Step::Failed;
    }
    CurlEasyPtr handle = NewCurlEasy();
    if (!handle) {
        Report(kFailed, static_cast<double>(offset), serverSize, CURLE_FAILED_INIT);
        return Step::Failed;
    }
    Attempt attempt;
    attempt.self = this;
    attempt.handle = handle.get();
    attempt.file = file.get();
    attempt.offset = offset;
    attempt.serverSize = serverSize;
    TransferSink sink;
    sink.write = &CPackageInstaller::WriteBlock;
    sink.writeData = &attempt;
    sink.progress = &CPackageInstaller::Progress;
    sink.progressData = &attempt;
    ApplyPackageDownloadProfile(handle.get(), m_job.url, offset, sink);
    curl_easy_setopt(handle.get(), CURLOPT_BUFFERSIZE, 128L * 1024L);

    result = NetPerform(handle.get(), &m_cancel);
    status = 0;
    curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, &status);
    restartedAtZero = attempt.restartedAtZero;
    // The last buffered bytes reach the file only now; losing them is a write failure.
    FILE* raw = file.release();
    if (std::fclose(raw) != 0 || attempt.writeFailed) {
        if (m_cancel)
            return Step::Cancelled;
        Report(kFailed, static_cast<double>(offset), serverSize, CURLE_WRITE_ERROR);
        return Step::Failed;
    }
    if (attempt.received > 0)
        Report(2, static_cast<double>(attempt.offset + attempt.received), serverSize);
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
    size_t written = std::fwrite(data, 1, bytes, attempt->file);
    if (written != bytes)
        attempt->writeFailed = true;
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
                              attempt->serverSize);
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
    int extracted = 0;
    std::error_code madeFolder;
    std::filesystem::create_directories(m_job.extractFolder, madeFolder);
    try {
        extracted = m_zip.ZipExtract(Utf8ToUtf16(m_job.zipPath), Utf8ToUtf16(m_job.extractFolder));
    } catch (const std::exception& error) {
        platform::TraceF("package path not convertible: %s", error.what());
    }
    if (m_cancel)
        return Step::Cancelled;
    if (extracted != 1) {
        ::unlink(m_job.zipPath.c_str());
        Report(kFailed, 0, 0, kPopErrorExtraction);
        return Step::Failed;
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
    int value = 10;
    for (;;) {
        platform::WaitResult waited = process.Wait(kInstallerStepMs, &m_stop);
        if (waited == platform::WaitResult::Stopped || m_cancel)
            return Step::Cancelled;
        if (waited != platform::WaitResult::TimedOut)
            return Step::Done;
        Report(11, value, 100);
        value = value == 100 ? 0 : value + 10;
    }
}
