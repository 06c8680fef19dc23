#include "foundation/HttpClient.h"

#include "foundation/FileSystem.h"
#include "foundation/ServerEndpoints.h"
#include "foundation/StringConv.h"
#include "platform/Trace.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <random>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct CurlMultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
using CurlMultiPtr = std::unique_ptr<CURLM, CurlMultiDeleter>;

// The total time-out of NetGetContentLength: a HEAD that takes longer has a server in trouble.
constexpr long kContentLengthTimeoutSeconds = 10;

// The receive buffer of file downloads (NetDownloadFile and the resumed download profiles). With the
// library's default of 16 KiB a fast transfer takes eight times as many socket reads, polls and
// file writes as with 128 KiB, which keeps it level with the curl command's own larger buffer.
constexpr long kDownloadBufferBytes = 128 * 1024;

// The longest a transfer waits for its sockets before it looks at its cancel flag again.
constexpr int kCancelPollMs = 100;

// Options every transfer shares: the URL, the transfer safety, and no signals, since transfers run
// on worker threads and the library would otherwise use SIGALRM for its name-lookup time-outs.
void SetCommon(CURL* handle, const std::string& url, long connectSeconds, long totalSeconds)
{
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    ApplyTransferSafety(handle);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, connectSeconds);
    if (totalSeconds > 0)
        curl_easy_setopt(handle, CURLOPT_TIMEOUT, totalSeconds);
}

void SetSink(CURL* handle, const TransferSink& sink)
{
    if (sink.write) {
        curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, sink.write);
        curl_easy_setopt(handle, CURLOPT_WRITEDATA, sink.writeData);
    }
    if (sink.progress) {
        curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, sink.progress);
        curl_easy_setopt(handle, CURLOPT_XFERINFODATA, sink.progressData);
    }
}

void SetResumeDownload(CURL* handle, const std::string& url, long totalSeconds, curl_off_t resumeFrom,
                       const TransferSink& sink)
{
    SetCommon(handle, url, 5, totalSeconds);
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, static_cast<long>(kMaxHandRedirects));
    curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, kDownloadBufferBytes);
    if (resumeFrom > 0)
        curl_easy_setopt(handle, CURLOPT_RESUME_FROM_LARGE, resumeFrom);
    SetSink(handle, sink);
}

void SetShare(CURL* handle, const std::string& url, const std::string& cookie, const std::string& referer)
{
    SetCommon(handle, url, 5, 10);
    curl_easy_setopt(handle, CURLOPT_USERAGENT, kShareUserAgent);
    curl_easy_setopt(handle, CURLOPT_COOKIEFILE, "");
    if (!cookie.empty())
        curl_easy_setopt(handle, CURLOPT_COOKIE, cookie.c_str());
    if (!referer.empty())
        curl_easy_setopt(handle, CURLOPT_REFERER, referer.c_str());
}

long ResponseCode(CURL* handle)
{
    long status = 0;
    if (curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK)
        return -1;
    return status;
}

// One HEAD of the hand-followed walk.
enum class HopResult { Ok, Redirect, RedirectWithoutTarget, Failed };

