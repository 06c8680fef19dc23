#include "tests/support/ChildProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace testsupport {
namespace {

int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                           bool mergeStderr)
{
    int out[2];
    int in[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    if (::pipe2(in, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    if (mergeStderr)
        posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);

    std::map<std::string, std::string> merged;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        size_t equals = entry.find('=');
        if (equals != std::string::npos)
            merged[entry.substr(0, equals)] = entry.substr(equals + 1);
    }
    for (const auto& [key, value] : env)
        merged[key] = value;
    std::vector<std::string> envStrings;
    for (const auto& [key, value] : merged)
        envStrings.push_back(key + "=" + value);
    std::vector<char*> envp;
    for (auto& entry : envStrings)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (auto& arg : args)
        argp.push_back(arg.data());
    argp.push_back(nullptr);

    int rc = posix_spawn(&m_pid, argp[0], &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(in[0]);
    if (rc != 0) {
        ::close(out[0]);
        ::close(in[1]);
        throw std::runtime_error("cannot start " + argv[0]);
    }
    m_stdout = out[0];
    m_stdin = in[1];
}

ChildProcess::~ChildProcess()
{
    if (!m_exitCode && m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
    }
    if (m_stdout >= 0)
        ::close(m_stdout);
    if (m_stdin >= 0)
        ::close(m_stdin);
}

std::optional<std::string> ChildProcess::ReadLine(int timeoutMs)
{
    const int64_t deadline = NowMs() + timeoutMs;
    for (;;) {
        size_t newline = m_buffer.find('\n');
        if (newline != std::string::npos) {
            std::string line = m_buffer.substr(0, newline);
            m_buffer.erase(0, newline + 1);
            return line;
        }
        int64_t left = deadline - NowMs();
        if (left <= 0 || m_stdout < 0)
            return std::nullopt;
        pollfd pfd{m_stdout, POLLIN, 0};
        int ready = ::poll(&pfd, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return std::nullopt;
        char chunk[4096];
        ssize_t n = ::read(m_stdout, chunk, sizeof(chunk));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt;
        m_buffer.append(chunk, static_cast<size_t>(n));
    }
}

std::optional<int> ChildProcess::Wait(int timeoutMs)
{
    if (m_exitCode)
        return m_exitCode;
    const int64_t deadline = NowMs() + timeoutMs;
    for (;;) {
        int status = 0;
        pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return m_exitCode;
        }
        if (NowMs() >= deadline)
            return std::nullopt;
        // waitpid has no time-out; a short poll keeps this bounded without a busy loop.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void ChildProcess::Signal(int signal)
{
    if (!m_exitCode && m_pid > 0)
        ::kill(m_pid, signal);
}

void ChildProcess::CloseInput()
{
    if (m_stdin >= 0) {
        ::close(m_stdin);
        m_stdin = -1;
    }
}

} // namespace testsupport
