#pragma once

#include "emulator/EmulatorInstaller.h"
#include "emulator/EmulatorPrompts.h"
#include "emulator/LaunchPrompts.h"
#include "emulator/RunRecord.h"
#include "foundation/HttpClient.h"
#include "platform/Event.h"
#include "platform/Process.h"
#include "platform/WindowMessages.h"
#include "store/EmulatorRecord.h"

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CGameStore;

// A record held by the manager. Records in the maps are never changed: a refresh or an update puts
// a new record in place, so a record handed out stays whole for as long as its holder keeps it.
using EmulatorRecordPtr = std::shared_ptr<const EmulatorRecord>;

// The emulators the program knows: those the update server lists (the listed map) and those
// installed in the program folder (the installed map, persisted in the store's EmulatorInfo table).
// It finds the emulator of a platform, and installs, updates and removes emulators. Both maps are
// keyed by EmulatorId in byte order and guarded by one lock, so any thread may look things up.
//
// Threads: the constructor reads the installed rows from the store (a synchronous store request)
// and starts the first list request on a worker, so no window waits on the network. A refresh runs
// on the same worker, one at a time, and posts WM_EMULIST_READY to the windows that asked for it
// when the new list is in place. Installing, updating and removing run on the UI thread and block
// on the window or message box they open. A settings run of an emulator runs the emulator on a
// worker of its own. BeginShutdown aborts the list transfer and stops waiting for the emulator at
// once; Shutdown (and the destructor) does that and then joins both workers. An emulator that is
// running is left running.
class EmulatorManager {
public:
    // The process-wide manager on the process-wide store, made on first use (under a lock, so two
    // threads never make two).
    static EmulatorManager& Instance();
    // Shuts the process-wide manager down and destroys it; does nothing when there is none.
    static void DestroyInstance();
    // BeginShutdown of the process-wide manager without making one.
    static void BeginInstanceShutdown();

    // Loads the installed emulators from `store`, which must outlive the manager, and, when
    // `fetchList` is set, starts the first list request.
    explicit EmulatorManager(CGameStore& store, bool fetchList = true);
    ~EmulatorManager();
    EmulatorManager(const EmulatorManager&) = delete;
    EmulatorManager& operator=(const EmulatorManager&) = delete;

    // The window and message-box seams; null (the default) means none: installing then fails and
    // every question is answered No. The objects must outlive their use by the manager.
    void SetInstaller(IEmulatorInstaller* installer);
    void SetPrompts(IEmulatorPrompts* prompts);
    // Where a settings run says that its emulator cannot be started (PostNotice, from its worker);
    // null (the default) says nothing. The object must outlive the manager's workers.
    void SetLaunchPrompts(ILaunchPrompts* prompts);
    // How a folder is shown to the user; the default starts the desktop's file manager on it.
    void SetFolderOpener(std::function<void(const std::string& folder)> opener);

    // Fetches the list again on the worker and posts WM_EMULIST_READY (wParam 0, lParam 0) to
    // `window` once the new list is in place; a failed request or an unreadable list changes
    // nothing and posts nothing. While a request is running no second one starts: the window is
    // told when the running one succeeds. Ignored while an emulator runs for its settings and after
    // BeginShutdown. Returns at once.
    void RefreshEmulatorList(platform::HWND window);

    // Whether a list request is running.
    bool RefreshRunning() const;
    // Blocks until no list request is running, at most `timeoutMs`; true when none is.
    bool WaitForRefresh(int timeoutMs);

    // The first listed or installed record (smallest EmulatorId) of a platform type id; null when
    // there is none.
    EmulatorRecordPtr FindListed(int typeId) const;
    EmulatorRecordPtr FindInstalled(int typeId) const;
    bool HasInstalledPlatform(int typeId) const;
    // The record under an EmulatorId, or null.
    EmulatorRecordPtr Listed(const std::string& emulatorId) const;
    EmulatorRecordPtr Installed(const std::string& emulatorId) const;
    // Copies of the maps, for windows that list them.
    std::vector<EmulatorRecordPtr> ListedEmulators() const;
    std::vector<EmulatorRecordPtr> InstalledEmulators() const;

    // The installed emulator of a platform. When none is installed, the platform's listed emulator
    // is installed through the installer, centred on `owner`; if the first list request is still
    // running, it is awaited first. Returns null when the platform has no listed emulator (no
    // message), when the installer failed or was closed, and when the same emulator was installed
    // meanwhile. UI thread.
    EmulatorRecordPtr EnsureEmulator(int typeId, platform::HWND owner);

    // Installs a listed emulator (the window not centred). False when it is already installed or
    // the installer failed. UI thread.
    bool Install(const EmulatorRecord& listed, platform::HWND owner);

    // Asks "是否删除模拟器"; on Yes removes the emulator's record, row and folder. False when it is
    // not installed or the answer was No. A folder that cannot be removed is not reported. UI thread.
    bool Uninstall(const EmulatorRecord& record, platform::HWND owner);

    // Offers the listed version when it is newer than the installed one (dotted components compared
    // as numbers) and, on Yes, installs it over the old one and writes the new record; otherwise says
    // that the installed one is the latest. Does nothing when the emulator is not installed. UI
    // thread.
    void Update(const EmulatorRecord& listed, platform::HWND owner);