HopResult HeadHop(const std::string& url, std::string& redirectTarget, double* contentLength,
                  const TransferCancel* cancel)
{
    CurlEasyPtr handle = NewCurlEasy();
    if (!handle)
        return HopResult::Failed;
    SetCommon(handle.get(), url, 5, 10);
    curl_easy_setopt(handle.get(), CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(handle.get(), CURLOPT_NOBODY, 1L);
    if (NetPerform(handle.get(), cancel) != CURLE_OK)
        return HopResult::Failed;
    long status = ResponseCode(handle.get());
    if (status == 200) {
        if (contentLength) {
            curl_off_t length = -1;
            if (curl_easy_getinfo(handle.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK)
                length = -1;
            *contentLength = static_cast<double>(length);
        }
        return HopResult::Ok;
    }
    if (status == 301 || status == 302) {
        char* target = nullptr;
        if (curl_easy_getinfo(handle.get(), CURLINFO_REDIRECT_URL, &target) != CURLE_OK ||
            target == nullptr || *target == '\0')
            return HopResult::RedirectWithoutTarget;
        redirectTarget = target;
        return HopResult::Redirect;
    }
    return HopResult::Failed;
}

// Whether `url` names the http or https scheme (letter case ignored), the only ones followed.
bool IsWebUrl(const std::string& url)
{
    return strncasecmp(url.c_str(), "http://", 7) == 0 || strncasecmp(url.c_str(), "https://", 8) == 0;
}

// Follows 301 and 302 by hand from `url`; a loop ends after kMaxHandRedirects redirects.
bool WalkRedirects(std::string url, std::string* finalUrl, double* contentLength,
                   const TransferCancel* cancel)
{
    for (int redirects = 0;; ++redirects) {
        std::string target;
        double length = -1.0;
        switch (HeadHop(url, target, contentLength ? &length : nullptr, cancel)) {
        case HopResult::Ok:
            if (finalUrl)
                *finalUrl = url;
            if (contentLength)
                *contentLength = length;
            platform::Trace("final url: " + url);
            return true;
        case HopResult::RedirectWithoutTarget:
            return true;
        case HopResult::Redirect:
            if (redirects >= kMaxHandRedirects)
                return false;
            if (!IsWebUrl(target)) {
                platform::Trace("redirect refused, not http or https: " + target);
                return false;
            }
            url = std::move(target);
            break;
        case HopResult::Failed:
            return false;
        }
    }
}

// libcurl's error names for codes 1 to 91, in code order.
constexpr std::array<const char*, 91> kCurlErrorNames = {
    "CURLE_UNSUPPORTED_PROTOCOL",
    "CURLE_FAILED_INIT",
    "CURLE_URL_MALFORMAT",
    "CURLE_NOT_BUILT_IN",
    "CURLE_COULDNT_RESOLVE_PROXY",
    "CURLE_COULDNT_RESOLVE_HOST",
    "CURLE_COULDNT_CONNECT",
    "CURLE_FTP_WEIRD_SERVER_REPLY",
    "CURLE_REMOTE_ACCESS_DENIED",
    "CURLE_FTP_ACCEPT_FAILED",
    "CURLE_FTP_WEIRD_PASS_REPLY",
    "CURLE_FTP_ACCEPT_TIMEOUT",
    "CURLE_FTP_WEIRD_PASV_REPLY",
    "CURLE_FTP_WEIRD_227_FORMAT",
    "CURLE_FTP_CANT_GET_HOST",
    "CURLE_HTTP2",
    "CURLE_FTP_COULDNT_SET_TYPE",
    "CURLE_PARTIAL_FILE",
    "CURLE_FTP_COULDNT_RETR_FILE",
    "CURLE_OBSOLETE20",
    "CURLE_QUOTE_ERROR",
    "CURLE_HTTP_RETURNED_ERROR",
    "CURLE_WRITE_ERROR",
    "CURLE_OBSOLETE24",
    "CURLE_UPLOAD_FAILED",
    "CURLE_READ_ERROR",
    "CURLE_OUT_OF_MEMORY",
    "CURLE_OPERATION_TIMEDOUT",
    "CURLE_OBSOLETE29",
    "CURLE_FTP_PORT_FAILED",
    "CURLE_FTP_COULDNT_USE_REST",
    "CURLE_OBSOLETE32",
    "CURLE_RANGE_ERROR",
    "CURLE_HTTP_POST_ERROR",
    "CURLE_SSL_CONNECT_ERROR",
    "CURLE_BAD_DOWNLOAD_RESUME",
    "CURLE_FILE_COULDNT_READ_FILE",
    "CURLE_LDAP_CANNOT_BIND",
    "CURLE_LDAP_SEARCH_FAILED",
    "CURLE_OBSOLETE40",
    "CURLE_FUNCTION_NOT_FOUND",
    "CURLE_ABORTED_BY_CALLBACK",
    "CURLE_BAD_FUNCTION_ARGUMENT",
    "CURLE_OBSOLETE44",
    "CURLE_INTERFACE_FAILED",
    "CURLE_OBSOLETE46",
    "CURLE_TOO_MANY_REDIRECTS",
    "CURLE_UNKNOWN_OPTION",
    "CURLE_TELNET_OPTION_SYNTAX",
    "CURLE_OBSOLETE50",
    "CURLE_PEER_FAILED_VERIFICATION",
    "CURLE_GOT_NOTHING",
    "CURLE_SSL_ENGINE_NOTFOUND",
    "CURLE_SSL_ENGINE_SETFAILED",
    "CURLE_SEND_ERROR",
    "CURLE_RECV_ERROR",
    "CURLE_OBSOLETE57",
    "CURLE_SSL_CERTPROBLEM",
    "CURLE_SSL_CIPHER",
    "CURLE_SSL_CACERT",
    "CURLE_BAD_CONTENT_ENCODING",
    "CURLE_LDAP_INVALID_URL",
    "CURLE_FILESIZE_EXCEEDED",
    "CURLE_USE_SSL_FAILED",
    "CURLE_SEND_FAIL_REWIND",
    "CURLE_SSL_ENGINE_INITFAILED",
    "CURLE_LOGIN_DENIED",
    "CURLE_TFTP_NOTFOUND",
    "CURLE_TFTP_PERM",
    "CURLE_REMOTE_DISK_FULL",
    "CURLE_TFTP_ILLEGAL",
    "CURLE_TFTP_UNKNOWNID",
    "CURLE_REMOTE_FILE_EXISTS",
    "CURLE_TFTP_NOSUCHUSER",
    "CURLE_CONV_FAILED",
    "CURLE_CONV_REQD",
    "CURLE_SSL_CACERT_BADFILE",
    "CURLE_REMOTE_FILE_NOT_FOUND",
    "CURLE_SSH",
    "CURLE_SSL_SHUTDOWN_FAILED",
    "CURLE_AGAIN",
    "CURLE_SSL_CRL_BADFILE",
    "CURLE_SSL_ISSUER_ERROR",
    "CURLE_FTP_PRET_FAILED",
    "CURLE_RTSP_CSEQ_ERROR",
    "CURLE_RTSP_SESSION_ERROR",
    "CURLE_FTP_BAD_FILE_LIST",
    "CURLE_CHUNK_FAILED",
    "CURLE_NO_CONNECTION_AVAILABLE",
    "CURLE_SSL_PINNEDPUBKEYNOTMATCH",
    "CURL_LAST",
};

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

// Six characters for a temporary name, from a generator of this thread's own.
std::string RandomSuffix()
{
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<size_t> pick(0, sizeof(kLetters) - 2);
    std::string suffix(6, ' ');
    for (char& c : suffix)
        c = kLetters[pick(generator)];
    return suffix;
}

// A temporary file beside `destination` ("<destination>.part-XXXXXX"), created exclusively and never
// through a link, with the permissions that a new file gets from the process's umask. The name is
// removed by the destructor unless Commit renamed it over the destination.
class PartFile {
public:
    explicit PartFile(const std::string& destination) : m_destination(destination)
    {
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = destination + ".part-" + RandomSuffix();
            int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (fd >= 0) {
                m_name = std::move(name);
                m_stream.reset(::fdopen(fd, "wb"));
                if (!m_stream)
                    ::close(fd);
                return;
            }
            if (errno != EEXIST)
                return;
        }
    }
    ~PartFile()
    {
        m_stream.reset();
        if (!m_name.empty())
            ::unlink(m_name.c_str());
    }
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    // The open stream, or null when the file could not be made.
    FILE* Stream() const { return m_stream.get(); }

    // Closes the stream (writing out its buffer) and renames the file over the destination. False,
    // with the temporary file left for the destructor to remove, when either fails.
    bool Commit()
    {
        if (std::fclose(m_stream.release()) != 0)
            return false;
        if (::rename(m_name.c_str(), m_destination.c_str()) != 0)
            return false;
        m_name.clear();
        return true;
    }

private:
    std::string m_destination;
    std::string m_name;
    std::unique_ptr<FILE, FileCloser> m_stream;
};

} // namespace

