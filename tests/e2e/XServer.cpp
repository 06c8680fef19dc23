#include "tests/e2e/XServer.h"

#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace e2e {

bool XServer::Available()
{
    const char* path = std::getenv("PATH");
    std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':'))
        if (!folder.empty() && ::access((folder + "/Xvfb").c_str(), X_OK) == 0)
            return true;
    return false;
}

bool XServer::Start()
{
    // -displayfd 1: the server picks a free display and writes its number to standard output once
    // it takes connections; its other messages share the pipe.
    m_process = std::make_unique<testsupport::ChildProcess>(
        std::vector<std::string>{"/usr/bin/env", "Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen",
                                 "0", "1280x1024x24"},
        std::map<std::string, std::string>{}, true);
    while (auto line = m_process->ReadLine(20000)) {
        if (!line->empty() && line->find_first_not_of("0123456789") == std::string::npos) {
            m_display = ":" + *line;
            return true;
        }
    }
    return false;
}

void XServer::Kill()
{
    if (!m_process)
        return;
    m_process->Signal(SIGKILL);
    m_process->Wait(10000);
}

void XServer::Freeze()
{
    if (m_process)
        m_process->Signal(SIGSTOP);
}

} // namespace e2e
