// Reads arbitrary bytes as a signed index and its signature file: the input up to its first NUL is
// the signature text, the rest the index. Besides not crashing, nothing is ever taken, since no
// input can carry a signature of the fuzzer's own trusted key; and what parses keeps its bounds.
#include "foundation/SignedIndexVerifier.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

const CPublisherKey& TrustedKey()
{
    static const CPublisherKey key = *CPublisherKey::FromText(std::string(64, '7'));
    return key;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t split = input.find('\0');
    const std::string_view signature = input.substr(0, split);
    const std::string_view index = split == std::string_view::npos ? input : input.substr(split + 1);

    std::string error;
    if (std::optional<CSignedIndex> parsed = CSignedIndex::Parse(index, error)) {
        if (parsed->Files().size() > CSignedIndex::kMaxFiles ||
            parsed->Endorsements().size() > CSignedIndex::kMaxEndorsements)
            __builtin_trap();
        for (const SignedFile& file : parsed->Files())
            if (!CSignedIndex::IsSafePath(file.path) || parsed->Find(file.path) != &file)
                __builtin_trap();
    }

    CPublisherKeys keys;
    keys.Add(TrustedKey());
    // The serial file's path is in a folder that does not exist: nothing can be taken to write it.
    CSignedIndexVerifier verifier(keys, "/nonexistent-quokka-fuzz/serial");
    if (verifier.Verify(index, signature, CSignedIndex::Clock::time_point()).index)
        __builtin_trap();
    return 0;
}