CurlEasyPtr NewCurlEasy()
{
    return CurlEasyPtr(curl_easy_init());
}

void ApplyTransferSafety(CURL* handle)
{
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    std::string caFile = GetServerEndpoints().CaFile;
    if (!caFile.empty())
        curl_easy_setopt(handle, CURLOPT_CAINFO, caFile.c_str());
}

CURLcode NetPerform(CURL* handle, const TransferCancel* cancel)
{
    ApplyTransferSafety(handle);
    if (cancel && cancel->load())
        return CURLE_ABORTED_BY_CALLBACK;
    CurlMultiPtr multi(curl_multi_init());
    if (!multi)
        return CURLE_OUT_OF_MEMORY;
    if (curl_multi_add_handle(multi.get(), handle) != CURLM_OK)
        return CURLE_FAILED_INIT;
    CURLcode result = CURLE_OK;
    for (bool done = false; !done;) {
        int running = 0;
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
            result = CURLE_OUT_OF_MEMORY;
            break;
        }
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == handle) {
                result = message->data.result;
                done = true;
            }
        }
        if (done)
            break;
        if (cancel && cancel->load()) {
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        if (curl_multi_poll(multi.get(), nullptr, 0, kCancelPollMs, nullptr) != CURLM_OK) {
            result = CURLE_OUT_OF_MEMORY;
            break;
        }
    }
    // Removing the handle ends a transfer still under way; the handle can be performed again.
    curl_multi_remove_handle(multi.get(), handle);
    return result;
}

