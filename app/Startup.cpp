#include "app/Startup.h"

#include "app/MainFrameNew.h"
#include "ui/PaintManager.h"

#include "foundation/AppPaths.h"
#include "foundation/AppSettings.h"
#include "foundation/FileSystem.h"
#include "foundation/NetGlobal.h"
#include "foundation/StringConv.h"
#include "platform/CodePage.h"
#include "platform/Paths.h"
#include "platform/SingleInstance.h"
#include "platform/Trace.h"

#include <atomic>
#include <clocale>
#include <csignal>
#include <ctime>
#include <memory>
#include <stdexcept>
#include <thread>

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

// SIGTERM and SIGINT end the program through the main window's normal close and shutdown. The
// signals are blocked in every thread (threads inherit the mask), so only the watcher receives them.
void BlockTerminationSignals(sigset_t& set)
{
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

// Waits for a termination signal and posts WM_CLOSE to the main window; stops when asked.
class CSignalWatcher {
public:
    CSignalWatcher(const sigset_t& set, UiLib::HWND window)
        : m_set(set), m_window(window), m_thread([this] { Run(); })
    {
    }
    ~CSignalWatcher()
    {
        m_stop = true;
        m_thread.join();
    }
    CSignalWatcher(const CSignalWatcher&) = delete;
    CSignalWatcher& operator=(const CSignalWatcher&) = delete;

private:
    void Run()
    {
        const timespec wait{0, 100 * 1000 * 1000};
        while (!m_stop) {
            int signal = sigtimedwait(&m_set, nullptr, &wait);
            if (signal > 0) {
                platform::TraceF("main loop: ending on signal %d", signal);
                UiLib::PostMessage(m_window, UiLib::WM_CLOSE, UiLib::IDOK, 0);
            }
        }
    }

    sigset_t m_set;
    UiLib::HWND m_window;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace

void PrepareAppPaths(const std::string& instancePath, const std::string& tempFolder)
{
    AppPaths paths;
    paths.InstancePath = instancePath;
    paths.WorkDir = PrivateWorkFolder(tempFolder);
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
        platform::TraceF("another instance runs; %s",
                         shown ? "asked it to show its window" : "it did not answer");
        return 0;
    }
    platform::Trace("single instance: this is the first instance");

    if (!NetGlobalInit())
        return -1;

    std::setlocale(LC_ALL, "");
    platform::ProcessCodePage(); // fixes the code page from the locale before any worker converts text

    PrepareAppPaths(platform::ProgramFolder(), platform::TempFolder());

    UiLib::CPaintManagerUI::SetInstance(nullptr);
    UiLib::CPaintManagerUI::SetResourcePath(UiLib::CDuiString::FromUtf8(platform::ProgramFolder()));
    int result = 0;
    {
        auto frame = std::make_unique<CMainFrameNew>();
        UiLib::HWND window =
            frame->Create(nullptr, UiLib::CDuiString::FromUtf8(kMainWindowTitle), 0x10CF0000, 0x100);
        if (window == nullptr) {
            platform::Trace("main window: cannot be created");
            result = -1;
        } else {
            frame->SetIcon(CMainFrameNew::kTrayIconId);
            // Show requests arrive on the listener thread, which only posts to the window.
            instance.Listen([window] {
                platform::Trace("show requested by a second start");
                CMainFrameNew::PostShowRequest(window);
            });
            CSignalWatcher signals(terminationSignals, window);
            frame->ShowModal();
        }
        frame.reset(); // the main window's shutdown
    }
    UiLib::CPaintManagerUI::Term();

    NetGlobalCleanup();
    return result;
}
