#include "foundation/SignedIndexVerifier.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

namespace {

IndexVerdict Refuse(IndexRefusal refusal, std::string detail)
{
    IndexVerdict verdict;
    verdict.refusal = refusal;
    verdict.detail = std::move(detail);
    return verdict;
}

} // namespace

CSignedIndexVerifier::CSignedIndexVerifier(CPublisherKeys keys, std::string serialPath)
    : m_keys(std::move(keys)), m_serialPath(std::move(serialPath))
{
}

std::string CSignedIndexVerifier::SignatureText(const std::string& keyId, std::string_view signature)
{
    return "ed25519 " + keyId + " " + ToHex(signature) + "\n";
}

const CPublisherKey* CSignedIndexVerifier::Resolve(const CSignedIndex& index, std::string_view id,
                                                   size_t depth) const
{
    if (const CPublisherKey* trusted = m_keys.Find(id))
        return trusted;
    if (depth >= kMaxChain)
        return nullptr;
    for (const KeyEndorsement& endorsement : index.Endorsements()) {
        if (endorsement.key.Id() != id)
            continue;
        const CPublisherKey* endorser = Resolve(index, endorsement.endorserId, depth + 1);
        if (endorser &&
            endorser->Verify(CSignedIndex::EndorsementMessage(endorsement.key), endorsement.signature))
            return &endorsement.key;
    }
    return nullptr;
}

IndexVerdict CSignedIndexVerifier::Verify(std::string_view indexBytes, std::string_view signatureText,
                                          CSignedIndex::Clock::time_point now)
{
    if (signatureText.size() > kMaxSignatureFileSize)
        return Refuse(IndexRefusal::Malformed, "the signature file is too large");
    while (!signatureText.empty() && (signatureText.back() == '\n' || signatureText.back() == '\r'))
        signatureText.remove_suffix(1);
    constexpr std::string_view scheme = "ed25519 ";
    const size_t idEnd = scheme.size() + 16;
    std::optional<std::string> signature;
    if (signatureText.size() == idEnd + 1 + 2 * CPublisherKey::kSignatureSize &&
        signatureText.substr(0, scheme.size()) == scheme && signatureText[idEnd] == ' ')
        signature = FromHex(signatureText.substr(idEnd + 1));
    if (!signature)
        return Refuse(IndexRefusal::Malformed, "the signature file is not \"ed25519 KEYID SIGNATURE\"");
    const std::string keyId(signatureText.substr(scheme.size(), 16));

    std::string error;
    std::optional<CSignedIndex> index = CSignedIndex::Parse(indexBytes, error);
    if (!index)
        return Refuse(IndexRefusal::Malformed, error);
    const CPublisherKey* signer = Resolve(*index, keyId, 0);
    if (!signer)
        return Refuse(IndexRefusal::UnknownKey,
                      "the index is signed by key " + keyId + ", which is not trusted");
    if (!signer->Verify(indexBytes, *signature))
        return Refuse(IndexRefusal::BadSignature, "the index does not match its signature");
    if (now >= index->Expires())
        return Refuse(IndexRefusal::Expired,
                      "the index expired at " + CSignedIndex::FormatTime(index->Expires()));
    const uint64_t highest = HighestSerial();
    if (index->Serial() < highest)
        return Refuse(IndexRefusal::Replayed, "the index has serial " + std::to_string(index->Serial()) +
                                                  ", older than " + std::to_string(highest));
    IndexVerdict verdict;
    if (index->Serial() > highest)
        verdict.serialSaved = SaveSerial(index->Serial());
    verdict.index = std::move(index);
    return verdict;
}

uint64_t CSignedIndexVerifier::HighestSerial() const
{
    std::ifstream in(m_serialPath, std::ios::binary);
    char text[32] = {};
    in.read(text, sizeof text - 1);
    uint64_t serial = 0;
    size_t digits = 0;
    for (; digits < static_cast<size_t>(in.gcount()) && text[digits] >= '0' && text[digits] <= '9';
         ++digits) {
        if (serial > (UINT64_MAX - 9) / 10)
            return 0;
        serial = serial * 10 + static_cast<uint64_t>(text[digits] - '0');
    }
    return digits == 0 ? 0 : serial;
}

bool CSignedIndexVerifier::SaveSerial(uint64_t serial) const
{
    const std::string temporary = m_serialPath + ".tmp";
    const std::string text = std::to_string(serial) + "\n";
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    bool written =
        ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && ::fsync(fd) == 0;
    written = ::close(fd) == 0 && written;
    if (!written || std::rename(temporary.c_str(), m_serialPath.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}
