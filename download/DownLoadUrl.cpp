#include "download/DownLoadUrl.h"

#include "account/UserIdentity.h"
#include "foundation/AppPaths.h"
#include "foundation/AppSettings.h"
#include "foundation/ServerEndpoints.h"
#include "platform/Trace.h"

void CVerify::BindFields()
{
    Bind("path", path);
    Bind("size", size);
    Bind("verify", verify);
}

void CCloudUrl::BindFields()
{
    Bind("baidu", baidu);
}

void CDownLoadUrl::BindFields()
{
    Bind("filelist", filelist);
    Bind("filelist2", filelist2);
    Bind("cloudurl", cloudurl);
    Bind("status", status);
    Bind("msg", msg);
    Bind("fileurl", fileurl);
    Bind("fileurl2", fileurl2);
    Bind("filename", filename);
    Bind("needsize", needsize);
    Bind("filemd5", filemd5);
    Bind("verify", verify);
    Bind("_run_time", _run_time);
    Bind("volume", volume);
    Bind("volumeurl", volumeurl);
}

JsonObjectPtr CDownLoadUrl::NewArrayElement(const std::string& key)
{
    if (key == "verify")
        return std::make_unique<CVerify>();
    return nullptr;
}

std::vector<const CVerify*> CDownLoadUrl::VerifyEntries() const
{
    std::vector<const CVerify*> entries;
    entries.reserve(verify.size());
    for (const JsonObjectPtr& element : verify)
        if (element)
            entries.push_back(JsonElementAs<CVerify>(element));
    return entries;
}

namespace {

// Form-encodes a value that the program did not make itself, so it stays one field of the body.
std::string FormValue(const std::string& text)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
            c == '_' || c == '.' || c == '~') {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += kHex[c >> 4];
            encoded += kHex[c & 0x0F];
        }
    }
    return encoded;
}

// The request body has a buffer of 1024 bytes in the protocol's clients; a longer body is refused
// rather than cut.
constexpr size_t kMaxFormBytes = 1023;

} // namespace

bool RequestDownloadDescriptor(const std::string& configPath, const std::string& gameId,
                               CDownLoadUrl& descriptor, const TransferCancel* cancel)
{
    if (!EnsureUser(configPath, cancel))
        return false;
    UserIdentity user;
    CAppSettings(configPath).LoadUser(user);
    // The uid and the stored ticket are already safe in a form; the game id comes from the catalogue.
    const std::string form = "model=user&action=downfile&uid=" + user.Uid + "&ticket=" + user.Ticket +
                             "&gameid=" + FormValue(gameId);
    if (form.size() > kMaxFormBytes)
        return false;
    std::string answer;
    const bool transferred = NetPost(answer, ApiUrl(), "", form, 10, cancel);
    platform::Trace("downfile " + gameId + ": " + answer.substr(0, 512));
    if (!transferred || answer.empty() || answer.size() > kMaxDescriptorBytes)
        return false;
    return descriptor.ParseText(answer);
}

bool RequestDownloadDescriptor(const std::string& gameId, CDownLoadUrl& descriptor,
                               const TransferCancel* cancel)
{
    return RequestDownloadDescriptor(ConfigFilePath(), gameId, descriptor, cancel);
}
