#pragma once

#include "server/StandInServer.h"
#include "tests/support/TempDir.h"

#include <json/json.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace testsupport {

// The stand-in server on a free loopback port with a request log, the program's endpoints pointed
// at it and the program's paths inside a temporary folder (quokka.cfg included). Stopped by the
// destructor.
class IdentityServer {
public:
    IdentityServer();
    ~IdentityServer();

    const std::string& Dir() const { return m_dir.Path(); }
    std::string DataDir() const { return m_dir.Path() + "data/"; }
    std::string ConfigPath() const { return m_dir.Path() + "quokka.cfg"; }
    CStandInServer& Server() { return *m_server; }
    // Replaces the fault rules; false with the server's message on a bad rule.
    bool Faults(const std::string& json);
    // Logged requests to /clientapi/ whose body holds `action=<action>`.
    std::vector<Json::Value> Logged(const std::string& action) const;

private:
    TempDir m_dir;
    std::unique_ptr<CStandInServer> m_server;
};

// A loopback server that answers every POST with one fixed status and body: answers the stand-in
// server cannot give (an empty 200, a text that is not JSON, an answer past a size limit).
class CannedServer {
public:
    CannedServer(int status, std::string body);
    ~CannedServer();
    std::string ApiUrl() const;

private:
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
};

// Points ApiBase at `apiUrl` (ending with "clientapi/").
void PointApiAt(const std::string& apiUrl);

} // namespace testsupport
