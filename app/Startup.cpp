#include "app/Startup.h"

#include "app/MainFrameNew.h"
#include "app/StartupChecks.h"
#include "ui/DisplayLoss.h"
#include "ui/MessageBox.h"
#include "ui/PaintManager.h"

#include "foundation/AppPaths.h"
#include "foundation/AppSettings.h"
#include "foundation/FileSystem.h"
#include "foundation/NetGlobal.h"
#include "foundation/StringConv.h"
#include "maintenance/UpdateHandOff.h"
#include "maintenance/UpdateVersion.h"
#include "platform/CodePage.h"
#include "platform/Paths.h"
#include "platform/SingleInstance.h"
#include "platform/Trace.h"
#include "store/GameStore.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
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

// SIGTERM, SIGINT and SIGHUP end the program through the main window's normal close and shutdown.
// The signals are blocked in every thread (threads inherit the mask), so only the watcher receives
// them. An ignored signal is thrown away before it can wait in the mask, so SIGTERM and SIGHUP get
// their default action back first: a program started under nohup still shuts down properly when its
// session ends. SIGINT keeps an inherited "ignored", which is how a shell starts a background job.
void BlockTerminationSignals(sigset_t& set)
{
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGHUP, SIG_DFL);
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

// QUOKKA_TEST_BOX_ANSWER: runs of the real program under test have every message box answered with
// its first button (OK, or Yes) without showing it; the caption and text are traced.
void InstallTestBoxAnswerer()
{
    if (std::getenv("QUOKKA_TEST_BOX_ANSWER") == nullptr)
        return;
    UiLib::SetMessageBoxAnswerer(
        [](UiLib::HWND, const UiLib::CDuiString& text, const UiLib::CDuiString& caption, UiLib::UINT type) {
            platform::TraceF("message box: %s | %s", caption.ToUtf8().c_str(), text.ToUtf8().c_str());
            return (type & 0xF) == UiLib::MB_YESNO ? UiLib::IDYES : UiLib::IDOK;
        });
}

// Show requests from later starts arrive on the listener thread, which starts before the main window
// exists (a second start during the first-run settings is answered at once): a request before the
// window is known waits here and is posted once it is.
class CShowRequests {
public:
    void Request()
    {
        std::lock_guard lock(m_mutex);
        platform::Trace("show requested by a second start");
        if (m_window != nullptr)
            CMainFrameNew::PostShowRequest(m_window);
        else
            m_pending = true;
    }
    void SetWindow(UiLib::HWND window)
    {
        std::lock_guard lock(m_mutex);
        m_window = window;
        if (m_window != nullptr && m_pending)
            CMainFrameNew::PostShowRequest(m_window);
        m_pending = false;
    }

private:
    std::mutex m_mutex;
    UiLib::HWND m_window = nullptr;
    bool m_pending = false;
};

// Owns one file descriptor.
class CUniqueFd {
public:
    explicit CUniqueFd(int fd) : m_fd(fd) {}
    ~CUniqueFd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    CUniqueFd(const CUniqueFd&) = delete;
    CUniqueFd& operator=(const CUniqueFd&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

// Waits for a termination signal and then has the UI thread end every modal loop: the dialogs
// open at that moment return as if closed without a choice, and the main window's loop ends, so
// the program shuts down normally. It watches from before the main window is made, so a signal
// during the start-up questions (the update offer, the first-run settings) ends those too. The
// signals arrive on a signal descriptor, the request to stop on an event descriptor, so the
// watcher reacts to either at once and never polls.
//
// Threads: the constructor starts the watcher thread; Stop (or the destructor) wakes and joins it.
// The watcher waits for the UI thread while it ends the loops; the toolkit's Term (or a lost
// display) answers that wait, so Stop is called after Term.
class CSignalWatcher {
public:
    explicit CSignalWatcher(const sigset_t& set)
        : m_signals(::signalfd(-1, &set, SFD_CLOEXEC)), m_wake(::eventfd(0, EFD_CLOEXEC))
    {
        if (m_signals.Get() < 0 || m_wake.Get() < 0) {
            platform::Trace("signal watcher: cannot make its descriptors; signals are not watched");
            return;
        }
        m_thread = std::thread([this] { Run(); });
    }
    ~CSignalWatcher() { Stop(); }
    CSignalWatcher(const CSignalWatcher&) = delete;
    CSignalWatcher& operator=(const CSignalWatcher&) = delete;

    // Wakes the watcher and joins it; does nothing the second time. Blocks while the watcher waits
    // for the UI thread to end the modal loops, so it is called once Term (or a lost display's
    // shutdown) has answered that wait.
    void Stop()
    {
        if (!m_thread.joinable())
            return;
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(m_wake.Get(), &one, sizeof(one));
        m_thread.join();
    }

private:
    void Run()
    {
        pollfd fds[2] = {{m_signals.Get(), POLLIN, 0}, {m_wake.Get(), POLLIN, 0}};
        for (;;) {
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                platform::Trace("signal watcher: poll failed; signals are no longer watched");
                return;
            }
            if (fds[1].revents != 0)
                return;
            signalfd_siginfo info{};
            if (::read(m_signals.Get(), &info, sizeof(info)) != static_cast<ssize_t>(sizeof(info)))
                continue;
            platform::TraceF("main loop: ending on signal %u", info.ssi_signo);
            UiLib::RunOnUiThread(
                [] {
                    CMainFrameNew::EndForSignal();
                    return 0;
                },
                0);
        }
    }

    CUniqueFd m_signals;
    CUniqueFd m_wake;
    std::thread m_thread;
};

// QUOKKA_TEST_MESSAGE_BOX: once the main window exists, a worker asks the UI thread for a message
// box with that text over the main window, the way a service asks for a dialog, and traces the
// answer. The end-to-end tests use it to end the program while a modal dialog is open.
class CTestMessageBox {
public:
    CTestMessageBox(UiLib::HWND owner, std::string text)
        : m_thread([owner, text = std::move(text)] {
              int answer = UiLib::RunOnUiThread([owner, &text] {
                  platform::Trace("test message box: open");
                  return UiLib::MessageBox(owner, UiLib::CDuiString::FromUtf8(text), u"Quokka", UiLib::MB_OK);
              });
              platform::TraceF("test message box: answered %d", answer);
          })
    {
    }
    // Joins the worker: it has its answer once the box is closed or the UI loop has ended.
    ~CTestMessageBox() { Join(); }
    CTestMessageBox(const CTestMessageBox&) = delete;
    CTestMessageBox& operator=(const CTestMessageBox&) = delete;

