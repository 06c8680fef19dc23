#include "download/DownloadWorker.h"

#include "download/DownloadProgress.h"
#include "download/DownloadTaskPreparation.h"
#include "download/ShareLinkResolver.h"
#include "foundation/AppMessages.h"
#include "foundation/FileSystem.h"
#include "foundation/StringConv.h"
#include "platform/Trace.h"
#include "store/GameStore.h"

#include <openssl/evp.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

namespace {

// The length text of a table, -1 when it holds no number.
int64_t ParseLength(const std::string& text)
{
    if (text.empty() || text[0] < '0' || text[0] > '9')
        return -1;
    errno = 0;
    char* end = nullptr;
    long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || value < 0)
        return -1;
    return value;
}

std::string LengthText(int64_t length)
{
    return std::to_string(length);
}

std::string Native(const std::string& ansiPath)
{
    try {
        return NativePath(ansiPath);
    } catch (...) {
        return {};
    }
}

// Bytes of every regular file under `folder`, leaving out `skip`.
int64_t FolderBytes(const std::string& nativeFolder, const std::string& nativeSkip)
{
    namespace fs = std::filesystem;
    int64_t total = 0;
    std::error_code error;
    for (fs::recursive_directory_iterator it(nativeFolder, error), end; !error && it != end;
         it.increment(error)) {
        std::error_code statError;
        if (!it->is_regular_file(statError) || it->path() == fs::path(nativeSkip))
            continue;
        auto size = it->file_size(statError);
        if (!statError)
            total += static_cast<int64_t>(size);
    }
    return total;
}

std::string Megabytes(int64_t bytes)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(bytes) / 1048576.0);
    return text;
}

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

void DownloadWorker::DigestDeleter::operator()(EVP_MD_CTX* context) const
{
    EVP_MD_CTX_free(context);
}

void DownloadWorker::ResetDigest()
{
    m_hashed = 0;
    if (m_digest && EVP_DigestInit_ex(m_digest.get(), EVP_md5(), nullptr) != 1)
        m_digest.reset(); // TargetMd5 then reports the file unreadable rather than a wrong digest
}

bool DownloadWorker::CatchUpDigest(int fd, int64_t size)
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

bool DownloadWorker::TargetMd5(std::string& digest)
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

DownloadWorker::DownloadWorker(DownloadTask& task, const DownloadWorkerEnvironment& env)
    : m_task(task), m_record(task.m_record), m_control(*task.m_control), m_env(env)
{
}

