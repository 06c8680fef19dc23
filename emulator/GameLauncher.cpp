#include "emulator/GameLauncher.h"

#include "emulator/EmulatorConfig.h"
#include "emulator/GameFiles.h"
#include "foundation/AppMessages.h"
#include "foundation/AppPaths.h"
#include "foundation/AppSettings.h"
#include "foundation/FileSystem.h"
#include "platform/Trace.h"
#include "store/StoreListFormat.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::mutex g_instanceMutex;
std::unique_ptr<GameLauncher> g_instance;

constexpr int kPcPlatform = 138;
constexpr const char* kClosingTitle = "ePSXe - 增强型 PSX 模拟器";
constexpr const char* kOptionLikeName = "无法启动：游戏文件名不能以“-”开头";

using Clock = std::chrono::steady_clock;

int64_t MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Marks a launch call as inside its dialogs for as long as it lasts.
struct LaunchingFlag {
    explicit LaunchingFlag(bool& flag) : m_flag(flag) { m_flag = true; }
    ~LaunchingFlag() { m_flag = false; }
    LaunchingFlag(const LaunchingFlag&) = delete;
    LaunchingFlag& operator=(const LaunchingFlag&) = delete;
    bool& m_flag;
};

// The native form of a narrow path of a record; empty when it is not valid text.
std::string Native(const std::string& ansi)
{
    try {
        return NativePath(ansi);
    } catch (const std::exception&) {
        return {};
    }
}

} // namespace

struct GameLauncher::Run {
    platform::HWND owner = nullptr;
    int typeId = 0;
    std::string gamePath;
    std::string secondPath;
    bool local = false;
    int controlMethod = 1;
};

GameLauncher& GameLauncher::Instance()
{
    std::lock_guard lock(g_instanceMutex);
    if (!g_instance)
        g_instance = std::make_unique<GameLauncher>(EmulatorManager::Instance(), DefaultRunRecordPath());
    return *g_instance;
}

void GameLauncher::DestroyInstance()
{
    std::unique_ptr<GameLauncher> gone;
    {
        std::lock_guard lock(g_instanceMutex);
        gone = std::move(g_instance);
    }
}

void GameLauncher::BeginInstanceShutdown()
{
    std::lock_guard lock(g_instanceMutex);
    if (g_instance)
        g_instance->BeginShutdown();
}

std::string GameLauncher::DefaultRunRecordPath()
{
    return DataFolder() + "database/running-game.rec";
}

GameLauncher::GameLauncher(EmulatorManager& manager, std::string runRecordPath)
    : m_manager(manager), m_recordFile(std::move(runRecordPath)), m_watchFactory(platform::OpenWindowWatch)
{
    ResumeEarlierRun();
}

GameLauncher::~GameLauncher()
{
    Shutdown();
}

void GameLauncher::SetPrompts(ILaunchPrompts* prompts)
{
    std::lock_guard lock(m_mutex);
    m_prompts = prompts;
}

void GameLauncher::SetWindowWatchFactory(std::function<std::unique_ptr<platform::IWindowWatch>()> factory)
{
    std::lock_guard lock(m_mutex);
    m_watchFactory = std::move(factory);
}

void GameLauncher::SetWatchTimings(const LaunchWatchTimings& timings)
{
    std::lock_guard lock(m_mutex);
    m_timings = timings;
}

void GameLauncher::ResumeEarlierRun()
{
    std::optional<RunRecord> record = m_recordFile.Load();
    if (!record) {
        if (PathExists(m_recordFile.Path())) {
            platform::TraceF("launcher: unreadable run record %s dropped", m_recordFile.Path().c_str());
            m_recordFile.Remove();
        }
        return;
    }
    if (!record->Flushed && record->BootId != CurrentBootId()) {
        // The machine went down before the files put in place for the run were on the disk: what
        // the emulator's files hold now cannot be told from a file cut short, and the user copy is
        // whole. Nothing is taken back.
        platform::Trace("launcher: the run of an earlier boot was never on the disk; nothing taken back");
        m_recordFile.Remove();
        return;
    }
    if (!record->Prepared) {
        // The program ended while the user copy was being put in place: the copy is whole, and
        // what the emulator's files hold is not worth taking back.
        m_recordFile.Remove();
        return;
    }
    EmulatorRecordPtr emulator = m_manager.Installed(record->EmulatorId);
    if (!emulator) {
        platform::TraceF("launcher: emulator %s of the earlier run is gone", record->EmulatorId.c_str());
        m_recordFile.Remove();
        return;
    }
    // The earlier game may still run: no settings run while it does. One left by an earlier start
    // of the program as well is not ours to refuse; both only wait for what already runs.
    if (!m_manager.BeginGameRun())
        platform::Trace("launcher: an earlier settings run is being finished beside the earlier game");
    {
        std::lock_guard lock(m_mutex);
        m_controlMethod = record->ControlMethod;
        m_gamePath = record->GamePath;
        m_platform = std::to_string(emulator->Emulatortype);
    }
    // Processes in the emulator's folder that started before the run are not its.
    const uint64_t notBefore = m_recordFile.EarliestStart(*record);
    m_running.Reset();
    m_worker =
        std::thread([this, run = *record, emulator, notBefore] { RecoverWork(run, emulator, notBefore); });
}

