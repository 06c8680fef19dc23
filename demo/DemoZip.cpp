#include "demo/DemoZip.h"

#include <minizip/zip.h>

#include <stdexcept>

CDemoZip::CDemoZip(const std::string& path) : m_path(path)
{
    m_zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    if (!m_zip)
        throw std::runtime_error("cannot create " + path);
}

CDemoZip::~CDemoZip()
{
    if (m_zip)
        zipClose(static_cast<zipFile>(m_zip), nullptr);
}

void CDemoZip::Add(const std::string& name, const std::string& content, unsigned unixMode)
{
    zip_fileinfo info{};
    info.tmz_date.tm_year = 2024;
    info.tmz_date.tm_mon = 0;
    info.tmz_date.tm_mday = 1;
    info.tmz_date.tm_hour = 12;
    int versionMadeBy = 0;
    if (unixMode != 0) {
        // "Made by Unix" so that readers honour the mode in the high bits of the external attributes.
        info.external_fa = static_cast<uLong>((0100000u | unixMode) << 16);
        versionMadeBy = 3 << 8 | 20;
    }
    int opened =
        zipOpenNewFileInZip4_64(static_cast<zipFile>(m_zip), name.c_str(), &info, nullptr, 0, nullptr, 0,
                                nullptr, Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, DEF_MEM_LEVEL,
                                Z_DEFAULT_STRATEGY, nullptr, 0, versionMadeBy, 0, 0);
    if (opened != ZIP_OK)
        throw std::runtime_error("cannot add " + name + " to " + m_path);
    if (zipWriteInFileInZip(static_cast<zipFile>(m_zip), content.data(),
                            static_cast<unsigned>(content.size())) != ZIP_OK ||
        zipCloseFileInZip(static_cast<zipFile>(m_zip)) != ZIP_OK)
        throw std::runtime_error("cannot write " + name + " to " + m_path);
}

void CDemoZip::Close()
{
    if (m_zip && zipClose(static_cast<zipFile>(m_zip), nullptr) != ZIP_OK) {
        m_zip = nullptr;
        throw std::runtime_error("cannot finish " + m_path);
    }
    m_zip = nullptr;
}
