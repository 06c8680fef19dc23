#pragma once

#include "server/CatalogueData.h"
#include "server/FaultRules.h"
#include "server/RequestLog.h"
#include "server/ShareService.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

struct StandInServerOptions {
    int port = 0;        // 0 picks a free port
    std::string dataDir; // the data folder (see server/README.md)
    std::string logPath; // the request log; empty for none
    // PEM files of a certificate and its private key: when both are given the server speaks https
    // only, and Origin() says so.
    std::string tlsCertFile;
    std::string tlsKeyFile;
};

// The stand-in for every server the program talks to, on 127.0.0.1: the catalogue and user API,
// the update service, the download server with byte ranges, the image server, the statistics
// counter and the site pages, all answered from one data folder, plus run-time fault injection.
//
// Start binds and serves on a thread of its own; Stop (and the destructor) ends waits and stalls
// that faults put in, stops serving and joins that thread. Files are streamed in small blocks, so
// memory stays flat whatever their size.
class CStandInServer {
public:
    explicit CStandInServer(StandInServerOptions options);
    ~CStandInServer();
    CStandInServer(const CStandInServer&) = delete;
    CStandInServer& operator=(const CStandInServer&) = delete;

    // Reads the data folder, opens the log and binds the port. Returns false with `error` when any
    // of these fails; the server then does not run.
    bool Start(std::string& error);
    // Blocks until serving has ended. Does nothing when the server is not running.
    void Stop();

    int Port() const { return m_port; }
    // "http://127.0.0.1:PORT", or "https://..." with a certificate.
    std::string Origin() const;

    // Calls `observer` with the method and path of every request as it arrives (before any fault
    // acts), on the server's worker threads; tests wait on it instead of polling the log. Set it
    // before Start.
    void SetRequestObserver(std::function<void(const std::string& method, const std::string& path)> observer)
    {
        m_observer = std::move(observer);
    }

    // Writes a servers.cfg whose [Servers] section points every base address at this server, and
    // names its certificate as CaFile when it speaks https.
    bool WriteServersCfg(const std::string& path) const;

    // Replaces or clears the fault rules (what POST /__faults does).
    bool SetFaults(const std::string& json, std::string& error) { return m_faults.Replace(json, error); }

    // The code drawn in the share service's picture `vcode`; empty when none was issued.
    std::string CaptchaCode(const std::string& vcode) const { return m_shares.CaptchaCode(vcode); }
    // Bodies under /download/ being sent now, and the most at once since the last ResetStats (what
    // GET and DELETE /__stats give and do).
    int DownloadsSending() const { return m_downloadsSending; }
    int PeakDownloads() const { return m_peakDownloads; }
    void ResetStats() { m_peakDownloads = m_downloadsSending.load(); }

private:
    struct Reply;
    using Route = Reply (CStandInServer::*)(const httplib::Request&);

    void AddRoutes();
    void Handle(const httplib::Request& request, httplib::Response& response, Route route);
    void Send(const httplib::Request& request, Reply reply, const FaultRule* rule,
              httplib::Response& response);
    // Waits up to `ms` milliseconds; returns false when the server began to stop.
    bool WaitFor(int ms);

    Reply ClientApi(const httplib::Request& request);
    Reply EmulatorList(const httplib::Request& request);
    Reply UpdateInfo(const httplib::Request& request);
    Reply Download(const httplib::Request& request);
    Reply Image(const httplib::Request& request);
    Reply Statistics(const httplib::Request& request);
    Reply SitePage(const httplib::Request& request);
    Reply Index(const httplib::Request& request);
    Reply NotFound(const httplib::Request& request);
    Reply Share(const httplib::Request& request);

    Reply JsonFile(const std::string& relativePath);
    Reply ServeFile(const httplib::Request& request, const std::string& path);
    std::string Substitute(std::string text) const;
    std::string TicketFor(const std::string& uid) const;

    StandInServerOptions m_options;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    std::atomic<bool> m_listenEnded{false};
    int m_port = 0;
    CCatalogueData m_catalogue;
    CFaultRules m_faults;
    CRequestLog m_log;
    CShareService m_shares;
    std::function<void(const std::string&, const std::string&)> m_observer;
    std::map<std::string, std::string> m_redirects;
    std::atomic<int> m_nextUid{100001};
    std::atomic<int> m_downloadsSending{0};
    std::atomic<int> m_peakDownloads{0};

    std::mutex m_stopLock;
    std::condition_variable m_stopSignal;
    bool m_stopping = false;
};
