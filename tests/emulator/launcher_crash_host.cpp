// A program that runs the real launcher the way the application does, for the crash test: it opens
// the program folder's store and emulators, launches one local game and waits for the run to end.
// Given a kill delay it ends itself with SIGKILL that many microseconds after the launch began,
// wherever the launcher then is.
//
//   launcher_crash_host <program folder> <game file> <platform type id> [kill delay in microseconds]

#include "emulator/EmulatorManager.h"
#include "emulator/GameLauncher.h"
#include "foundation/AppPaths.h"
#include "store/GameStore.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <program folder> <game file> <type id> [kill delay us]\n", argv[0]);
        return 2;
    }
    AppPaths paths = GetAppPaths();
    paths.InstancePath = argv[1];
    paths.ConfigFilePath = paths.InstancePath + "quokka.cfg";
    paths.WorkDir = paths.InstancePath + "work/";
    SetAppPaths(paths);

    CGameStore store(paths.InstancePath + "database/quokka.db");
    EmulatorManager manager(store, false);
    GameLauncher launcher(manager, GameLauncher::DefaultRunRecordPath());
    launcher.SetWindowWatchFactory([] { return std::unique_ptr<platform::IWindowWatch>(); });
    // A run left by an earlier host is finished first, as at a program start.
    if (!launcher.WaitUntilIdle(30000))
        return 3;

    std::thread killer;
    if (argc > 4) {
        const long delay = std::strtol(argv[4], nullptr, 10);
        killer = std::thread([delay] {
            std::this_thread::sleep_for(std::chrono::microseconds(delay));
            std::raise(SIGKILL);
        });
        killer.detach();
    }
    LocalGameRecord row;
    row.FilePath = argv[2];
    row.EmulatorId = argv[3];
    std::printf("launching\n");
    std::fflush(stdout);
    if (!launcher.LaunchLocalGame(&row, nullptr))
        return 4;
    launcher.WaitUntilIdle(platform::Event::kInfinite);
    std::printf("done\n");
    std::fflush(stdout);
    return 0;
}
