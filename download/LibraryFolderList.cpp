#include "download/LibraryFolderList.h"

#include "download/DownloadFiles.h"
#include "foundation/FileSystem.h"
#include "platform/Trace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <string_view>

namespace libraryfolders {

using downloadfiles::Native;
using downloadfiles::WithSeparator;

namespace {

constexpr char kRootsFileHeader[] = "# Library folders that unfinished downloads lie in, one a line.\n";
constexpr size_t kMaxRootsFileBytes = 64 * 1024;
constexpr size_t kMaxRememberedRoots = 64;
constexpr size_t kMaxRootLength = 4096;

class ScopedFd {
public:
    explicit ScopedFd(int fd) : m_fd(fd) {}
    ScopedFd(const ScopedFd&) = delete;
    ScopedFd& operator=(const ScopedFd&) = delete;
    ~ScopedFd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int Get() const { return m_fd; }

private:
    int m_fd;
};

// The bytes of the regular file at the native path `path` when it holds at most `limit` of them;
// nothing for a missing, larger or special file (a fifo is refused without being waited on).
std::optional<std::string> ReadSmallFile(const std::string& path, size_t limit)
{
    ScopedFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.Get() < 0)
        return std::nullopt;
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<uint64_t>(info.st_size) > limit) {
        platform::TraceF("download: %s is not a small file; ignored\n", path.c_str());
        return std::nullopt;
    }
    std::string bytes;
    char buffer[8192];
    for (;;) {
        ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 || bytes.size() + static_cast<size_t>(got) > limit) {
            platform::TraceF("download: %s cannot be read whole; ignored\n", path.c_str());
            return std::nullopt;
        }
        if (got == 0)
            return bytes;
        bytes.append(buffer, static_cast<size_t>(got));
    }
}

} // namespace

bool InsideRoot(const std::string& root, const std::string& folder)
{
    if (folder.size() <= root.size() || folder.compare(0, root.size(), root) != 0)
        return false;
    std::string joined;
    return JoinInsideFolder(root, folder.substr(root.size()), joined) && joined.size() > root.size();
}

std::string CheckedRoot(const std::string& text)
{
    if (text.empty() || text.size() > kMaxRootLength || text.front() != '/')
        return {};
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7f)
            return {};
    std::string root = WithSeparator(text);
    if (root == "/")
        return {};
    std::string_view rest(root);
    rest.remove_prefix(1);
    while (!rest.empty()) {
        size_t end = rest.find('/');
        std::string_view part = rest.substr(0, end);
        if (part == "." || part == "..")
            return {};
        rest.remove_prefix(end + 1);
    }
    if (Native(root).empty())
        return {};
    return root;
}

std::vector<std::string> ReadRememberedRoots(const std::string& path)
{
    std::vector<std::string> roots;
    if (path.empty())
        return roots;
    std::optional<std::string> text = ReadSmallFile(path, kMaxRootsFileBytes);
    if (!text)
        return roots;
    std::string_view rest(*text);
    while (!rest.empty() && roots.size() < kMaxRememberedRoots) {
        size_t end = rest.find('\n');
        std::string line(rest.substr(0, end));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (line.empty() || line.front() == '#')
            continue;
        std::string root = CheckedRoot(line);
        if (root.empty()) {
            platform::TraceF("download: a line of %s is no library folder; skipped\n", path.c_str());
            continue;
        }
        if (std::find(roots.begin(), roots.end(), root) == roots.end())
            roots.push_back(root);
    }
    return roots;
}

std::string RememberedRootsText(const std::vector<std::string>& roots)
{
    std::string text = kRootsFileHeader;
    size_t count = 0;
    for (const std::string& root : roots) {
        if (count == kMaxRememberedRoots || CheckedRoot(root) != root)
            continue;
        text += root + "\n";
        ++count;
    }
    return text;
}

bool SameRoots(std::vector<std::string> a, std::vector<std::string> b)
{
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    return a == b;
}

} // namespace libraryfolders
