#include "foundation/IniFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::mutex& FileLock(const std::string& path)
{
    static std::mutex registryMutex;
    static std::map<std::string, std::unique_ptr<std::mutex>> locks;
    std::error_code ec;
    std::string key = std::filesystem::absolute(path, ec).lexically_normal().string();
    if (ec)
        key = path;
    std::lock_guard guard(registryMutex);
    auto& slot = locks[key];
    if (!slot)
        slot = std::make_unique<std::mutex>();
    return *slot;
}

struct Line {
    std::string text;
    std::string eol;
};

std::string_view Trim(std::string_view text)
{
    size_t start = text.find_first_not_of(" \t");
    if (start == std::string_view::npos)
        return {};
    size_t end = text.find_last_not_of(" \t");
    return text.substr(start, end - start + 1);
}

bool EqualNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// A line without the UTF-8 byte-order mark that editors on other systems put before a file's first
// line; the mark stays in the file when it is written again.
std::string_view WithoutByteOrderMark(std::string_view line)
{
    constexpr std::string_view kMark = "\xEF\xBB\xBF";
    return line.substr(0, kMark.size()) == kMark ? line.substr(kMark.size()) : line;
}

// The section name of a header line "[name]", or nullopt when the line is not a header.
std::optional<std::string_view> SectionName(std::string_view line)
{
    std::string_view trimmed = Trim(WithoutByteOrderMark(line));
    if (trimmed.size() < 2 || trimmed.front() != '[')
        return std::nullopt;
    size_t close = trimmed.find(']');
    if (close == std::string_view::npos)
        return std::nullopt;
    return Trim(trimmed.substr(1, close - 1));
}

// The key of a "key=value" line, or nullopt for comments, blanks and lines without '='.
std::optional<std::string_view> KeyName(std::string_view line)
{
    std::string_view trimmed = Trim(WithoutByteOrderMark(line));
    if (trimmed.empty() || trimmed.front() == ';')
        return std::nullopt;
    size_t equals = trimmed.find('=');
    if (equals == std::string_view::npos)
        return std::nullopt;
    return Trim(trimmed.substr(0, equals));
}

std::vector<Line> Split(const std::string& content)
{
    std::vector<Line> lines;
    size_t start = 0;
    while (start < content.size()) {
        size_t newline = content.find('\n', start);
        if (newline == std::string::npos) {
            lines.push_back({content.substr(start), ""});
            break;
        }
        size_t textEnd = newline > start && content[newline - 1] == '\r' ? newline - 1 : newline;
        lines.push_back(
            {content.substr(start, textEnd - start), content.substr(textEnd, newline + 1 - textEnd)});
        start = newline + 1;
    }
    return lines;
}

bool ReadFile(const std::string& path, std::string& content)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    content = buffer.str();
    return true;
}

// Writes the whole file through a temporary file in the same folder and a rename.
bool ReplaceFile(const std::string& path, const std::vector<Line>& lines)
{
    std::string content;
    for (const Line& line : lines)
        content += line.text + line.eol;
    std::string temp = path + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return false;
    struct stat original;
    ::fchmod(fd, ::stat(path.c_str(), &original) == 0 ? (original.st_mode & 07777) : 0644);
    size_t written = 0;
    while (written < content.size()) {
        ssize_t n = ::write(fd, content.data() + written, content.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += static_cast<size_t>(n);
    }
    bool ok = written == content.size() && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(temp.c_str(), path.c_str()) == 0)
        return true;
    ::unlink(temp.c_str());
    return false;
}

struct SectionRange {
    size_t header; // the header line; for the empty name, 0
    size_t first;  // the section's first line after its header
    size_t end;    // one past the section's last line
};

// The empty section name stands for the lines before the first header, as with the Windows profile
// functions; that section always exists, possibly without a line.
std::optional<SectionRange> FindSection(const std::vector<Line>& lines, std::string_view section)
{
    if (section.empty()) {
        size_t end = 0;
        while (end < lines.size() && !SectionName(lines[end].text))
            ++end;
        return SectionRange{0, 0, end};
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        auto name = SectionName(lines[i].text);
        if (!name || !EqualNoCase(*name, section))
            continue;
        size_t end = i + 1;
        while (end < lines.size() && !SectionName(lines[end].text))
            ++end;
        return SectionRange{i, i + 1, end};
    }
    return std::nullopt;
}

std::optional<size_t> FindKey(const std::vector<Line>& lines, const SectionRange& range, std::string_view key)
{
    for (size_t i = range.first; i < range.end; ++i) {
        auto name = KeyName(lines[i].text);
        if (name && EqualNoCase(*name, key))
            return i;
    }
    return std::nullopt;
}

std::string Eol(const std::vector<Line>& lines)
{
    for (const Line& line : lines)
        if (!line.eol.empty())
            return line.eol;
    return "\n";
}

// Cuts UTF-8 text after `units` UTF-16 units, never inside a character.
std::string CutToUnits(std::string value, size_t units)
{
    size_t used = 0;
    size_t i = 0;
    while (i < value.size()) {
        unsigned char c = static_cast<unsigned char>(value[i]);
        size_t length = c < 0x80             ? 1
                        : (c & 0xE0) == 0xC0 ? 2
                        : (c & 0xF0) == 0xE0 ? 3
                        : (c & 0xF8) == 0xF0 ? 4
                                             : 1;
        size_t cost = length == 4 ? 2 : 1;
        if (used + cost > units)
            break;
        used += cost;
        i += length;
    }
    value.resize(std::min(i, value.size()));
    return value;
}

} // namespace

