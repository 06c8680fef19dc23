#include "tests/account/IdentityServer.h"

#include "foundation/AppPaths.h"
#include "foundation/ServerEndpoints.h"
#include "tests/support/RequestLog.h"

#include <httplib.h>

#include <filesystem>
#include <sstream>
#include <stdexcept>

namespace testsupport {

IdentityServer::IdentityServer()
{
    std::filesystem::create_directories(DataDir() + "descriptors");
    StandInServerOptions options;
    options.dataDir = DataDir();
    options.logPath = m_dir.Path() + "requests.log";
    m_server = std::make_unique<CStandInServer>(options);
    std::string error;
    if (!m_server->Start(error))
        throw std::runtime_error("stand-in server: " + error);
    PointApiAt(m_server->Origin() + "/clientapi/");

    AppPaths paths;
    paths.InstancePath = m_dir.Path();
    paths.WorkDir = m_dir.Path() + "work/";
    paths.ImageCacheDir = paths.WorkDir + "/cache/image/";
    paths.ConfigFilePath = ConfigPath();
    SetAppPaths(paths);
}

IdentityServer::~IdentityServer()
{
    m_server->Stop();
}

bool IdentityServer::Faults(const std::string& json)
{
    std::string error;
    return m_server->SetFaults(json, error);
}

std::vector<Json::Value> IdentityServer::Logged(const std::string& action) const
{
    std::vector<Json::Value> lines;
    for (Json::Value& line : ReadRequestLog(m_dir.Path() + "requests.log")) {
        if (line["path"].asString() == "/clientapi/" &&
            line["body"].asString().find("action=" + action) != std::string::npos)
            lines.push_back(std::move(line));
    }
    return lines;
}

CannedServer::CannedServer(int status, std::string body) : m_server(std::make_unique<httplib::Server>())
{
    m_server->Post(".*", [status, body](const httplib::Request&, httplib::Response& response) {
        response.status = status;
        response.set_content(body, "text/plain");
    });
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0)
        throw std::runtime_error("canned server: no port");
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    // Stopping a server that has not begun to listen would not end its listen call.
    while (!m_server->is_running())
        std::this_thread::yield();
}

CannedServer::~CannedServer()
{
    m_server->stop();
    m_thread.join();
}

std::string CannedServer::ApiUrl() const
{
    return "http://127.0.0.1:" + std::to_string(m_port) + "/clientapi/";
}

void PointApiAt(const std::string& apiUrl)
{
    ServerEndpoints endpoints = DefaultServerEndpoints();
    endpoints.ApiBase = apiUrl;
    SetServerEndpoints(endpoints);
}

} // namespace testsupport
