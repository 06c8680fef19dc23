// Downloads one URL into one file with NetDownloadFile and prints the seconds it took on stdout.
// Exit code 0 when the download reported success. Used by download_ratio.sh.

#include "foundation/HttpClient.h"
#include "foundation/NetGlobal.h"

#include <chrono>
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: net_download_bench FILE URL\n");
        return 2;
    }
    if (!NetGlobalInit())
        return 1;
    auto start = std::chrono::steady_clock::now();
    bool ok = NetDownloadFile(argv[1], argv[2]);
    std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    NetGlobalCleanup();
    std::printf("%.3f\n", seconds.count());
    return ok ? 0 : 1;
}