void GameLauncher::RecoverWork(RunRecord record, EmulatorRecordPtr emulator, uint64_t notBefore)
{
    const std::string folder = EmulatorManager::EmulatorDirectory(*emulator);
    const bool ended = WaitForRecordedRun(
        record, folder, m_recordFile.StartMarkPath(), notBefore, m_stop, [this](pid_t pid) {
            platform::TraceF("launcher: waiting for the game of the earlier run (%d)", static_cast<int>(pid));
            std::lock_guard lock(m_mutex);
            m_processId = pid;
        });
    if (ended) {
        emulator_config::TransferAfterExit(*emulator, record.ControlMethod, record.GamePath);
        m_recordFile.Remove();
    }
    Finish(); // still running at shutdown: the record stays for the next start
}

bool GameLauncher::BeginLaunch()
{
    // An emulator running for its settings has the user's configuration out as a game would: a
    // launch now does nothing, as a second click during a game does.
    if (m_launching || m_stop.IsSet() || m_manager.SettingsRunRunning())
        return false;
    return m_running.Wait(10);
}

bool GameLauncher::Prepare(Run& run, const std::string& platform, platform::HWND owner,
                           ILaunchPrompts*& prompts)
{
    run.owner = owner;
    run.typeId = LeadingInt(platform);
    const bool pc = platform == "138";
    if (!pc && !m_manager.EnsureEmulator(run.typeId, owner))
        return false;
    {
        std::lock_guard lock(m_mutex);
        m_owner = owner;
        prompts = m_prompts;
        run.controlMethod = m_controlMethod; // a PC game without a stored choice keeps the last one
    }
    CAppSettings settings;
    if (settings.HandleType() == "1" || settings.HandleType() == "2") {
        run.controlMethod = settings.HandleType() == "1" ? 1 : 2;
        return true;
    }
    if (pc)
        return true;
    const int answer = prompts ? prompts->AskControlMethod(owner) : -1;
    if (answer != 1 && answer != 2)
        return false;
    settings.SetHandleType(answer == 1 ? "1" : "2");
    settings.Save();
    run.controlMethod = answer;
    return true;
}

bool GameLauncher::LaunchDownloadedGame(const GameinfoRecord* row, platform::HWND owner)
{
    if (row == nullptr || !BeginLaunch())
        return false;
    LaunchingFlag launching{m_launching};

    auto run = std::make_unique<Run>();
    run->local = false;
    run->secondPath = row->PlayUrl;
    ILaunchPrompts* prompts = nullptr;
    if (!Prepare(*run, row->EmulatorId, owner, prompts))
        return false;

    run->gamePath = LocateDownloadedGame(*row, run->typeId);
    if (run->gamePath.empty()) {
        std::vector<std::string> discs = CollectDiscs(*row, run->typeId);
        if (discs.size() < 2) {
            if (prompts)
                prompts->Tell(owner, "游戏文件不存在", "提示");
            return false;
        }
        int chosen = prompts ? prompts->ChooseDisc(owner, static_cast<int>(discs.size())) : -1;
        if (chosen < 0 || chosen >= static_cast<int>(discs.size()))
            return false;
        run->gamePath = discs[static_cast<size_t>(chosen)];
    }
    if (RefuseOptionLikeName(*run, prompts))
        return false;
    return StartRun(std::move(run));
}

