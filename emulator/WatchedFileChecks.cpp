#include "emulator/WatchedFileChecks.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

// File system type numbers of network, cluster and user-space file systems, as the kernel reports them
// in statfs's f_type. Written out here because not every one has a name in the installed headers.
constexpr std::array<uint32_t, 17> kRemoteTypes = {
    0x00006969, // NFS
    0x0000517B, // SMB
    0xFF534D42, // CIFS
    0xFE534D42, // SMB2
    0x65735546, // FUSE (sshfs, rclone, virtiofs, ...)
    0x01021997, // 9p
    0x5346414F, // AFS
    0x6B414653, // kAFS
    0x00C36400, // Ceph
    0x73757245, // Coda
    0x0000564C, // NCP
    0x0BD00BD0, // Lustre
    0x47504653, // GPFS
    0x20030528, // OrangeFS
    0x786F4256, // VirtualBox shared folders
    0x01161970, // GFS2
    0x7461636F, // OCFS2
};

} // namespace

bool IsRemoteFileSystem(const std::string& folder)
{
    struct statfs info {};
    if (::statfs(folder.c_str(), &info) != 0)
        return false;
    const auto type = static_cast<uint32_t>(info.f_type);
    return std::find(kRemoteTypes.begin(), kRemoteTypes.end(), type) != kRemoteTypes.end();
}

bool IsOpenForWriting(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    bool writing = false;
    if (::fcntl(fd, F_SETSIG, SIGURG) != 0) {
        ::close(fd);
        return false;
    }
    if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0)
        ::fcntl(fd, F_SETLEASE, F_UNLCK);
    else
        writing = errno == EAGAIN;
    ::close(fd);
    return writing;
}
