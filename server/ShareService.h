#pragma once

#include <json/json.h>

#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <vector>

// One request as the share service sees it: decoded path, the query's values (decoded), and the
// headers the service checks.
struct ShareRequest {
    std::string method; // "GET" or "HEAD"
    std::string path;
    std::map<std::string, std::string> query;
    std::string referer;
    std::string cookie; // the Cookie header as sent
    std::string origin; // "http://127.0.0.1:PORT" of the serving server
};

// What the share service answers.
struct ShareReply {
    int status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
};

// The stand-in for the share service and its storage service, from `shares.json` of the data folder:
//   {"KEY": {"file": "download/games/1.zip", "captcha": "none" | "once" | "untilright",
//            "state": "ok" | "expired" | "removed", "hops": 2}, ...}
// "file" is a path in the data folder below "download/"; "hops" is how many redirects a direct
// link takes before it reaches that file.
//
// The flow it checks is the mobile page's: the page (which sets a page cookie), the download
// endpoint with the page's values, a random `r`, the link as referer and the page cookie; a picture
// code when the share asks for one ("once": any four-character answer to an issued code passes;
// "untilright": only the drawn code passes, a wrong one gets a new picture); the storage cookie
// from the plant-cookie call; then the direct link's redirects, refused without the storage cookie.
//
// Safe from the server's worker threads: every call takes the service's lock.
class CShareService {
public:
    // Reads `path`. A missing file serves no shares; a file that is not a JSON object of shares
    // returns false with `error`.
    bool Load(const std::string& path, std::string& error);

    // Answers a request below /share/ or /rest/2.0/pcs/. `note` is called with each picture code the
    // service draws (the server writes it to its log).
    ShareReply Handle(const ShareRequest& request);
    void SetCodeObserver(std::function<void(const std::string& vcode, const std::string& code)> observer)
    {
        m_codeObserver = std::move(observer);
    }

    // The code drawn for `vcode`; empty when no such picture was issued.
    std::string CaptchaCode(const std::string& vcode) const;

    // The values a share's page carries; public so tests can build endpoint queries.
    struct PageValues {
        std::string uk, shareid, timestamp, sign, fsid;
    };
    static PageValues ValuesFor(const std::string& key, const std::string& timestamp);

private:
    struct Share {
        std::string file;
        std::string captcha;
        std::string state;
        int hops = 1;
    };

    ShareReply Page(const ShareRequest& request, const std::string& key);
    ShareReply Endpoint(const ShareRequest& request);
    ShareReply Captcha(const ShareRequest& request);
    ShareReply PlantCookie(const ShareRequest& request);
    ShareReply DirectLink(const ShareRequest& request);
    ShareReply NewCaptcha(const ShareRequest& request, const std::string& key);
    std::string Token();

    mutable std::mutex m_lock;
    std::map<std::string, Share> m_shares;
    std::map<std::string, std::string> m_byShareId;   // shareid -> key
    std::map<std::string, std::string> m_pageCookies; // page cookie value -> key
    std::set<std::string> m_storageCookies;
    struct PendingCode {
        std::string key;
        std::string code;
    };
    std::map<std::string, PendingCode> m_codes; // vcode -> the key it was issued for and its code
    std::mt19937_64 m_random{std::random_device{}()};
    std::function<void(const std::string&, const std::string&)> m_codeObserver;
};

// The cookie names the service sets.
inline constexpr char kSharePageCookie[] = "SHAREPAGE";
inline constexpr char kShareStorageCookie[] = "PCSETT";