bool GameLauncher::LaunchLocalGame(const LocalGameRecord* row, platform::HWND owner)
{
    if (row == nullptr || !BeginLaunch())
        return false;
    LaunchingFlag launching{m_launching};

    auto run = std::make_unique<Run>();
    run->local = true;
    run->secondPath = row->PlayUrl;
    ILaunchPrompts* prompts = nullptr;
    if (!Prepare(*run, row->EmulatorId, owner, prompts))
        return false;

    run->gamePath = Native(row->FilePath);
    if (run->gamePath.empty() || !PathExists(row->FilePath)) {
        if (prompts)
            prompts->Tell(owner, "游戏文件不存在", "提示");
        return false;
    }
    if (RefuseOptionLikeName(*run, prompts))
        return false;
    return StartRun(std::move(run));
}

bool GameLauncher::RefuseOptionLikeName(const Run& run, ILaunchPrompts* prompts)
{
    // A PC game's program is started by its full path and given nothing of its own name.
    if (run.typeId == kPcPlatform || !StartsLikeAnOption(run.gamePath))
        return false;
    platform::TraceF("launcher: %s not started, its name begins with '-'", run.gamePath.c_str());
    if (prompts)
        prompts->Tell(run.owner, kOptionLikeName, "提示");
    return true;
}

bool GameLauncher::StartRun(std::unique_ptr<Run> run)
{
    // A dialog may have been up for a while: a shutdown or a settings run that began meanwhile
    // starts nothing. From here the manager refuses settings runs until Finish.
    if (m_stop.IsSet() || !m_manager.BeginGameRun())
        return false;
    {
        std::lock_guard lock(m_mutex);
        m_platform = std::to_string(run->typeId);
        m_gamePath = run->gamePath;
        m_secondPath = run->secondPath;
        m_localGame = run->local;
        m_controlMethod = run->controlMethod;
    }
    // Reset here, before the worker exists, so that a second launch in the same turn of the UI
    // loop finds the game running. The last worker set the event as its last step.
    m_running.Reset();
    if (m_worker.joinable())
        m_worker.join();
    m_worker = std::thread([this, work = std::move(run)]() mutable { RunWork(std::move(work)); });
    return true;
}

