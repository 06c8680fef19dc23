#pragma once

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <httplib.h>
#include <json/json.h>

#include <memory>
#include <string>
#include <vector>

// The real quokka-server started on a free port for one test; stopped with SIGTERM when it goes.
class ServerProcess {
public:
    // Starts the server on `dataDir` with a request log in a temporary folder and waits for its
    // "listening on" line. `extraArgs` are appended to the command line. Check Port() > 0.
    explicit ServerProcess(const std::string& dataDir, const std::vector<std::string>& extraArgs = {});
    ~ServerProcess();

    int Port() const { return m_port; }
    std::string Origin() const { return "http://127.0.0.1:" + std::to_string(m_port); }
    // A client for this server; read time-out in seconds.
    std::unique_ptr<httplib::Client> Client(int readTimeoutSeconds = 10) const;
    // POSTs the fault rules; true when the server took them.
    bool SetFaults(const std::string& json) const;
    // The request log so far, one object per request.
    std::vector<Json::Value> Log() const;
    testsupport::ChildProcess& Process() { return *m_process; }
    const std::string& FirstLine() const { return m_firstLine; }

private:
    testsupport::TempDir m_logDir;
    std::unique_ptr<testsupport::ChildProcess> m_process;
    std::string m_firstLine;
    int m_port = 0;
};

// "a=b&c=d" with each value form-encoded (letters, digits and -_.~ kept, space as '+').
std::string FormEncode(const std::vector<std::pair<std::string, std::string>>& fields);

Json::Value ParseJson(const std::string& text);

// The download endpoint's query ("/share/download?...") that a share's page builds from the values
// written into it, with `r` as its random part, as the mobile page's script does.
std::string ShareEndpointQuery(const std::string& pageBody, const std::string& r);
// "NAME=VALUE" of a "Set-Cookie: NAME=VALUE; path=/" header's value.
std::string CookieOf(const std::string& setCookie);
