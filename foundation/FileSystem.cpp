#include "foundation/FileSystem.h"

#include "foundation/StringConv.h"
#include "platform/Paths.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

std::string NativePath(std::string_view ansiPath)
{
    return AnsiToUtf8(ansiPath);
}

std::string CollapseSeparators(std::string_view path)
{
    std::string out;
    out.reserve(path.size());
    for (char c : path)
        if (c != '/' || out.empty() || out.back() != '/')
            out.push_back(c);
    return out;
}

bool JoinInsideFolder(const std::string& base, const std::string& relative, std::string& joined)
{
    if (relative.empty() || relative.find('\0') != std::string::npos)
        return false;
    if (relative.front() == '/' || relative.front() == '\\')
        return false;
    if (relative.size() >= 2 && relative[1] == ':' &&
        ((relative[0] >= 'A' && relative[0] <= 'Z') || (relative[0] >= 'a' && relative[0] <= 'z')))
        return false;
    std::string out = base;
    if (out.empty() || out.back() != '/')
        out.push_back('/');
    bool named = false;
    size_t start = 0;
    while (start <= relative.size()) {
        size_t end = relative.find_first_of("/\\", start);
        if (end == std::string::npos)
            end = relative.size();
        std::string_view part(relative.data() + start, end - start);
        start = end + 1;
        if (part.empty() || part == ".")
            continue;
        if (part == "..")
            return false;
        if (named)
            out.push_back('/');
        out.append(part);
        named = true;
    }
    if (!named)
        return false; // "./" and the like name the base folder itself, not something inside it
    if (relative.back() == '/' || relative.back() == '\\')
        out.push_back('/');
    joined = std::move(out);
    return true;
}

bool PathExists(std::string_view ansiPath)
{
    if (ansiPath.empty())
        return false;
    try {
        struct stat info;
        return ::lstat(NativePath(ansiPath).c_str(), &info) == 0;
    } catch (const std::runtime_error&) {
        return false;
    }
}

void EnsureDirectoryTree(std::string_view ansiPath)
{
    std::string path;
    try {
        path = NativePath(ansiPath);
    } catch (const std::runtime_error&) {
        return;
    }
    size_t lastSlash = path.rfind('/');
    if (lastSlash == std::string::npos)
        return;
    for (size_t at = path.find('/', 1); at != std::string::npos && at <= lastSlash;
         at = path.find('/', at + 1)) {
        if (path[at - 1] == '/')
            continue; // a doubled separator names the same folder again
        std::string prefix = path.substr(0, at);
        struct stat info;
        if (::lstat(prefix.c_str(), &info) != 0)
            ::mkdir(prefix.c_str(), 0777);
    }
}

namespace {

// Mount points of file systems that hold data (not kernel, device or memory file systems).
std::vector<std::string> DataMountPoints()
{
    static const std::set<std::string> kPseudo = {
        "proc",     "sysfs",       "devtmpfs",   "devpts",    "tmpfs",  "cgroup",   "cgroup2",   "securityfs",
        "debugfs",  "tracefs",     "mqueue",     "hugetlbfs", "pstore", "bpf",      "autofs",    "fusectl",
        "configfs", "binfmt_misc", "rpc_pipefs", "nsfs",      "ramfs",  "efivarfs", "selinuxfs", "squashfs"};
    std::vector<std::string> points;
    std::ifstream mounts("/proc/self/mounts");
    std::string line;
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string device, point, type;
        if (!(fields >> device >> point >> type) || kPseudo.count(type))
            continue;
        // /proc/self/mounts escapes spaces and a few other bytes as \ooo.
        std::string unescaped;
        for (size_t i = 0; i < point.size(); ++i) {
            auto octal = [&](size_t k) { return point[k] >= '0' && point[k] <= '7'; };
            if (point[i] == '\\' && i + 3 < point.size() && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
                unescaped.push_back(static_cast<char>((point[i + 1] - '0') * 64 + (point[i + 2] - '0') * 8 +
                                                      (point[i + 3] - '0')));
                i += 3;
            } else {
                unescaped.push_back(point[i]);
            }
        }
        if (unescaped == "/" || unescaped.rfind("/proc", 0) == 0 || unescaped.rfind("/sys", 0) == 0 ||
            unescaped.rfind("/dev", 0) == 0 || unescaped.rfind("/run", 0) == 0 ||
            unescaped.rfind("/boot", 0) == 0)
            continue;
        points.push_back(unescaped.back() == '/' ? unescaped : unescaped + "/");
    }
    return points;
}

} // namespace

std::string GetLargestFreeDrive()
{
    if (const char* given = std::getenv("QUOKKA_TEST_LARGEST_DRIVE"); given != nullptr && *given != '\0') {
        std::string folder = given;
        return folder.back() == '/' ? folder : folder + "/";
    }
    std::vector<std::string> candidates = DataMountPoints();
    candidates.push_back(platform::HomeFolder());
    std::sort(candidates.begin(), candidates.end());
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());

    std::string best;
    unsigned long long bestFree = 0;
    for (const std::string& candidate : candidates) {
        struct statvfs info;
        if (::access(candidate.c_str(), W_OK) != 0 || ::statvfs(candidate.c_str(), &info) != 0)
            continue;
        unsigned long long available = static_cast<unsigned long long>(info.f_bavail) * info.f_frsize;
        if (best.empty() || available > bestFree) {
            best = candidate;
            bestFree = available;
        }
    }
    if (best.empty())
        return best;
    try {
        return Utf8ToOem(best);
    } catch (const std::runtime_error&) {
        return std::string();
    }
}

std::string BrokenFileName(const std::string& path)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof(stamp), "%Y%m%d-%H%M%S", &local);
    std::error_code ec;
    std::string name = path + ".broken-" + stamp;
    for (int n = 2; std::filesystem::exists(std::filesystem::symlink_status(name, ec)); ++n)
        name = path + ".broken-" + stamp + "-" + std::to_string(n);
    return name;
}
