// The installer window's worker installing an emulator package (kind 7: download, then extraction),
// timed, for install_ratio.sh.
//
//   emulator_install_bench install URL WORK_DIR FOLDER   prints the seconds it took; exit 0 on success
//   emulator_install_bench make SOURCE_FOLDER ZIP         packs a folder the way packages are packed

#include "download/Zip.h"
#include "foundation/NetGlobal.h"
#include "foundation/StringConv.h"
#include "maintenance/PackageInstaller.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

int Install(const std::string& url, std::string workDir, const std::string& folder)
{
    if (workDir.back() != '/')
        workDir += '/';
    PopEmulator emulator{"Bench", "1.0", url, folder};
    PopJob job;
    if (!MakePopJob(kPopEmulator, 64, workDir, &emulator, job))
        return 2;
    if (!NetGlobalInit())
        return 1;
    int reports = 0;
    int failure = 0;
    auto start = std::chrono::steady_clock::now();
    CPackageInstaller installer(job, [&](const PopReport& report) {
        ++reports;
        if (report.state == CPackageInstaller::kFailed)
            failure = report.errorCode;
    });
    int result = installer.Run();
    std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    NetGlobalCleanup();
    if (result != CPackageInstaller::kFinished) {
        std::fprintf(stderr, "install failed with code %d\n", failure);
        return 1;
    }
    std::printf("%.3f\n", seconds.count());
    std::fprintf(stderr, "%d progress reports\n", reports);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "install") == 0)
        return Install(argv[2], argv[3], argv[4]);
    if (argc == 4 && std::strcmp(argv[1], "make") == 0) {
        CZip zip;
        return zip.ZipCompress(Utf8ToUtf16(argv[2]), Utf8ToUtf16(argv[3]), true) == 1 ? 0 : 1;
    }
    std::fprintf(stderr, "usage: emulator_install_bench install URL WORK_DIR FOLDER\n"
                         "       emulator_install_bench make SOURCE_FOLDER ZIP\n");
    return 2;
}
