#include "maintenance/UpdateHandOff.h"

#include "foundation/AppPaths.h"
#include "foundation/IniFile.h"
#include "platform/Trace.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace {

class CPipe {
public:
    CPipe() { m_ok = ::pipe2(m_fds, O_CLOEXEC) == 0; }
    ~CPipe()
    {
        CloseRead();
        CloseWrite();
    }
    CPipe(const CPipe&) = delete;
    CPipe& operator=(const CPipe&) = delete;
    bool Ok() const { return m_ok; }
    int Read() const { return m_fds[0]; }
    int Write() const { return m_fds[1]; }
    void CloseRead() { Close(0); }
    void CloseWrite() { Close(1); }

private:
    void Close(int end)
    {
        if (m_ok && m_fds[end] >= 0) {
            ::close(m_fds[end]);
            m_fds[end] = -1;
        }
    }
    int m_fds[2] = {-1, -1};
    bool m_ok = false;
};

// In the forked child only (async-signal-safe calls): reports errno on the pipe and ends.
[[noreturn]] void FailChild(int errorPipe)
{
    int error = errno;
    [[maybe_unused]] ssize_t written = ::write(errorPipe, &error, sizeof error);
    ::_exit(127);
}

bool RemoveIfPresent(const std::string& path, const char* what)
{
    if (::unlink(path.c_str()) != 0)
        return false;
    platform::TraceF("update: removed the %s %s", what, path.c_str());
    return true;
}

// Whether some process runs the program at `path` (its file may already have been removed).
bool ProgramRuns(const std::string& path)
{
    std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir("/proc"), &::closedir);
    if (!proc)
        return false;
    const std::string removed = path + " (deleted)";
    std::vector<char> target(path.size() + 32);
    while (const dirent* entry = ::readdir(proc.get())) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9')
            continue;
        const std::string link = std::string("/proc/") + entry->d_name + "/exe";
        const ssize_t length = ::readlink(link.c_str(), target.data(), target.size());
        if (length <= 0 || static_cast<size_t>(length) >= target.size())
            continue;
        const std::string_view exe(target.data(), static_cast<size_t>(length));
        if (exe == path || exe == removed)
            return true;
    }
    return false;
}

// The folder with every link resolved, ending with '/'; empty when it cannot be resolved.
std::string ResolvedFolder(const std::string& folder)
{
    std::unique_ptr<char, void (*)(void*)> resolved(::realpath(folder.c_str(), nullptr), &std::free);
    if (!resolved)
        return {};
    std::string path = resolved.get();
    if (path.back() != '/')
        path.push_back('/');
    return path;
}

bool SameFile(const std::string& a, const std::string& b)
{
    struct stat first {
    }, second{};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

} // namespace

std::string RunningExecutable()
{
    std::vector<char> buffer(4096);
    ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0 || static_cast<size_t>(length) >= buffer.size())
        return {};
    return std::string(buffer.data(), static_cast<size_t>(length));
}

UpdateHandOff CurrentProgramHandOff()
{
    return UpdateHandOff{RunningExecutable(), ::getpid()};
}

bool WriteUpdateIni(const std::string& workDir, const UpdateHandOff& handOff)
{
    const std::string path = workDir + kUpdateIniName;
    // A new file each time: nothing of an earlier hand-off may remain in it.
    ::unlink(path.c_str());
    return IniFile::WriteStrings(path, "Update",
                                 {{"Program", handOff.program}, {"Pid", std::to_string(handOff.pid)}});
}

bool StartDetached(const std::string& file, const std::string& dir)
{
    CPipe errors;
    if (!errors.Ok())
        return false;
    // Everything the children need is made before fork: only async-signal-safe calls follow there.
    std::string fileCopy = file;
    char* argv[] = {fileCopy.data(), nullptr};
    const int errorPipe = errors.Write();

    const pid_t middle = ::fork();
    if (middle < 0)
        return false;
    if (middle == 0) {
        if (::setsid() < 0)
            FailChild(errorPipe);
        const pid_t updater = ::fork();
        if (updater < 0)
            FailChild(errorPipe);
        if (updater > 0)
            ::_exit(0);
        struct sigaction standard {};
        standard.sa_handler = SIG_DFL;
        for (int signal = 1; signal < NSIG; ++signal)
            if (signal != SIGKILL && signal != SIGSTOP)
                ::sigaction(signal, &standard, nullptr);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        // No descriptor of the program but the standard streams reaches the updater (its lock and
        // socket of the single instance above all).
        if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
            for (int fd = 3; fd < 4096; ++fd)
                ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
        if (!dir.empty() && ::chdir(dir.c_str()) != 0)
            FailChild(errorPipe);
        ::execve(argv[0], argv, environ);
        FailChild(errorPipe);
    }

    int status = 0;
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    errors.CloseWrite();
    int childError = 0;
    ssize_t got;
    do {
        got = ::read(errors.Read(), &childError, sizeof childError);
    } while (got < 0 && errno == EINTR);
    if (got == static_cast<ssize_t>(sizeof childError)) {
        errno = childError;
        return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        errno = ECHILD;
        return false;
    }
    return true;
}

int RemoveInterruptedUpdate(const std::string& exe, const std::string& workDir)
{
    const std::string work = ResolvedFolder(workDir);
    if (!work.empty() && ProgramRuns(work + kUpdaterName)) {
        platform::Trace("update: an updater still runs; what it unpacked stays");
        return 0;
    }
    int removed = 0;
    if (!exe.empty()) {
        removed += RemoveIfPresent(exe + kUpdateNewSuffix, "unfinished update copy");
        removed += RemoveIfPresent(exe + kUpdateOldSuffix + ".part", "unfinished copy of the old program");
    }
    if (work.empty())
        return removed;
    for (const char* name : {kUpdatePackageName, kUpdateProgramName, kUpdaterName, kUpdateIniName}) {
        const std::string path = work + name;
        if (!exe.empty() && SameFile(path, exe))
            continue;
        removed += RemoveIfPresent(path, "file of an unfinished update");
    }
    return removed;
}

void RemoveStaleUpdateCopy()
{
    RemoveInterruptedUpdate(RunningExecutable(), WorkDir());
}

void ConfirmProgramStarted()
{
    const std::string exe = RunningExecutable();
    if (!exe.empty())
        RemoveIfPresent(exe + kUpdateOldSuffix, "program kept by the last update");
}
