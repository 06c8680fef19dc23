#include "foundation/SignedIndexWriter.h"

#include "foundation/SignedIndexVerifier.h"

#include <json/json.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

constexpr const char* kEmulatorList = "update/emulators.json";
constexpr const char* kEmulatorListServed = "download/pc/update/emulators.php";

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw std::runtime_error("cannot read " + path.string());
    return bytes;
}

void WriteFileReplacing(const fs::path& path, const std::string& bytes)
{
    const fs::path temporary = path.string() + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out.flush()) {
            std::error_code ignored;
            fs::remove(temporary, ignored);
            throw std::runtime_error("cannot write " + path.string());
        }
    }
    std::error_code error;
    fs::rename(temporary, path, error);
    if (error) {
        fs::remove(temporary, error);
        throw std::runtime_error("cannot write " + path.string());
    }
}

// The path below the download base that a download address names: "{{origin}}/download/x.zip" and
// "http://host:port/download/x.zip" both name "download/x.zip".
std::string ServedPath(const std::string& url)
{
    static const std::string origin = "{{origin}}/";
    if (url.compare(0, origin.size(), origin) == 0)
        return url.substr(origin.size());
    size_t scheme = url.find("://");
    if (scheme == std::string::npos)
        return url;
    size_t slash = url.find('/', scheme + 3);
    return slash == std::string::npos ? std::string() : url.substr(slash + 1);
}

Json::Value ReadJson(const fs::path& path)
{
    Json::Value value;
    if (!fs::exists(path))
        return value;
    Json::CharReaderBuilder builder;
    std::string text = ReadFile(path), error;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    if (!reader->parse(text.data(), text.data() + text.size(), &value, &error))
        throw std::runtime_error(path.string() + " is not JSON: " + error);
    return value;
}

// The publisher's versions of the packages the update manifest and the emulator list name.
std::map<std::string, std::string> PackageVersions(const fs::path& root)
{
    std::map<std::string, std::string> versions;
    auto note = [&](const Json::Value& entry) {
        if (entry.isObject() && entry["downloadurl"].isString() && entry["version"].isString())
            versions[ServedPath(entry["downloadurl"].asString())] = entry["version"].asString();
    };
    note(ReadJson(root / "update/index.json"));
    const Json::Value list = ReadJson(root / kEmulatorList);
    if (list.isObject())
        for (const std::string& member : list.getMemberNames())
            if (list[member].isArray())
                for (const Json::Value& entry : list[member])
                    note(entry);
    return versions;
}

SignedFile Measure(const fs::path& file, std::string servedPath)
{
    const std::string bytes = ReadFile(file);
    SignedFile signedFile;
    signedFile.path = std::move(servedPath);
    signedFile.size = bytes.size();
    signedFile.sha256 = Sha256Hex(bytes);
    return signedFile;
}

// A download address the server redirects to a listed file (a mirror's address) is listed too, with
// that file's size and hash, so a download is checked under the address it was asked for.
void AddRedirectedPaths(const Json::Value& redirects, std::vector<SignedFile>& files)
{
    if (!redirects.isObject())
        return;
    std::map<std::string, size_t> listed;
    for (size_t i = 0; i < files.size(); ++i)
        listed.emplace(files[i].path, i);
    for (const std::string& from : redirects.getMemberNames()) {
        if (!redirects[from].isString() || from.empty() || from.front() != '/')
            continue;
        const std::string to = redirects[from].asString();
        auto target = listed.find(to.empty() || to.front() != '/' ? std::string() : to.substr(1));
        const std::string path = from.substr(1);
        if (target == listed.end() || listed.count(path) || !CSignedIndex::IsSafePath(path))
            continue;
        SignedFile redirected = files[target->second];
        redirected.path = path;
        files.push_back(std::move(redirected));
    }
}

} // namespace