    void Join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    std::thread m_thread;
};

// Arms the display-loss exit for its lifetime; the shutdown it runs stops what the program runs
// at that moment. Declared after the objects the shutdown reaches, so it is disarmed before they go.
class CDisplayLossArming {
public:
    explicit CDisplayLossArming(std::function<void()> shutdown)
    {
        UiLib::ArmDisplayLossExit(kDisplayLostExitCode,
                                  "quokka: the display connection was lost; the program has shut down",
                                  std::move(shutdown));
    }
    ~CDisplayLossArming() { UiLib::DisarmDisplayLossExit(); }
    CDisplayLossArming(const CDisplayLossArming&) = delete;
    CDisplayLossArming& operator=(const CDisplayLossArming&) = delete;
};

// Says, on stderr and in a box, that the portable folder `folder` cannot be written. Nothing is
// written anywhere: no lock, no settings, no work folder.
void RefuseReadOnlyPortableFolder(const std::string& folder)
{
    std::fprintf(stderr, kReadOnlyPortableText, folder.c_str());
    UiLib::CPaintManagerUI::SetInstance(nullptr);
    UiLib::MessageBox(nullptr,
                      UiLib::CDuiString::FromUtf8("程序文件夹里有 portable 标记，但该文件夹无法写入，"
                                                  "Quokka模拟器无法启动\n" +
                                                  folder +
                                                  "\n请删除该标记，或把Quokka模拟器放到可以写入的文件夹"),
                      u"提示", UiLib::MB_OK);
    UiLib::CPaintManagerUI::Term();
}

} // namespace

void PrepareAppPaths(const std::string& instancePath, const std::string& tempFolder)
{
    platform::FolderEnvironment environment;
    environment.tempFolder = tempFolder;
    environment.programFolderWritable = true;
    PrepareAppPaths(platform::DecideProgramFolders(instancePath, environment));
}

