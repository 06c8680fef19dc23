#include "download/Zip.h"

#include "foundation/StringConv.h"
#include "platform/CodePage.h"
#include "platform/Trace.h"

#include <unzip.h>
#include <zip.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <set>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Data moves in blocks of this size. Larger blocks (64 KiB) measured no faster: the inflater's own
// buffering dominates, and the write calls saved are a few percent at most.
constexpr size_t kBlockSize = 4096;
// At most one progress report per this many milliseconds of each file's extraction.
constexpr auto kProgressInterval = std::chrono::milliseconds(50);
// How long a paused extraction sleeps between looks at its flags when nobody wakes it.
constexpr auto kPausePoll = std::chrono::milliseconds(10);
// Longest symbolic-link target an entry may hold.
constexpr size_t kMaxLinkTarget = 4096;
// General-purpose flag bit: the entry's name is UTF-8.
constexpr unsigned long kUtf8NameFlag = 0x800;
// "Version made by" host systems.
constexpr unsigned kHostUnix = 3;
// Version made by for archives we write: Unix host, so the modes in the external attributes count.
constexpr unsigned long kVersionMadeBy = (kHostUnix << 8) | 20;
constexpr int kCompressLevel = Z_DEFAULT_COMPRESSION;

struct UnzCloser {
    void operator()(void* unz) const { unzClose(unz); }
};
using UnzHandle = std::unique_ptr<void, UnzCloser>;

struct ZipCloser {
    void operator()(void* zf) const { zipClose(zf, nullptr); }
};
using ZipHandle = std::unique_ptr<void, ZipCloser>;

// Owns a file descriptor.
class UniqueFd {
public:
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

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

bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

bool HasDrivePrefix(std::string_view name)
{
    return name.size() >= 2 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':';
}

// Splits on both separators, dropping empty and "." segments.
std::vector<std::string> SplitSegments(std::string_view text)
{
    std::vector<std::string> segments;
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !IsSeparator(text[i]))
            continue;
        std::string_view piece = text.substr(start, i - start);
        if (!piece.empty() && piece != ".")
            segments.emplace_back(piece);
        start = i + 1;
    }
    return segments;
}

// Replaces each byte at or above 0x80 with U+FFFD, keeping ASCII.
std::string LossyName(const std::string& raw)
{
    std::string lossy;
    for (char c : raw) {
        if (static_cast<unsigned char>(c) < 0x80)
            lossy.push_back(c);
        else
            lossy += "\xEF\xBF\xBD";
    }
    return lossy;
}

bool IsValidUtf8(const std::string& text)
{
    try {
        Utf8ToUtf16(text);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// The entry name as UTF-8. Names flagged UTF-8 are taken as they are. Unflagged names come from
// archivers that store the writer's code page, which for the archives this program meets is that of
// a Chinese Windows machine: a name that is valid UTF-8 is taken as UTF-8 (many archivers write UTF-8
// without the flag), any other is decoded as code page 936 whatever this machine's locale is. A name
// valid in neither keeps its ASCII bytes and gets U+FFFD for the others, as the system's code-page
// conversion does, rather than failing the archive.
std::string DecodeEntryName(const std::string& raw, bool utf8)
{
    if (IsValidUtf8(raw))
        return raw;
    if (utf8)
        return LossyName(raw);
    std::string decoded;
    for (const char* encoding : {"CP936", "GBK"}) {
        if (platform::IconvConvert(encoding, "UTF-8", raw, decoded) == platform::IconvResult::Ok)
            return decoded;
    }
    return LossyName(raw);
}

// The path segments under the destination folder for an entry name, or false when the name must not
// be extracted. Leading separators and a drive prefix are dropped, so absolute names land inside the
// folder; a ".." segment or a NUL byte rejects the name, since nothing sensible inside the folder
// corresponds to it.
bool EntrySegments(std::string_view name, std::vector<std::string>& segments)
{
    if (name.find('\0') != std::string_view::npos)
        return false;
    if (HasDrivePrefix(name))
        name.remove_prefix(2);
    segments = SplitSegments(name);
    return std::none_of(segments.begin(), segments.end(), [](const std::string& s) { return s == ".."; });
}

// Whether a link placed in a folder `folderDepth` levels below the destination, with no link among
// those folders, resolves inside the destination. Only relative targets qualify whose ".." segments
// all come first and climb no higher than the destination. Every link made this way points at the
// destination or below it, so paths built downward through such links stay inside as well.
bool LinkTargetStaysInside(std::string_view target, size_t folderDepth)
{
    if (target.empty() || target.find('\0') != std::string_view::npos || IsSeparator(target[0]) ||
        HasDrivePrefix(target))
        return false;
    std::vector<std::string> segments = SplitSegments(target);
    size_t climbs = 0;
    while (climbs < segments.size() && segments[climbs] == "..")
        ++climbs;
    if (climbs > folderDepth)
        return false;
    return std::none_of(segments.begin() + climbs, segments.end(),
                        [](const std::string& s) { return s == ".."; });
}

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

bool WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

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
        total += static_cast<int64_t>(info.uncompressed_size);
        return true;
    });
    return ok ? total : -1;
}

