#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

namespace Json {
class Value;
}
namespace httplib {
struct Request;
}

// The request log: one JSON object per line and request, written before the request is answered,
// so a client that has its answer can already read the line. Keys: "method", "path" (decoded),
// "query" (as sent, without "?"), "range", "referer", "userAgent", "cookie" (each "" when the
// header is absent) and "body" (the request body as sent, for form POSTs).
class CRequestLog {
public:
    // Opens (appends to) the file; an empty path logs nothing. Returns false when it cannot open.
    bool Open(const std::string& path);
    void Write(const httplib::Request& request);
    // Appends `note` as one line of its own (the share service's picture codes).
    void WriteNote(const Json::Value& note);

private:
    struct FileCloser {
        void operator()(FILE* file) const { std::fclose(file); }
    };
    std::mutex m_lock;
    std::unique_ptr<FILE, FileCloser> m_file;
};