void PrepareAppPaths(const platform::ProgramFolders& folders)
{
    const bool installed = folders.mode == platform::FolderMode::Installed;
    // The work folder is made private inside its parent, the temp folder or the cache folder. The
    // XDG folders may not exist yet in a new account.
    const std::filesystem::path wanted = std::filesystem::path(folders.workFolder).parent_path();
    std::string parent = wanted.parent_path().string();
    if (parent.empty() || parent.back() != '/')
        parent.push_back('/');
    const std::string name = wanted.filename().string();
    if (installed) {
        CreateTree(folders.configFolder);
        CreateTree(folders.dataFolder);
        CreateTree(parent);
    }
    const std::string workDir =
        platform::PrivateFolder(parent, name, name + "-" + std::to_string(::geteuid()) + "-");
    AppPaths paths = MakeAppPaths(folders.programFolder, folders.configFolder, folders.dataFolder,
                                  folders.serversFile, installed, workDir, "");
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

void PrepareLocale()
{
    std::setlocale(LC_ALL, "");
    std::setlocale(LC_NUMERIC, "C");
}

int QuokkaMain()
{
    sigset_t terminationSignals;
    BlockTerminationSignals(terminationSignals);
    InstallTestBoxAnswerer();

    const std::string programFolder = platform::ProgramFolder();
    const platform::ProgramFolders folders =
        platform::DecideProgramFolders(programFolder, platform::CurrentFolderEnvironment(programFolder));
    if (folders.mode == platform::FolderMode::Refused) {
        RefuseReadOnlyPortableFolder(programFolder);
        return 1;
    }
    platform::TraceF("start-up: %s; settings in %s, data in %s",
                     folders.mode == platform::FolderMode::Installed ? "installed" : "portable",
                     folders.configFolder.c_str(), folders.dataFolder.c_str());
    if (folders.mode == platform::FolderMode::Installed)
        CreateTree(folders.dataFolder); // holds the instance lock
    CShowRequests showRequests;         // outlives the instance, whose listener thread reaches it
    platform::SingleInstance instance(kInstanceName, folders.dataFolder);
    if (!instance.TryAcquire()) {
        bool shown = platform::SingleInstance::RequestShow(kInstanceName, 5000);
        platform::TraceF("another instance runs; %s",
                         shown ? "asked it to show its window" : "it did not answer");
        return 0;
    }
    const bool folderFree = instance.TryAcquireDataFolder();
    if (!folderFree) {
        // A copy with another runtime folder runs on this program folder.
        const bool shown = platform::SingleInstance::RequestShowAt(
            platform::SingleInstance::DataFolderSocketPath(folders.dataFolder, kInstanceName), 5000);
        platform::TraceF("another instance runs on this program folder; %s",
                         shown ? "asked it to show its window" : "it did not answer");
        if (shown)
            return 0;
    }
    platform::Trace("single instance: this is the first instance");

    if (!NetGlobalInit())
        return -1;

    PrepareLocale();
    platform::ProcessCodePage(); // fixes the code page from the locale before any worker converts text

    if (!folderFree) {
        UiLib::CPaintManagerUI::SetInstance(nullptr);
        TellFolderInUse(nullptr, folders.dataFolder, folders.mode == platform::FolderMode::Installed);
        UiLib::CPaintManagerUI::Term();
        NetGlobalCleanup();
        return 0;
    }
    // Before any window: a second start while the start-up questions wait is answered at once.
    instance.Listen([&showRequests] { showRequests.Request(); });

    PrepareAppPaths(folders);

    int result = 0;
    {
        // What a lost display has to stop, as far as start-up has got. The services are stopped
        // without the main window, whose destructor would talk to the display.
        std::unique_ptr<CSignalWatcher> signals;
        std::unique_ptr<CTestMessageBox> testBox;
        bool servicesMayRun = false;
        CDisplayLossArming arming([&] {
            if (signals)
                signals->Stop();
            if (servicesMayRun)
                CMainFrameNew::ShutdownServices();
            if (testBox)
                testBox->Join();
        });

        UiLib::CPaintManagerUI::SetInstance(nullptr);
        UiLib::CPaintManagerUI::SetResourcePath(UiLib::CDuiString::FromUtf8(programFolder));
        // A copy that an interrupted update left beside the program goes first.
        platform::TraceF("start-up: Quokka %s (pid %d)", QuokkaVersion(), static_cast<int>(::getpid()));
        RemoveStaleUpdateCopy();
        // Watching before the window's initialisation asks its start-up questions.
        signals = std::make_unique<CSignalWatcher>(terminationSignals);
        // The settings files and the database, each said in a box when it cannot be used as it is;
        // the store is open before any service asks for it.
        LoadServerSettingsOrSay(nullptr, folders.serversFile);
        KeepDamagedSettingsAside(nullptr, GetAppPaths().ConfigFilePath);
        const bool storeOpen = OpenGameStoreOrSay(nullptr);
        if (!storeOpen) {
            result = 1;
        } else if (CMainFrameNew::EndRequested()) {
            platform::Trace("main loop: not entered; a signal ended the start-up");
        } else {
            platform::Trace("start-up: creating the main window");
            auto frame = std::make_unique<CMainFrameNew>();
            servicesMayRun = true;
            UiLib::HWND window =
                frame->Create(nullptr, UiLib::CDuiString::FromUtf8(kMainWindowTitle), 0x10CF0000, 0x100);
            if (window == nullptr) {
                platform::Trace("main window: cannot be created");
                result = -1;
            } else {
                platform::TraceF("start-up: main window created; locale %s, numbers as in %.2f",
                                 std::setlocale(LC_CTYPE, nullptr), 1.5);
                frame->SetIcon(CMainFrameNew::kTrayIconId);
                showRequests.SetWindow(window);
                if (const char* text = std::getenv("QUOKKA_TEST_MESSAGE_BOX"))
                    testBox = std::make_unique<CTestMessageBox>(window, text);
                // The window's initialisation has confirmed an update that started this program and
                // run the start-up update check. A signal during those questions ends the run here.
                if (CMainFrameNew::EndRequested())
                    platform::Trace("main loop: not entered; a signal ended the start-up");
                else
                    frame->ShowModal();
            }
            showRequests.SetWindow(nullptr); // later requests are not posted to a window that goes
            frame.reset();                   // the main window's shutdown
        }
        if (!servicesMayRun)
            CGameStore::DestroyInstance(); // opened before the main window, which would have closed it
        UiLib::CPaintManagerUI::Term();
        // Term has answered whatever the watcher or the test box still waited for.
        if (signals)
            signals->Stop();
        if (testBox)
            testBox->Join();
        platform::Trace("shutdown: finished");
    }

    NetGlobalCleanup();
    return result;
}
