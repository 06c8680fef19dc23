#include "platform/Trash.h"

#include "platform/ShowItem.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

namespace fs = std::filesystem;

// Enough for every copy of a name a user could have thrown away; past it the trash is taken as
// unusable rather than searched without end.
constexpr int kMaxNameAttempts = 10000;

bool Fail(std::string* error, const std::string& reason)
{
    if (error != nullptr)
        *error = reason;
    return false;
}

std::string Reason(const std::string& what, int code)
{
    return what + ": " + std::strerror(code);
}

// Makes the trash's folder `folder` with mode 0700 when it is missing (missing parents as usual); one
// that exists must be a real folder, not a link.
bool MakeTrashFolder(const std::string& folder, std::string* error)
{
    if (::mkdir(folder.c_str(), 0700) != 0 && errno == ENOENT) {
        std::error_code ignored; // the mkdir below tells
        fs::create_directories(fs::path(folder).parent_path(), ignored);
        ::mkdir(folder.c_str(), 0700);
    }
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0)
        return Fail(error, Reason("cannot make " + folder, errno));
    if (!S_ISDIR(info.st_mode))
        return Fail(error, folder + " is not a folder");
    return true;
}

// The top folder of the file system holding `path`: the highest folder above it on the same device.
std::string MountTop(const std::string& path)
{
    fs::path current = fs::path(path).parent_path();
    struct stat info {};
    if (::stat(current.c_str(), &info) != 0)
        return {};
    const dev_t device = info.st_dev;
    while (current.has_relative_path()) {
        const fs::path parent = current.parent_path();
        if (::stat(parent.c_str(), &info) != 0 || info.st_dev != device)
            break;
        current = parent;
    }
    return current.string();
}

// $topdir/.Trash-<uid>, made when missing; refused when it is a link, not a folder, or another
// user's, since whoever owns it could read or replace what goes in.
bool PrepareTopDirTrash(const std::string& trash, std::string* error)
{
    struct stat info {};
    if (::lstat(trash.c_str(), &info) != 0) {
        if (errno != ENOENT)
            return Fail(error, Reason("cannot examine " + trash, errno));
        if (::mkdir(trash.c_str(), 0700) != 0 && errno != EEXIST)
            return Fail(error, Reason("cannot make " + trash, errno));
        if (::lstat(trash.c_str(), &info) != 0)
            return Fail(error, Reason("cannot examine " + trash, errno));
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::getuid())
        return Fail(error, trash + " is not a trash folder of this user");
    return true;
}

std::string DeletionDate()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

// "name" for the first attempt, then "stem.N.ext"; a name starting with '.' keeps it in its stem.
std::string CandidateName(const std::string& name, int attempt)
{
    if (attempt == 1)
        return name;
    const size_t dot = name.rfind('.');
    const std::string number = "." + std::to_string(attempt);
    if (dot == std::string::npos || dot == 0)
        return name + number;
    return name.substr(0, dot) + number + name.substr(dot);
}

bool WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += static_cast<size_t>(written);
    }
    return true;
}

// Moves `path` into the trash folder `trash` (its files/ and info/ made here). `crossDevice` is set
// when the rename failed only because the trash is on another file system.
bool MoveInto(const std::string& path, const std::string& trash, bool& crossDevice, std::string* error)
{
    crossDevice = false;
    const std::string files = trash + "/files";
    const std::string infos = trash + "/info";
    if (!MakeTrashFolder(trash, error) || !MakeTrashFolder(files, error) || !MakeTrashFolder(infos, error))
        return false;

    const std::string name = fs::path(path).filename().string();
    const std::string info =
        "[Trash Info]\nPath=" + FileUri(path).substr(7) + "\nDeletionDate=" + DeletionDate() + "\n";
    for (int attempt = 1; attempt <= kMaxNameAttempts; ++attempt) {
        const std::string candidate = CandidateName(name, attempt);
        const std::string infoPath = infos + "/" + candidate + ".trashinfo";
        const int fd = ::open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return Fail(error, Reason("cannot write " + infoPath, errno));
        }
        const bool written = WriteAll(fd, info);
        const bool closed = ::close(fd) == 0;
        if (!written || !closed) {
            const int code = errno;
            ::unlink(infoPath.c_str());
            return Fail(error, Reason("cannot write " + infoPath, code));
        }
        const std::string target = files + "/" + candidate;
        struct stat existing {};
        if (::lstat(target.c_str(), &existing) == 0) {
            ::unlink(infoPath.c_str()); // an item without its info file holds this name
            continue;
        }
        if (::rename(path.c_str(), target.c_str()) == 0)
            return true;
        const int code = errno;
        ::unlink(infoPath.c_str());
        crossDevice = code == EXDEV;
        return Fail(error, Reason("cannot move " + path + " to " + target, code));
    }
    return Fail(error, "no free name in " + trash + " for " + name);
}

} // namespace

std::string HomeTrashFolder()
{
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr && dataHome[0] == '/')
        return fs::path(dataHome).lexically_normal().string() + "/Trash";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/')
        return fs::path(std::string(home) + "/.local/share").lexically_normal().string() + "/Trash";
    return {};
}

bool MoveToTrash(const std::string& path, std::string* error)
{
    return MoveToTrashWith(path, HomeTrashFolder(), MountTop, error);
}

bool MoveToTrashWith(const std::string& path, const std::string& homeTrash,
                     const std::function<std::string(const std::string& path)>& topDirOf, std::string* error)
{
    if (path.empty() || path[0] != '/')
        return Fail(error, "not an absolute path: " + path);
    std::string item = fs::path(path).lexically_normal().string();
    while (item.size() > 1 && item.back() == '/')
        item.pop_back();
    struct stat info {};
    if (::lstat(item.c_str(), &info) != 0)
        return Fail(error, Reason("cannot examine " + item, errno));
    struct stat folder {};
    if (::stat(fs::path(item).parent_path().c_str(), &folder) != 0)
        return Fail(error, Reason("cannot examine the folder of " + item, errno));

    // The home trash takes what lies on its file system; a rename can still meet another file system
    // below the same device number (a bind mount), which sends the file to its own top folder's trash.
    // Without a home there is no trash of this user to fall back on.
    if (homeTrash.empty())
        return Fail(error, "no home folder for the trash");
    const std::string homeParent = fs::path(homeTrash).parent_path().string();
    std::error_code ec;
    fs::create_directories(homeParent, ec);
    struct stat home {};
    if (::stat(homeParent.c_str(), &home) != 0)
        return Fail(error, Reason("cannot make " + homeParent, errno));
    bool crossDevice = true;
    if (home.st_dev == folder.st_dev) {
        if (MoveInto(item, homeTrash, crossDevice, error))
            return true;
        if (!crossDevice)
            return false;
    }

    const std::string top = topDirOf(item);
    if (top.empty())
        return Fail(error, "no top folder of the file system of " + item);
    const std::string trash = (top == "/" ? std::string() : top) + "/.Trash-" + std::to_string(::getuid());
    if (!PrepareTopDirTrash(trash, error))
        return false;
    return MoveInto(item, trash, crossDevice, error);
}

} // namespace platform
