#pragma once

#include <chrono>
#include <optional>
#include <string>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace testsupport {

// A named pipe between a test and the scripts it starts. The test holds it open for reading and
// writing for its whole life, so a script's `echo x > fifo` and `read x < fifo` never block on
// opening it, and what the test writes stays until a script reads it.
class Fifo {
public:
    explicit Fifo(std::string path) : m_path(std::move(path))
    {
        if (::mkfifo(m_path.c_str(), 0600) != 0)
            throw std::runtime_error("mkfifo " + m_path);
        m_fd = ::open(m_path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (m_fd < 0)
            throw std::runtime_error("open " + m_path);
    }
    ~Fifo()
    {
        ::close(m_fd);
        ::unlink(m_path.c_str());
    }
    Fifo(const Fifo&) = delete;
    Fifo& operator=(const Fifo&) = delete;

    const std::string& Path() const { return m_path; }

    // The next line a script wrote, without its newline; nullopt when none came within timeoutMs.
    std::optional<std::string> ReadLine(int timeoutMs)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            size_t newline = m_buffer.find('\n');
            if (newline != std::string::npos) {
                std::string line = m_buffer.substr(0, newline);
                m_buffer.erase(0, newline + 1);
                return line;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return std::nullopt;
            pollfd entry = {m_fd, POLLIN, 0};
            if (::poll(&entry, 1, static_cast<int>(left.count())) <= 0)
                continue;
            char chunk[256];
            ssize_t got = ::read(m_fd, chunk, sizeof chunk);
            if (got > 0)
                m_buffer.append(chunk, static_cast<size_t>(got));
        }
    }

    // Leaves `line` and a newline for a script to read.
    bool WriteLine(const std::string& line)
    {
        std::string text = line + "\n";
        return ::write(m_fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }

private:
    std::string m_path;
    int m_fd = -1;
    std::string m_buffer;
};

} // namespace testsupport
