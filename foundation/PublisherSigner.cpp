#include "foundation/PublisherSigner.h"

#include <openssl/rand.h>

#include <cstring>
#include <stdexcept>

namespace {

// Marks the line of a private key, so that a public key file given in its place is refused.
constexpr std::string_view kSeedPrefix = "ed25519-seed ";

std::optional<CPublisherKey> PublicOf(EVP_PKEY* key)
{
    CPublisherKey::Bytes bytes;
    size_t length = bytes.size();
    if (EVP_PKEY_get_raw_public_key(key, bytes.data(), &length) != 1 || length != bytes.size())
        return std::nullopt;
    return CPublisherKey(bytes);
}

} // namespace

CPublisherSigner::CPublisherSigner(EvpPkeyPtr key, std::string seed, CPublisherKey publicKey)
    : m_key(std::move(key)), m_seed(std::move(seed)), m_public(publicKey)
{
}

CPublisherSigner::~CPublisherSigner()
{
    OPENSSL_cleanse(m_seed.data(), m_seed.size());
}

CPublisherSigner CPublisherSigner::Generate()
{
    unsigned char seed[CPublisherKey::kKeySize];
    if (RAND_bytes(seed, sizeof seed) != 1)
        throw std::runtime_error("no random bytes for a new key");
    std::optional<CPublisherSigner> signer = FromText(
        std::string(kSeedPrefix) + ToHex(std::string_view(reinterpret_cast<const char*>(seed), sizeof seed)));
    OPENSSL_cleanse(seed, sizeof seed);
    if (!signer)
        throw std::runtime_error("cannot make an Ed25519 key");
    return std::move(*signer);
}

std::optional<CPublisherSigner> CPublisherSigner::FromText(std::string_view text)
{
    std::string_view line;
    while (!text.empty()) {
        size_t end = text.find('\n');
        line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.remove_suffix(1);
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        if (!line.empty() && line.front() != '#')
            break;
        line = {};
    }
    if (line.size() != kSeedPrefix.size() + 2 * CPublisherKey::kKeySize || !line.starts_with(kSeedPrefix))
        return std::nullopt;
    std::optional<std::string> seed = FromHex(line.substr(kSeedPrefix.size()));
    if (!seed)
        return std::nullopt;
    EvpPkeyPtr key(EVP_PKEY_new_raw_private_key(
        EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char*>(seed->data()), seed->size()));
    if (!key)
        return std::nullopt;
    std::optional<CPublisherKey> publicKey = PublicOf(key.get());
    if (!publicKey)
        return std::nullopt;
    return CPublisherSigner(std::move(key), std::move(*seed), *publicKey);
}

std::string CPublisherSigner::PrivateText() const
{
    return "# Quokka publisher private key. Keep it offline.\n" + std::string(kSeedPrefix) + ToHex(m_seed) +
           "\n";
}

std::string CPublisherSigner::Sign(std::string_view message) const
{
    EvpMdCtxPtr context(EVP_MD_CTX_new());
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, m_key.get()) != 1)
        throw std::runtime_error("cannot start an Ed25519 signature");
    std::string signature(CPublisherKey::kSignatureSize, '\0');
    size_t length = signature.size();
    if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                       reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1 ||
        length != signature.size())
        throw std::runtime_error("cannot sign with Ed25519");
    return signature;
}
