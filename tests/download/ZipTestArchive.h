#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

// Writes zip archives for the tests byte by byte as a hostile or foreign tool might: raw entry names
// in any encoding, any flags, host system and mode bits.
namespace ziptest {

struct Entry {
    std::string rawName;
    std::string data;
    unsigned long flag = 0;    // general-purpose flags, e.g. 0x800 for UTF-8 names
    unsigned host = 0;         // "version made by" host: 0 DOS, 3 Unix
    uint32_t unixMode = 0;     // stored in the high half of the external attributes
    bool stored = false;       // no compression, so the data lies in the file as it is
    uint8_t dosAttributes = 0; // low byte of the external attributes, e.g. 0x10 for a folder
    bool zip64 = false;        // sizes in a zip64 extra field
    std::string extra = {};    // extra fields, as bytes, in both the local header and the directory
    // Written as it is under this compression method (e.g. 12, bzip2) instead of deflated or stored.
    std::optional<unsigned> rawMethod = {};
    // What the headers claim instead of the data's real size and CRC; the data is deflated (or, with
    // rawMethod, written as it is) and the claims written around it.
    std::optional<uint64_t> declaredSize = {};
    std::optional<uint32_t> declaredCrc = {};
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

// An Info-ZIP Unicode Path extra field naming the entry whose header name is `headerName`.
std::string UnicodePathField(const std::string& headerName, const std::string& utf8Name, uint8_t version = 1);

// Raw names of an archive's entries, with their general-purpose flags.
std::vector<std::pair<std::string, unsigned long>> ListEntries(const std::string& path);

} // namespace ziptest
