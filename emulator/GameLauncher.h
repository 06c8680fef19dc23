#pragma once

#include "emulator/EmulatorManager.h"
#include "emulator/LaunchPrompts.h"
#include "emulator/RunRecord.h"
#include "platform/Event.h"
#include "platform/Process.h"
#include "platform/WindowMessages.h"
#include "platform/WindowWatch.h"
#include "store/GameinfoRecord.h"
#include "store/LocalGameRecord.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace emulator_config {
class PendingWrites;
}

// How often and how long the launcher looks at an emulator's windows while it runs. The defaults are
// the program's; tests shorten them.
struct LaunchWatchTimings {
    int64_t hideIntervalMs = 50;   // the arcade emulators' console window is hidden ...
    int64_t hideForMs = 5000;      // ... during this long after the start
    int64_t closeIntervalMs = 500; // the PS emulator's main window is looked for this often ...
    int64_t neverShownMs = 10000;  // ... and a window that never showed counts as gone from then
};

// Starts games: makes sure the platform's emulator is installed, asks once for the control method,
// finds the game file (offering the discs of a multi-disc game), has the emulator's configuration put
// in place, runs the emulator on a worker thread, watches its windows where needed, and has the
// configuration taken back when it ends. One game runs at a time.
//
// Threads: the launch calls run on the UI thread and return at once; the dialogs they need go through
// ILaunchPrompts. The game runs on one worker, which posts WM_GAME_STATE (wParam 1 before the start
// when the tips are wanted, 0 at the end) to the owner window. The worker waits on the game's pidfd
// and on the launcher's stop event, so BeginShutdown ends the wait at once; the game itself is left
// running, and its run record stays for the next start.
//
// A program that cannot be started (missing, not a program, refused by the system, or named outside
// its folder) is said to the user from the worker through ILaunchPrompts::PostNotice, "无法启动："
// and its full path; the worker goes on without waiting for the box and ends the run as after an
// exit (WM_GAME_STATE 0, the configuration taken back). An exit code, even 127, is never taken for
// a failed start.
//
// Game runs and the manager's settings runs exclude each other (EmulatorManager::BeginGameRun):
// a launch during a settings run does nothing, as one during a game does.
//
// Crash safety: from the moment the user copy is in place until it has been taken back, a run record
// (emulator, control method, game, process id and start time) is kept on disk. The constructor looks
// at a record left by an earlier run of the program: a game that has ended has its configuration
// taken back on the worker; one that still runs is adopted by the worker, which waits for it and
// then takes the configuration back. Launches are refused meanwhile. The files put in place for a
// run reach the disk as one batch while the emulator starts, and the record says when they have: a
// record of an earlier boot of the machine whose files had not is dropped, the user copy kept whole.
class GameLauncher {
public:
    // The process-wide launcher over the process-wide emulator manager, made on first use under a
    // lock. Its run record is DefaultRunRecordPath().
    static GameLauncher& Instance();
    // Shuts the process-wide launcher down and destroys it; does nothing when there is none.
    static void DestroyInstance();
    // BeginShutdown of the process-wide launcher without making one.
    static void BeginInstanceShutdown();
    // DataFolder() + "database/running-game.rec".
    static std::string DefaultRunRecordPath();

    // The restarts of the second Execute entry after exits with code 1, at most.
    static constexpr int kMaxFallbackStarts = 3;

    // `manager` must outlive the launcher's workers (call Shutdown before destroying the manager).
    // Finishes or adopts the run of an earlier program start named by the record at `runRecordPath`.
    GameLauncher(EmulatorManager& manager, std::string runRecordPath);
    ~GameLauncher();
    GameLauncher(const GameLauncher&) = delete;
    GameLauncher& operator=(const GameLauncher&) = delete;

    // The dialog seam; null (the default) closes every dialog and shows no box. The object must
    // outlive its use.
    void SetPrompts(ILaunchPrompts* prompts);
    // Opens the window watch of a run that needs one; the default is platform::OpenWindowWatch.
    void SetWindowWatchFactory(std::function<std::unique_ptr<platform::IWindowWatch>()> factory);
    void SetWatchTimings(const LaunchWatchTimings& timings);