size_t StringWriteSink(char* data, size_t size, size_t count, void* userData)
{
    auto* answer = static_cast<std::string*>(userData);
    size_t bytes = size * count;
    if (bytes > kMaxAnswerBytes - std::min(answer->size(), kMaxAnswerBytes)) {
        platform::TraceF("answer refused: longer than %zu bytes", kMaxAnswerBytes);
        return 0;
    }
    answer->append(data, bytes);
    return bytes;
}

size_t FileStreamWriteSink(char* data, size_t size, size_t count, void* userData)
{
    return std::fwrite(data, size, count, static_cast<FILE*>(userData));
}

bool NetPost(std::string& body, const std::string& url, const std::string& extraHeader,
             const std::string& form, long timeoutSeconds, const TransferCancel* cancel)
{
    CurlEasyPtr handle = NewCurlEasy();
    if (!handle)
        return false;
    CurlSlistPtr headers;
    if (!extraHeader.empty()) {
        headers.reset(curl_slist_append(nullptr, extraHeader.c_str()));
        curl_easy_setopt(handle.get(), CURLOPT_HTTPHEADER, headers.get());
    }
    SetCommon(handle.get(), url, 5, timeoutSeconds);
    curl_easy_setopt(handle.get(), CURLOPT_POST, 1L);
    // Without a body the library would read one from stdin; an explicit empty body keeps it a POST.
    curl_easy_setopt(handle.get(), CURLOPT_POSTFIELDSIZE, static_cast<long>(form.size()));
    curl_easy_setopt(handle.get(), CURLOPT_COPYPOSTFIELDS, form.c_str());
    curl_easy_setopt(handle.get(), CURLOPT_WRITEFUNCTION, StringWriteSink);
    curl_easy_setopt(handle.get(), CURLOPT_WRITEDATA, &body);

    bool ok = NetPerform(handle.get(), cancel) == CURLE_OK;
    long status = 0;
    if (curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status != 200)
        ok = false;
    return ok;
}