void GameLauncher::RunWork(std::unique_ptr<Run> run)
{
    const bool pc = run->typeId == kPcPlatform;
    std::string file;
    std::string shownPath; // the program's full path for the user, also when it was refused
    std::string dir;
    std::string params;
    EmulatorRecordPtr emulator;
    std::optional<RunRecord> record;
    emulator_config::PendingWrites placed;
    WatchKind watch = WatchKind::None;
    std::string watchTitle;

    if (!pc) {
        emulator = m_manager.FindInstalled(run->typeId);
        if (!emulator) {
            Finish();
            return;
        }
        if (CAppSettings().ShowKeyMapTips() == "1")
            platform::PostMessage(run->owner, WM_GAME_STATE, 1, 0);

        // The record is written once the user copy and the pads are in place: before that, a
        // program that dies leaves the user copy whole and nothing worth taking back, as if there
        // were no record. The files put in place are not flushed to the disk one by one (they are
        // made again from the user copy before every run) but as one batch while the emulator
        // starts, and the record says when that is done (see RunRecord::Flushed).
        emulator_config::EnsureUserDirectory(*emulator, run->controlMethod);
        emulator_config::TransferBeforeLaunch(*emulator, run->controlMethod, run->gamePath, placed);
        const std::string& id = emulator->EmulatorId;
        if (run->controlMethod == 1 && (id == "1250001" || id == "1300001" || id == "1220001"))
            emulator_config::WriteControllers(*emulator, run->gamePath, &placed);
        record = RunRecord{emulator->EmulatorId,   run->controlMethod, run->gamePath, true, 0, 0,
                           placed.Paths().empty(), CurrentBootId()};
        m_recordFile.Save(*record);

        dir = EmulatorManager::EmulatorDirectory(*emulator);
        // The arcade emulators find their games in "roms/". A shutdown ends the copy, and the run
        // starts nothing then (below).
        if (!dir.empty() && (id == "1260001" || id == "1230001" || id == "1460001") &&
            !CopyGameIntoRoms(run->gamePath, dir + "/roms", m_stop))
            platform::TraceF("launcher: %s not copied into roms", run->gamePath.c_str());
        const std::string entry =
            emulator->Execute.empty() ? std::string() : Native(emulator->Execute.front());
        shownPath = dir + "/" + entry;
        if (!dir.empty() && !emulator->Execute.empty()) {
            if (!JoinInsideFolder(dir + "/", entry, file))
                file.clear();
            else
                shownPath = file;
            if (id == "1230001" || id == "1460001") {
                watch = WatchKind::HideConsole;
                watchTitle = dir + "/" + entry;
            } else if (id == "1190001") {
                watch = WatchKind::CloseWhenGone;
                watchTitle = kClosingTitle;
            }
        }
        params = BuildLaunchParameters(Native(emulator->Executeparam), run->gamePath);
    } else if (run->local) {
        // Started by its full path in its own folder: a program gone meanwhile is not looked for
        // elsewhere (in PATH).
        size_t slash = run->gamePath.rfind('/');
        dir = slash == std::string::npos ? std::string() : run->gamePath.substr(0, slash + 1);
        file = run->gamePath;
        shownPath = run->gamePath;
    } else {
        // The row names the program inside the game's folder.
        std::string second = Native(run->secondPath);
        std::string joined;
        shownPath = run->gamePath + second;
        std::replace(shownPath.begin() + static_cast<std::ptrdiff_t>(run->gamePath.size()), shownPath.end(),
                     '\\', '/');
        if (JoinInsideFolder(run->gamePath, second, joined)) {
            size_t slash = joined.rfind('/');
            dir = joined.substr(0, slash + 1);
            if (slash + 1 < joined.size())
                file = joined;
            shownPath = joined;
        } else {
            platform::TraceF("launcher: PC game program %s refused", second.c_str());
        }
    }

    if (m_stop.IsSet()) {
        Finish(); // nothing started; a prepared record is finished at the next start
        return;
    }
    // An emulator's program has to be one; a PC game's file starts as the desktop starts a file.
    const StartAs startAs = pc ? StartAs::File : StartAs::Program;
    std::optional<int> exitCode;
    bool started = false;
    if (!file.empty())
        exitCode = RunProcess(file, params, dir, startAs, watch, watchTitle, record ? &*record : nullptr,
                              started, &placed);
    else
        platform::Trace("launcher: nothing to start");
    if (!started)
        SayCannotStart(run->owner, shownPath);

    // An emulator that cannot start with its first program says so with exit code 1; the second
    // program is tried instead, a bounded number of times.
    if (!pc && emulator->Execute.size() >= 2) {
        std::string fallback;
        if (!JoinInsideFolder(dir + "/", Native(emulator->Execute[1]), fallback))
            fallback.clear();
        for (int starts = 0; exitCode == 1 && !fallback.empty() && starts < kMaxFallbackStarts; ++starts) {
            exitCode =
                RunProcess(fallback, params, dir, startAs, watch, watchTitle, &*record, started, &placed);
            if (!started)
                SayCannotStart(run->owner, fallback);
        }
    }
    if (m_stop.IsSet()) {
        Finish(); // the game may still run: its record stays for the next start
        return;
    }
    if (!pc) {
        platform::PostMessage(run->owner, WM_GAME_STATE, 0, 0);
        emulator_config::TransferAfterExit(*emulator, run->controlMethod, run->gamePath);
        m_recordFile.Remove();
    }
    Finish();
}

std::optional<int> GameLauncher::RunProcess(const std::string& file, const std::string& params,
                                            const std::string& dir, StartAs startAs, WatchKind kind,
                                            const std::string& watchTitle, RunRecord* record, bool& started,
                                            emulator_config::PendingWrites* placed)
{
    // Until the record names the process, the start mark lets the next start find it, should the
    // program die before then, even while the process has not yet become the emulator.
    RunRecordFile::StartMark mark = record ? m_recordFile.MarkStart() : RunRecordFile::StartMark();
    platform::ProcessHandle process = startAs == StartAs::Program
                                          ? platform::StartProgram(file, params, dir, platform::kShowNormal)
                                          : platform::StartProcess(file, params, dir, platform::kShowNormal);
    started = static_cast<bool>(process);
    if (!process) {
        const int error = errno;
        platform::TraceF("launcher: cannot start %s (errno %d)", file.c_str(), error);
        return std::nullopt;
    }
    if (record) {
        record->Pid = process.Pid();
        record->StartTime = platform::ProcessStartTime(process.Pid());
        m_recordFile.Save(*record);
        mark = RunRecordFile::StartMark();
        // While the emulator loads, the files put in place for it go to the disk.
        if (placed != nullptr && !placed->Paths().empty()) {
            if (!placed->Flush())
                platform::Trace("launcher: the configuration put in place is not all on the disk");
            record->Flushed = true;
            m_recordFile.Save(*record);
        }
    }
    {
        std::lock_guard lock(m_mutex);
        m_processId = process.Pid();
    }
    Watch(process, kind, watchTitle);
    std::optional<int> exitCode = process.ExitCode();
    std::lock_guard lock(m_mutex);
    m_processId = -1;
    m_lastExitCode = exitCode;
    return exitCode;
}

