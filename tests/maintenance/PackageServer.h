#pragma once

#include "server/StandInServer.h"
#include "tests/support/TempDir.h"

#include <memory>
#include <string>
#include <vector>

namespace maintenancetest {

// One request the stand-in server logged.
struct LoggedRequest {
    std::string method;
    std::string path;
    std::string range;
};

// The world an installer job runs in: a stand-in download server on a free loopback port serving a
// data folder, the program's work and program folders, and the emulated registry ($XDG_DATA_HOME),
// all in one temporary folder. The endpoints and paths in force point there while it lives.
class PackageWorld {
public:
    PackageWorld();
    ~PackageWorld();

    bool Start(std::string& error);

    // Serves `bytes` as /download/<name>.
    bool Put(const std::string& name, const std::string& bytes) const;
    bool Faults(const std::string& json) const;
    std::vector<LoggedRequest> Requests() const;
    // The logged requests for /download/<name> with this method.
    std::vector<LoggedRequest> Requests(const std::string& method, const std::string& name) const;

    std::string Url(const std::string& name) const;
    const std::string& Root() const { return m_dir.Path(); }
    std::string WorkDir() const { return m_dir.Path() + "work/"; }
    std::string ProgramDir() const { return m_dir.Path() + "program/"; }
    std::string DataDir() const { return m_dir.Path() + "data/"; }

private:
    testsupport::TempDir m_dir;
    std::unique_ptr<CStandInServer> m_server;
};

// A zip archive holding the files given as (name, content, mode) with Unix modes, as bytes.
struct PackageFile {
    std::string name;
    std::string content;
    unsigned mode = 0100644;
};
std::string MakePackage(const std::vector<PackageFile>& files);

// Bytes that do not compress, so a package's size follows its content.
std::string NoiseBytes(size_t size, unsigned seed);

} // namespace maintenancetest