void MakeFolder(const std::string& path)
{
    ::mkdir(path.c_str(), 0777);
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

int CZip::ZipExtract(const std::u16string& archivePath, const std::u16string& destFolder)
{
    std::string archive;
    std::string dest;
    try {
        archive = Utf16ToUtf8(archivePath);
        dest = Utf16ToUtf8(destFolder);
    } catch (const std::exception&) {
        return 0;
    }

    m_bytesTotal = ArchiveTotal(archive);

    // An empty destination would put every entry under the root folder.
    if (dest.empty())
        return 0;
    // The destination is made before the archive is opened, so it exists even when the archive does not.
    while (dest.size() > 1 && dest.back() == '/')
        dest.pop_back();
    MakeFolder(dest);
    if (dest.back() != '/')
        dest += '/';

    UnzHandle unz(unzOpen64(archive.c_str()));
    if (!unz)
        return IsEmptyArchive(archive) ? 1 : 0;

    std::string buffer(kBlockSize, '\0');
    std::set<std::string> written;
    return ForEachEntry(unz.get(),
                        [&](void* handle) { return ExtractCurrentEntry(handle, dest, buffer, written); })
               ? 1
               : 0;
}

bool CZip::ExtractCurrentEntry(void* unz, const std::string& dest, std::string& buffer,
                               std::set<std::string>& written)
{
    unz_file_info64 info;
    if (unzGetCurrentFileInfo64(unz, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        return false;
    // The whole name is read, however long: a cut name would write somewhere else.
    std::string rawName(info.size_filename, '\0');
    if (unzGetCurrentFileInfo64(unz, &info, rawName.data(), rawName.size(), nullptr, 0, nullptr, 0) != UNZ_OK)
        return false;
    if (unzOpenCurrentFile(unz) != UNZ_OK)
        return false;
    CurrentEntry entry(unz);

    const std::string name = DecodeEntryName(rawName, (info.flag & kUtf8NameFlag) != 0);
    std::vector<std::string> segments;
    if (!EntrySegments(name, segments))
        return false;
    const bool isFolder = !name.empty() && IsSeparator(name.back());
    const bool fromUnix = (info.version >> 8) == kHostUnix;
    const mode_t unixMode = fromUnix ? static_cast<mode_t>(info.external_fa >> 16) : 0;
    const bool isLink = fromUnix && S_ISLNK(unixMode);

    // Folders one level at a time, noting whether any of them is a link (which a link entry must not
    // be placed under, see LinkTargetStaysInside).
    std::string path = dest;
    const size_t folderCount = isFolder ? segments.size() : (segments.empty() ? 0 : segments.size() - 1);
    bool folderIsLink = false;
    for (size_t i = 0; i < folderCount; ++i) {
        path += segments[i];
        MakeFolder(path);
        struct stat st;
        if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            folderIsLink = true;
        path += '/';
    }
    if (isFolder || segments.empty()) {
        if (fromUnix && (unixMode & 0777) != 0 && !segments.empty())
            ::chmod(path.c_str(), (unixMode & 0777) | 0700);
        return true;
    }
    path += segments.back();

    // Two entries whose names lead to one file (a repeated name, or two names that decode alike)
    // would silently leave only the last one's data: the archive is refused instead.
    if (!written.insert(path).second) {
        platform::TraceF("zip: two entries extract to %s; the archive is refused", path.c_str());
        return false;
    }

    // Whatever is at the path is replaced, never written through: a link there is removed first.
    struct stat existing;
    if (::lstat(path.c_str(), &existing) == 0 && (S_ISLNK(existing.st_mode) || isLink) &&
        !S_ISDIR(existing.st_mode))
        ::unlink(path.c_str());

    if (isLink) {
        if (m_exit.load() != 0)
            return false;
        std::string target;
        for (;;) {
            int n = unzReadCurrentFile(unz, buffer.data(), static_cast<unsigned>(buffer.size()));
            if (n < 0)
                return false;
            if (n == 0)
                break;
            target.append(buffer.data(), static_cast<size_t>(n));
            if (target.size() > kMaxLinkTarget)
                return false;
        }
        if (!entry.Close() || folderIsLink || !LinkTargetStaysInside(target, folderCount))
            return false;
        if (::symlink(target.c_str(), path.c_str()) != 0)
            return false;
        m_bytesDone += static_cast<int64_t>(target.size());
        return true;
    }

    UniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666));
    if (file.Get() < 0)
        return false;
    auto lastReport = std::chrono::steady_clock::now();
    if (m_exit.load() != 0)
        return false;
    for (;;) {
        if (!WaitWhilePaused())
            return false;
        int n = unzReadCurrentFile(unz, buffer.data(), static_cast<unsigned>(buffer.size()));
        if (n < 0)
            return false;
        if (n == 0)
            break;
        if (!WriteAll(file.Get(), buffer.data(), static_cast<size_t>(n)))
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
            return false;
    }
    // A damaged entry (CRC mismatch) fails rather than passing for a good file.
    if (!entry.Close())
        return false;
    if (fromUnix && (unixMode & 0777) != 0)
        ::fchmod(file.Get(), (unixMode & 0777) | 0600);
    time_t when = EntryTime(info.tmu_date);
    if (when != static_cast<time_t>(-1)) {
        struct timespec times[2] = {{when, 0}, {when, 0}};
        ::futimens(file.Get(), times);
    }
    return true;
}

namespace {

// The DOS-style date for a zip entry from a modification time, in local time.
zip_fileinfo EntryInfo(const struct stat& st)
{
    zip_fileinfo zi{};
    std::tm local{};
    time_t when = st.st_mtime;
    localtime_r(&when, &local);
    zi.tmz_date.tm_sec = static_cast<uInt>(local.tm_sec);
    zi.tmz_date.tm_min = static_cast<uInt>(local.tm_min);
    zi.tmz_date.tm_hour = static_cast<uInt>(local.tm_hour);
    zi.tmz_date.tm_mday = static_cast<uInt>(local.tm_mday);
    zi.tmz_date.tm_mon = static_cast<uInt>(local.tm_mon);
    zi.tmz_date.tm_year = static_cast<uInt>(local.tm_year + 1900);
    // Unix mode in the high half; the DOS folder and read-only bits in the low byte.
    zi.external_fa = (static_cast<uLong>(st.st_mode) << 16) | (S_ISDIR(st.st_mode) ? 0x10 : 0) |
                     ((st.st_mode & S_IWUSR) ? 0 : 0x01);
    return zi;
}

// Adds one file (or, for a name ending with '/', one folder) to the archive. `name` is UTF-8.
bool AddToArchive(void* zf, const std::string& path, const std::string& name, bool utf8Names,
                  std::string& buffer)
{
    std::string storedName;
    try {
        storedName = utf8Names ? name : Utf8ToOem(name);
    } catch (const std::exception&) {
        return false;
    }
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return false;
    const bool isFolder = S_ISDIR(st.st_mode);
    UniqueFd file(isFolder ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!isFolder && file.Get() < 0)
        return false;

    zip_fileinfo zi = EntryInfo(st);
    const int zip64 = !isFolder && st.st_size >= 0xffffffffLL;
    if (zipOpenNewFileInZip4_64(zf, storedName.c_str(), &zi, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                kCompressLevel, 0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0,
                                kVersionMadeBy, utf8Names ? kUtf8NameFlag : 0, zip64) != ZIP_OK)
        return false;
    bool ok = true;
    while (!isFolder) {
        ssize_t n = ::read(file.Get(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            ok = false;
        if (n <= 0)
            break;
        if (zipWriteInFileInZip(zf, buffer.data(), static_cast<unsigned>(n)) != ZIP_OK) {
            ok = false;
            break;
        }
    }
    return zipCloseFileInZip(zf) == ZIP_OK && ok;
}

} // namespace

int CZip::ZipCompress(const std::u16string& sourcePath, const std::u16string& archivePath, bool utf8Names)
{
    std::string source;
    std::string archive;
    try {
        source = Utf16ToUtf8(sourcePath);
        archive = Utf16ToUtf8(archivePath);
    } catch (const std::exception&) {
        return 0;
    }
    while (source.size() > 1 && source.back() == '/')
        source.pop_back();

    ZipHandle zf(zipOpen64(archive.c_str(), APPEND_STATUS_CREATE));
    if (!zf)
        return 0;

    std::string buffer(kBlockSize, '\0');
    bool ok = true;
    std::error_code ec;
    if (fs::is_directory(source, ec)) {
        // Entries in name order, so the same folder always packs the same way. The archive itself is
        // left out when it is written inside the folder.
        std::vector<fs::path> paths;
        for (auto it = fs::recursive_directory_iterator(source, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (!fs::equivalent(it->path(), archive, ec))
                paths.push_back(it->path());
            ec.clear();
        }
        if (ec)
            ok = false;
        std::sort(paths.begin(), paths.end());
        for (const fs::path& path : paths) {
            std::string name = path.lexically_relative(source).generic_string();
            if (fs::is_directory(path, ec))
                name += '/';
            ok = AddToArchive(zf.get(), path.string(), name, utf8Names, buffer) && ok;
        }
    } else {
        ok = AddToArchive(zf.get(), source, fs::path(source).filename().string(), utf8Names, buffer);
    }
    if (zipClose(zf.release(), nullptr) != ZIP_OK)
        ok = false;
    return ok ? 1 : 0;
}
