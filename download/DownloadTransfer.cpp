#include "download/DownloadTransfer.h"

#include "download/DownloadFiles.h"
#include "download/DownloadProgress.h"
#include "foundation/AppMessages.h"
#include "foundation/FileSystem.h"
#include "platform/Trace.h"

#include <openssl/evp.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <vector>

using downloadfiles::FileSize;
using downloadfiles::Native;

namespace {

// Writes all of [data, data + size) at the descriptor's position. False on a write error.
bool WriteAll(int fd, const char* data, size_t size)
{
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

struct FdCloser {
    int fd;
    ~FdCloser()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

DownloadTransfer::DownloadTransfer(DownloadTask& task, const DownloadWorkerEnvironment& env,
                                   const std::string& target)
    : m_task(task), m_record(task.m_record), m_control(*task.m_control), m_env(env), m_target(target)
{
}

void DownloadTransfer::EnableDigest()
{
    m_digest.reset(EVP_MD_CTX_new());
    ResetDigest();
}

void DownloadTransfer::DigestDeleter::operator()(EVP_MD_CTX* context) const
{
    EVP_MD_CTX_free(context);
}

void DownloadTransfer::ResetDigest()
{
    m_hashed = 0;
    if (m_digest && EVP_DigestInit_ex(m_digest.get(), EVP_md5(), nullptr) != 1)
        m_digest.reset(); // TargetMd5 then reports the file unreadable rather than a wrong digest
}

bool DownloadTransfer::CatchUpDigest(int fd, int64_t size)
{
    if (m_hashed > size)
        ResetDigest();
    if (!m_digest)
        return false;
    std::vector<unsigned char> buffer(1 << 20);
    while (m_hashed < size) {
        if (m_control.stop)
            return false;
        size_t want =
            static_cast<size_t>(std::min<int64_t>(size - m_hashed, static_cast<int64_t>(buffer.size())));
        ssize_t got = ::pread(fd, buffer.data(), want, static_cast<off_t>(m_hashed));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false; // an error, or the file is shorter than it was measured
        if (EVP_DigestUpdate(m_digest.get(), buffer.data(), static_cast<size_t>(got)) != 1) {
            m_digest.reset();
            return false;
        }
        m_hashed += got;
    }
    return true;
}

bool DownloadTransfer::TargetMd5(std::string& digest)
{
    FdCloser file{::open(Native(m_target).c_str(), O_RDONLY | O_CLOEXEC)};
    struct stat info {};
    if (file.fd < 0 || ::fstat(file.fd, &info) != 0 || !CatchUpDigest(file.fd, info.st_size))
        return false;
    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    bool done = EVP_DigestFinal_ex(m_digest.get(), value, &length) == 1;
    // A finished context takes no more bytes: a later check starts from the file again.
    ResetDigest();
    if (!done)
        return false;
    static const char kHex[] = "0123456789abcdef";
    digest.clear();
    for (unsigned int i = 0; i < length; ++i) {
        digest += kHex[value[i] >> 4];
        digest += kHex[value[i] & 15];
    }
    return true;
}

bool DownloadTransfer::Truncate(int64_t size)
{
    std::string native = Native(m_target);
    if (native.empty())
        return false;
    if (m_hashed > size)
        ResetDigest();
    if (::truncate(native.c_str(), static_cast<off_t>(size)) == 0)
        return true;
    return errno == ENOENT;
}

int DownloadTransfer::TransferRange(const std::string& url, int64_t base, int64_t length, bool& needLength)
{
    needLength = false;
    int slicesWithoutBytes = 0;
    for (;;) {
        if (m_control.stop)
            return kErrorStopped;
        int64_t offset = FileSize(m_target) - base;
        if (offset < 0)
            return kErrorNoLength; // the file was cut below this range's start while it ran
        if (offset > length) {
            // Longer than the server's file: the file changed. Its length is asked again, and the
            // caller starts the range anew.
            needLength = true;
            return 416;
        }
        if (offset == length)
            return 0;

        long status = 0;
        int64_t written = 0;
        CURLcode result = CURLE_OK;
        int opened = PerformSlice(url, base, length, offset, status, written, result);
        if (opened != 0)
            return opened;
        if (m_control.stop)
            return kErrorStopped;
        slicesWithoutBytes = written > 0 ? 0 : slicesWithoutBytes + 1;
        if (m_overran && !m_writeFailed) {
            platform::TraceF("download %s: the answer ran past its length %" PRId64 "%s\n",
                             m_record.GameId.c_str(), length, m_overranAnnounced ? " (announced)" : "");
            // An answer that announced the longer body holds another version of the file: its
            // length is asked again and the range starts over. One that did not is not trusted.
            needLength = m_overranAnnounced;
            return kErrorBodyTooLong;
        }

        if (result == CURLE_OK) {
            if (status == 200 || status == 206) {
                if (FileSize(m_target) - base == length)
                    return 0;
                // A complete answer that is not the whole length is a short slice, not success.
                if (slicesWithoutBytes >= kMaxRetries)
                    return static_cast<int>(status);
                continue;
            }
            if (status == 416) {
                needLength = true;
                return 416;
            }
            if (status == 0) {
                if (slicesWithoutBytes >= kMaxRetries)
                    return CURLE_WEIRD_SERVER_REPLY;
                if (!m_control.SleepUnlessStopped(100))
                    return kErrorStopped;
                continue;
            }
            platform::TraceF("\nhttp 返回代码 = %ld\n", status);
            return static_cast<int>(status);
        }
        switch (result) {
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_GOT_NOTHING:
        case CURLE_RECV_ERROR:
        case CURLE_PARTIAL_FILE:
            if (slicesWithoutBytes >= kMaxRetries)
                return result;
            if (!m_control.SleepUnlessStopped(100))
                return kErrorStopped;
            continue;
        case CURLE_RANGE_ERROR:
            if (!m_control.SleepUnlessStopped(100))
                return kErrorStopped;
            needLength = true;
            return result;
        case CURLE_WRITE_ERROR:
            if (!m_writeFailed)
                return static_cast<int>(result);
            return m_noSpace ? kErrorDiskFull : kErrorFileNotCreatable;
        default:
            return result;
        }
    }
}

int DownloadTransfer::PerformSlice(const std::string& url, int64_t base, int64_t length, int64_t offset,
                                   long& status, int64_t& written, CURLcode& result)
{
    EnsureDirectoryTree(m_target); // takes the narrow path, as every path here is held
    std::string native = Native(m_target);
    int fd = native.empty() ? -1 : ::open(native.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return kErrorFileNotCreatable;
    off_t end = ::lseek(fd, 0, SEEK_END);
    if (end < 0) {
        ::close(fd);
        return kErrorFileNotCreatable;
    }
    // Bytes that reached the file before this slice (an earlier run's, or left past a cut) join the
    // digest here, once; the slice's own blocks join it as they are written. When they cannot be
    // read now, the final check reads them (and fails the task if they stay unreadable).
    if (m_digest && m_hashed != end && !CatchUpDigest(fd, end) && m_control.stop) {
        ::close(fd);
        return kErrorStopped;
    }
    CurlEasyPtr handle = NewCurlEasy();
    if (!handle) {
        ::close(fd);
        return CURLE_OUT_OF_MEMORY;
    }
    m_fd = fd;
    m_handle = handle.get();
    m_base = base;
    m_end = base + length;
    m_offset = offset;
    m_written = 0;
    m_position = end;
    m_pending.clear();
    m_pending.reserve(kWriteBufferBytes);
    m_checkedStatus = false;
    m_discardBody = false;
    m_writeFailed = false;
    m_noSpace = false;
    m_overran = false;
    m_overranAnnounced = false;

    TransferSink sink;
    sink.write = &DownloadTransfer::WriteBlock;
    sink.writeData = this;
    sink.progress = &DownloadTransfer::Progress;
    sink.progressData = this;
    ApplyDownloadWorkerProfile(handle.get(), url, static_cast<curl_off_t>(offset), sink);
    curl_easy_setopt(handle.get(), CURLOPT_TIMEOUT_MS, static_cast<long>(m_env.sliceMs));
    result = NetPerform(handle.get(), &m_control.stop);
    status = 0;
    if (curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, &status) != CURLE_OK)
        status = 0;

    // The bytes are on the disk before anything that counts on them is stored.
    bool flushed = FlushPending();
    ::fsync(fd);
    ::close(fd);
    m_fd = -1;
    m_handle = nullptr;
    written = m_written;
    if (!flushed)
        return m_noSpace ? kErrorDiskFull : kErrorFileNotCreatable;
    if (m_lastTotal > 0)
        ReportProgress(m_lastDone, m_lastTotal, 2, true);
    return 0;
}

void DownloadTransfer::NoteWriteFailure()
{
    m_writeFailed = true;
    m_noSpace = errno == ENOSPC || errno == EDQUOT;
}

bool DownloadTransfer::FlushPending()
{
    if (m_pending.empty())
        return true;
    bool written = WriteAll(m_fd, m_pending.data(), m_pending.size());
    m_pending.clear();
    if (!written)
        NoteWriteFailure();
    return written;
}

size_t DownloadTransfer::WriteBlock(char* data, size_t size, size_t count, void* self)
{
    auto* transfer = static_cast<DownloadTransfer*>(self);
    size_t bytes = size * count;
    if (transfer->m_control.stop)
        return 0;
    if (!transfer->m_checkedStatus) {
        transfer->m_checkedStatus = true;
        long status = 0;
        curl_easy_getinfo(transfer->m_handle, CURLINFO_RESPONSE_CODE, &status);
        if (status == 200 && transfer->m_offset > 0) {
            // The server ignored the range and sends the whole file: it replaces what was there.
            if (transfer->m_hashed > transfer->m_base)
                transfer->ResetDigest();
            if (::ftruncate(transfer->m_fd, static_cast<off_t>(transfer->m_base)) != 0 ||
                ::lseek(transfer->m_fd, static_cast<off_t>(transfer->m_base), SEEK_SET) < 0) {
                transfer->m_writeFailed = true;
                return 0;
            }
            transfer->m_offset = 0;
            transfer->m_position = transfer->m_base;
            transfer->m_pending.clear();
        } else if (status != 200 && status != 206) {
            // An error page is not a part of the file.
            transfer->m_discardBody = true;
        }
        transfer->m_bodyStart = transfer->m_position;
    }
    if (transfer->m_discardBody)
        return bytes;
    // The answer's bytes fill the range and no more: a server that sends past the length it gave
    // (an endless body, or a file that grew) ends the slice here rather than fill the disk.
    const int64_t room = transfer->m_end - transfer->m_position;
    if (static_cast<int64_t>(bytes) > room) {
        transfer->m_overran = true;
        curl_off_t announced = -1;
        transfer->m_overranAnnounced =
            curl_easy_getinfo(transfer->m_handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) ==
                CURLE_OK &&
            announced >= 0 && transfer->m_bodyStart + announced > transfer->m_end;
        if (room > 0)
            WriteBlock(data, 1, static_cast<size_t>(room), self);
        return 0;
    }
    // The library hands over at most 16 KiB a call; they are gathered into larger file writes.
    std::vector<char>& pending = transfer->m_pending;
    if (pending.size() + bytes > kWriteBufferBytes && !transfer->FlushPending())
        return 0;
    if (bytes >= kWriteBufferBytes) {
        if (!WriteAll(transfer->m_fd, data, bytes)) {
            transfer->NoteWriteFailure();
            return 0;
        }
    } else {
        pending.insert(pending.end(), data, data + bytes);
    }
    // The digest takes the block only when it continues exactly the bytes hashed so far; otherwise
    // the check reads the gap back from the file.
    if (transfer->m_digest && transfer->m_hashed == transfer->m_position) {
        if (EVP_DigestUpdate(transfer->m_digest.get(), data, bytes) == 1)
            transfer->m_hashed += static_cast<int64_t>(bytes);
        else
            transfer->ResetDigest();
    }
    transfer->m_position += static_cast<int64_t>(bytes);
    transfer->m_written += static_cast<int64_t>(bytes);
    return bytes;
}

int DownloadTransfer::Progress(void* self, curl_off_t total, curl_off_t done, curl_off_t, curl_off_t)
{
    auto* transfer = static_cast<DownloadTransfer*>(self);
    if (transfer->m_control.stop)
        return 1;
    if (done <= 0 || transfer->m_discardBody)
        return 0;
    double offset = static_cast<double>(transfer->m_offset);
    transfer->ReportProgress(offset + static_cast<double>(done), offset + static_cast<double>(total), 2,
                             false);
    return 0;
}

void DownloadTransfer::ReportProgress(double done, double total, int kind, bool force)
{
    auto now = std::chrono::steady_clock::now();
    m_lastDone = done;
    m_lastTotal = total;
    if (!force && now - m_lastProgress < std::chrono::milliseconds(m_env.progressIntervalMs))
        return;
    m_lastProgress = now;
    if (!m_env.downloadWindow)
        return;
    auto record = std::make_unique<DownloadProgress>();
    record->done = done;
    record->total = total;
    record->listItem = m_task.ListItem();
    record->kind = kind;
    record->volumeMode = m_control.volumeMode;
    record->currentVolume = m_control.currentVolume;
    record->volumeCount = m_control.volumeCount;
    platform::PostMessage(m_env.downloadWindow, WM_DOWNLOAD_PROGRESS, 0, std::move(record));
}

void DownloadTransfer::RepeatProgress(int kind)
{
    ReportProgress(m_lastDone, m_lastTotal, kind, true);
}
