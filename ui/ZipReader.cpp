#include "ui/private/ZipReader.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace UiLib {

namespace {

std::uint32_t U32(const std::string& b, size_t at)
{
    if (at + 4 > b.size())
        return 0;
    const auto* p = reinterpret_cast<const unsigned char*>(b.data() + at);
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}

std::uint16_t U16(const std::string& b, size_t at)
{
    if (at + 2 > b.size())
        return 0;
    const auto* p = reinterpret_cast<const unsigned char*>(b.data() + at);
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

constexpr size_t kMaxEntrySize = 256u * 1024u * 1024u;

} // namespace

bool ZipReader::Open(std::string bytes)
{
    m_bytes = std::move(bytes);
    m_entries.clear();
    m_lowerNames.clear();
    m_open = false;
    if (m_bytes.size() < 22)
        return false;
    // The end-of-central-directory record sits in the last 64 KiB + 22 bytes.
    size_t start = m_bytes.size() > 65557 ? m_bytes.size() - 65557 : 0;
    size_t eocd = std::string::npos;
    for (size_t i = m_bytes.size() - 22 + 1; i-- > start;) {
        if (U32(m_bytes, i) == 0x06054b50) {
            eocd = i;
            break;
        }
    }
    if (eocd == std::string::npos)
        return false;
    size_t count = U16(m_bytes, eocd + 10);
    size_t offset = U32(m_bytes, eocd + 16);
    for (size_t n = 0; n < count; ++n) {
        if (offset + 46 > m_bytes.size() || U32(m_bytes, offset) != 0x02014b50)
            return false;
        Entry entry;
        entry.method = U16(m_bytes, offset + 10);
        entry.compressed = U32(m_bytes, offset + 20);
        entry.size = U32(m_bytes, offset + 24);
        size_t nameLength = U16(m_bytes, offset + 28);
        size_t extraLength = U16(m_bytes, offset + 30);
        size_t commentLength = U16(m_bytes, offset + 32);
        entry.localOffset = U32(m_bytes, offset + 42);
        if (offset + 46 + nameLength > m_bytes.size())
            return false;
        std::string name = m_bytes.substr(offset + 46, nameLength);
        offset += 46 + nameLength + extraLength + commentLength;
        if (name.empty() || name.back() == '/')
            continue;
        m_lowerNames[Lower(name)] = name;
        m_entries[name] = entry;
    }
    m_open = true;
    return true;
}

const ZipReader::Entry* ZipReader::Find(const std::string& name) const
{
    auto it = m_entries.find(name);
    if (it != m_entries.end())
        return &it->second;
    auto lower = m_lowerNames.find(Lower(name));
    if (lower == m_lowerNames.end())
        return nullptr;
    return &m_entries.at(lower->second);
}

bool ZipReader::Read(const std::string& name, std::string& out) const
{
    const Entry* entry = Find(name);
    if (entry == nullptr || entry->size > kMaxEntrySize)
        return false;
    size_t local = entry->localOffset;
    if (local + 30 > m_bytes.size() || U32(m_bytes, local) != 0x04034b50)
        return false;
    size_t dataStart = local + 30 + U16(m_bytes, local + 26) + U16(m_bytes, local + 28);
    if (dataStart + entry->compressed > m_bytes.size())
        return false;
    if (entry->method == 0) {
        out.assign(m_bytes, dataStart, entry->compressed);
        return true;
    }
    if (entry->method != 8)
        return false;
    out.assign(entry->size, '\0');
    z_stream stream;
    std::memset(&stream, 0, sizeof(stream));
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        return false;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(m_bytes.data() + dataStart));
    stream.avail_in = static_cast<uInt>(entry->compressed);
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    int rc = inflate(&stream, Z_FINISH);
    size_t produced = out.size() - stream.avail_out;
    inflateEnd(&stream);
    if (rc != Z_STREAM_END || produced != entry->size)
        return false;
    return true;
}

std::vector<std::string> ZipReader::Names() const
{
    std::vector<std::string> names;
    for (const auto& [name, entry] : m_entries)
        names.push_back(name);
    return names;
}

} // namespace UiLib
