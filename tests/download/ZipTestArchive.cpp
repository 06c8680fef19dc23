#include "tests/download/ZipTestArchive.h"

#include <unzip.h>
#include <zip.h>

#include <memory>

namespace ziptest {

namespace {

struct ZipCloser {
    void operator()(void* zf) const { zipClose(zf, nullptr); }
};
struct UnzCloser {
    void operator()(void* unz) const { unzClose(unz); }
};

zip_fileinfo InfoFor(const Entry& entry)
{
    zip_fileinfo zi{};
    zi.tmz_date.tm_sec = static_cast<uInt>(entry.date.tm_sec);
    zi.tmz_date.tm_min = static_cast<uInt>(entry.date.tm_min);
    zi.tmz_date.tm_hour = static_cast<uInt>(entry.date.tm_hour);
    zi.tmz_date.tm_mday = static_cast<uInt>(entry.date.tm_mday);
    zi.tmz_date.tm_mon = static_cast<uInt>(entry.date.tm_mon);
    zi.tmz_date.tm_year = static_cast<uInt>(entry.date.tm_year + 1900);
    zi.external_fa = static_cast<uLong>(entry.unixMode) << 16;
    return zi;
}

} // namespace

bool WriteArchive(const std::string& path, const std::vector<Entry>& entries)
{
    std::unique_ptr<void, ZipCloser> zf(zipOpen64(path.c_str(), APPEND_STATUS_CREATE));
    if (!zf)
        return false;
    for (const Entry& entry : entries) {
        zip_fileinfo zi = InfoFor(entry);
        if (zipOpenNewFileInZip4_64(zf.get(), entry.rawName.c_str(), &zi, nullptr, 0, nullptr, 0, nullptr,
                                    entry.stored ? 0 : Z_DEFLATED, entry.stored ? 0 : Z_DEFAULT_COMPRESSION,
                                    0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0,
                                    (entry.host << 8) | 20, entry.flag, 0) != ZIP_OK)
            return false;
        if (!entry.data.empty() && zipWriteInFileInZip(zf.get(), entry.data.data(),
                                                       static_cast<unsigned>(entry.data.size())) != ZIP_OK)
            return false;
        if (zipCloseFileInZip(zf.get()) != ZIP_OK)
            return false;
    }
    return zipClose(zf.release(), nullptr) == ZIP_OK;
}

bool WriteZeroArchive(const std::string& path, const std::string& name, int64_t size)
{
    std::unique_ptr<void, ZipCloser> zf(zipOpen64(path.c_str(), APPEND_STATUS_CREATE));
    if (!zf)
        return false;
    zip_fileinfo zi = InfoFor(Entry{});
    if (zipOpenNewFileInZip4_64(zf.get(), name.c_str(), &zi, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 1,
                                0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0, 20, 0,
                                size >= 0xffffffffLL) != ZIP_OK)
        return false;
    const std::string slice(1 << 20, '\0');
    for (int64_t written = 0; written < size; written += static_cast<int64_t>(slice.size())) {
        if (zipWriteInFileInZip(zf.get(), slice.data(), static_cast<unsigned>(slice.size())) != ZIP_OK)
            return false;
    }
    return zipCloseFileInZip(zf.get()) == ZIP_OK && zipClose(zf.release(), nullptr) == ZIP_OK;
}

std::vector<std::pair<std::string, unsigned long>> ListEntries(const std::string& path)
{
    std::vector<std::pair<std::string, unsigned long>> names;
    std::unique_ptr<void, UnzCloser> unz(unzOpen64(path.c_str()));
    if (!unz)
        return names;
    for (int rc = unzGoToFirstFile(unz.get()); rc == UNZ_OK; rc = unzGoToNextFile(unz.get())) {
        unz_file_info64 info;
        char name[1024];
        if (unzGetCurrentFileInfo64(unz.get(), &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK)
            break;
        names.emplace_back(
            std::string(name, info.size_filename < sizeof name ? info.size_filename : sizeof name),
            info.flag);
    }
    return names;
}

} // namespace ziptest
