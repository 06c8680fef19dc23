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

} // namespace

SingleInstance::SingleInstance(std::string name) : m_name(std::move(name)) {}

SingleInstance::~SingleInstance()
{
    if (m_listener.joinable()) {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(m_wakeFd, &one, sizeof(one));
        m_listener.join();
    }
    if (m_listenFd >= 0) {
        ::close(m_listenFd);
        ::unlink(SocketPath(m_name).c_str());
    }
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
    if (m_lockFd >= 0)
        ::close(m_lockFd); // releases the lock
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

bool SingleInstance::TryAcquire()
{
    if (m_lockFd >= 0)
        return true;
    int fd = ::open(LockPath(m_name).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        TraceF("single instance: cannot open lock file: %s", std::strerror(errno));
        return true; // without a lock file there is no way to tell; run rather than refuse
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    m_lockFd = fd;
    return true;
}

bool SingleInstance::Listen(std::function<void()> onShow)
{
    if (m_listener.joinable())
        return true;
    sockaddr_un address;
    std::string path = SocketPath(m_name);
    if (!FillAddress(path, address))
        return false;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ::unlink(path.c_str()); // a socket left by a crashed instance; we hold the lock, so it is stale
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || ::listen(fd, 8) != 0) {
        TraceF("single instance: cannot listen on %s: %s", path.c_str(), std::strerror(errno));
        ::close(fd);
        return false;
    }
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC);
    if (m_wakeFd < 0) {
        ::close(fd);
        ::unlink(path.c_str());
        return false;
    }
    m_listenFd = fd;
    m_onShow = std::move(onShow);
    m_listener = std::thread([this] { Serve(); });
    return true;
}

void SingleInstance::Serve()
{
    for (;;) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        int ready = ::poll(fds, 2, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || (fds[1].revents & POLLIN))
            return;
        if (!(fds[0].revents & POLLIN))
            continue;
        int client = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
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

bool SingleInstance::RequestShow(const std::string& name, int timeoutMs)
{
    sockaddr_un address;
    if (!FillAddress(SocketPath(name), address))
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
