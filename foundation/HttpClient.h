#pragma once

#include <curl/curl.h>

#include <cstdio>
#include <memory>
#include <string>

// The program's HTTP layer over libcurl's easy interface. Every request makes its own handle,
// performs synchronously on the calling thread and frees the handle before it returns; nothing is
// shared between calls but the library's global state (NetGlobalInit/NetGlobalCleanup). Calls block
// for up to their time-outs, so they belong on worker threads, never on a window's thread. No
// operation throws or shows anything: each reports by its result. Only status 200 counts as success.

// Owners of the library's C resources.
struct CurlEasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlEasyPtr = std::unique_ptr<CURL, CurlEasyDeleter>;

struct CurlSlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlSlistPtr = std::unique_ptr<curl_slist, CurlSlistDeleter>;

// A new easy handle, or null when the library cannot make one.
CurlEasyPtr NewCurlEasy();

// The write sinks. StringWriteSink appends size * count bytes to the std::string given as user data
// and never aborts. FileStreamWriteSink writes to the FILE* given as user data and returns what
// fwrite returns (a short count aborts the transfer with CURLE_WRITE_ERROR).
size_t StringWriteSink(char* data, size_t size, size_t count, void* userData);
size_t FileStreamWriteSink(char* data, size_t size, size_t count, void* userData);

// Redirects that NetResolveUrl and NetCheckUrl follow by hand before giving up with false.
constexpr int kMaxHandRedirects = 50;

// POSTs `form` (the body is left unset when empty, and the method is POST all the same) to `url`
// with one extra header line when it is not empty; the answer goes to `body` (appended). Connect
// time-out 5 s, total time-out `timeoutSeconds`, redirects not followed. True when the transfer
// completed and the status is 200.
bool NetPost(std::string& body, const std::string& url, const std::string& extraHeader,
             const std::string& form, long timeoutSeconds);

// GETs `url` into the file at `ansiPath` (a narrow path in the process code page), creating its
// missing folders and replacing the file. True when the transfer completed and the file was written
// out; the status is not examined, so an error page is stored and reported as success.
bool NetDownloadFile(const std::string& ansiPath, const std::string& url);

// HEADs `url`, following 301 and 302 by hand. On 200, `finalUrl` becomes the URL that answered and
// `contentLength` its length (-1.0 when the server sent none); true. A redirect without a target
// ends the walk with true and the out values unchanged. Any other status, a transfer error or more
// than kMaxHandRedirects redirects give false.
bool NetResolveUrl(std::string url, std::string& finalUrl, double& contentLength);

// The same walk without out values: true when the URL ends at 200 (or at a redirect without target).
bool NetCheckUrl(std::string url);

// The Content-Length of `url` from a HEAD that answered 200; -1.0 on any failure or when the server
// sent no length.
double NetGetContentLength(const std::string& url);

// The display text of a transfer error code: the libcurl error names for 1 to 91, the download
// engine's own Chinese texts for 1000 to 1003 (in the process code page), "未知错误" otherwise.
std::string TransferErrorText(int code);

// Option profiles for the parts of the program that drive a transfer themselves. Each sets every
// option its transfer needs on a fresh handle; the caller then performs and reads the results.
// Progress functions have the XFERINFO signature and are called with `progressData`.
struct TransferSink {
    curl_write_callback write = nullptr;
    void* writeData = nullptr;
    curl_xferinfo_callback progress = nullptr;
    void* progressData = nullptr;
};

// The download worker: GET, connect 5 s, total 15 s (long downloads proceed in resumed slices),
// redirects followed by the library, resume from `resumeFrom` bytes when it is above 0, progress on.
void ApplyDownloadWorkerProfile(CURL* handle, const std::string& url, curl_off_t resumeFrom,
                                const TransferSink& sink);

// Runtime and update package downloads: as the download worker with a total time-out of 10 s.
void ApplyPackageDownloadProfile(CURL* handle, const std::string& url, curl_off_t resumeFrom,
                                 const TransferSink& sink);

// The mobile browser that the share service expects.
inline constexpr char kShareUserAgent[] = "Mozilla/5.0 (Linux; U; Android 4.4.2; de-de; SM-N900) "
                                          "AppleWebKit/534.30 (KHTML, like Gecko) Version/4.0 Mobile "
                                          "Safari/534.30";

// Share page and share API: GET, connect 5 s, total 10 s, redirects not followed, the mobile user
// agent, the cookie engine on (no cookie file), `cookie` as the Cookie header when not empty,
// `referer` when not empty, the answer appended to `body`.
void ApplySharePageProfile(CURL* handle, const std::string& url, const std::string& cookie,
                           const std::string& referer, std::string* body);

// Share redirect probe: as the share page, but HEAD and without a body sink.
void ApplyShareProbeProfile(CURL* handle, const std::string& url, const std::string& cookie,
                            const std::string& referer);

// Emulator list: POST with an empty body, connect 5 s, total 5 s, redirects not followed, the answer
// appended to `body`.
void ApplyEmulatorListProfile(CURL* handle, const std::string& url, std::string* body);

// Usage beacon: HEAD, connect 5 s, total 5 s, redirects followed, the given user agent and referer.
void ApplyUsageBeaconProfile(CURL* handle, const std::string& url, const std::string& userAgent,
                             const std::string& referer);
