#include "demo/DemoSigning.h"

#include "foundation/PublisherSigner.h"
#include "foundation/SignedIndexWriter.h"

#include <chrono>
#include <stdexcept>

#ifndef QUOKKA_DEMO_PUBLISHER_SEED
#error "QUOKKA_DEMO_PUBLISHER_SEED holds the demo publisher's private key (set by demo/CMakeLists.txt)"
#endif

void SignDemoData(const std::string& dataDir)
{
    std::optional<CPublisherSigner> signer = CPublisherSigner::FromText(QUOKKA_DEMO_PUBLISHER_SEED);
    if (!signer)
        throw std::logic_error("the demo publisher key does not read as a key");
    const auto now = std::chrono::system_clock::now();
    const auto serial = std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
    const std::string document =
        CSignedIndexWriter::Document(CSignedIndexWriter::CollectFiles(dataDir), static_cast<uint64_t>(serial),
                                     now + std::chrono::days(kDemoIndexDays), {});
    CSignedIndexWriter::Write(dataDir, *signer, document);
}
