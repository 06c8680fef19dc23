#include "foundation/HttpClient.h"

#include "foundation/FileSystem.h"
#include "foundation/StringConv.h"
#include "platform/Trace.h"

#include <array>

namespace {

// Options every transfer shares: the URL, and no signals, since transfers run on worker threads
// and the library would otherwise use SIGALRM for its name-lookup time-outs.
void SetCommon(CURL* handle, const std::string& url, long connectSeconds, long totalSeconds)
{
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
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
    if (resumeFrom > 0)
        curl_easy_setopt(handle, CURLOPT_RESUME_FROM_LARGE, resumeFrom);
    SetSink(handle, sink);
}

void SetShare(CURL* handle, const std::string& url, const std::string& cookie, const std::string& referer)
{
    SetCommon(handle, url, 5, 10);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 0L);
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

HopResult HeadHop(const std::string& url, std::string& redirectTarget, double* contentLength)
{
    CurlEasyPtr handle = NewCurlEasy();
    if (!handle)
        return HopResult::Failed;
    SetCommon(handle.get(), url, 5, 10);
    curl_easy_setopt(handle.get(), CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(handle.get(), CURLOPT_NOBODY, 1L);
    if (curl_easy_perform(handle.get()) != CURLE_OK)
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

// Follows 301 and 302 by hand from `url`; a loop ends after kMaxHandRedirects redirects.
bool WalkRedirects(std::string url, std::string* finalUrl, double* contentLength)
{
    for (int redirects = 0;; ++redirects) {
        std::string target;
        double length = -1.0;
        switch (HeadHop(url, target, contentLength ? &length : nullptr)) {
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

} // namespace

CurlEasyPtr NewCurlEasy()
{
    return CurlEasyPtr(curl_easy_init());
}

size_t StringWriteSink(char* data, size_t size, size_t count, void* userData)
{
    static_cast<std::string*>(userData)->append(data, size * count);
    return size * count;
}

size_t FileStreamWriteSink(char* data, size_t size, size_t count, void* userData)
{
    return std::fwrite(data, size, count, static_cast<FILE*>(userData));
}

bool NetPost(std::string& body, const std::string& url, const std::string& extraHeader,
             const std::string& form, long timeoutSeconds)
{
    CurlEasyPtr handle = NewCurlEasy();
    if (!handle)
        return false;
    CurlSlistPtr headers;
    if (!extraHeader.empty()) {
        headers.reset(curl_slist_append(nullptr, extraHeader.c_str()));
        curl_easy_setopt(handle.get(), CURLOPT_HTTPHEADER, headers.get());
    }
    curl_easy_setopt(handle.get(), CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(handle.get(), CURLOPT_SSL_VERIFYHOST, 0L);
    SetCommon(handle.get(), url, 5, timeoutSeconds);
    curl_easy_setopt(handle.get(), CURLOPT_POST, 1L);
    // Without a body the library would read one from stdin; an explicit empty body keeps it a POST.
    curl_easy_setopt(handle.get(), CURLOPT_POSTFIELDSIZE, static_cast<long>(form.size()));
    curl_easy_setopt(handle.get(), CURLOPT_COPYPOSTFIELDS, form.c_str());
    curl_easy_setopt(handle.get(), CURLOPT_WRITEFUNCTION, StringWriteSink);
    curl_easy_setopt(handle.get(), CURLOPT_WRITEDATA, &body);

    bool ok = curl_easy_perform(handle.get()) == CURLE_OK;
    long status = 0;
    if (curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status != 200)
        ok = false;
    return ok;
}

bool NetDownloadFile(const std::string& ansiPath, const std::string& url)
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
    std::unique_ptr<FILE, FileCloser> file(std::fopen(nativePath.c_str(), "wb+"));
    if (!file)
        return false;
    SetCommon(handle.get(), url, 5, 10);
    curl_easy_setopt(handle.get(), CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(handle.get(), CURLOPT_WRITEFUNCTION, FileStreamWriteSink);
    curl_easy_setopt(handle.get(), CURLOPT_WRITEDATA, file.get());
    bool ok = curl_easy_perform(handle.get()) == CURLE_OK;
    // The last buffered bytes reach the disk only when the stream is closed; a file that could not
    // be written out completely is not a success.
    if (std::fclose(file.release()) != 0)
        ok = false;
    return ok;
}

bool NetResolveUrl(std::string url, std::string& finalUrl, double& contentLength)
{
    return WalkRedirects(std::move(url), &finalUrl, &contentLength);
}

bool NetCheckUrl(std::string url)
{
    return WalkRedirects(std::move(url), nullptr, nullptr);
}

double NetGetContentLength(const std::string& url)
{
    CurlEasyPtr handle = NewCurlEasy();
    if (!handle)
        return -1.0;
    SetCommon(handle.get(), url, 5, 0);
    curl_easy_setopt(handle.get(), CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(handle.get(), CURLOPT_NOBODY, 1L);
    if (curl_easy_perform(handle.get()) != CURLE_OK)
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
