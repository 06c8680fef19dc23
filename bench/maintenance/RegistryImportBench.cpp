// The emulated registry's speed goal: a .reg file of 160,000 keys under one key imported into the
// registry (read, applied, written whole and synced), within 2 s;
// then the runtime checks of the settings window reading that registry, within 1 s. A plain program
// that prints each time beside its goal; the registry lives in a temporary folder it removes.
//
// Run: registry_import_bench [--keys N]

#include "maintenance/RuntimeChecks.h"
#include "platform/Registry.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

using Clock = std::chrono::steady_clock;

namespace {

constexpr double kImportGoalMs = 2000.0;
constexpr double kChecksGoalMs = 1000.0;

double MsSince(Clock::time_point from)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - from).count();
}

// What an installer that registers a file type per extension writes: one key per extension with its
// default value, all under one parent.
std::string MakeRegFile(size_t keys)
{
    std::string file = "Windows Registry Editor Version 5.00\r\n\r\n";
    file.reserve(keys * 72);
    for (size_t i = 0; i < keys; ++i)
        file += "[HKEY_CURRENT_USER\\Software\\Classes\\.ext" + std::to_string(i) +
                "]\r\n@=\"Bench.File\"\r\n\r\n";
    return file;
}

void Report(const char* what, double ms, double goalMs)
{
    std::printf("%s: %.0f ms -- goal < %.0f ms: %s\n", what, ms, goalMs, ms < goalMs ? "met" : "NOT met");
}

} // namespace

int main(int argc, char** argv)
{
    size_t keys = 160000;
    for (int i = 1; i + 1 < argc; i += 2)
        if (std::strcmp(argv[i], "--keys") == 0)
            keys = static_cast<size_t>(std::max(1, std::atoi(argv[i + 1])));

    char pattern[] = "/tmp/quokka_registry_bench_XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string folder = std::string(pattern) + "/";
    const std::string file = MakeRegFile(keys);
    platform::Registry registry(folder);

    int result = 0;
    std::string error;
    Clock::time_point start = Clock::now();
    if (registry.ImportText(file, &error)) {
        Report(("Import of " + std::to_string(keys) + " keys (" + std::to_string(file.size() >> 20) + " MiB)")
                   .c_str(),
               MsSince(start), kImportGoalMs);
        start = Clock::now();
        const RuntimeStates states = ReadRuntimeStates(registry, folder + "system32/");
        Report("The settings window's runtime checks on that registry", MsSince(start), kChecksGoalMs);
        if (states.vc2005)
            std::printf("(unexpected: VC2005 found)\n");
    } else {
        std::fprintf(stderr, "the import was refused: %s\n", error.c_str());
        result = 1;
    }
#if defined(__SANITIZE_ADDRESS__)
    std::printf("Built with the sanitizers: the figures do not stand for a release build.\n");
#endif
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return result;
}
