#include "download/Zip.h"

#include "download/ZipEntryName.h"
#include "download/ZipFormat.h"
#include "download/ZipJournal.h"

#include "foundation/StringConv.h"
#include "platform/Trace.h"

#include <unzip.h>
#include <zip.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <set>
#include <string_view>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

using namespace zipformat;

namespace {

// At most one progress report per this many milliseconds of each file's extraction.
constexpr auto kProgressInterval = std::chrono::milliseconds(50);
// How long a paused extraction sleeps between looks at its flags when nobody wakes it.
constexpr auto kPausePoll = std::chrono::milliseconds(10);
// Longest symbolic-link target an entry may hold.
constexpr size_t kMaxLinkTarget = 4096;

struct UnzCloser {
    void operator()(void* unz) const { unzClose(unz); }
};
using UnzHandle = std::unique_ptr<void, UnzCloser>;

// Closes the entry opened for reading unless Close was called; Close reports a CRC mismatch.
class CurrentEntry {
public:
    explicit CurrentEntry(void* unz) : m_unz(unz) {}
    ~CurrentEntry()
    {
        if (m_unz)
            unzCloseCurrentFile(m_unz);
    }
    CurrentEntry(const CurrentEntry&) = delete;
    CurrentEntry& operator=(const CurrentEntry&) = delete;
    bool Close()
    {
        int rc = unzCloseCurrentFile(m_unz);
        m_unz = nullptr;
        return rc == UNZ_OK;
    }

private:
    void* m_unz;
};

// The entry's DOS date and time, read as local time.
time_t EntryTime(const tm_unz& date)
{
    std::tm t{};
    t.tm_sec = static_cast<int>(date.tm_sec);
    t.tm_min = static_cast<int>(date.tm_min);
    t.tm_hour = static_cast<int>(date.tm_hour);
    t.tm_mday = static_cast<int>(date.tm_mday);
    t.tm_mon = static_cast<int>(date.tm_mon);
    t.tm_year = static_cast<int>(date.tm_year) - 1900;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

// Writes the whole block. Returns 0, or the errno of the failed write (EIO for a write that wrote
// nothing).
int WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return EIO;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}

int64_t SaturatingAdd(int64_t a, int64_t b)
{
    int64_t sum;
    return __builtin_add_overflow(a, b, &sum) ? INT64_MAX : sum;
}

int64_t SaturatingMultiply(int64_t a, int64_t b)
{
    int64_t product;
    return __builtin_mul_overflow(a, b, &product) ? INT64_MAX : product;
}

// The bytes free to this user on the folder's file system, or -1 when they cannot be read.
int64_t FreeBytesOf(const std::string& folder)
{
    struct statvfs fs;
    if (::statvfs(folder.c_str(), &fs) != 0)
        return -1;
    return SaturatingMultiply(static_cast<int64_t>(fs.f_bavail), static_cast<int64_t>(fs.f_frsize));
}

// Names of the compression methods an archive may hold that are not decoded here, for the failure text.
const char* MethodName(unsigned long method)
{
    switch (method) {
    case 9:
        return "deflate64";
    case 12:
        return "bzip2";
    case 14:
        return "LZMA";
    case 93:
        return "zstd";
    case 95:
        return "xz";
    case 98:
        return "PPMd";
    case 99:
        return "AES";
    default:
        return "unknown";
    }
}

constexpr unsigned long kMethodStored = 0;
constexpr unsigned long kMethodDeflated = 8;
// General-purpose flag bit: the entry is encrypted.
constexpr unsigned long kEncryptedFlag = 0x1;
// DOS attribute bit of a folder, in the low byte of the external attributes.
constexpr unsigned long kDosFolder = 0x10;

// Calls visit for each entry in archive order, the handle standing on it; stops at the first entry that
// cannot be reached or that visit fails. The count comes from the archive's directory, so an archive
// without entries visits nothing.
template <typename Visit> bool ForEachEntry(void* unz, Visit visit)
{
    unz_global_info64 global;
    if (unzGetGlobalInfo64(unz, &global) != UNZ_OK)
        return false;
    for (ZPOS64_T i = 0; i < global.number_entry; ++i) {
        if ((i == 0 ? unzGoToFirstFile(unz) : unzGoToNextFile(unz)) != UNZ_OK || !visit(unz))
            return false;
    }
    return true;
}

// Sum of the uncompressed sizes of all entries: 0 when the archive cannot be opened, -1 when an entry
// cannot be read.
int64_t ArchiveTotal(const std::string& archive)
{
    UnzHandle unz(unzOpen64(archive.c_str()));
    if (!unz)
        return 0;
    int64_t total = 0;
    bool ok = ForEachEntry(unz.get(), [&total](void* handle) {
        unz_file_info64 info;
        if (unzGetCurrentFileInfo64(handle, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
            return false;
        // Sizes past the signed range, or sums of them, stay at the largest value rather than wrap.
        const auto size = static_cast<int64_t>(std::min<ZPOS64_T>(info.uncompressed_size, INT64_MAX));
        total = SaturatingAdd(total, size);
        return true;
    });
    return ok ? total : -1;
}

// Whether the file is an archive without entries: only the end-of-directory record (22 bytes and its
// comment). The zip library takes that record at offset 0 for "not found" and cannot open such a file.
bool IsEmptyArchive(const std::string& path)
{
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0)
        return false;
    unsigned char record[22];
    struct stat st;
    if (::fstat(file.Get(), &st) != 0 || ::read(file.Get(), record, sizeof record) != sizeof record)
        return false;
    const unsigned commentLength = record[20] | (record[21] << 8);
    return record[0] == 'P' && record[1] == 'K' && record[2] == 5 && record[3] == 6 &&
           std::all_of(record + 4, record + 20, [](unsigned char b) { return b == 0; }) &&
           st.st_size == static_cast<off_t>(sizeof record + commentLength);
}

} // namespace

CZip::CZip()
    : m_pUser(nullptr), m_progressFun(nullptr), m_bytesTotal(0), m_bytesDone(0), m_exit(0), m_pause(0)
{
}

void CZip::Exit()
{
    {
        std::lock_guard<std::mutex> lock(m_waitMutex);
        m_exit = 1;
    }
    m_wake.notify_all();
}

void CZip::Pause(int pause)
{
    {
        std::lock_guard<std::mutex> lock(m_waitMutex);
        m_pause = pause;
    }
    m_wake.notify_all();
}

void CZip::SetPUser(void* pUser)
{
    m_pUser = pUser;
}

void CZip::SetExtractProgressFun(ZipExtractProgressFun fun)
{
    m_progressFun = fun;
}

bool CZip::WaitWhilePaused()
{
    if (m_pause.load() == 0)
        return true;
    std::unique_lock<std::mutex> lock(m_waitMutex);
    while (m_pause.load() != 0) {
        if (m_exit.load() != 0)
            return false;
        m_wake.wait_for(lock, kPausePoll);
    }
    return true;
}

void CZip::SetLimits(ZipLimits limits)
{
    m_limits = std::move(limits);
}

const std::string& CZip::LastFailure() const
{
    return m_lastFailure;
}

bool CZip::Fail(std::string why)
{
    platform::TraceF("zip: %s", why.c_str());
    m_lastFailure = std::move(why);
    return false;
}

// One extraction: where it writes, what it has written and how much more it may write.
struct CZip::Run {
    std::string dest; // ends with '/'
    std::string buffer;
    std::set<std::string> written; // files and links extracted so far
    CZipJournal journal;
    int64_t bound = 0;      // bytes the limits allow
    int64_t freeBytes = -1; // free at the start, -1 when unknown
    int64_t bytesWritten = 0;
    bool noSpace = false;
};

int CZip::ZipExtract(const std::u16string& archivePath, const std::u16string& destFolder)
{
    m_lastFailure.clear();
    std::string archive;
    std::string dest;
    try {
        archive = Utf16ToUtf8(archivePath);
        dest = Utf16ToUtf8(destFolder);
    } catch (const std::exception&) {
        Fail("a path is not valid text");
        return kZipExtractFailed;
    }

    m_bytesTotal = ArchiveTotal(archive);

    // An empty destination would put every entry under the root folder.
    if (dest.empty()) {
        Fail("no destination folder");
        return kZipExtractFailed;
    }
    // The destination is made before the archive is opened, so it exists even when the archive does not.
    while (dest.size() > 1 && dest.back() == '/')
        dest.pop_back();
    ::mkdir(dest.c_str(), 0777);
    if (dest.back() != '/')
        dest += '/';

    UnzHandle unz(unzOpen64(archive.c_str()));
    if (!unz) {
        if (IsEmptyArchive(archive))
            return kZipExtractDone;
        Fail("cannot open " + archive + " as an archive");
        return kZipExtractFailed;
    }

    struct stat archiveStat;
    const int64_t archiveBytes = ::stat(archive.c_str(), &archiveStat) == 0 ? archiveStat.st_size : 0;
    Run run{
        .dest = dest, .buffer = std::string(kBlockSize, '\0'), .written = {}, .journal = CZipJournal(dest)};
    run.bound = std::min(SaturatingAdd(SaturatingMultiply(archiveBytes, m_limits.ratio), m_limits.floorBytes),
                         m_limits.hardCapBytes);
    run.freeBytes = m_limits.freeBytes ? m_limits.freeBytes(dest) : FreeBytesOf(dest);

    // What the entries declare only refuses an archive early; what is written is counted as it goes.
    const int64_t declared = m_bytesTotal.load();
    if (declared > run.bound) {
        Fail("the entries declare " + std::to_string(declared) + " bytes, past the bound of " +
             std::to_string(run.bound) + " for an archive of " + std::to_string(archiveBytes));
        return kZipExtractFailed;
    }
    if (run.freeBytes >= 0 && declared > run.freeBytes) {
        Fail("the entries declare " + std::to_string(declared) + " bytes and " +
             std::to_string(run.freeBytes) + " are free");
        return kZipExtractNoSpace;
    }

    if (!ForEachEntry(unz.get(), [&](void* handle) { return ExtractCurrentEntry(handle, run); })) {
        if (m_lastFailure.empty())
            Fail("an entry cannot be read");
        run.journal.Rollback();
        return run.noSpace ? kZipExtractNoSpace : kZipExtractFailed;
    }
    run.journal.Commit();
    return kZipExtractDone;
}

bool CZip::WriteBlock(Run& run, int fd, const char* data, size_t size)
{
    const int64_t after = SaturatingAdd(run.bytesWritten, static_cast<int64_t>(size));
    if (run.freeBytes >= 0 && after > run.freeBytes && run.freeBytes < run.bound) {
        run.noSpace = true;
        return Fail("the disk holds " + std::to_string(run.freeBytes) +
                    " free bytes, fewer than the archive needs");
    }
    if (after > run.bound)
        return Fail("the archive writes more than its bound of " + std::to_string(run.bound) + " bytes");
    if (int error = WriteAll(fd, data, size); error != 0) {
        run.noSpace = error == ENOSPC || error == EDQUOT;
        return Fail(std::string("a write failed: ") + std::strerror(error));
    }
    run.bytesWritten = after;
    return true;
}

bool CZip::ExtractCurrentEntry(void* unz, Run& run)
{
    unz_file_info64 info;
    if (unzGetCurrentFileInfo64(unz, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        return false;
    // The whole name and extra data are read, however long: a cut name would write somewhere else.
    std::string rawName(info.size_filename, '\0');
    std::string extra(info.size_file_extra, '\0');
    if (unzGetCurrentFileInfo64(unz, &info, rawName.data(), rawName.size(), extra.data(), extra.size(),
                                nullptr, 0) != UNZ_OK)
        return false;

    std::optional<std::string> unicodeName = zipname::UnicodePathName(extra, rawName);
    const std::string name =
        unicodeName ? *unicodeName : zipname::DecodeEntryName(rawName, (info.flag & kUtf8NameFlag) != 0);
    std::vector<std::string> segments;
    if (!zipname::EntrySegments(name, segments) ||
        (!segments.empty() && run.journal.IsOwnFolder(segments[0])))
        return Fail("the entry name " + name + " leads out of the destination");
    const bool fromUnix = (info.version >> 8) == kHostUnix;
    const mode_t unixMode = fromUnix ? static_cast<mode_t>(info.external_fa >> 16) : 0;
    const bool isLink = fromUnix && S_ISLNK(unixMode);
    // A folder's name ends with a separator, or an empty entry is marked as one (archivers writing for
    // Windows may set only the attribute). An entry holding data stays a file whatever it is marked.
    const bool markedFolder = (info.external_fa & kDosFolder) != 0 || (fromUnix && S_ISDIR(unixMode));
    const bool isFolder = segments.empty() || (!name.empty() && zipname::IsSeparator(name.back())) ||
                          (markedFolder && info.uncompressed_size == 0);

    // A folder's data is never read, so its method does not matter. Any other entry in a method other
    // than stored or deflated would come out as its compressed bytes.
    std::optional<CurrentEntry> entry;
    if (!isFolder) {
        if (info.compression_method != kMethodStored && info.compression_method != kMethodDeflated)
            return Fail(name + " is compressed with method " + std::to_string(info.compression_method) +
                        " (" + MethodName(info.compression_method) + "), which cannot be decoded");
        if (info.flag & kEncryptedFlag)
            return Fail(name + " is encrypted");
        if (unzOpenCurrentFile(unz) != UNZ_OK)
            return Fail(name + " cannot be opened");
        entry.emplace(unz);
    }

    // Folders one level at a time, noting whether any of them is a link (which a link entry must not
    // be placed under, see LinkTargetStaysInside).
    std::string path = run.dest;
    const size_t folderCount = isFolder ? segments.size() : (segments.empty() ? 0 : segments.size() - 1);
    bool folderIsLink = false;
    for (size_t i = 0; i < folderCount; ++i) {
        path += segments[i];
        run.journal.MakeFolder(path);
        struct stat st;
        if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            folderIsLink = true;
        path += '/';
    }
    if (isFolder) {
        if (fromUnix && (unixMode & 0777) != 0 && !segments.empty())
            ::chmod(path.c_str(), (unixMode & 0777) | 0700);
        return true;
    }
    path += segments.back();

    // Two entries whose names lead to one file (a repeated name, or two names that decode alike)
    // would silently leave only the last one's data: the archive is refused instead.
    if (!run.written.insert(path).second)
        return Fail("two entries extract to " + path);

    // Whatever is at the path is replaced, never written through: it is moved aside first.
    if (!run.journal.ClearForNew(path))
        return Fail(path + " is a folder");

    if (m_exit.load() != 0)
        return Fail("stopped");
    uLong crc = crc32(0, nullptr, 0);
    auto read = [&]() {
        int n = unzReadCurrentFile(unz, run.buffer.data(), static_cast<unsigned>(run.buffer.size()));
        if (n > 0)
            crc = crc32(crc, reinterpret_cast<const Bytef*>(run.buffer.data()), static_cast<uInt>(n));
        return n;
    };
    // The library checks the CRC only when an entry ends at its declared size, so it is checked here
    // as well, over what was written.
    auto damaged = [&]() { return !entry->Close() || crc != info.crc; };

    if (isLink) {
        std::string target;
        for (;;) {
            int n = read();
            if (n < 0)
                return Fail(name + " is damaged");
            if (n == 0)
                break;
            target.append(run.buffer.data(), static_cast<size_t>(n));
            if (target.size() > kMaxLinkTarget)
                return Fail(name + " is a link with a target too long");
        }
        if (damaged())
            return Fail(name + " is damaged (CRC mismatch)");
        if (folderIsLink || !zipname::LinkTargetStaysInside(target, folderCount))
            return Fail(name + " is a link leading out of the destination");
        if (::symlink(target.c_str(), path.c_str()) != 0)
            return Fail("cannot make the link " + path);
        run.journal.Made(path);
        m_bytesDone += static_cast<int64_t>(target.size());
        return true;
    }

    UniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
    if (file.Get() < 0) {
        run.noSpace = errno == ENOSPC || errno == EDQUOT;
        return Fail("cannot create " + path + ": " + std::strerror(errno));
    }
    run.journal.Made(path);
    auto lastReport = std::chrono::steady_clock::now();
    for (;;) {
        if (!WaitWhilePaused())
            return Fail("stopped");
        int n = read();
        if (n < 0)
            return Fail(name + " is damaged");
        if (n == 0)
            break;
        if (!WriteBlock(run, file.Get(), run.buffer.data(), static_cast<size_t>(n)))
            return false;
        m_bytesDone += n;
        if (m_progressFun) {
            auto now = std::chrono::steady_clock::now();
            if (now - lastReport > kProgressInterval) {
                lastReport = now;
                m_progressFun(m_bytesDone.load(), m_bytesTotal.load(), m_pUser);
            }
        }
        if (m_exit.load() != 0)
            return Fail("stopped");
    }
    if (damaged())
        return Fail(name + " is damaged (CRC mismatch)");
    if (fromUnix && (unixMode & 0777) != 0)
        ::fchmod(file.Get(), (unixMode & 0777) | 0600);
    time_t when = EntryTime(info.tmu_date);
    if (when != static_cast<time_t>(-1)) {
        struct timespec times[2] = {{when, 0}, {when, 0}};
        ::futimens(file.Get(), times);
    }
    return true;
}
