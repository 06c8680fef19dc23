// quokka-sign: the publisher's tool for signed indexes.
//
//   quokka-sign keygen OUT_PRIVATE OUT_PUBLIC
//   quokka-sign endorse OLD_PRIVATE NEW_PUBLIC OUT_ENDORSEMENT
//   quokka-sign index DATA_FOLDER --key PRIVATE --serial N --expires-days D [--endorse FILE]...
//
// keygen writes a new key pair (the private file readable by its owner only); it and endorse never
// replace an existing file. endorse
// lets the key of OLD_PRIVATE vouch for NEW_PUBLIC, so programs that trust only the old key take
// indexes signed by the new one. index signs the files of DATA_FOLDER that the program runs or
// unpacks (see foundation/SignedIndexWriter.h) into download/index.json and download/index.sig.
#include "foundation/PublisherKeys.h"
#include "foundation/SignedIndexWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <exception>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr const char* kUsage =
    "usage: quokka-sign keygen OUT_PRIVATE OUT_PUBLIC\n"
    "       quokka-sign endorse OLD_PRIVATE NEW_PUBLIC OUT_ENDORSEMENT\n"
    "       quokka-sign index DATA_FOLDER --key PRIVATE --serial N --expires-days D [--endorse FILE]...\n";

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    in.seekg(0, std::ios::end);
    if (in.tellg() > 64 * 1024)
        throw std::runtime_error(path + " is too large for a key file");
    in.seekg(0);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Writes a new file: one already at `path` is never replaced, so a second keygen cannot destroy a
// publisher's key. The file has `mode` from its creation on.
void WriteNewFile(const std::string& path, const std::string& text, mode_t mode)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0)
        throw std::runtime_error("cannot create " + path + (errno == EEXIST ? ": it exists" : ""));
    bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    written = ::close(fd) == 0 && written;
    if (!written) {
        ::unlink(path.c_str());
        throw std::runtime_error("cannot write " + path);
    }
}

CPublisherSigner ReadSigner(const std::string& path)
{
    std::optional<CPublisherSigner> signer = CPublisherSigner::FromText(ReadText(path));
    if (!signer)
        throw std::runtime_error(path + " holds no private key");
    return std::move(*signer);
}

// A whole number from `text`, at least `least`; throws for anything else.
uint64_t Number(const std::string& text, uint64_t least, const char* what)
{
    size_t used = 0;
    uint64_t value = 0;
    try {
        value = std::stoull(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != text.size() || text.empty() || text[0] == '-' || value < least)
        throw std::runtime_error(std::string(what) + " must be a whole number of at least " +
                                 std::to_string(least));
    return value;
}

int Keygen(const std::vector<std::string>& args)
{
    if (args.size() != 2) {
        std::cerr << kUsage;
        return 2;
    }
    CPublisherSigner signer = CPublisherSigner::Generate();
    WriteNewFile(args[0], signer.PrivateText(), 0600);
    WriteNewFile(args[1],
                 "# Quokka publisher public key (Ed25519, hex), id " + signer.PublicKey().Id() + "\n" +
                     signer.PublicKey().Hex() + "\n",
                 0644);
    std::cout << "key " << signer.PublicKey().Id() << "\n";
    return 0;
}

int Endorse(const std::vector<std::string>& args)
{
    if (args.size() != 3) {
        std::cerr << kUsage;
        return 2;
    }
    CPublisherSigner old = ReadSigner(args[0]);
    CPublisherKeys keys;
    if (keys.AddFromText(ReadText(args[1])) != 0 || keys.Keys().size() != 1)
        throw std::runtime_error(args[1] + " does not hold one public key");
    WriteNewFile(args[2],
                 CSignedIndexWriter::EndorsementText(CSignedIndexWriter::Endorse(old, keys.Keys()[0])), 0644);
    return 0;
}

int Index(const std::vector<std::string>& args)
{
    if (args.empty()) {
        std::cerr << kUsage;
        return 2;
    }
    std::string keyFile, serialText, daysText;
    std::vector<KeyEndorsement> endorsements;
    for (size_t i = 1; i < args.size(); i += 2) {
        if (i + 1 >= args.size()) {
            std::cerr << kUsage;
            return 2;
        }
        const std::string& option = args[i];
        const std::string& value = args[i + 1];
        if (option == "--key") {
            keyFile = value;
        } else if (option == "--serial") {
            serialText = value;
        } else if (option == "--expires-days") {
            daysText = value;
        } else if (option == "--endorse") {
            std::optional<KeyEndorsement> endorsement = CSignedIndexWriter::ParseEndorsement(ReadText(value));
            if (!endorsement)
                throw std::runtime_error(value + " holds no endorsement");
            endorsements.push_back(*endorsement);
        } else {
            std::cerr << kUsage;
            return 2;
        }
    }
    if (keyFile.empty() || serialText.empty() || daysText.empty()) {
        std::cerr << kUsage;
        return 2;
    }
    if (endorsements.size() > CSignedIndex::kMaxEndorsements)
        throw std::runtime_error("at most " + std::to_string(CSignedIndex::kMaxEndorsements) +
                                 " endorsements");
    const uint64_t serial = Number(serialText, 1, "--serial");
    const uint64_t days = Number(daysText, 1, "--expires-days");
    if (days > 3660)
        throw std::runtime_error("--expires-days must be at most 3660");
    CPublisherSigner signer = ReadSigner(keyFile);
    const auto expires = std::chrono::system_clock::now() + std::chrono::days(days);
    const std::vector<SignedFile> files = CSignedIndexWriter::CollectFiles(args[0]);
    CSignedIndexWriter::Write(args[0], signer,
                              CSignedIndexWriter::Document(files, serial, expires, endorsements));
    std::cout << "signed " << files.size() << " files with key " << signer.PublicKey().Id() << ", serial "
              << serial << ", expires " << CSignedIndex::FormatTime(expires) << "\n";
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::cerr << kUsage;
        return 2;
    }
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    try {
        if (command == "keygen")
            return Keygen(args);
        if (command == "endorse")
            return Endorse(args);
        if (command == "index")
            return Index(args);
    } catch (const std::exception& e) {
        std::cerr << "quokka-sign: " << e.what() << "\n";
        return 1;
    }
    std::cerr << kUsage;
    return 2;
}
