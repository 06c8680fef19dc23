#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// Writes zip archives for the tests byte by byte as a hostile or foreign tool might: raw entry names
// in any encoding, any flags, host system and mode bits.
namespace ziptest {

struct Entry {
    std::string rawName;
    std::string data;
    unsigned long flag = 0; // general-purpose flags, e.g. 0x800 for UTF-8 names
    unsigned host = 0;      // "version made by" host: 0 DOS, 3 Unix
    uint32_t unixMode = 0;  // stored in the high half of the external attributes
    bool stored = false;    // no compression, so the data lies in the file as it is
    std::tm date = DefaultDate();

    static std::tm DefaultDate()
    {
        std::tm t{};
        t.tm_year = 2020 - 1900;
        t.tm_mon = 4;
        t.tm_mday = 17;
        t.tm_hour = 10;
        t.tm_min = 20;
        t.tm_sec = 30;
        return t;
    }
};

bool WriteArchive(const std::string& path, const std::vector<Entry>& entries);

// An archive with one deflated entry of `size` zero bytes, written in slices so no big buffer exists.
bool WriteZeroArchive(const std::string& path, const std::string& name, int64_t size);

// Raw names of an archive's entries, with their general-purpose flags.
std::vector<std::pair<std::string, unsigned long>> ListEntries(const std::string& path);

} // namespace ziptest
