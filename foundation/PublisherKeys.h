#pragma once

#include "foundation/PublisherKey.h"

#include <string>
#include <string_view>
#include <vector>

// The publisher keys the program trusts without asking anyone: the one built in (the build's
// QUOKKA_PUBLISHER_KEY file) and, for self-hosters, those of a `trusted-keys` file beside the
// program. Keys endorsed by a trusted key are not kept here: they travel inside each signed index
// and are checked with it (CSignedIndexVerifier).
class CPublisherKeys {
public:
    // The most keys a trusted-keys file adds; lines past them are ignored.
    static constexpr size_t kMaxFileKeys = 64;
    // A trusted-keys file larger than this is not read.
    static constexpr size_t kMaxFileSize = 64 * 1024;

    // Only the built-in key.
    static CPublisherKeys BuiltIn();
    // The built-in key plus those of `programFolder`/trusted-keys when it exists.
    static CPublisherKeys ForProgram(const std::string& programFolder);

    // Adds a key unless it is already trusted.
    void Add(const CPublisherKey& key);

    // Adds the keys of a trusted-keys text: one key a line (64 hex digits or 44 characters of
    // base64), '#' starting a comment, blank lines ignored. Returns how many lines held something
    // that is not a key; those lines are skipped.
    size_t AddFromText(std::string_view text);

    // Reads `path` as a trusted-keys file. Returns false when it cannot be read or is too large
    // (then no key of it is added).
    bool AddFromFile(const std::string& path);

    // The trusted key with this id; nullptr when there is none.
    const CPublisherKey* Find(std::string_view id) const;
    const std::vector<CPublisherKey>& Keys() const { return m_keys; }

private:
    std::vector<CPublisherKey> m_keys;
};
