#include "tests/download/ShareResolverServer.h"

#include "foundation/ServerEndpoints.h"

#include <filesystem>
#include <sstream>
#include <stdexcept>

namespace testsupport {

ShareResolverServer::ShareResolverServer(const std::string& sharesJson)
{
    std::filesystem::create_directories(m_dir.Path() + "data/download/games");
    std::filesystem::create_directories(PictureDir());
    WriteFile(m_dir.Path() + "data/download/games/1.zip", "zip bytes");
    WriteFile(m_dir.Path() + "data/shares.json", sharesJson);
    StandInServerOptions options;
    options.dataDir = m_dir.Path() + "data/";
    options.logPath = m_dir.Path() + "log.jsonl";
    m_server = std::make_unique<CStandInServer>(options);
    std::string error;
    if (!m_server->Start(error))
        throw std::runtime_error("share server: " + error);
    ServerEndpoints endpoints = DefaultServerEndpoints();
    endpoints.ShareBase = m_server->Origin();
    endpoints.PcsBase = m_server->Origin();
    SetServerEndpoints(endpoints);
}

ShareResolverServer::~ShareResolverServer()
{
    m_server->Stop();
}

bool ShareResolverServer::Faults(const std::string& json)
{
    std::string error;
    return m_server->SetFaults(json, error);
}

std::vector<Json::Value> ShareResolverServer::Log() const
{
    std::vector<Json::Value> lines;
    std::istringstream text(ReadFile(m_dir.Path() + "log.jsonl"));
    std::string line;
    while (std::getline(text, line)) {
        Json::Value value;
        std::istringstream(line) >> value;
        lines.push_back(value);
    }
    return lines;
}

std::string ShareResolverServer::LastCode() const
{
    std::string code;
    for (const Json::Value& line : Log())
        if (line.isMember("code"))
            code = line["code"].asString();
    return code;
}

} // namespace testsupport
