#include "app/Startup.h"

#include "foundation/AppPaths.h"
#include "foundation/AppSettings.h"
#include "foundation/FileSystem.h"
#include "foundation/NetGlobal.h"
#include "foundation/StringConv.h"
#include "platform/CodePage.h"
#include "platform/Paths.h"
#include "platform/SingleInstance.h"
#include "platform/Trace.h"

#include <clocale>
#include <csignal>
#include <stdexcept>

namespace {

// Folder values are native names; EnsureDirectoryTree takes them in the process code page.
void CreateTree(const std::string& nativeFolder)
{
    try {
        EnsureDirectoryTree(Utf8ToOem(nativeFolder));
    } catch (const std::runtime_error&) {
        platform::TraceF("cannot create %s: not representable in the code page", nativeFolder.c_str());
    }
}

// Until the main window exists the program's main loop waits for a request to end (SIGTERM or
// SIGINT). The signals are blocked in every thread so that only this wait receives them.
void BlockTerminationSignals(sigset_t& set)
{
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int RunMainLoop(const sigset_t& set)
{
    int signal = 0;
    sigwait(&set, &signal);
    platform::TraceF("main loop: ending on signal %d", signal);
    return 0;
}

} // namespace

void PrepareAppPaths(const std::string& instancePath, const std::string& tempFolder)
{
    AppPaths paths;
    paths.InstancePath = instancePath;
    paths.WorkDir = tempFolder + "QuokkaAppStore/";
    paths.ArcadeImageDir = paths.WorkDir + "cache/image/arcade/";
    paths.MameImageDir = paths.WorkDir + "cache/image/mame/";
    paths.PcImageDir = paths.WorkDir + "cache/image/pc/";
    paths.ImageCacheDir = paths.WorkDir + "/cache/image/";
    paths.ConfigFilePath = paths.InstancePath + "quokka.cfg";
    SetAppPaths(paths);

    CreateTree(paths.WorkDir);
    CreateTree(paths.ArcadeImageDir);
    CreateTree(paths.MameImageDir);
    CreateTree(paths.PcImageDir);
    CreateTree(paths.ImageCacheDir);

    CAppSettings settings(paths.ConfigFilePath);
    SetRomDir(settings.RomPath());
    CreatePlatformDirs();
}

int QuokkaMain()
{
    sigset_t terminationSignals;
    BlockTerminationSignals(terminationSignals);

    platform::SingleInstance instance(kInstanceName);
    if (!instance.TryAcquire()) {
        bool shown = platform::SingleInstance::RequestShow(kInstanceName, 5000);
        platform::TraceF("another instance runs; %s", shown ? "asked it to show its window" : "it did not answer");
        return 0;
    }
    platform::Trace("single instance: this is the first instance");

    if (!NetGlobalInit())
        return -1;

    std::setlocale(LC_ALL, "");
    platform::ProcessCodePage(); // fixes the code page from the locale before any worker converts text

    PrepareAppPaths(platform::ProgramFolder(), platform::TempFolder());

    // The main window's show request arrives on the listener thread; the window posts it to its loop.
    instance.Listen([] { platform::Trace("show requested by a second start"); });
    int result = RunMainLoop(terminationSignals);

    NetGlobalCleanup();
    return result;
}
