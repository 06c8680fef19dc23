#pragma once

#include "foundation/OpenSslHolders.h"
#include "foundation/PublisherKey.h"

#include <optional>
#include <string>
#include <string_view>

// A publisher's Ed25519 private key: it signs indexes and endorses the publisher's next key. Only
// the publishing side (quokka-sign, quokka-demo) holds one; the program only verifies.
class CPublisherSigner {
public:
    CPublisherSigner(CPublisherSigner&&) = default;
    CPublisherSigner& operator=(CPublisherSigner&&) = default;
    // Wipes the seed from memory.
    ~CPublisherSigner();

    // A new random key. Throws std::runtime_error when OpenSSL cannot make one.
    static CPublisherSigner Generate();

    // Reads a private key file's text: '#' lines are comments, the first other line is
    // "ed25519-seed " and the 32-byte seed as 64 hex digits. Returns nothing for any other text (a
    // public key file among them).
    static std::optional<CPublisherSigner> FromText(std::string_view text);

    // The seed as the text FromText reads, with a comment line before it.
    std::string PrivateText() const;
    const CPublisherKey& PublicKey() const { return m_public; }

    // The 64-byte signature of `message`. Throws std::runtime_error when OpenSSL fails.
    std::string Sign(std::string_view message) const;

private:
    CPublisherSigner(EvpPkeyPtr key, std::string seed, CPublisherKey publicKey);

    EvpPkeyPtr m_key;
    std::string m_seed;
    CPublisherKey m_public;
};
