// quokka-update: puts a new program in place of the running one after a self-update.
//
// The program unpacks the update ("quokka" and this updater, shipped as "QuokkaUpdate.exe") into its
// work folder, writes "QuokkaUpdate.ini" there (section Update: Program, the full path of the
// executable to replace; Pid, the process that must end first), starts this updater detached and
// ends. The updater takes no arguments; it finds the ini and the new program beside itself. Then:
//
//   1. it waits (pidfd) for Pid to end, at most 60 s; otherwise it ends touching nothing;
//   2. copies the new program to "<Program>.new" in the same folder, synced, mode 0755;
//   3. hard-links "<Program>" to "<Program>.old" (copies where links fail), then renames
//      "<Program>.new" over "<Program>": a whole program is there at every instant;
//   4. starts "<Program>" (same environment) and waits up to 30 s for it to confirm that it came up:
//      a starting program deletes a stale "<exe>.new" beside itself, and "<exe>.old" once its main
//      window exists;
//   5. if the new program ends unconfirmed or 30 s pass, it ends it, renames "<Program>.old" back and
//      starts that;
//   6. once the swap is settled either way, it removes what the update left in the work folder: the
//      new program, the ini and itself (a program's size in the temp folder otherwise, every update).
//
// Nothing else in the program's folder (quokka.cfg, database/, Emulator/) is touched. Exit status:
// 0 updated, 1 rolled back, 2 nothing done (bad ini, missing files, the program never ended), 3 the
// new program could not be put in place (the old one is started again).

#include "foundation/IniFile.h"
#include "platform/Spawn.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kExitUpdated = 0;
constexpr int kExitRolledBack = 1;
constexpr int kExitNothingDone = 2;
constexpr int kExitNotReplaced = 3;

// How long the old program may take to end, and the new one to confirm its start.
constexpr int kProgramEndMs = 60000;
constexpr int kConfirmMs = 30000;

void Say(const char* format, const std::string& a = {}, const std::string& b = {})
{
    std::fprintf(stderr, "quokka-update: ");
    std::fprintf(stderr, format, a.c_str(), b.c_str());
    std::fprintf(stderr, "\n");
}

long long NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

class CFd {
public:
    explicit CFd(int fd = -1) : m_fd(fd) {}
    ~CFd() { Reset(); }
    CFd(const CFd&) = delete;
    CFd& operator=(const CFd&) = delete;
    int Get() const { return m_fd; }
    void Reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

std::string FolderOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string OwnPath()
{
    char buffer[4096];
    ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0)
        return {};
    return std::string(buffer, static_cast<size_t>(length));
}

// The unpacked update in the work folder, once nothing needs it any more. The running updater may
// remove its own file: the kernel keeps the program until it ends.
void RemoveUpdateFiles(const std::string& self, const std::string& fresh, const std::string& ini)
{
    for (const std::string& path : {fresh, ini, self}) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            Say("cannot remove %s: %s", path, std::strerror(errno));
    }
}

