#include "download/Zip.h"

#include "download/ZipFormat.h"
#include "foundation/StringConv.h"

#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <vector>

namespace fs = std::filesystem;
using namespace zipformat;

namespace {

// Version made by for archives we write: Unix host, so the modes in the external attributes count.
constexpr unsigned long kVersionMadeBy = (kHostUnix << 8) | 20;
constexpr int kCompressLevel = Z_DEFAULT_COMPRESSION;

struct ZipCloser {
    void operator()(void* zf) const { zipClose(zf, nullptr); }
};
using ZipHandle = std::unique_ptr<void, ZipCloser>;

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