std::vector<SignedFile> CSignedIndexWriter::CollectFiles(const std::string& dataDir)
{
    const fs::path root(dataDir);
    const std::map<std::string, std::string> versions = PackageVersions(root);
    std::vector<SignedFile> files;
    const fs::path download = root / "download";
    if (fs::is_directory(download)) {
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(download)) {
            if (!entry.is_regular_file() || entry.is_symlink())
                continue;
            const std::string relative = fs::relative(entry.path(), root).generic_string();
            if (relative == kIndexFile || relative == kSignatureFile)
                continue;
            if (!CSignedIndex::IsSafePath(relative))
                throw std::runtime_error(relative + " cannot be named in an index");
            files.push_back(Measure(entry.path(), relative));
        }
    }
    if (fs::is_regular_file(root / kEmulatorList))
        files.push_back(Measure(root / kEmulatorList, kEmulatorListServed));
    AddRedirectedPaths(ReadJson(root / "redirects.json"), files);
    for (SignedFile& file : files) {
        auto version = versions.find(file.path);
        if (version != versions.end())
            file.version = version->second.substr(0, CSignedIndex::kMaxVersionLength);
    }
    std::sort(files.begin(), files.end(),
              [](const SignedFile& a, const SignedFile& b) { return a.path < b.path; });
    if (files.size() > CSignedIndex::kMaxFiles)
        throw std::runtime_error("more than " + std::to_string(CSignedIndex::kMaxFiles) + " files to sign");
    return files;
}

std::string CSignedIndexWriter::Document(const std::vector<SignedFile>& files, uint64_t serial,
                                         CSignedIndex::Clock::time_point expires,
                                         const std::vector<KeyEndorsement>& endorsements)
{
    Json::Value document;
    document["format"] = CSignedIndex::kFormat;
    document["serial"] = Json::UInt64(serial);
    document["expires"] = CSignedIndex::FormatTime(expires);
    document["keys"] = Json::Value(Json::arrayValue);
    for (const KeyEndorsement& endorsement : endorsements) {
        Json::Value entry;
        entry["key"] = endorsement.key.Hex();
        entry["endorsedBy"] = endorsement.endorserId;
        entry["signature"] = ToHex(endorsement.signature);
        document["keys"].append(entry);
    }
    document["files"] = Json::Value(Json::arrayValue);
    for (const SignedFile& file : files) {
        Json::Value entry;
        entry["path"] = file.path;
        entry["size"] = Json::UInt64(file.size);
        entry["sha256"] = file.sha256;
        if (!file.version.empty())
            entry["version"] = file.version;
        document["files"].append(entry);
    }
    Json::StreamWriterBuilder builder;
    builder["indentation"] = " ";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, document) + "\n";
}

void CSignedIndexWriter::Write(const std::string& dataDir, const CPublisherSigner& signer,
                               const std::string& document)
{
    const fs::path root(dataDir);
    fs::create_directories(root / "download");
    const std::string signature =
        CSignedIndexVerifier::SignatureText(signer.PublicKey().Id(), signer.Sign(document));
    WriteFileReplacing(root / kIndexFile, document);
    WriteFileReplacing(root / kSignatureFile, signature);
}

KeyEndorsement CSignedIndexWriter::Endorse(const CPublisherSigner& endorser, const CPublisherKey& key)
{
    return KeyEndorsement{key, endorser.PublicKey().Id(),
                          endorser.Sign(CSignedIndex::EndorsementMessage(key))};
}

std::string CSignedIndexWriter::EndorsementText(const KeyEndorsement& endorsement)
{
    return endorsement.endorserId + " " + endorsement.key.Hex() + " " + ToHex(endorsement.signature) + "\n";
}

std::optional<KeyEndorsement> CSignedIndexWriter::ParseEndorsement(std::string_view text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    if (text.size() != 16 + 1 + 64 + 1 + 128 || text[16] != ' ' || text[81] != ' ')
        return std::nullopt;
    std::optional<std::string> endorser = FromHex(text.substr(0, 16));
    std::optional<CPublisherKey> key = CPublisherKey::FromText(text.substr(17, 64));
    std::optional<std::string> signature = FromHex(text.substr(82));
    if (!endorser || !key || !signature)
        return std::nullopt;
    return KeyEndorsement{*key, ToHex(*endorser), *signature};
}
