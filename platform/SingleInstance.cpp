#include "platform/SingleInstance.h"

#include "platform/Paths.h"
#include "platform/Trace.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr char kShowRequest[] = "show\n";
constexpr char kShowAnswer[] = "ok\n";

bool FillAddress(const std::string& path, sockaddr_un& address)
{
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// Reads until a newline, the peer closes, or timeoutMs pass. Returns what was read.
std::string ReadLine(int fd, int timeoutMs)
{
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (line.find('\n') == std::string::npos && line.size() < 64) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd pfd{fd, POLLIN, 0};
        int ready = ::poll(&pfd, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        char buffer[64];
        ssize_t n = ::read(fd, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        line.append(buffer, static_cast<size_t>(n));
    }
    return line;
}

void WriteAll(int fd, const char* text)
{
    size_t left = std::strlen(text);
    while (left > 0) {
        ssize_t n = ::send(fd, text, left, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        text += n;
        left -= static_cast<size_t>(n);
    }
}

// A listening socket at `path`, replacing a stale one; -1 when it cannot be made. Called only while
// the lock beside it is held, so a socket found there was left by a process that has ended.
int ListenAt(const std::string& path)
{
    sockaddr_un address;
    if (!FillAddress(path, address))
        return -1;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    ::unlink(path.c_str());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || ::listen(fd, 8) != 0) {
        TraceF("single instance: cannot listen on %s: %s", path.c_str(), std::strerror(errno));
        ::close(fd);
        return -1;
    }
    return fd;
}

void CloseListener(int fd, const std::string& path)
{
    if (fd < 0)
        return;
    ::close(fd);
    ::unlink(path.c_str());
}

// An exclusive lock on the file at `path`, taken without waiting: its descriptor, -1 when another
// process holds it, -2 when the file cannot be opened.
int LockFile(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        TraceF("single instance: cannot open lock file %s: %s", path.c_str(), std::strerror(errno));
        return -2;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

SingleInstance::SingleInstance(std::string name, std::string dataFolder)
    : m_name(std::move(name)), m_dataFolder(std::move(dataFolder))
{
}

SingleInstance::~SingleInstance()
{
    if (m_listener.joinable()) {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(m_wakeFd, &one, sizeof(one));
        m_listener.join();
    }
    CloseListener(m_listenFd, SocketPath(m_name));
    CloseListener(m_folderListenFd, DataFolderSocketPath(m_dataFolder, m_name));
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
    if (m_folderLockFd >= 0)
        ::close(m_folderLockFd); // releases the lock
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

// Empty when there is no private runtime folder: nothing is then made anywhere else.
std::string SingleInstance::LockPath(const std::string& name)
{
    std::string folder = RuntimeFolder();
    return folder.empty() ? folder : folder + name + ".lock";
}

std::string SingleInstance::SocketPath(const std::string& name)
{
    std::string folder = RuntimeFolder();
    return folder.empty() ? folder : folder + name + ".sock";
}

std::string SingleInstance::DataFolderSocketPath(const std::string& dataFolder, const std::string& name)
{
    return dataFolder.empty() ? dataFolder : dataFolder + name + ".sock";
}

bool SingleInstance::TryAcquire()
{
    if (m_lockFd >= 0)
        return true;
    int fd = LockFile(LockPath(m_name));
    if (fd == -1)
        return false;
    // Without a lock file there is no way to tell; run rather than refuse.
    if (fd >= 0)
        m_lockFd = fd;
    return true;
}

bool SingleInstance::TryAcquireDataFolder()
{
    if (m_folderLockFd >= 0 || m_dataFolder.empty())
        return true;
    int fd = LockFile(m_dataFolder + m_name + ".lock");
    if (fd == -1)
        return false;
    if (fd >= 0)
        m_folderLockFd = fd;
    return true;
}

bool SingleInstance::Listen(std::function<void()> onShow)
{
    if (m_listener.joinable())
        return true;
    const int runtimeFd = m_lockFd >= 0 ? ListenAt(SocketPath(m_name)) : -1;
    const int folderFd = m_folderLockFd >= 0 ? ListenAt(DataFolderSocketPath(m_dataFolder, m_name)) : -1;
    m_wakeFd = (runtimeFd >= 0 || folderFd >= 0) ? ::eventfd(0, EFD_CLOEXEC) : -1;
    if (m_wakeFd < 0) {
        CloseListener(runtimeFd, SocketPath(m_name));
        CloseListener(folderFd, DataFolderSocketPath(m_dataFolder, m_name));
        return false;
    }
    m_listenFd = runtimeFd;
    m_folderListenFd = folderFd;
    m_onShow = std::move(onShow);
    m_listener = std::thread([this] { Serve(); });
    return true;
}

void SingleInstance::Serve()
{
    // A descriptor of -1 is left out by poll.
    for (;;) {
        pollfd fds[3] = {{m_wakeFd, POLLIN, 0}, {m_listenFd, POLLIN, 0}, {m_folderListenFd, POLLIN, 0}};
        int ready = ::poll(fds, 3, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || (fds[0].revents & POLLIN))
            return;
        for (int i = 1; i < 3; ++i) {
            if (!(fds[i].revents & POLLIN))
                continue;
            int client = ::accept4(fds[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            if (ReadLine(client, 1000) == kShowRequest) {
                if (m_onShow)
                    m_onShow();
                WriteAll(client, kShowAnswer);
            }
            ::close(client);
        }
    }
}

bool SingleInstance::RequestShow(const std::string& name, int timeoutMs)
{
    return RequestShowAt(SocketPath(name), timeoutMs);
}

bool SingleInstance::RequestShowAt(const std::string& socketPath, int timeoutMs)
{
    sockaddr_un address;
    if (!FillAddress(socketPath, address))
        return false;
    const auto start = std::chrono::steady_clock::now();
    auto elapsedMs = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count();
    };
    // The first instance may still be starting (no socket yet): keep looking until the deadline.
    while (elapsedMs() <= timeoutMs) {
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        bool answered = false;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
            WriteAll(fd, kShowRequest);
            int left = static_cast<int>(timeoutMs - elapsedMs());
            answered = left > 0 && ReadLine(fd, left) == kShowAnswer;
        }
        ::close(fd);
        if (answered)
            return true;
        pollfd none{-1, 0, 0};
        ::poll(&none, 0, 20); // brief pause between looks so the wait does not spin a core
    }
    return false;
}

} // namespace platform
