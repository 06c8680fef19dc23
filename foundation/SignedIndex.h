#pragma once

#include "foundation/PublisherKey.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// One file the publisher vouches for: its path relative to the download base, as the server
// serves it ("download/Update.zip"), its size, its SHA-256 (lower-case hex) and the publisher's
// version where the file has one (empty otherwise).
struct SignedFile {
    std::string path;
    uint64_t size = 0;
    std::string sha256;
    std::string version;
};

// A key that an older key vouches for, so an index signed by it is taken while the program still
// trusts only the older one: `signature` is the endorser's signature of EndorsementMessage(key).
struct KeyEndorsement {
    CPublisherKey key;
    std::string endorserId;
    std::string signature;
};

// What a local file or a received body is, measured against the index.
enum class FileCheck { Matches, NotListed, SizeDiffers, HashDiffers, Unreadable };

// The publisher's signed index, as parsed: every bound is checked here, so what a CSignedIndex
// holds is well formed. Parsing alone proves nothing about who wrote it: CSignedIndexVerifier
// checks the signature, expiry and serial before it hands one out.
class CSignedIndex {
public:
    static constexpr size_t kMaxIndexSize = 4 * 1024 * 1024;
    static constexpr size_t kMaxFiles = 65536;
    static constexpr size_t kMaxPathLength = 1024;
    static constexpr size_t kMaxVersionLength = 64;
    static constexpr size_t kMaxEndorsements = 8;
    // The index format this program reads; a document with another one is malformed to it.
    static constexpr int kFormat = 1;

    using Clock = std::chrono::system_clock;

    // Parses the index document. Returns nothing and sets `error` for anything past a bound or
    // malformed: not JSON, a missing or mistyped field, a path that is absolute, climbs with "..",
    // holds a backslash, an empty segment or a control character, or that is listed twice.
    static std::optional<CSignedIndex> Parse(std::string_view bytes, std::string& error);

    uint64_t Serial() const { return m_serial; }
    Clock::time_point Expires() const { return m_expires; }
    const std::vector<SignedFile>& Files() const { return m_files; }
    const std::vector<KeyEndorsement>& Endorsements() const { return m_endorsements; }

    // The entry for `path` (compared byte for byte); nullptr when the index does not list it.
    const SignedFile* Find(std::string_view path) const;

    // Whether `bytes` are the file listed as `path`.
    FileCheck CheckBytes(std::string_view path, std::string_view bytes) const;
    // Whether the local file `localPath` is the file listed as `path`: its size is compared
    // first, then its SHA-256 is computed by streaming at most the listed size (plus one byte).
    FileCheck CheckFile(std::string_view path, const std::string& localPath) const;

    // What an endorsement of `key` signs: a fixed prefix and the key's 32 bytes, which no index
    // document (a JSON object) can equal.
    static std::string EndorsementMessage(const CPublisherKey& key);

    // "YYYY-MM-DDTHH:MM:SSZ" for `time` (UTC, whole seconds) and back; nothing for other text.
    static std::string FormatTime(Clock::time_point time);
    static std::optional<Clock::time_point> ParseTime(std::string_view text);

    // Whether `path` may name a file of an index (the rules Parse applies).
    static bool IsSafePath(std::string_view path);

private:
    uint64_t m_serial = 0;
    Clock::time_point m_expires;
    std::vector<SignedFile> m_files;
    std::vector<KeyEndorsement> m_endorsements;
    std::unordered_map<std::string, size_t> m_byPath;
};

// Compares two dotted versions component by component, each by its leading digits, a missing
// component counting as 0 ("1.2" equals "1.2.0", "2.0" is newer than "1.9.9"). Returns a negative
// number, 0 or a positive number as `a` is older than, equal to or newer than `b`.
int ComparePublisherVersions(std::string_view a, std::string_view b);

// Whether installing `offered` over `installed` would go back to an older version.
inline bool IsVersionRollback(std::string_view offered, std::string_view installed)
{
    return ComparePublisherVersions(offered, installed) < 0;
}
