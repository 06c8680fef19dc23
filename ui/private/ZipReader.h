#pragma once

// A small reader for zip archives held in memory (stored and deflated entries): the skin archive.

#include <map>
#include <string>
#include <vector>

namespace UiLib {

class ZipReader {
public:
    // Indexes the archive's central directory; false when the bytes are not a readable zip.
    bool Open(std::string bytes);
    bool IsOpen() const { return m_open; }
    // Reads an entry by name ('/' separators; letter case ignored when there is no exact match).
    bool Read(const std::string& name, std::string& out) const;
    std::vector<std::string> Names() const;

private:
    struct Entry {
        unsigned method = 0;
        size_t localOffset = 0;
        size_t compressed = 0;
        size_t size = 0;
    };
    const Entry* Find(const std::string& name) const;

    std::string m_bytes;
    std::map<std::string, Entry> m_entries;
    std::map<std::string, std::string> m_lowerNames;
    bool m_open = false;
};

} // namespace UiLib
