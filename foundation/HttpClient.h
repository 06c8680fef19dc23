#pragma once

#include <curl/curl.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>

// The program's HTTP layer over libcurl. Every request makes its own handle, performs synchronously
// on the calling thread and frees the handle before it returns; nothing is shared between calls but
// the library's global state (NetGlobalInit/NetGlobalCleanup). Calls block for up to their
// time-outs, so they belong on worker threads, never on a window's thread. No operation throws or
// shows anything: each reports by its result. Only status 200 counts as success.
//
// Every transfer is performed through NetPerform, which enforces what no caller may switch off:
// only http and https, for the request and for every redirect; https peers and host names are
// verified, against the CaFile of servers.cfg when it names one, else the system's store. Every
// operation takes an optional cancel flag that its owner sets to end it early (a cancel button,
// shutdown); a cancelled transfer is a failure and leaves no partial file behind.

// A transfer's owner sets this flag to end the transfer early (shutdown, cancel button).
using TransferCancel = std::atomic<bool>;

// Performs `handle` and returns its result, like curl_easy_perform, but wakes at least every 100 ms
// and ends with CURLE_ABORTED_BY_CALLBACK once *cancel is true (null: never cancelled), even while
// the peer sends nothing. Implemented with a private multi handle around the one easy handle
// (curl_multi_poll with a 100 ms limit); the easy handle stays the caller's. Before performing it
// applies ApplyTransferSafety to the handle, whatever the caller set.
CURLcode NetPerform(CURL* handle, const TransferCancel* cancel);

// Sets the options that every transfer carries: requests and redirects limited to http and https,
// peer and host verification on, and the configured CA file (ServerEndpoints::CaFile) when there is
// one. NetPerform calls it; the option profiles below call it too.
void ApplyTransferSafety(CURL* handle);

// The most bytes an answer collected in memory may hold (StringWriteSink, NetPost): 16 MiB. A
// larger answer ends its transfer with CURLE_WRITE_ERROR.
constexpr size_t kMaxAnswerBytes = 16u * 1024u * 1024u;

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
// and aborts the transfer (returns 0, so CURLE_WRITE_ERROR) rather than let the string grow past
// kMaxAnswerBytes. FileStreamWriteSink writes to the FILE* given as user data and returns what
// fwrite returns (a short count aborts the transfer with CURLE_WRITE_ERROR).
size_t StringWriteSink(char* data, size_t size, size_t count, void* userData);
size_t FileStreamWriteSink(char* data, size_t size, size_t count, void* userData);

// Redirects that NetResolveUrl and NetCheckUrl follow by hand before giving up with false.
constexpr int kMaxHandRedirects = 50;

// Every operation below ends early with failure once *cancel becomes true (see NetPerform).

// POSTs `form` (the body is left unset when empty, and the method is POST all the same) to `url`
// with one extra header line when it is not empty; the answer goes to `body` (appended, at most
// kMaxAnswerBytes in all). Connect time-out 5 s, total time-out `timeoutSeconds`, redirects not
// followed. True when the transfer completed and the status is 200.
bool NetPost(std::string& body, const std::string& url, const std::string& extraHeader,
             const std::string& form, long timeoutSeconds, const TransferCancel* cancel = nullptr);

// GETs `url` into the file at `ansiPath` (a narrow path in the process code page), creating its
// missing folders. The answer is written to a new temporary file beside the destination
// ("<name>.part-XXXXXX", created exclusively, never through a link) and renamed over the
// destination only when the whole transfer succeeded, so the destination holds either its old
// content or the complete new one; a link planted at the destination is replaced, not followed, and
// anything else that is not a regular file (a folder, a device) makes the call fail untouched. On
// failure or cancel the temporary file is removed. True when the transfer completed and the file
// was written out; the status is not examined, so an error page is stored and reported as success.
bool NetDownloadFile(const std::string& ansiPath, const std::string& url,
                     const TransferCancel* cancel = nullptr);

// HEADs `url`, following 301 and 302 by hand. On 200, `finalUrl` becomes the URL that answered and
// `contentLength` its length (-1.0 when the server sent none); true. A redirect without a target
// ends the walk with true and the out values unchanged. Any other status, a transfer error, a
// redirect to a scheme other than http or https, or more than kMaxHandRedirects redirects give
// false.
bool NetResolveUrl(std::string url, std::string& finalUrl, double& contentLength,
                   const TransferCancel* cancel = nullptr);

// The same walk without out values: true when the URL ends at 200 (or at a redirect without target).
bool NetCheckUrl(std::string url, const TransferCancel* cancel = nullptr);

// The Content-Length of `url` from a HEAD that answered 200 within 10 s; -1.0 on any failure or
// when the server sent no length.
double NetGetContentLength(const std::string& url, const TransferCancel* cancel = nullptr);

// The display text of a transfer error code: the libcurl error names for 1 to 91, the download
// engine's own Chinese texts for 1000 to 1005 (in the process code page), "未知错误" otherwise.
std::string TransferErrorText(int code);

// Option profiles for the parts of the program that drive a transfer themselves. Each sets every
// option its transfer needs on a fresh handle; the caller then performs with NetPerform, passing
// its own cancel flag, and reads the results.
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