bool NetDownloadFile(const std::string& ansiPath, const std::string& url, const TransferCancel* cancel)
{
    CurlEasyPtr handle = NewCurlEasy();
    if (!handle)
        return false;
    EnsureDirectoryTree(ansiPath);
    std::string nativePath;
    try {
        nativePath = NativePath(ansiPath);
    } catch (const std::exception&) {
        return false;
    }
    // Only a regular file or a link is replaced: a folder, a device or a pipe at the destination is
    // not a cache file, and renaming over it would destroy it.
    struct stat existing;
    if (::lstat(nativePath.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode) &&
        !S_ISLNK(existing.st_mode))
        return false;
    PartFile part(nativePath);
    if (!part.Stream())
        return false;
    SetCommon(handle.get(), url, 5, 10);
    curl_easy_setopt(handle.get(), CURLOPT_BUFFERSIZE, kDownloadBufferBytes);
    curl_easy_setopt(handle.get(), CURLOPT_WRITEFUNCTION, FileStreamWriteSink);
    curl_easy_setopt(handle.get(), CURLOPT_WRITEDATA, part.Stream());
    if (NetPerform(handle.get(), cancel) != CURLE_OK)
        return false;
    // The last buffered bytes reach the disk only when the stream is closed; a file that could not
    // be written out completely is not a success.
    return part.Commit();
}

bool NetResolveUrl(std::string url, std::string& finalUrl, double& contentLength,
                   const TransferCancel* cancel)
{
    return WalkRedirects(std::move(url), &finalUrl, &contentLength, cancel);
}

bool NetCheckUrl(std::string url, const TransferCancel* cancel)
{
    return WalkRedirects(std::move(url), nullptr, nullptr, cancel);
}

double NetGetContentLength(const std::string& url, const TransferCancel* cancel)
{
    CurlEasyPtr handle = NewCurlEasy();
    if (!handle)
        return -1.0;
    SetCommon(handle.get(), url, 5, kContentLengthTimeoutSeconds);
    curl_easy_setopt(handle.get(), CURLOPT_NOBODY, 1L);
    if (NetPerform(handle.get(), cancel) != CURLE_OK)
        return -1.0;
    if (ResponseCode(handle.get()) != 200)
        return -1.0;
    curl_off_t length = -1;
    if (curl_easy_getinfo(handle.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK)
        return -1.0;
    return static_cast<double>(length);
}

std::string TransferErrorText(int code)
{
    if (code >= 1 && code <= static_cast<int>(kCurlErrorNames.size()))
        return kCurlErrorNames[code - 1];
    const char* text = "未知错误";
    switch (code) {
    case 1000:
        text = "没有可用的下载链接";
        break;
    case 1001:
        text = "获取文件长度出错";
        break;
    case 1002:
        text = "创建文件失败";
        break;
    case 1003:
        text = "解压文件出错";
        break;
    case 1004:
        text = "没有分卷";
        break;
    case 1005:
        text = "文件校验失败";
        break;
    default:
        break;
    }
    return Utf8ToOem(text);
}

void ApplyDownloadWorkerProfile(CURL* handle, const std::string& url, curl_off_t resumeFrom,
                                const TransferSink& sink)
{
    SetResumeDownload(handle, url, 15, resumeFrom, sink);
}

void ApplyPackageDownloadProfile(CURL* handle, const std::string& url, curl_off_t resumeFrom,
                                 const TransferSink& sink)
{
    SetResumeDownload(handle, url, 10, resumeFrom, sink);
}

void ApplySharePageProfile(CURL* handle, const std::string& url, const std::string& cookie,
                           const std::string& referer, std::string* body)
{
    SetShare(handle, url, cookie, referer);
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, StringWriteSink);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, body);
}

void ApplyShareProbeProfile(CURL* handle, const std::string& url, const std::string& cookie,
                            const std::string& referer)
{
    SetShare(handle, url, cookie, referer);
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(handle, CURLOPT_NOBODY, 1L);
}

void ApplyEmulatorListProfile(CURL* handle, const std::string& url, std::string* body)
{
    SetCommon(handle, url, 5, 5);
    curl_easy_setopt(handle, CURLOPT_POST, 1L);
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE, 0L);
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, "");
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, StringWriteSink);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, body);
}

void ApplyUsageBeaconProfile(CURL* handle, const std::string& url, const std::string& userAgent,
                             const std::string& referer)
{
    SetCommon(handle, url, 5, 5);
    curl_easy_setopt(handle, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, static_cast<long>(kMaxHandRedirects));
    curl_easy_setopt(handle, CURLOPT_USERAGENT, userAgent.c_str());
    curl_easy_setopt(handle, CURLOPT_REFERER, referer.c_str());
}
