// quokka-server: serves a data folder as every server the program talks to, on 127.0.0.1.
//
//   quokka-server --port P --data DIR [--log FILE] [--write-servers-cfg FILE]
//                 [--tls-cert PEM --tls-key PEM]
//
// Port 0 picks a free port. With a certificate and its key the server speaks https only. The first line on
// standard output is "listening on 127.0.0.1:PORT". The server runs until SIGINT or SIGTERM.

#include "server/StandInServer.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <pthread.h>
#include <string>

namespace {

int Usage()
{
    std::cerr << "usage: quokka-server --port P --data DIR [--log FILE] [--write-servers-cfg FILE]\n"
                 "                     [--tls-cert PEM --tls-key PEM]\n";
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    StandInServerOptions options;
    std::string serversCfg;
    bool havePort = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (i + 1 >= argc)
            return Usage();
        std::string value = argv[++i];
        if (arg == "--port") {
            char* end = nullptr;
            long port = std::strtol(value.c_str(), &end, 10);
            if (*end != '\0' || port < 0 || port > 65535)
                return Usage();
            options.port = static_cast<int>(port);
            havePort = true;
        } else if (arg == "--data") {
            options.dataDir = value;
        } else if (arg == "--log") {
            options.logPath = value;
        } else if (arg == "--write-servers-cfg") {
            serversCfg = value;
        } else if (arg == "--tls-cert") {
            options.tlsCertFile = value;
        } else if (arg == "--tls-key") {
            options.tlsKeyFile = value;
        } else {
            return Usage();
        }
    }
    if (!havePort || options.dataDir.empty() || options.tlsCertFile.empty() != options.tlsKeyFile.empty())
        return Usage();

    // Every thread inherits the blocked set, so the signals reach only sigwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    CStandInServer server(options);
    std::string error;
    if (!server.Start(error)) {
        std::cerr << "quokka-server: " << error << "\n";
        return 1;
    }
    if (!serversCfg.empty() && !server.WriteServersCfg(serversCfg)) {
        std::cerr << "quokka-server: cannot write " << serversCfg << "\n";
        return 1;
    }
    std::printf("listening on 127.0.0.1:%d\n", server.Port());
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    server.Stop();
    return 0;
}
