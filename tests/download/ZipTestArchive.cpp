#include "tests/download/ZipTestArchive.h"

#include <unzip.h>
#include <zip.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <tuple>
#include <zlib.h>

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
    zi.external_fa = (static_cast<uLong>(entry.unixMode) << 16) | entry.dosAttributes;
    return zi;
}

uint32_t Crc(const std::string& data)
{
    return static_cast<uint32_t>(crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(data.data()),
                                       static_cast<uInt>(data.size())));
}

// The data as a raw deflate stream, as a zip entry holds it.
std::string Deflate(const std::string& data)
{
    z_stream stream{};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, data.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

void PutLe(std::string& out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

// Sets the compression method of the named entry in its local header and its directory record.
bool SetMethod(const std::string& path, const std::string& name, unsigned method)
{
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    int patched = 0;
    // Local headers hold the method at 8 and the name at 30; directory records at 10 and 46.
    for (const auto& [signature, methodAt, nameAt] : {std::tuple{std::string("PK\x03\x04", 4), 8, 30},
                                                      std::tuple{std::string("PK\x01\x02", 4), 10, 46}}) {
        for (size_t at = bytes.find(signature); at != std::string::npos; at = bytes.find(signature, at + 1)) {
            if (bytes.compare(at + nameAt, name.size(), name) != 0)
                continue;
            bytes[at + methodAt] = static_cast<char>(method & 0xff);
            bytes[at + methodAt + 1] = static_cast<char>(method >> 8);
            ++patched;
        }
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    return patched == 2 && static_cast<bool>(out);
}

} // namespace

bool WriteArchive(const std::string& path, const std::vector<Entry>& entries)
{
    std::unique_ptr<void, ZipCloser> zf(zipOpen64(path.c_str(), APPEND_STATUS_CREATE));
    if (!zf)
        return false;
    for (const Entry& entry : entries) {
        zip_fileinfo zi = InfoFor(entry);
        const bool raw = entry.rawMethod || entry.declaredSize || entry.declaredCrc;
        // The library writes no other method than these two: others are written as stored and their
        // method set afterwards.
        const int method = entry.stored || entry.rawMethod ? 0 : Z_DEFLATED;
        const std::string payload =
            raw && !entry.rawMethod && method == Z_DEFLATED ? Deflate(entry.data) : entry.data;
        const auto extraSize = static_cast<uInt>(entry.extra.size());
        const char* extra = entry.extra.empty() ? nullptr : entry.extra.data();
        if (zipOpenNewFileInZip4_64(zf.get(), entry.rawName.c_str(), &zi, extra, extraSize, extra, extraSize,
                                    nullptr, method, entry.stored ? 0 : Z_DEFAULT_COMPRESSION, raw ? 1 : 0,
                                    -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0,
                                    (entry.host << 8) | 20, entry.flag, entry.zip64 ? 1 : 0) != ZIP_OK)
            return false;
        if (!payload.empty() &&
            zipWriteInFileInZip(zf.get(), payload.data(), static_cast<unsigned>(payload.size())) != ZIP_OK)
            return false;
        const int closed =
            raw ? zipCloseFileInZipRaw64(zf.get(), entry.declaredSize.value_or(entry.data.size()),
                                         entry.declaredCrc.value_or(Crc(entry.data)))
                : zipCloseFileInZip(zf.get());
        if (closed != ZIP_OK)
            return false;
    }
    if (zipClose(zf.release(), nullptr) != ZIP_OK)
        return false;
    for (const Entry& entry : entries) {
        if (entry.rawMethod && !SetMethod(path, entry.rawName, *entry.rawMethod))
            return false;
    }
    return true;
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

std::string UnicodePathField(const std::string& headerName, const std::string& utf8Name, uint8_t version)
{
    std::string field;
    PutLe(field, 0x7075, 2);
    PutLe(field, 5 + utf8Name.size(), 2);
    field.push_back(static_cast<char>(version));
    PutLe(field, Crc(headerName), 4);
    return field + utf8Name;
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
