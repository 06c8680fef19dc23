#pragma once

#include <cstddef>
#include <unistd.h>

// What extraction and packing share: the parts of the zip format both read or write, and the block size.
namespace zipformat {

// Data moves in blocks of this size. Larger blocks (64 KiB) measured no faster: the inflater's own
// buffering dominates, and the write calls saved are a few percent at most.
constexpr size_t kBlockSize = 4096;
// General-purpose flag bit: the entry's name is UTF-8.
constexpr unsigned long kUtf8NameFlag = 0x800;
// "Version made by" host systems.
constexpr unsigned kHostUnix = 3;

// Owns a file descriptor.
class UniqueFd {
public:
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace zipformat
