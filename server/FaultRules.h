#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

// Faults that tests switch on at run time, matched by request path.
//
// A rule is a JSON object:
//   "path"          the request path it applies to (required)
//   "prefix"        true: every path that starts with "path" matches (default false)
//   "method"        only this method ("GET", "HEAD", "POST"); any when absent
//   "times"         applies to this many matching requests, then disappears (absent or 0: always)
//   "delayMs"       waits this long before answering
//   "status"        answers with this status (and a short text body) instead of the real answer
//   "body"          answers with exactly this text (empty allowed) and "status" (default 200)
//   "location"      with "status" 301/302/303/307: the Location header
//   "redirectTo"    answers 302 with this Location
//   "redirectLoop"  true: answers 302 to the request's own path and query, for ever
//   "noLength"      true: the real answer is sent chunked, without Content-Length
//   "cutAfter"      sends this many bytes of the real body, then closes the connection
//   "stallAfter"    sends this many bytes of the real body, then sends nothing for "stallMs"
//                   (default 60000) before closing the connection
//   "rateKiBps"     sends the real body at this many KiB a second
//   "claimLength"   the answer (HEAD and GET) claims this Content-Length: a longer body is cut
//                   there, a shorter one ends by closing the connection
//   "extraBytes"    GET: the real body and then this many bytes more, chunked without a length
//                   (HEAD still announces the real length)
//   "endlessBody"   true, GET: the real body and then filler without end, chunked, until the
//                   client closes the connection (HEAD still announces the real length)
// The first rule that matches a request wins.
struct FaultRule {
    std::string path;
    bool prefix = false;
    std::string method;
    int times = 0;
    int delayMs = 0;
    int status = 0;
    std::optional<std::string> body;
    std::string location;
    std::string redirectTo;
    bool redirectLoop = false;
    bool noLength = false;
    long long cutAfter = -1;
    long long stallAfter = -1;
    int stallMs = 60000;
    int rateKiBps = 0;
    long long claimLength = -1;
    long long extraBytes = -1;
    bool endlessBody = false;
};

// The rule table. Safe from any thread.
class CFaultRules {
public:
    // Replaces every rule with those of `json`: an array of rules, an object {"rules": [...]}, or a
    // single rule object. An empty text, "[]" or {"rules": []} clears the table. Returns false
    // (leaving the table as it was) when the text is not such JSON; `error` then says why.
    bool Replace(const std::string& json, std::string& error);
    void Clear();

    // The rule for a request, counting one use of a limited rule; nullopt when none matches.
    std::optional<FaultRule> Take(const std::string& method, const std::string& path);

private:
    std::mutex m_lock;
    std::vector<FaultRule> m_rules;
};
