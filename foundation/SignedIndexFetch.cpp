#include "foundation/SignedIndexFetch.h"

#include <tuple>

namespace {

struct BoundedBody {
    std::string text;
    size_t limit = 0;
    bool overran = false;
};

size_t BoundedWrite(char* data, size_t size, size_t count, void* userData)
{
    auto* body = static_cast<BoundedBody*>(userData);
    const size_t bytes = size * count;
    if (body->text.size() + bytes > body->limit) {
        body->overran = true;
        return 0;
    }
    body->text.append(data, bytes);
    return bytes;
}

enum class Fetched { Whole, TooLarge, Failed };

// GETs `url` into `body` with at most `limit` bytes; redirects are not followed.
Fetched Get(const std::string& url, size_t limit, BoundedBody& body, std::string& detail,
            const TransferCancel* cancel)
{
    CurlEasyPtr handle = NewCurlEasy();
    if (!handle) {
        detail = "no transfer handle for " + url;
        return Fetched::Failed;
    }
    body.limit = limit;
    curl_easy_setopt(handle.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle.get(), CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(handle.get(), CURLOPT_CONNECTTIMEOUT, 5L);
    curl_easy_setopt(handle.get(), CURLOPT_TIMEOUT, 30L);
    curl_easy_setopt(handle.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle.get(), CURLOPT_WRITEFUNCTION, &BoundedWrite);
    curl_easy_setopt(handle.get(), CURLOPT_WRITEDATA, &body);
    const CURLcode result = NetPerform(handle.get(), cancel);
    if (body.overran) {
        detail = url + " is larger than " + std::to_string(limit) + " bytes";
        return Fetched::TooLarge;
    }
    long status = 0;
    curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, &status);
    if (result != CURLE_OK || status != 200) {
        detail = url + ": " +
                 (result != CURLE_OK ? std::string(curl_easy_strerror(result))
                                     : "status " + std::to_string(status));
        return Fetched::Failed;
    }
    return Fetched::Whole;
}

IndexVerdict Refuse(IndexRefusal refusal, std::string detail)
{
    IndexVerdict verdict;
    verdict.refusal = refusal;
    verdict.detail = std::move(detail);
    return verdict;
}

} // namespace

IndexVerdict FetchSignedIndex(const std::string& downloadBase, CSignedIndexVerifier& verifier,
                              CSignedIndex::Clock::time_point now, const TransferCancel* cancel)
{
    std::string base = downloadBase;
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    BoundedBody index, signature;
    std::string detail;
    for (auto [path, body, limit] :
         {std::tuple{"/download/index.json", &index, CSignedIndex::kMaxIndexSize},
          std::tuple{"/download/index.sig", &signature, CSignedIndexVerifier::kMaxSignatureFileSize}}) {
        switch (Get(base + path, limit, *body, detail, cancel)) {
        case Fetched::Whole:
            break;
        case Fetched::TooLarge:
            return Refuse(IndexRefusal::Malformed, detail);
        case Fetched::Failed:
            return Refuse(IndexRefusal::Unavailable, detail);
        }
    }
    return verifier.Verify(index.text, signature.text, now);
}