void GameLauncher::Watch(platform::ProcessHandle& process, WatchKind kind, const std::string& title)
{
    if (kind == WatchKind::None) {
        process.Wait(platform::Event::kInfinite, &m_stop);
        return;
    }
    std::function<std::unique_ptr<platform::IWindowWatch>()> factory;
    LaunchWatchTimings timings;
    {
        std::lock_guard lock(m_mutex);
        factory = m_watchFactory;
        timings = m_timings;
    }
    std::unique_ptr<platform::IWindowWatch> watch = factory ? factory() : nullptr;
    if (!watch || !watch->Available()) {
        platform::Trace("launcher: no display to watch the emulator's windows; watch skipped");
        process.Wait(platform::Event::kInfinite, &m_stop);
        return;
    }
    const Clock::time_point start = Clock::now();
    if (kind == WatchKind::HideConsole) {
        for (;;) {
            const int64_t left = timings.hideForMs - MillisecondsSince(start);
            if (left <= 0)
                break;
            if (process.Wait(std::min(timings.hideIntervalMs, left), &m_stop) !=
                platform::WaitResult::TimedOut)
                return;
            for (const platform::TopLevelWindow& window : watch->ListWindows())
                if (window.visible && window.title == title)
                    watch->HideWindow(window.id);
        }
        process.Wait(platform::Event::kInfinite, &m_stop);
        return;
    }
    // The emulator leaves a process behind when its main window closes: once the window has been
    // seen and is gone (or it has not shown for a long while), the process is ended.
    bool seen = false;
    for (;;) {
        if (process.Wait(timings.closeIntervalMs, &m_stop) != platform::WaitResult::TimedOut)
            return;
        const std::vector<platform::TopLevelWindow> windows = watch->ListWindows();
        const bool present = std::any_of(windows.begin(), windows.end(),
                                         [&](const platform::TopLevelWindow& w) { return w.title == title; });
        if (present) {
            seen = true;
            continue;
        }
        if (seen || MillisecondsSince(start) >= timings.neverShownMs) {
            platform::TraceF("launcher: emulator window %s, process ended", seen ? "closed" : "never shown");
            process.Terminate(0);
            process.Wait(platform::Event::kInfinite, &m_stop);
            return;
        }
    }
}

void GameLauncher::SayCannotStart(platform::HWND owner, const std::string& path)
{
    ILaunchPrompts* prompts = nullptr;
    {
        std::lock_guard lock(m_mutex);
        prompts = m_prompts;
    }
    // Paths are native (UTF-8) text.
    if (prompts != nullptr)
        prompts->PostNotice(owner, CannotStartText(path), "提示");
}

void GameLauncher::Finish()
{
    {
        std::lock_guard lock(m_mutex);
        m_processId = -1;
    }
    m_manager.EndGameRun();
    m_running.Set();
}

bool GameLauncher::IsRunning() const
{
    return !m_running.IsSet();
}

bool GameLauncher::WaitUntilIdle(int64_t timeoutMs)
{
    return m_running.Wait(timeoutMs);
}

std::string GameLauncher::Platform() const
{
    std::lock_guard lock(m_mutex);
    return m_platform;
}

int GameLauncher::ControlMethod() const
{
    std::lock_guard lock(m_mutex);
    return m_controlMethod;
}

std::optional<int> GameLauncher::LastExitCode() const
{
    std::lock_guard lock(m_mutex);
    return m_lastExitCode;
}

void GameLauncher::BeginShutdown()
{
    m_stop.Set();
}

void GameLauncher::Shutdown()
{
    BeginShutdown();
    if (m_worker.joinable())
        m_worker.join();
}
