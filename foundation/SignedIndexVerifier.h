#pragma once

#include "foundation/PublisherKeys.h"
#include "foundation/SignedIndex.h"

#include <optional>
#include <string>
#include <string_view>

// Why an index was not taken.
enum class IndexRefusal {
    None,
    Malformed,    // the index or its signature file does not parse, or passes a bound
    UnknownKey,   // signed by a key that no trusted key is, or endorses through a valid chain
    BadSignature, // the signature does not match the index bytes
    Expired,      // its expiry time has passed
    Replayed,     // its serial is lower than one already taken
    Unavailable,  // it could not be fetched (FetchSignedIndex)
};

// The outcome of a check: the index when it was taken, otherwise the refusal and a sentence for
// the log. `serialSaved` is false when a taken index's serial could not be written down (the index
// is still good; the next run then compares against the older serial).
struct IndexVerdict {
    std::optional<CSignedIndex> index;
    IndexRefusal refusal = IndexRefusal::None;
    std::string detail;
    bool serialSaved = true;
};

// Checks a signed index against the trusted keys, the clock and the highest serial taken before.
// The signature file is one line "ed25519 KEYID SIGNATURE" (the signer's key id, then 128 hex
// digits). The signer is a trusted key, or a key the index endorses, through at most kMaxChain
// endorsements, each made by a trusted key or by a key endorsed the same way. The highest serial
// taken lives in a small file at `serialPath` (decimal digits), replaced whole through a temporary
// file and a rename, so a crash leaves the old number or the new one. A missing or unreadable
// serial file counts as no serial seen. Calls block on the serial file only; one verifier is not
// meant for two threads at once.
class CSignedIndexVerifier {
public:
    static constexpr size_t kMaxChain = 4;
    static constexpr size_t kMaxSignatureFileSize = 512;

    CSignedIndexVerifier(CPublisherKeys keys, std::string serialPath);

    // Checks `indexBytes` and `signatureText` at time `now`. A taken index whose serial is higher
    // than the one on file is written down; one with the same serial is taken again unchanged (the
    // same index fetched twice); a lower one is Replayed.
    IndexVerdict Verify(std::string_view indexBytes, std::string_view signatureText,
                        CSignedIndex::Clock::time_point now);

    // The serial on file; 0 when there is none or it does not read.
    uint64_t HighestSerial() const;

    // The signature file's text for `signature` made by the key `keyId`.
    static std::string SignatureText(const std::string& keyId, std::string_view signature);

private:
    const CPublisherKey* Resolve(const CSignedIndex& index, std::string_view id, size_t depth) const;
    bool SaveSerial(uint64_t serial) const;

    CPublisherKeys m_keys;
    std::string m_serialPath;
};
