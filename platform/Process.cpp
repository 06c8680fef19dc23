#include "platform/Process.h"

#include "platform/Paths.h"
#include "platform/Registry.h"
#include "platform/Spawn.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {

// While a stop event is given, a wait looks at it this often.
constexpr int kStopPollMs = 50;

std::mutex g_orphansMutex;
std::vector<pid_t> g_orphans; // children whose handle went while they still ran

// Reaps the orphans that have ended since the last call.
void ReapOrphans()
{
    std::lock_guard lock(g_orphansMutex);
    std::erase_if(g_orphans, [](pid_t pid) {
        int status = 0;
        pid_t result = ::waitpid(pid, &status, WNOHANG);
        return result == pid || (result < 0 && errno == ECHILD);
    });
}

int OpenPidFd(pid_t pid)
{
#ifdef SYS_pidfd_open
    int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (fd >= 0) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        return fd;
    }
#endif
    (void)pid;
    return -1;
}

std::string WithoutTrailingSlash(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string LowerAscii(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool IsRegularFile(const std::string& path)
{
    struct stat info = {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The first executable regular file named `name` in the folders of `searchPath`; empty when none.
std::string SearchPath(const std::string& name, const std::string& searchPath)
{
    size_t start = 0;
    while (start <= searchPath.size()) {
        size_t end = searchPath.find(':', start);
        if (end == std::string::npos)
            end = searchPath.size();
        std::string folder = searchPath.substr(start, end - start);
        if (folder.empty())
            folder = ".";
        std::string candidate = folder + "/" + name;
        if (IsRegularFile(candidate) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

std::string EnvironmentValue(const std::vector<std::string>& environment, std::string_view name)
{
    for (const std::string& entry : environment) {
        if (entry.size() > name.size() && entry.compare(0, name.size(), name) == 0 &&
            entry[name.size()] == '=')
            return entry.substr(name.size() + 1);
    }
    return {};
}

bool StartsWithShebang(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char head[2] = {};
    ssize_t got = ::read(fd, head, sizeof head);
    ::close(fd);
    return got == 2 && head[0] == '#' && head[1] == '!';
}

} // namespace

struct ProcessHandle::State {
    pid_t pid = -1;
    int pidfd = -1;
    std::mutex mutex;
    bool reaped = false;
    int exitCode = -1;
    std::optional<int> terminatedWith; // the code Terminate asked to report
    bool adopted = false;              // not our child: never reaped here
    uint64_t startTime = 0;            // of an adopted process

    ~State()
    {
        if (!adopted && !TryReap()) {
            std::lock_guard lock(g_orphansMutex);
            g_orphans.push_back(pid);
        }
        if (pidfd >= 0)
            ::close(pidfd);
        ReapOrphans();
    }

    // Reaps the child if it has ended. True once it has been reaped.
    bool TryReap()
    {
        std::lock_guard lock(mutex);
        return TryReapLocked();
    }

    bool TryReapLocked()
    {
        if (reaped)
            return true;
        if (adopted)
            return NoticeAdoptedEndLocked();
        siginfo_t info = {};
        if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG) != 0) {
            if (errno == EINTR)
                return false;
            // Someone else reaped it: it has ended, with a status no one can tell any more.
            reaped = true;
            exitCode = -1;
            return true;
        }
        if (info.si_pid != pid)
            return false;
        reaped = true;
        exitCode = info.si_code == CLD_EXITED ? info.si_status : 128 + info.si_status;
        if (terminatedWith)
            exitCode = *terminatedWith;
        return true;
    }

    // An adopted process has ended when its pidfd is readable or, without one, when no process
    // with its id and start time runs any more. Its status belongs to its real parent.
    bool NoticeAdoptedEndLocked()
    {
        bool ended = false;
        if (pidfd >= 0) {
            pollfd entry = {pidfd, POLLIN, 0};
            ended = ::poll(&entry, 1, 0) > 0;
        } else {
            ended = ProcessStartTime(pid) != startTime;
        }
        if (!ended)
            return false;
        reaped = true;
        exitCode = terminatedWith.value_or(-1);
        return true;
    }
};

ProcessHandle::ProcessHandle(std::unique_ptr<State> state) : m_state(std::move(state)) {}
ProcessHandle::ProcessHandle() = default;
ProcessHandle::~ProcessHandle() = default;
ProcessHandle::ProcessHandle(ProcessHandle&& other) noexcept = default;
ProcessHandle& ProcessHandle::operator=(ProcessHandle&& other) noexcept = default;

pid_t ProcessHandle::Pid() const
{
    return m_state ? m_state->pid : -1;
}

WaitResult ProcessHandle::Wait(int64_t timeoutMs, Event* stop)
{
    if (!m_state)
        return WaitResult::Failed;
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    for (;;) {
        if (m_state->TryReap())
            return WaitResult::Exited;
        if (stop && stop->IsSet())
            return WaitResult::Stopped;
        int64_t slice = -1;
        if (timeoutMs >= 0) {
            int64_t elapsed =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
            if (elapsed >= timeoutMs)
                return WaitResult::TimedOut;
            slice = timeoutMs - elapsed;
        }
        if (stop && (slice < 0 || slice > kStopPollMs))
            slice = kStopPollMs;
        if (m_state->pidfd >= 0) {
            pollfd entry = {m_state->pidfd, POLLIN, 0};
            ::poll(&entry, 1, static_cast<int>(slice));
        } else {
            // Without a pidfd the child's end cannot be waited for along with a time limit: look often.
            ::poll(nullptr, 0, static_cast<int>(slice < 0 || slice > 10 ? 10 : slice));
        }
    }
}

std::optional<int> ProcessHandle::ExitCode()
{
    if (!m_state || !m_state->TryReap())
        return std::nullopt;
    return m_state->exitCode;
}

bool ProcessHandle::IsRunning()
{
    return m_state && !m_state->TryReap();
}

bool ProcessHandle::Terminate()
{
    return Terminate(128 + SIGKILL);
}

bool ProcessHandle::Terminate(int exitCode)
{
    if (!m_state)
        return false;
    std::lock_guard lock(m_state->mutex);
    // Holding the lock keeps a child unreaped, so its process id (and group id) cannot have been
    // given to another process yet. An adopted process is not ours to keep: its start time shows
    // that the id still names it.
    if (m_state->TryReapLocked())
        return false;
    if (m_state->adopted && ProcessStartTime(m_state->pid) != m_state->startTime)
        return false;
    m_state->terminatedWith = exitCode;
    if (::kill(-m_state->pid, SIGKILL) != 0)
        ::kill(m_state->pid, SIGKILL); // the child left its group
    return true;
}

ProcessHandle ProcessHandle::Adopt(pid_t pid, uint64_t startTime)
{
    if (pid <= 1 || startTime == 0 || ProcessStartTime(pid) != startTime)
        return {};
    auto state = std::make_unique<State>();
    state->pid = pid;
    state->adopted = true;
    state->startTime = startTime;
    state->pidfd = OpenPidFd(pid);
    // The id could have been given to another process between the two looks; the pidfd names the
    // process it was opened on.
    if (ProcessStartTime(pid) != startTime)
        return {};
    return ProcessHandle(std::move(state));
}

uint64_t ProcessStartTime(pid_t pid)
{
    if (pid <= 0)
        return 0;
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // The command name (field 2) is in parentheses and may hold anything, ')' and blanks included.
    size_t close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(close + 1));
    std::string field;
    // Field 3 is the state; field 22 the start time.
    for (int index = 3; fields >> field; ++index) {
        if (index == 3 && (field == "Z" || field == "X" || field == "x"))
            return 0;
        if (index == 22) {
            char* end = nullptr;
            unsigned long long value = std::strtoull(field.c_str(), &end, 10);
            return end != nullptr && *end == '\0' ? static_cast<uint64_t>(value) : 0;
        }
    }
    return 0;
}

std::vector<std::string> SplitCommandLine(std::string_view params)
{
    std::vector<std::string> args;
    size_t i = 0;
    const size_t n = params.size();
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    for (;;) {
        while (i < n && blank(params[i]))
            ++i;
        if (i >= n)
            break;
        std::string arg;
        bool quoted = false;
        while (i < n && (quoted || !blank(params[i]))) {
            if (params[i] == '\\') {
                size_t count = 0;
                while (i < n && params[i] == '\\') {
                    ++count;
                    ++i;
                }
                if (i < n && params[i] == '"') {
                    arg.append(count / 2, '\\');
                    if (count % 2 == 1) {
                        arg.push_back('"');
                        ++i;
                    }
                    // An even count leaves the quote to open or close a quoted part below.
                } else {
                    arg.append(count, '\\');
                }
                continue;
            }
            if (params[i] == '"') {
                ++i;
                if (quoted && i < n && params[i] == '"') {
                    arg.push_back('"'); // a doubled quote inside a quoted part
                    ++i;
                    continue;
                }
                quoted = !quoted;
                continue;
            }
            arg.push_back(params[i]);
            ++i;
        }
        args.push_back(std::move(arg));
    }
    return args;
}

std::vector<std::string> ChildEnvironment()
{
    std::vector<std::string> environment;
    std::string oldPath;
    for (char** entry = environ; entry && *entry; ++entry) {
        std::string_view text(*entry);
        if (text.starts_with("PATH=")) {
            oldPath = text.substr(5);
            continue;
        }
        if (text.starts_with("SystemRoot="))
            continue;
        environment.emplace_back(text);
    }
    if (oldPath.empty())
        oldPath = "/usr/local/bin:/usr/bin:/bin";
    environment.push_back("PATH=" + WithoutTrailingSlash(ProgramFolder()) + ":" + oldPath);
    environment.push_back("SystemRoot=" + WithoutTrailingSlash(WindowsFolder()));
    return environment;
}

namespace {

// What StartProcess and StartProgram share; documents and folders go to the desktop's opener only
// when `documents` is set. Null when nothing was started (errno says why).
std::unique_ptr<ProcessHandle::State> Start(const std::string& file, const std::string& params,
                                            const std::string& dir, bool documents)
{
    ReapOrphans();
    if (file.empty()) {
        errno = ENOENT;
        return {};
    }
    EnsureWindowsFolder();
    const std::vector<std::string> environment = ChildEnvironment();
    const std::string searchPath = EnvironmentValue(environment, "PATH");

    std::string target;
    const bool bare = file.find('/') == std::string::npos;
    const std::string lower = LowerAscii(file);
    if (bare && (lower == "regedit" || lower == "regedit.exe")) {
        target = ProgramFolder() + "quokka-regedit";
    } else if (file.front() == '/') {
        target = file;
    } else if (!dir.empty() && std::filesystem::exists(std::filesystem::path(dir) / file)) {
        target = (std::filesystem::absolute(std::filesystem::path(dir) / file)).string();
    } else if (!bare) {
        target = std::filesystem::absolute(file).string();
    } else {
        target = SearchPath(file, searchPath);
    }

    struct stat info = {};
    if (target.empty() || ::stat(target.c_str(), &info) != 0) {
        errno = ENOENT;
        return {};
    }

    std::vector<std::string> argv;
    std::string program;
    const bool regular = S_ISREG(info.st_mode);
    if (regular && ::access(target.c_str(), X_OK) == 0) {
        program = target;
        argv.push_back(target);
        for (std::string& arg : SplitCommandLine(params))
            argv.push_back(std::move(arg));
    } else if (regular && StartsWithShebang(target)) {
        program = "/bin/sh";
        argv = {"/bin/sh", target};
        for (std::string& arg : SplitCommandLine(params))
            argv.push_back(std::move(arg));
    } else if (!documents) {
        errno = EACCES;
        return {};
    } else {
        // Folders and documents open in the desktop's program for them.
        program = SearchPath("xdg-open", searchPath);
        if (program.empty()) {
            errno = ENOENT;
            return {};
        }
        argv = {"xdg-open", target};
    }

    std::vector<char*> argvPointers;
    for (std::string& arg : argv)
        argvPointers.push_back(arg.data());
    argvPointers.push_back(nullptr);
    std::vector<std::string> envCopy = environment;
    std::vector<char*> envPointers;
    for (std::string& entry : envCopy)
        envPointers.push_back(entry.data());
    envPointers.push_back(nullptr);

    CleanSpawnAttributes attributes;
    short flags = 0;
    posix_spawnattr_getflags(attributes.Get(), &flags);
    posix_spawnattr_setflags(attributes.Get(), static_cast<short>(flags | POSIX_SPAWN_SETPGROUP));
    posix_spawnattr_setpgroup(attributes.Get(), 0);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!dir.empty())
        posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());

    pid_t pid = -1;
    int error = ::posix_spawn(&pid, program.c_str(), &actions, attributes.Get(), argvPointers.data(),
                              envPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        errno = error;
        return {};
    }
    auto state = std::make_unique<ProcessHandle::State>();
    state->pid = pid;
    state->pidfd = OpenPidFd(pid);
    return state;
}

} // namespace

ProcessHandle StartProcess(const std::string& file, const std::string& params, const std::string& dir,
                           int show)
{
    (void)show; // a started program decides how its windows appear
    std::unique_ptr<ProcessHandle::State> state = Start(file, params, dir, true);
    return state ? ProcessHandle(std::move(state)) : ProcessHandle();
}

ProcessHandle StartProgram(const std::string& file, const std::string& params, const std::string& dir,
                           int show)
{
    (void)show;
    std::unique_ptr<ProcessHandle::State> state = Start(file, params, dir, false);
    return state ? ProcessHandle(std::move(state)) : ProcessHandle();
}

} // namespace platform
