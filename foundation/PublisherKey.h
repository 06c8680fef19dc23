#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// One publisher's Ed25519 public key. Its id is the first 16 hex digits of the SHA-256 of its 32
// bytes: indexes and endorsements name the key that signed them by that id.
class CPublisherKey {
public:
    static constexpr size_t kKeySize = 32;
    static constexpr size_t kSignatureSize = 64;
    using Bytes = std::array<uint8_t, kKeySize>;

    explicit CPublisherKey(const Bytes& bytes);

    // Reads a key written as 64 hex digits or as 44 characters of base64; blanks around it are
    // ignored. Returns nothing for any other text.
    static std::optional<CPublisherKey> FromText(std::string_view text);

    const Bytes& KeyBytes() const { return m_bytes; }
    const std::string& Id() const { return m_id; }
    std::string Hex() const;

    // Whether `signature` (64 bytes) is this key's signature of `message`. Any other length, or a
    // key that OpenSSL refuses, is a failed check.
    bool Verify(std::string_view message, std::string_view signature) const;

    bool operator==(const CPublisherKey& other) const { return m_bytes == other.m_bytes; }

private:
    Bytes m_bytes;
    std::string m_id;
};

// Hex digits of `bytes`, lower case.
std::string ToHex(std::string_view bytes);
// The bytes of `hex` (either case, an even count of digits); nothing for anything else.
std::optional<std::string> FromHex(std::string_view hex);
// The SHA-256 of `bytes` as 64 lower-case hex digits.
std::string Sha256Hex(std::string_view bytes);