int64_t DownloadWorker::FileSize(const std::string& ansiPath)
{
    struct stat info {};
    std::string native = Native(ansiPath);
    if (native.empty() || ::stat(native.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return 0;
    return static_cast<int64_t>(info.st_size);
}

void DownloadWorker::Run()
{
    if (m_record.Source != 8 && !m_record.FileMd5.empty()) {
        m_digest.reset(EVP_MD_CTX_new());
        ResetDigest();
    }
    // The file is used in the form its name was checked in; a name that leaves the folder (a row
    // that was edited) writes nothing.
    int result = kErrorFileNotCreatable;
    std::string folder = m_record.FilePath;
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    if (JoinInsideFolder(folder, m_record.FileName, m_target))
        result = m_record.Volume == "1" ? RunVolumes() : RunSingle();
    if (result != 0 && m_control.stop)
        result = kErrorStopped;
    m_task.m_errorCode = result;
    if (m_env.runningCount)
        --*m_env.runningCount;
    m_task.m_outcome = result == 0               ? kOutcomeFinished
                       : result == kErrorStopped ? kOutcomePaused
                                                 : kOutcomeFailed;
    m_task.m_workerEnded = true;
    if (m_env.wake)
        m_env.wake();
}

int DownloadWorker::RunSingle()
{
    int lastError = kErrorNoLength;
    for (int round = 0; round < kMaxRetries; ++round) {
        if (round > 0 && !m_control.SleepUnlessStopped(100))
            return kErrorStopped;
        if (m_control.stop)
            return kErrorStopped;
        std::string url;
        int64_t length = -1;
        int chosen = m_record.Source == 1
                         ? ChooseShareUrl(url, length)
                         : ChooseOwnUrl(m_record.Source == 8 ? m_record.NoZipUrlList : m_record.UrlList,
                                        false, url, length);
        if (chosen == kErrorNoLength) {
            lastError = chosen;
            continue;
        }
        if (chosen != 0)
            return chosen;

        int64_t recorded = ParseLength(m_record.FileLenth);
        int restart = RestartIfChanged(0, recorded, length);
        if (restart != 0)
            return restart;
        if (recorded != length) {
            m_record.FileLenth = LengthText(length);
            StoreTask();
        }

        bool needLength = false;
        int result = TransferRange(url, 0, length, needLength);
        if (needLength) {
            lastError = result;
            continue;
        }
        if (result != 0)
            return result;
        return Finish(m_record.NeedUnZip == "1");
    }
    return lastError;
}

int DownloadWorker::RunVolumes()
{
    m_control.volumeMode = true;
    const std::map<int, std::map<int, std::string>>* sets = &m_record.VolumeUrlList;
    if (m_record.Source == 1 && !m_record.VolumePanUrlList.empty())
        sets = &m_record.VolumePanUrlList;
    bool share = sets == &m_record.VolumePanUrlList;
    if (sets->empty() || sets->begin()->second.empty())
        return kErrorNoVolumes;
    std::vector<int> volumes;
    for (const auto& [number, url] : sets->begin()->second)
        volumes.push_back(number);
    m_control.volumeCount = static_cast<int>(volumes.size());

    auto recordedLength = [this](int volume) -> int64_t {
        auto it = m_record.VolumeFileLenth.find(volume);
        return it == m_record.VolumeFileLenth.end() ? -1 : ParseLength(it->second);
    };

    // Resume in the volume whose recorded range holds the file's size. Bytes past every recorded
    // volume belong to no known volume and are cut away.
    int64_t size = FileSize(m_target);
    int64_t base = 0;
    size_t first = 0;
    if (size > 0) {
        for (; first < volumes.size(); ++first) {
            int64_t length = recordedLength(volumes[first]);
            if (length < 0 || size < base + length)
                break;
            base += length;
        }
        bool inRecordedVolume = first < volumes.size() && recordedLength(volumes[first]) >= 0;
        if (size > base && !inRecordedVolume && !Truncate(base))
            return kErrorFileNotCreatable;
    }

    for (size_t index = first; index < volumes.size(); ++index) {
        int volume = volumes[index];
        m_control.currentVolume = volume;
        int lastError = kErrorNoLength;
        bool done = false;
        for (int round = 0; round < kMaxRetries && !done; ++round) {
            if (round > 0 && !m_control.SleepUnlessStopped(100))
                return kErrorStopped;
            if (m_control.stop)
                return kErrorStopped;
            std::string url;
            int64_t length = -1;
            bool anyLink = false;
            for (const auto& [setIndex, set] : *sets) {
                auto link = set.find(volume);
                if (link == set.end())
                    continue;
                std::string candidate = link->second;
                if (share) {
                    std::string direct;
                    if (!ResolveShare(candidate, direct))
                        continue;
                    candidate = direct;
                } else if (!NetCheckUrl(candidate, &m_control.stop)) {
                    continue;
                }
                anyLink = true;
                if (ObtainLength(candidate, share, length)) {
                    url = candidate;
                    break;
                }
            }
            if (m_control.stop)
                return kErrorStopped;
            if (!anyLink)
                return kErrorNoLink;
            if (url.empty()) {
                lastError = kErrorNoLength;
                continue;
            }

            int64_t recorded = recordedLength(volume);
            int restart = RestartIfChanged(base, recorded, length);
            if (restart != 0)
                return restart;
            if (recorded != length) {
                m_record.VolumeFileLenth[volume] = LengthText(length);
                // Lengths of later volumes no longer describe this file.
                m_record.VolumeFileLenth.erase(m_record.VolumeFileLenth.upper_bound(volume),
                                               m_record.VolumeFileLenth.end());
                StoreTask();
            }

            bool needLength = false;
            int result = TransferRange(url, base, length, needLength);
            if (needLength) {
                lastError = result;
                continue;
            }
            if (result != 0)
                return result;
            base += length;
            done = true;
        }
        if (!done)
            return lastError;
    }
    return Finish(m_record.NeedUnZip == "1");
}

int DownloadWorker::RestartIfChanged(int64_t base, int64_t recorded, int64_t length)
{
    // A range begun against another length, or longer than the server's file, holds another
    // version of the file: it starts again from zero rather than splice two versions, once a run
    // (a server whose file keeps changing fails the task instead of looping).
    int64_t have = FileSize(m_target) - base;
    bool changed = have > 0 && recorded >= 0 && recorded != length;
    if (!changed && have <= length)
        return 0;
    if (m_restartedOnce)
        return kErrorNoLength;
    m_restartedOnce = true;
    return Truncate(base) ? 0 : kErrorFileNotCreatable;
}

bool DownloadWorker::ObtainLength(std::string& url, bool byContentLength, int64_t& length)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt > 0 && !m_control.SleepUnlessStopped(byContentLength ? 50 : 10))
            return false;
        double found = -1.0;
        if (byContentLength) {
            found = NetGetContentLength(url, &m_control.stop);
        } else {
            std::string finalUrl;
            if (!NetResolveUrl(url, finalUrl, found, &m_control.stop))
                continue;
            if (!finalUrl.empty())
                url = finalUrl;
        }
        if (found >= 0) {
            length = static_cast<int64_t>(found);
            return true;
        }
    }
    return false;
}

