#include "foundation/SignedIndex.h"

#include "foundation/OpenSslHolders.h"

#include <json/json.h>
#include <openssl/sha.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <memory>

namespace {

constexpr std::string_view kEndorsementPrefix = "quokka-endorse-v1\n";

bool IsLowerHex(std::string_view text)
{
    return text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

std::optional<std::string> StringField(const Json::Value& object, const char* name, size_t maxLength)
{
    const Json::Value& value = object[name];
    if (!value.isString())
        return std::nullopt;
    std::string text = value.asString();
    if (text.size() > maxLength)
        return std::nullopt;
    return text;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

// The digits of a version component from its start, without leading zeros.
std::string_view LeadingDigits(std::string_view part)
{
    size_t end = 0;
    while (end < part.size() && part[end] >= '0' && part[end] <= '9')
        ++end;
    std::string_view digits = part.substr(0, end);
    while (!digits.empty() && digits.front() == '0')
        digits.remove_prefix(1);
    return digits;
}

std::optional<CSignedIndex> Fail(std::string& error, std::string text)
{
    error = std::move(text);
    return std::nullopt;
}

} // namespace

bool CSignedIndex::IsSafePath(std::string_view path)
{
    if (path.empty() || path.size() > kMaxPathLength || path.front() == '/' || path.back() == '/')
        return false;
    for (unsigned char c : path)
        if (c < 0x20 || c == 0x7F || c == '\\')
            return false;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        std::string_view segment = path.substr(start, end == std::string_view::npos ? end : end - start);
        if (segment.empty() || segment == "." || segment == "..")
            return false;
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    return true;
}

std::string CSignedIndex::FormatTime(Clock::time_point time)
{
    const auto seconds = std::chrono::floor<std::chrono::seconds>(time);
    const auto days = std::chrono::floor<std::chrono::days>(seconds);
    const std::chrono::year_month_day date(days);
    const std::chrono::hh_mm_ss clock(seconds - days);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
    return text;
}

std::optional<CSignedIndex::Clock::time_point> CSignedIndex::ParseTime(std::string_view text)
{
    // Exactly "YYYY-MM-DDTHH:MM:SSZ": digits where the pattern has 'd', the separators as shown.
    constexpr std::string_view pattern = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != pattern.size())
        return std::nullopt;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (pattern[i] == 'd' ? !digit : text[i] != pattern[i])
            return std::nullopt;
    }
    auto number = [&](size_t at, size_t count) {
        int value = 0;
        for (size_t i = at; i < at + count; ++i)
            value = value * 10 + (text[i] - '0');
        return value;
    };
    const std::chrono::year_month_day date{std::chrono::year(number(0, 4)),
                                           std::chrono::month(static_cast<unsigned>(number(5, 2))),
                                           std::chrono::day(static_cast<unsigned>(number(8, 2)))};
    const int hours = number(11, 2), minutes = number(14, 2), seconds = number(17, 2);
    if (!date.ok() || hours > 23 || minutes > 59 || seconds > 59)
        return std::nullopt;
    return Clock::time_point(std::chrono::sys_days(date)) + std::chrono::hours(hours) +
           std::chrono::minutes(minutes) + std::chrono::seconds(seconds);
}

