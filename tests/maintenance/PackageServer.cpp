#include "tests/maintenance/PackageServer.h"

#include "foundation/AppPaths.h"
#include "foundation/ServerEndpoints.h"
#include "tests/download/ZipTestArchive.h"
#include "tests/support/RequestLog.h"

#include <json/json.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>

using testsupport::ReadFile;
using testsupport::ReadRequestLog;
using testsupport::WriteFile;

namespace maintenancetest {

PackageWorld::PackageWorld()
{
    std::filesystem::create_directories(DataDir() + "download");
    std::filesystem::create_directories(WorkDir());
    std::filesystem::create_directories(ProgramDir());
    setenv("XDG_DATA_HOME", (m_dir.Path() + "xdg").c_str(), 1);
    AppPaths paths;
    paths.InstancePath = ProgramDir();
    paths.WorkDir = WorkDir();
    SetAppPaths(paths);
}

PackageWorld::~PackageWorld()
{
    if (m_server)
        m_server->Stop();
}

bool PackageWorld::Start(std::string& error)
{
    StandInServerOptions options;
    options.dataDir = DataDir();
    options.logPath = m_dir.Path() + "requests.log";
    m_server = std::make_unique<CStandInServer>(options);
    if (!m_server->Start(error))
        return false;
    ServerEndpoints endpoints = DefaultServerEndpoints();
    endpoints.DownloadBase = m_server->Origin();
    SetServerEndpoints(endpoints);
    return true;
}

bool PackageWorld::Put(const std::string& name, const std::string& bytes) const
{
    const std::string path = DataDir() + "download/" + name;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    return WriteFile(path, bytes);
}

bool PackageWorld::Faults(const std::string& json) const
{
    std::string error;
    return m_server->SetFaults(json, error);
}

std::vector<LoggedRequest> PackageWorld::Requests() const
{
    std::vector<LoggedRequest> requests;
    for (const Json::Value& value : ReadRequestLog(m_dir.Path() + "requests.log"))
        requests.push_back({value["method"].asString(), value["path"].asString(), value["range"].asString()});
    return requests;
}

std::vector<LoggedRequest> PackageWorld::Requests(const std::string& method, const std::string& name) const
{
    std::vector<LoggedRequest> matching;
    for (LoggedRequest& request : Requests()) {
        if (request.method == method && request.path == "/download/" + name)
            matching.push_back(std::move(request));
    }
    return matching;
}

std::string PackageWorld::Url(const std::string& name) const
{
    return m_server->Origin() + "/download/" + name;
}

std::string MakePackage(const std::vector<PackageFile>& files)
{
    std::vector<ziptest::Entry> entries;
    for (const PackageFile& file : files) {
        ziptest::Entry entry;
        entry.rawName = file.name;
        entry.data = file.content;
        entry.host = 3;
        entry.unixMode = file.mode;
        entries.push_back(entry);
    }
    testsupport::TempDir dir;
    const std::string path = dir.Path() + "package.zip";
    if (!ziptest::WriteArchive(path, entries))
        return {};
    return ReadFile(path);
}

std::string NoiseBytes(size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(random() & 0xFF);
    return bytes;
}

} // namespace maintenancetest