int DownloadWorker::ChooseOwnUrl(const std::map<int, std::string>& urls, bool byContentLength,
                                 std::string& url, int64_t& length)
{
    bool anyAnswered = false;
    for (const auto& [order, candidate] : urls) {
        if (m_control.stop)
            return kErrorStopped;
        if (!byContentLength && !NetCheckUrl(candidate, &m_control.stop))
            continue;
        anyAnswered = true;
        std::string chosen = candidate;
        if (ObtainLength(chosen, byContentLength, length)) {
            url = chosen;
            return 0;
        }
    }
    if (m_control.stop)
        return kErrorStopped;
    return anyAnswered ? kErrorNoLength : kErrorNoLink;
}

bool DownloadWorker::ResolveShare(const std::string& link, std::string& direct)
{
    CShareLinkResolver resolver(m_env.downloadWindow, m_env.pictureFolder, m_record.GameId, &m_control.stop);
    return resolver.Resolve(link, direct) && !direct.empty();
}

int DownloadWorker::ChooseShareUrl(std::string& url, int64_t& length)
{
    if (m_record.PanUrlList.empty())
        return ChooseOwnUrl(m_record.UrlList, true, url, length);
    if (m_record.PanRealUrlList.empty()) {
        for (const auto& [index, link] : m_record.PanUrlList) {
            if (m_control.stop)
                return kErrorStopped;
            std::string direct;
            if (ResolveShare(link, direct)) {
                m_record.PanRealUrlList[index] = direct;
                StoreTask();
                break;
            }
        }
        if (m_record.PanRealUrlList.empty()) {
            if (m_control.stop)
                return kErrorStopped;
            return m_record.UrlList.empty() ? kErrorNoLink
                                            : ChooseOwnUrl(m_record.UrlList, true, url, length);
        }
    }
    for (auto it = m_record.PanRealUrlList.begin(); it != m_record.PanRealUrlList.end();) {
        std::string candidate = it->second;
        if (ObtainLength(candidate, true, length)) {
            url = candidate;
            return 0;
        }
        if (m_control.stop)
            return kErrorStopped;
        it = m_record.PanRealUrlList.erase(it);
    }
    // No resolved link is usable any more: the next round resolves the share links again.
    StoreTask();
    return kErrorNoLength;
}

bool DownloadWorker::Truncate(int64_t size)
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

bool DownloadWorker::StoreTask()
{
    if (!m_env.store)
        return false;
    return m_env.store->Submit(kStoreUpdateDownload, new DownloadTaskRecord(m_record), true, false);
}

int DownloadWorker::TransferRange(const std::string& url, int64_t base, int64_t length, bool& needLength)
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

