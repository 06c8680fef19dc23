#pragma once

#include "foundation/PublisherSigner.h"
#include "foundation/SignedIndex.h"

#include <string>
#include <vector>

// What the publisher signs of a data folder (the folder a server serves, as quokka-demo writes
// it), and the writing of the index and its signature into it. Used by quokka-sign and
// quokka-demo; the program itself never signs.
class CSignedIndexWriter {
public:
    // Where the index and its signature go, relative to the data folder; the server serves them
    // as "download/index.json" and "download/index.sig".
    static constexpr const char* kIndexFile = "download/index.json";
    static constexpr const char* kSignatureFile = "download/index.sig";

    // The files of `dataDir` that matter, sorted by path: every regular file under download/
    // (not links, not the index and its signature), named by their path there, and the emulator
    // list update/emulators.json, named "download/pc/update/emulators.php" as the program asks
    // for it. An address below download/ that redirects.json sends to one of those files is listed
    // with that file's size and hash. The update package and each emulator package carry the
    // version that the update manifest (update/index.json) or the emulator list gives for them.
    // Throws std::runtime_error when a file cannot be read.
    static std::vector<SignedFile> CollectFiles(const std::string& dataDir);

    // The index document's text.
    static std::string Document(const std::vector<SignedFile>& files, uint64_t serial,
                                CSignedIndex::Clock::time_point expires,
                                const std::vector<KeyEndorsement>& endorsements);

    // Signs the document and writes both files into `dataDir`, each through a temporary file and
    // a rename. Throws std::runtime_error when a file cannot be written.
    static void Write(const std::string& dataDir, const CPublisherSigner& signer,
                      const std::string& document);

    // An endorsement of `key` by `endorser`, and its one-line text "ENDORSERID KEY SIGNATURE"
    // (all hex) that quokka-sign writes and reads back.
    static KeyEndorsement Endorse(const CPublisherSigner& endorser, const CPublisherKey& key);
    static std::string EndorsementText(const KeyEndorsement& endorsement);
    static std::optional<KeyEndorsement> ParseEndorsement(std::string_view text);
};
