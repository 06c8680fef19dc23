#include "foundation/PublisherKey.h"

#include "foundation/OpenSslHolders.h"

#include <openssl/sha.h>

#include <cctype>
#include <cstring>

namespace {

std::string_view Trimmed(std::string_view text)
{
    const char* blanks = " \t\r\n";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Standard base64 of exactly 32 bytes: 43 characters and one '='.
std::optional<std::string> KeyFromBase64(std::string_view text)
{
    if (text.size() != 44 || text[43] != '=')
        return std::nullopt;
    for (size_t i = 0; i < 43; ++i) {
        const char c = text[i];
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '/')
            return std::nullopt;
    }
    unsigned char out[33];
    if (EVP_DecodeBlock(out, reinterpret_cast<const unsigned char*>(text.data()), 44) != 33)
        return std::nullopt;
    return std::string(reinterpret_cast<const char*>(out), CPublisherKey::kKeySize);
}

} // namespace

std::string ToHex(std::string_view bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (unsigned char byte : bytes) {
        hex += digits[byte >> 4];
        hex += digits[byte & 15];
    }
    return hex;
}

std::optional<std::string> FromHex(std::string_view hex)
{
    if (hex.size() % 2 != 0)
        return std::nullopt;
    std::string bytes(hex.size() / 2, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        int high = HexValue(hex[2 * i]), low = HexValue(hex[2 * i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes[i] = static_cast<char>(high * 16 + low);
    }
    return bytes;
}

std::string Sha256Hex(std::string_view bytes)
{
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
    return ToHex(std::string_view(reinterpret_cast<const char*>(digest), sizeof digest));
}

CPublisherKey::CPublisherKey(const Bytes& bytes) : m_bytes(bytes)
{
    m_id = Sha256Hex(std::string_view(reinterpret_cast<const char*>(m_bytes.data()), m_bytes.size()))
               .substr(0, 16);
}

std::optional<CPublisherKey> CPublisherKey::FromText(std::string_view text)
{
    text = Trimmed(text);
    std::optional<std::string> raw = text.size() == 2 * kKeySize ? FromHex(text) : KeyFromBase64(text);
    if (!raw || raw->size() != kKeySize)
        return std::nullopt;
    Bytes bytes;
    std::memcpy(bytes.data(), raw->data(), kKeySize);
    return CPublisherKey(bytes);
}

std::string CPublisherKey::Hex() const
{
    return ToHex(std::string_view(reinterpret_cast<const char*>(m_bytes.data()), m_bytes.size()));
}

bool CPublisherKey::Verify(std::string_view message, std::string_view signature) const
{
    if (signature.size() != kSignatureSize)
        return false;
    EvpPkeyPtr key(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, m_bytes.data(), m_bytes.size()));
    EvpMdCtxPtr context(EVP_MD_CTX_new());
    if (!key || !context)
        return false;
    if (EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return false;
    return EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                            signature.size(), reinterpret_cast<const unsigned char*>(message.data()),
                            message.size()) == 1;
}