    // Launch a downloaded game (a Gameinfo row) or a local game (a LocalGame row) with `owner` as the
    // dialogs' owner and the receiver of WM_GAME_STATE. UI thread; blocks only while a dialog is up.
    // True when the game's worker was started; false when nothing is given, a game or a settings
    // run runs, a dialog was closed, the emulator is missing, or the file was not found or has a name
    // beginning with "-" (after saying so; the library keeps the game).
    bool LaunchDownloadedGame(const GameinfoRecord* row, platform::HWND owner);
    bool LaunchLocalGame(const LocalGameRecord* row, platform::HWND owner);

    // Whether a game (or an adopted one) runs or its configuration is still being moved.
    bool IsRunning() const;
    // Blocks until no game runs, at most `timeoutMs`; true when none does.
    bool WaitUntilIdle(int64_t timeoutMs);

    // For the tips window: the running game's platform type id as text and the control method
    // (1 gamepad, 2 keyboard) of the last launch.
    std::string Platform() const;
    int ControlMethod() const;
    // The exit code of the last emulator process that ended (after a terminate by the window watch,
    // 0); nullopt when none was started or it was left running at shutdown.
    std::optional<int> LastExitCode() const;

    // Stops the worker's wait and refuses further launches. Returns at once.
    void BeginShutdown();
    // BeginShutdown, then blocks until the worker has ended (it never waits for a game). Safe to
    // call more than once.
    void Shutdown();

private:
    struct Run;
    enum class WatchKind { None, HideConsole, CloseWhenGone };
    // How a run's file is started: as a program only (an emulator), or as the desktop starts a
    // file (a PC game).
    enum class StartAs { Program, File };

    bool BeginLaunch();
    // The launch steps both kinds of game share: the emulator installed (but for PC games) and the
    // control method stored or asked. False when the launch ends here.
    bool Prepare(Run& run, const std::string& platform, platform::HWND owner, ILaunchPrompts*& prompts);
    // Says why and returns true when the run's game file has a name an emulator would take for an
    // option (StartsLikeAnOption); PC games are never refused.
    bool RefuseOptionLikeName(const Run& run, ILaunchPrompts* prompts);
    bool StartRun(std::unique_ptr<Run> run);
    void RunWork(std::unique_ptr<Run> run);
    // Waits for the earlier run's process, and for any other process in the emulator's folder that
    // started no earlier than `notBefore`, then takes the configuration back.
    void RecoverWork(RunRecord record, EmulatorRecordPtr emulator, uint64_t notBefore);
    void ResumeEarlierRun();
    // Starts one process and waits for it (watching its windows as `kind` says). Updates the run
    // record with its id when `record` is given, then flushes `placed` and says so in the record.
    // Returns its exit code; nullopt when it could not start (`started` false: the system refused
    // it, which a failed exec is too, not an exit code) or the wait was stopped.
    std::optional<int> RunProcess(const std::string& file, const std::string& params, const std::string& dir,
                                  StartAs startAs, WatchKind kind, const std::string& watchTitle,
                                  RunRecord* record, bool& started,
                                  emulator_config::PendingWrites* placed = nullptr);
    // Says "无法启动：" and `path` through the prompts' PostNotice, without waiting for the box.
    void SayCannotStart(platform::HWND owner, const std::string& path);
    void Watch(platform::ProcessHandle& process, WatchKind kind, const std::string& title);
    void Finish();

    EmulatorManager& m_manager;
    RunRecordFile m_recordFile;

    platform::Event m_running{platform::Event::Mode::ManualReset, true}; // set while idle
    platform::Event m_stop{platform::Event::Mode::ManualReset, false};
    std::thread m_worker;
    bool m_launching = false; // a launch call is inside a dialog (UI thread only)

    mutable std::mutex m_mutex; // guards what follows
    ILaunchPrompts* m_prompts = nullptr;
    std::function<std::unique_ptr<platform::IWindowWatch>()> m_watchFactory;
    LaunchWatchTimings m_timings;
    platform::HWND m_owner = nullptr;
    std::string m_platform;
    std::string m_gamePath;
    std::string m_secondPath;
    bool m_localGame = false;
    int m_controlMethod = 1;
    pid_t m_processId = -1;
    std::optional<int> m_lastExitCode;
};