std::string CSignedIndex::EndorsementMessage(const CPublisherKey& key)
{
    const auto& bytes = key.KeyBytes();
    return std::string(kEndorsementPrefix) +
           std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::optional<CSignedIndex> CSignedIndex::Parse(std::string_view bytes, std::string& error)
{
    if (bytes.size() > kMaxIndexSize)
        return Fail(error, "the index is larger than " + std::to_string(kMaxIndexSize) + " bytes");
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    builder["stackLimit"] = 16;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string jsonError;
    // The reader throws when the nesting passes its stack limit.
    bool parsed = false;
    try {
        parsed = reader->parse(bytes.data(), bytes.data() + bytes.size(), &root, &jsonError);
    } catch (const std::exception&) {
        parsed = false;
    }
    if (!parsed || !root.isObject())
        return Fail(error, "the index is not a JSON object");
    if (!root["format"].isInt() || root["format"].asInt() != kFormat)
        return Fail(error, "the index is not of format " + std::to_string(kFormat));

    CSignedIndex index;
    if (!root["serial"].isUInt64() || root["serial"].asUInt64() == 0)
        return Fail(error, "the index has no serial above 0");
    index.m_serial = root["serial"].asUInt64();
    std::optional<std::string> expires = StringField(root, "expires", 32);
    std::optional<Clock::time_point> expiry = expires ? ParseTime(*expires) : std::nullopt;
    if (!expiry)
        return Fail(error, "the index has no expiry time");
    index.m_expires = *expiry;

    const Json::Value& keys = root["keys"];
    if (!keys.isNull() && !keys.isArray())
        return Fail(error, "the index's keys are not a list");
    if (keys.size() > kMaxEndorsements)
        return Fail(error, "the index endorses more than " + std::to_string(kMaxEndorsements) + " keys");
    for (const Json::Value& entry : keys) {
        if (!entry.isObject())
            return Fail(error, "an endorsement is not an object");
        std::optional<std::string> key = StringField(entry, "key", 64);
        std::optional<std::string> endorser = StringField(entry, "endorsedBy", 16);
        std::optional<std::string> signature = StringField(entry, "signature", 128);
        std::optional<CPublisherKey> parsed = key ? CPublisherKey::FromText(*key) : std::nullopt;
        std::optional<std::string> signatureBytes = signature ? FromHex(*signature) : std::nullopt;
        if (!parsed || !endorser || endorser->size() != 16 || !IsLowerHex(*endorser) || !signatureBytes ||
            signatureBytes->size() != CPublisherKey::kSignatureSize)
            return Fail(error, "an endorsement lacks its key, endorser or signature");
        // One endorsement a key keeps the search for a signer's chain linear.
        for (const KeyEndorsement& earlier : index.m_endorsements)
            if (earlier.key == *parsed)
                return Fail(error, "a key is endorsed twice");
        index.m_endorsements.push_back(KeyEndorsement{*parsed, *endorser, *signatureBytes});
    }

    const Json::Value& files = root["files"];
    if (!files.isArray())
        return Fail(error, "the index has no list of files");
    if (files.size() > kMaxFiles)
        return Fail(error, "the index lists more than " + std::to_string(kMaxFiles) + " files");
    index.m_files.reserve(files.size());
    for (const Json::Value& entry : files) {
        if (!entry.isObject())
            return Fail(error, "a file entry is not an object");
        SignedFile file;
        std::optional<std::string> path = StringField(entry, "path", kMaxPathLength);
        if (!path || !IsSafePath(*path))
            return Fail(error, "a file entry has no safe path");
        file.path = std::move(*path);
        if (!entry["size"].isUInt64())
            return Fail(error, "the size of " + file.path + " is not a whole number");
        file.size = entry["size"].asUInt64();
        std::optional<std::string> sha256 = StringField(entry, "sha256", 64);
        if (!sha256 || sha256->size() != 64 || !IsLowerHex(*sha256))
            return Fail(error, "the SHA-256 of " + file.path + " is not 64 hex digits");
        file.sha256 = std::move(*sha256);
        if (entry.isMember("version")) {
            std::optional<std::string> version = StringField(entry, "version", kMaxVersionLength);
            if (!version)
                return Fail(error, "the version of " + file.path + " is not a short text");
            file.version = std::move(*version);
        }
        if (!index.m_byPath.emplace(file.path, index.m_files.size()).second)
            return Fail(error, file.path + " is listed twice");
        index.m_files.push_back(std::move(file));
    }
    return index;
}

const SignedFile* CSignedIndex::Find(std::string_view path) const
{
    auto found = m_byPath.find(std::string(path));
    return found == m_byPath.end() ? nullptr : &m_files[found->second];
}

FileCheck CSignedIndex::CheckBytes(std::string_view path, std::string_view bytes) const
{
    const SignedFile* file = Find(path);
    if (!file)
        return FileCheck::NotListed;
    if (bytes.size() != file->size)
        return FileCheck::SizeDiffers;
    return Sha256Hex(bytes) == file->sha256 ? FileCheck::Matches : FileCheck::HashDiffers;
}

FileCheck CSignedIndex::CheckFile(std::string_view path, const std::string& localPath) const
{
    const SignedFile* file = Find(path);
    if (!file)
        return FileCheck::NotListed;
    FileDescriptor fd(::open(localPath.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (fd.Get() < 0 || ::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode))
        return FileCheck::Unreadable;
    if (static_cast<uint64_t>(info.st_size) != file->size)
        return FileCheck::SizeDiffers;

    EvpMdCtxPtr context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        return FileCheck::Unreadable;
    // The file may grow while it is read: no more than the listed size and one byte is hashed.
    char buffer[64 * 1024];
    uint64_t total = 0;
    while (total <= file->size) {
        ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0)
            return FileCheck::Unreadable;
        if (got == 0)
            break;
        total += static_cast<uint64_t>(got);
        EVP_DigestUpdate(context.get(), buffer, static_cast<size_t>(got));
    }
    if (total != file->size)
        return FileCheck::SizeDiffers;
    unsigned char digest[SHA256_DIGEST_LENGTH];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1)
        return FileCheck::Unreadable;
    return ToHex(std::string_view(reinterpret_cast<const char*>(digest), length)) == file->sha256
               ? FileCheck::Matches
               : FileCheck::HashDiffers;
}

int ComparePublisherVersions(std::string_view a, std::string_view b)
{
    auto take = [](std::string_view& version) {
        size_t dot = version.find('.');
        std::string_view part = version.substr(0, dot);
        version = dot == std::string_view::npos ? std::string_view{} : version.substr(dot + 1);
        return LeadingDigits(part);
    };
    while (!a.empty() || !b.empty()) {
        // Components are compared as numbers of any length: more digits is larger, then by digit.
        std::string_view left = take(a), right = take(b);
        if (left.size() != right.size())
            return left.size() < right.size() ? -1 : 1;
        if (int order = left.compare(right); order != 0)
            return order < 0 ? -1 : 1;
    }
    return 0;
}
