#include "download/ZipEntryName.h"

#include "foundation/StringConv.h"
#include "platform/CodePage.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdint>

namespace zipname {

namespace {

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

} // namespace

bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

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

bool EntrySegments(std::string_view name, std::vector<std::string>& segments)
{
    if (name.find('\0') != std::string_view::npos)
        return false;
    if (HasDrivePrefix(name))
        name.remove_prefix(2);
    segments = SplitSegments(name);
    return std::none_of(segments.begin(), segments.end(), [](const std::string& s) { return s == ".."; });
}

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

std::optional<std::string> UnicodePathName(std::string_view extra, std::string_view rawName)
{
    constexpr unsigned kUnicodePathId = 0x7075;
    auto le = [&extra](size_t at, int bytes) {
        uint32_t value = 0;
        for (int i = bytes - 1; i >= 0; --i)
            value = (value << 8) | static_cast<unsigned char>(extra[at + static_cast<size_t>(i)]);
        return value;
    };
    for (size_t at = 0; at + 4 <= extra.size();) {
        const uint32_t id = le(at, 2);
        const size_t length = le(at + 2, 2);
        const size_t data = at + 4;
        if (length > extra.size() - data)
            return std::nullopt;
        // Version (1 byte), CRC-32 of the header's name (4 bytes), the name.
        if (id == kUnicodePathId && length > 5 && static_cast<unsigned char>(extra[data]) == 1) {
            const uLong nameCrc = crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(rawName.data()),
                                        static_cast<uInt>(rawName.size()));
            std::string name(extra.substr(data + 5, length - 5));
            if (le(data + 1, 4) == static_cast<uint32_t>(nameCrc) && IsValidUtf8(name))
                return name;
        }
        at = data + length;
    }
    return std::nullopt;
}

} // namespace zipname
