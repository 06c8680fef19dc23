#include "maintenance/UpdateInfo.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct DigestContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

class CFileDescriptor {
public:
    explicit CFileDescriptor(int fd) : m_fd(fd) {}
    ~CFileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    CFileDescriptor(const CFileDescriptor&) = delete;
    CFileDescriptor& operator=(const CFileDescriptor&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

bool IsHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

} // namespace

void CUpdateInfo::BindFields()
{
    Bind("version", version);
    Bind("downloadurl", downloadurl);
    Bind("description", description);
    Bind("size", size);
    Bind("sha256", sha256);
}

std::optional<UpdatePackageDigest> PackageDigestOf(const CUpdateInfo& info)
{
    // Up to 18 digits always fit in 63 bits.
    if (info.size.empty() || info.size.size() > 18 ||
        !std::all_of(info.size.begin(), info.size.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    if (info.sha256.size() != 64 || !std::all_of(info.sha256.begin(), info.sha256.end(), IsHex))
        return std::nullopt;
    UpdatePackageDigest digest;
    digest.size = std::stoll(info.size);
    digest.sha256 = info.sha256;
    std::transform(digest.sha256.begin(), digest.sha256.end(), digest.sha256.begin(),
                   [](char c) { return c >= 'A' && c <= 'F' ? static_cast<char>(c - 'A' + 'a') : c; });
    return digest;
}

std::optional<std::string> FileSha256(const std::string& path)
{
    CFileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0)
        return std::nullopt;
    std::unique_ptr<EVP_MD_CTX, DigestContextFree> context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        return std::nullopt;
    char buffer[64 * 1024];
    for (;;) {
        ssize_t got = ::read(file.Get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        if (EVP_DigestUpdate(context.get(), buffer, static_cast<size_t>(got)) != 1)
            return std::nullopt;
    }
    unsigned char hash[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), hash, &length) != 1)
        return std::nullopt;
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text.push_back(kHex[hash[i] >> 4]);
        text.push_back(kHex[hash[i] & 15]);
    }
    return text;
}

int VerifyUpdatePackage(const std::string& path, const std::optional<UpdatePackageDigest>& digest)
{
    if (!digest)
        return kPopErrorPackageRefused;
    struct stat info;
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<int64_t>(info.st_size) != digest->size)
        return kPopErrorPackageRefused;
    std::optional<std::string> sha = FileSha256(path);
    if (!sha || *sha != digest->sha256)
        return kPopErrorPackageRefused;
    return 0;
}