bool IsRegularFile(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool SyncFolder(const std::string& folder)
{
    CFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd.Get() >= 0 && ::fsync(fd.Get()) == 0;
}

int PidFdOpen(pid_t pid)
{
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

// Waits until `pid` (not a child of ours) has ended; false when it still runs after timeoutMs.
bool WaitForEnd(pid_t pid, int timeoutMs)
{
    CFd pidfd(PidFdOpen(pid));
    if (pidfd.Get() < 0) {
        if (errno == ESRCH)
            return true;
        // No pidfd here: look every 20 ms.
        const long long deadline = NowMs() + timeoutMs;
        while (::kill(pid, 0) == 0 || errno == EPERM) {
            if (NowMs() >= deadline)
                return false;
            ::usleep(20000);
        }
        return true;
    }
    pollfd ready{pidfd.Get(), POLLIN, 0};
    int got;
    do {
        got = ::poll(&ready, 1, timeoutMs);
    } while (got < 0 && errno == EINTR);
    return got > 0;
}

// Copies `from` into a new file `to` (replacing it) with `mode`, synced. False, `to` removed, on failure.
bool CopyFile(const std::string& from, const std::string& to, mode_t mode)
{
    CFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.Get() < 0)
        return false;
    ::unlink(to.c_str());
    CFd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode));
    if (out.Get() < 0)
        return false;
    char buffer[128 * 1024];
    bool ok = true;
    for (;;) {
        ssize_t got = ::read(in.Get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        for (ssize_t done = 0; ok && done < got;) {
            ssize_t put = ::write(out.Get(), buffer + done, static_cast<size_t>(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            ok = put > 0;
            done += put > 0 ? put : 0;
        }
        if (!ok)
            break;
    }
    ok = ok && ::fchmod(out.Get(), mode) == 0 && ::fsync(out.Get()) == 0;
    out.Reset();
    if (!ok)
        ::unlink(to.c_str());
    return ok;
}

// "<Program>.old" as a second name of the program, or a synced copy where links fail.
bool KeepOld(const std::string& program, const std::string& old)
{
    ::unlink(old.c_str());
    if (::link(program.c_str(), old.c_str()) == 0)
        return true;
    struct stat info;
    mode_t mode = ::stat(program.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0755;
    const std::string part = old + ".part";
    if (!CopyFile(program, part, mode))
        return false;
    if (::rename(part.c_str(), old.c_str()) != 0) {
        ::unlink(part.c_str());
        return false;
    }
    return true;
}

pid_t Start(const std::string& program)
{
    pid_t pid = platform::SpawnClean(program, {});
    if (pid < 0)
        Say("cannot start %s: %s", program, std::strerror(errno));
    return pid;
}

// Waits for the started program to delete `old` (true), or to end or let kConfirmMs pass (false).
bool WaitForConfirmation(pid_t child, const std::string& old)
{
    CFd watch(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
    if (watch.Get() >= 0)
        ::inotify_add_watch(watch.Get(), FolderOf(old).c_str(), IN_DELETE | IN_MOVED_FROM | IN_DELETE_SELF);
    CFd pidfd(PidFdOpen(child));
    const long long deadline = NowMs() + kConfirmMs;
    for (;;) {
        if (::access(old.c_str(), F_OK) != 0 && errno == ENOENT)
            return true;
        int status = 0;
        if (::waitpid(child, &status, WNOHANG) == child) {
            // It may have confirmed just before it ended.
            return ::access(old.c_str(), F_OK) != 0 && errno == ENOENT;
        }
        const long long left = deadline - NowMs();
        if (left <= 0)
            return false;
        pollfd fds[2] = {{watch.Get(), POLLIN, 0}, {pidfd.Get(), POLLIN, 0}};
        // Without inotify or a pidfd the loop still ends: it looks again every 50 ms.
        const int wait = (watch.Get() < 0 || pidfd.Get() < 0) ? 50 : static_cast<int>(left);
        if (::poll(fds, 2, static_cast<int>(std::min<long long>(wait, left))) > 0 && watch.Get() >= 0) {
            char events[4096];
            while (::read(watch.Get(), events, sizeof events) > 0) {
            }
        }
    }
}

} // namespace

int main()
{
    const std::string self = OwnPath();
    const std::string folder = self.empty() ? std::string() : FolderOf(self);
    if (folder.empty()) {
        Say("cannot find my own folder");
        return kExitNothingDone;
    }
    const std::string ini = folder + "QuokkaUpdate.ini";
    const std::string program = IniFile::GetString(ini, "Update", "Program", "");
    const std::string pidText = IniFile::GetString(ini, "Update", "Pid", "");
    const std::string fresh = folder + "quokka";
    char* end = nullptr;
    const long pid = std::strtol(pidText.c_str(), &end, 10);
    if (program.empty() || program.front() != '/' || pidText.empty() || *end != '\0' || pid <= 0) {
        Say("%s names no program and process to replace", ini);
        return kExitNothingDone;
    }
    if (!IsRegularFile(program) || !IsRegularFile(fresh)) {
        Say("%s or %s is missing", program, fresh);
        return kExitNothingDone;
    }
    struct stat programInfo, freshInfo;
    if (::stat(program.c_str(), &programInfo) == 0 && ::stat(fresh.c_str(), &freshInfo) == 0 &&
        programInfo.st_dev == freshInfo.st_dev && programInfo.st_ino == freshInfo.st_ino) {
        Say("%s is the new program itself", program);
        return kExitNothingDone;
    }

    // 1. The old program must be gone first.
    if (!WaitForEnd(static_cast<pid_t>(pid), kProgramEndMs)) {
        Say("%s did not end; nothing changed", program);
        return kExitNothingDone;
    }

    // 2. The new program beside the old one, whole and synced before anything is renamed.
    const std::string next = program + ".new";
    const std::string old = program + ".old";
    const std::string programFolder = FolderOf(program);
    if (!CopyFile(fresh, next, 0755)) {
        Say("cannot write %s: %s", next, std::strerror(errno));
        pid_t again = Start(program);
        return again > 0 ? kExitNotReplaced : kExitNothingDone;
    }

    // 3. Keep the old program under a second name, then swap in one rename.
    if (!KeepOld(program, old) || !SyncFolder(programFolder)) {
        Say("cannot keep %s as %s", program, NameOf(old));
        ::unlink(next.c_str());
        Start(program);
        return kExitNotReplaced;
    }
    if (::rename(next.c_str(), program.c_str()) != 0) {
        Say("cannot put %s in place: %s", program, std::strerror(errno));
        ::unlink(next.c_str());
        ::unlink(old.c_str());
        Start(program);
        return kExitNotReplaced;
    }
    SyncFolder(programFolder);
    Say("%s replaced; starting it", program);

    // 4. The new program confirms by deleting the kept old one.
    pid_t child = Start(program);
    if (child > 0 && WaitForConfirmation(child, old)) {
        Say("%s started and confirmed", program);
        RemoveUpdateFiles(self, fresh, ini);
        return kExitUpdated;
    }

    // 5. Back to the old program.
    if (child > 0) {
        ::kill(child, SIGKILL);
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (::rename(old.c_str(), program.c_str()) != 0) {
        Say("cannot put %s back: %s", old, std::strerror(errno));
        return kExitRolledBack;
    }
    SyncFolder(programFolder);
    Say("the new %s did not come up; the old one is back", NameOf(program));
    RemoveUpdateFiles(self, fresh, ini);
    Start(program);
    return kExitRolledBack;
}