int DownloadWorker::PerformSlice(const std::string& url, int64_t base, int64_t length, int64_t offset,
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
    sink.write = &DownloadWorker::WriteBlock;
    sink.writeData = this;
    sink.progress = &DownloadWorker::Progress;
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

void DownloadWorker::NoteWriteFailure()
{
    m_writeFailed = true;
    m_noSpace = errno == ENOSPC || errno == EDQUOT;
}

bool DownloadWorker::FlushPending()
{
    if (m_pending.empty())
        return true;
    bool written = WriteAll(m_fd, m_pending.data(), m_pending.size());
    m_pending.clear();
    if (!written)
        NoteWriteFailure();
    return written;
}

size_t DownloadWorker::WriteBlock(char* data, size_t size, size_t count, void* self)
{
    auto* worker = static_cast<DownloadWorker*>(self);
    size_t bytes = size * count;
    if (worker->m_control.stop)
        return 0;
    if (!worker->m_checkedStatus) {
        worker->m_checkedStatus = true;
        long status = 0;
        curl_easy_getinfo(worker->m_handle, CURLINFO_RESPONSE_CODE, &status);
        if (status == 200 && worker->m_offset > 0) {
            // The server ignored the range and sends the whole file: it replaces what was there.
            if (worker->m_hashed > worker->m_base)
                worker->ResetDigest();
            if (::ftruncate(worker->m_fd, static_cast<off_t>(worker->m_base)) != 0 ||
                ::lseek(worker->m_fd, static_cast<off_t>(worker->m_base), SEEK_SET) < 0) {
                worker->m_writeFailed = true;
                return 0;
            }
            worker->m_offset = 0;
            worker->m_position = worker->m_base;
            worker->m_pending.clear();
        } else if (status != 200 && status != 206) {
            // An error page is not a part of the file.
            worker->m_discardBody = true;
        }
        worker->m_bodyStart = worker->m_position;
    }
    if (worker->m_discardBody)
        return bytes;
    // The answer's bytes fill the range and no more: a server that sends past the length it gave
    // (an endless body, or a file that grew) ends the slice here rather than fill the disk.
    const int64_t room = worker->m_end - worker->m_position;
    if (static_cast<int64_t>(bytes) > room) {
        worker->m_overran = true;
        curl_off_t announced = -1;
        worker->m_overranAnnounced =
            curl_easy_getinfo(worker->m_handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK &&
            announced >= 0 && worker->m_bodyStart + announced > worker->m_end;
        if (room > 0)
            WriteBlock(data, 1, static_cast<size_t>(room), self);
        return 0;
    }
    // The library hands over at most 16 KiB a call; they are gathered into larger file writes.
    std::vector<char>& pending = worker->m_pending;
    if (pending.size() + bytes > kWriteBufferBytes && !worker->FlushPending())
        return 0;
    if (bytes >= kWriteBufferBytes) {
        if (!WriteAll(worker->m_fd, data, bytes)) {
            worker->NoteWriteFailure();
            return 0;
        }
    } else {
        pending.insert(pending.end(), data, data + bytes);
    }
    // The digest takes the block only when it continues exactly the bytes hashed so far; otherwise
    // the check reads the gap back from the file.
    if (worker->m_digest && worker->m_hashed == worker->m_position) {
        if (EVP_DigestUpdate(worker->m_digest.get(), data, bytes) == 1)
            worker->m_hashed += static_cast<int64_t>(bytes);
        else
            worker->ResetDigest();
    }
    worker->m_position += static_cast<int64_t>(bytes);
    worker->m_written += static_cast<int64_t>(bytes);
    return bytes;
}

int DownloadWorker::Progress(void* self, curl_off_t total, curl_off_t done, curl_off_t, curl_off_t)
{
    auto* worker = static_cast<DownloadWorker*>(self);
    if (worker->m_control.stop)
        return 1;
    if (done <= 0 || worker->m_discardBody)
        return 0;
    double offset = static_cast<double>(worker->m_offset);
    worker->ReportProgress(offset + static_cast<double>(done), offset + static_cast<double>(total), 2, false);
    return 0;
}

void DownloadWorker::ReportProgress(double done, double total, int kind, bool force)
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

void DownloadWorker::ExtractionProgress(int64_t done, int64_t total, void* self)
{
    auto* worker = static_cast<DownloadWorker*>(self);
    worker->ReportProgress(static_cast<double>(done), static_cast<double>(total), 5, false);
}

int DownloadWorker::Finish(bool extract)
{
    if (m_control.stop)
        return kErrorStopped;
    int64_t size = FileSize(m_target);
    // The no-zip source names the sizes of its files: the one saved must match.
    if (m_record.Source == 8) {
        // The sizes table keeps the server's names; the file name is their checked form.
        auto described =
            std::find_if(m_record.FileList.begin(), m_record.FileList.end(), [&](const auto& entry) {
                std::string name;
                return NormalizedRelativeFileName(entry.first, name) && name == m_record.FileName;
            });
        if (described != m_record.FileList.end() && ParseLength(described->second) >= 0 &&
            ParseLength(described->second) != size) {
            ::unlink(Native(m_target).c_str());
            m_record.FileLenth.clear();
            StoreTask();
            return kErrorVerification;
        }
    }
    // An archive whose digest the server gave must have it.
    if (m_record.Source != 8 && !m_record.FileMd5.empty()) {
        std::string digest;
        if (!TargetMd5(digest))
            return m_control.stop ? kErrorStopped : kErrorVerification;
        if (digest != m_record.FileMd5) {
            ::unlink(Native(m_target).c_str());
            m_record.FileLenth.clear();
            m_record.VolumeFileLenth.clear();
            StoreTask();
            return kErrorVerification;
        }
    }
    if (extract) {
        m_control.busy = true;
        m_task.m_outcome = kOutcomeExtracting;
        if (m_env.wake)
            m_env.wake();
        m_control.zip.m_pUser = this;
        m_control.zip.m_progressFun = &DownloadWorker::ExtractionProgress;
        if (m_env.freeBytes) {
            ZipLimits limits;
            limits.freeBytes = m_env.freeBytes;
            m_control.zip.SetLimits(std::move(limits));
        }
        int extracted = 0;
        try {
            extracted = m_control.zip.ZipExtract(AnsiToUtf16(m_target), AnsiToUtf16(m_record.FilePath));
        } catch (...) {
            extracted = 0;
        }
        m_control.busy = false;
        if (extracted != kZipExtractDone) {
            if (m_control.stop)
                return kErrorStopped;
            return extracted == kZipExtractNoSpace ? kErrorDiskFull : kErrorExtraction;
        }
        ReportProgress(m_lastDone, m_lastTotal, 5, true);
    }
    if (m_control.stop)
        return kErrorStopped;

    auto game = std::make_unique<GameinfoRecord>();
    game->GameId = m_record.GameId;
    game->Icon = m_record.Icon;
    game->Size =
        Megabytes(FolderBytes(Native(m_record.FilePath), extract ? Native(m_target) : std::string()));
    game->GameName = m_record.GameName;
    game->EmulatorShortName = m_record.EmulatorShortName;
    game->CategoryShortName = m_record.CategoryShortName;
    game->IsPlay = "0";
    game->IsPK = "0";
    game->FilePath = m_record.FilePath;
    game->FileName = m_record.FileName;
    game->EmulatorId = m_record.EmulatorId;
    game->CategoryId = m_record.CategoryId;
    game->PlayUrl = m_record.PlayUrl;

    // The library row first: a crash after it finds the game installed and its download row is
    // dropped at the next start; a crash before it resumes the download, archive still in place.
    // A game the store did not take is not installed: it would be gone at the next start with its
    // files left behind. The task fails and keeps its row and its files, so a later start finishes it.
    bool stored =
        m_env.store && m_env.store->Submit(kStoreAddGameinfo, new GameinfoRecord(*game), true, false);
    if (!stored) {
        platform::TraceF("download %s: the game's row was not stored\n", m_record.GameId.c_str());
        return kErrorNotStored;
    }
    m_env.store->Submit(kStoreRemoveDownload, new std::string(m_record.GameId), true, false);
    if (extract)
        ::unlink(Native(m_target).c_str());
    m_task.m_finished = std::move(game);
    return 0;
}