std::string IniFile::GetString(const std::string& path, std::string_view section, std::string_view key,
                               std::string_view defaultValue)
{
    std::string content;
    {
        std::lock_guard lock(FileLock(path));
        if (!ReadFile(path, content))
            return CutToUnits(std::string(defaultValue), kMaxValueUnits);
    }
    std::vector<Line> lines = Split(content);
    auto range = FindSection(lines, section);
    auto at = range ? FindKey(lines, *range, key) : std::nullopt;
    if (!at)
        return CutToUnits(std::string(defaultValue), kMaxValueUnits);
    std::string_view text = lines[*at].text;
    std::string_view value = Trim(text.substr(text.find('=') + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return CutToUnits(std::string(value), kMaxValueUnits);
}

namespace {

constexpr std::string_view kLineBreaks("\r\n", 2);

bool HoldsLineBreak(std::string_view text)
{
    return text.find_first_of(kLineBreaks) != std::string_view::npos;
}

// Sets one key in the lines: replaces the first matching entry of the section, or adds the section
// or the key. `forceEol` gives a written line its line break even where the old one had none.
void SetEntry(std::vector<Line>& lines, std::string_view section, std::string_view key,
              std::string_view value, bool forceEol)
{
    const std::string eol = Eol(lines);
    std::string entry;
    entry.reserve(key.size() + value.size() + 1);
    entry.append(key).append("=").append(value);

    auto range = FindSection(lines, section);
    if (!range) {
        if (!lines.empty() && lines.back().eol.empty())
            lines.back().eol = eol;
        std::string header;
        header.reserve(section.size() + 2);
        header.append("[").append(section).append("]"); // appended in place: GCC 12 misreads "[" + s at -O3
        lines.push_back({header, eol});
        lines.push_back({entry, eol});
        return;
    }
    if (auto at = FindKey(lines, *range, key)) {
        lines[*at].text = entry;
        if (forceEol && lines[*at].eol.empty())
            lines[*at].eol = eol;
        return;
    }
    // A new key goes after the section's last non-blank line, so blank separators stay in place.
    size_t insertAt = range->end;
    while (insertAt > range->first && Trim(lines[insertAt - 1].text).empty())
        --insertAt;
    if (insertAt > 0 && lines[insertAt - 1].eol.empty())
        lines[insertAt - 1].eol = eol;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), Line{entry, eol});
}

} // namespace

bool IniFile::WriteString(const std::string& path, std::string_view section, std::string_view key,
                          std::string_view value)
{
    // A line break would end the entry early and turn the rest into lines of their own: keys or
    // sections that the caller never wrote.
    if (HoldsLineBreak(section) || HoldsLineBreak(key) || HoldsLineBreak(value))
        return false;
    std::lock_guard lock(FileLock(path));
    std::string content;
    ReadFile(path, content);
    std::vector<Line> lines = Split(content);
    SetEntry(lines, section, key, value, false);
    return ReplaceFile(path, lines);
}

bool IniFile::WriteStrings(const std::string& path, std::string_view section,
                           const std::vector<std::pair<std::string, std::string>>& entries)
{
    if (HoldsLineBreak(section))
        return false;
    for (const auto& [key, value] : entries)
        if (HoldsLineBreak(key) || HoldsLineBreak(value))
            return false;
    std::lock_guard lock(FileLock(path));
    std::string content;
    ReadFile(path, content);
    std::vector<Line> lines = Split(content);
    for (const auto& [key, value] : entries)
        SetEntry(lines, section, key, value, true);
    return ReplaceFile(path, lines);
}

bool IniFile::DeleteKey(const std::string& path, std::string_view section, std::string_view key)
{
    std::lock_guard lock(FileLock(path));
    std::string content;
    if (!ReadFile(path, content))
        return true;
    std::vector<Line> lines = Split(content);
    auto range = FindSection(lines, section);
    auto at = range ? FindKey(lines, *range, key) : std::nullopt;
    if (!at)
        return true;
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(*at));
    return ReplaceFile(path, lines);
}

bool IniFile::DeleteSection(const std::string& path, std::string_view section)
{
    std::lock_guard lock(FileLock(path));
    std::string content;
    if (!ReadFile(path, content))
        return true;
    std::vector<Line> lines = Split(content);
    auto range = FindSection(lines, section);
    if (!range)
        return true;
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(range->header),
                lines.begin() + static_cast<std::ptrdiff_t>(range->end));
    return ReplaceFile(path, lines);
}

std::vector<std::string> IniFile::GetKeys(const std::string& path, std::string_view section)
{
    std::string content;
    {
        std::lock_guard lock(FileLock(path));
        if (!ReadFile(path, content))
            return {};
    }
    std::vector<Line> lines = Split(content);
    std::vector<std::string> keys;
    auto range = FindSection(lines, section);
    if (!range)
        return keys;
    for (size_t i = range->first; i < range->end; ++i)
        if (auto name = KeyName(lines[i].text))
            keys.emplace_back(*name);
    return keys;
}