    // Shows the emulator's folder in the desktop's file manager. Returns at once.
    void OpenDirectory(const EmulatorRecord& record);

    // Starts the emulator's first Execute entry in its folder without parameters, on a worker that
    // waits for it to end. The user copy of the configuration for the settings file's control method
    // (HandleType "2" keyboard, anything else gamepad) is put in place first and taken back after
    // the emulator ended, so what the user changed there is kept. Ignored while a list request,
    // another settings run or a game (BeginGameRun) is running. An emulator that cannot be started
    // (its program missing, not a program, or refused by the system) is said to the user through
    // the launch prompts' PostNotice, "无法启动：" and the program's path, over `owner`; the worker
    // does not wait for the box. While the emulator runs, a run record at
    // SettingsRunRecordPath() names it: a program that dies meanwhile finds the record at its next
    // start (the constructor), waits on the worker for the emulator if it still runs, and takes the
    // configuration back then, as if the run had ended normally.
    void RunForSettings(const EmulatorRecord& record, platform::HWND owner);
    // DataFolder() + "database/settings-run.rec".
    static std::string SettingsRunRecordPath();
    // Whether an emulator started for its settings is still running.
    bool SettingsRunRunning() const;
    // The process id of the emulator started for its settings, -1 when none runs.
    pid_t SettingsProcessId() const;
    // Ends the emulator started for its settings, with what it started in its process group, through
    // its process handle: once the emulator has ended, its id alone may name another process. The
    // run of an earlier start is ended while its process is still the one waited for. False when
    // none runs. Any thread; does not block (the settings worker reaps the emulator).
    bool EndSettingsRun();
    // Blocks until no emulator runs for its settings, at most `timeoutMs`; true when none does.
    bool WaitForSettingsRun(int timeoutMs);

    // A game run and a settings run both put the user's copy of an emulator's configuration in
    // place and take it back when the emulator ends, so running both at once could lose what the
    // user changed in one of them: they exclude each other. The launcher notes a game run here
    // before its worker starts (true) and fails to when a settings run is active (false, nothing
    // noted); EndGameRun notes its end. Any thread; neither blocks.
    bool BeginGameRun();
    void EndGameRun();
    // Whether a game run is noted.
    bool GameRunning() const;

    // Removes the user's copy of the emulator's configuration for the control method of the
    // settings file (HandleType "1" gamepad, "2" keyboard; any other value removes nothing), so the
    // next run starts from the package's defaults.
    void RestoreDefaultKeys(const EmulatorRecord& record);

    // DataFolder() + "Emulator/" + the platform's short name + "/" + Name, without a trailing
    // separator: the folder that installation unpacks into and every other use reads. Type 0 (all
    // platforms) has the short name "全部机种"; a type id outside the platform table has none, and
    // then a Name that is a platform's short name or "全部机种" has no folder. Empty when the name
    // could not name a folder inside the platform's folder.
    static std::string EmulatorDirectory(const EmulatorRecord& record);

    // Aborts the running list transfer, stops waiting for an emulator and refuses further requests.
    // Returns at once.
    void BeginShutdown();
    // BeginShutdown, then blocks until both workers have ended. Safe to call more than once.
    void Shutdown();

private:
    using RecordMap = std::map<std::string, EmulatorRecordPtr>;

    void StartRefresh(platform::HWND window);
    void RefreshWork();
    void SettingsWork(EmulatorRecordPtr record, platform::HWND owner);
    // Says through the launch prompts that `path` could not be started.
    void SayCannotStart(platform::HWND owner, const std::string& path);
    // Finishes the settings run that an earlier start of the program left behind, on the worker.
    void ResumeSettingsRun();
    void RecoverSettingsRun(RunRecord record, EmulatorRecordPtr emulator, uint64_t notBefore);
    // Runs the installer for `listed`; true when the package was installed.
    bool RunInstaller(const EmulatorRecord& listed, platform::HWND owner, bool centred);
    static EmulatorRecordPtr FirstOfType(const RecordMap& map, int typeId);

    CGameStore& m_store;

    mutable std::mutex m_mutex;            // guards everything below but the workers' own locals
    std::condition_variable m_workerEnded; // a refresh or a settings run ended
    RecordMap m_listed;
    RecordMap m_installed;
    IEmulatorInstaller* m_installer = nullptr;
    IEmulatorPrompts* m_prompts = nullptr;
    ILaunchPrompts* m_launchPrompts = nullptr;
    std::function<void(const std::string&)> m_folderOpener;
    bool m_refreshRunning = false;
    std::vector<platform::HWND> m_refreshWindows; // told when the running request succeeds
    std::thread m_refreshWorker;
    bool m_settingsRunning = false;
    bool m_gameRunning = false;
    pid_t m_settingsPid = -1;
    platform::ProcessHandle* m_settingsProcess = nullptr; // the settings worker's, while it waits on it
    uint64_t m_settingsStartTime = 0; // of the earlier start's process the worker waits for
    std::thread m_settingsWorker;
    RunRecordFile m_settingsRecord; // the settings worker's alone once it runs
    bool m_stopping = false;

    std::mutex m_joinMutex; // one Shutdown at a time
    TransferCancel m_cancel{false};
    platform::Event m_stopSettings{platform::Event::Mode::ManualReset};
};
