#include "platform/Spawn.h"

#include <cerrno>
#include <csignal>

extern char** environ;

namespace platform {

void PrepareCleanSpawn(posix_spawnattr_t& attributes)
{
    sigset_t empty;
    sigemptyset(&empty);
    posix_spawnattr_setsigmask(&attributes, &empty);

    // Every signal whose disposition can be set; SIGKILL and SIGSTOP cannot and are left out.
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal = 1; signal < NSIG; ++signal) {
        if (signal != SIGKILL && signal != SIGSTOP)
            sigaddset(&defaults, signal);
    }
    posix_spawnattr_setsigdefault(&attributes, &defaults);

    short flags = 0;
    posix_spawnattr_getflags(&attributes, &flags);
    posix_spawnattr_setflags(&attributes,
                             static_cast<short>(flags | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));
}

CleanSpawnAttributes::CleanSpawnAttributes()
{
    posix_spawnattr_init(&m_attributes);
    PrepareCleanSpawn(m_attributes);
}

CleanSpawnAttributes::~CleanSpawnAttributes()
{
    posix_spawnattr_destroy(&m_attributes);
}

pid_t SpawnClean(const std::string& file, const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    argv.reserve(args.size() + 2);
    argv.push_back(const_cast<char*>(file.c_str()));
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    CleanSpawnAttributes attributes;
    pid_t pid = -1;
    int error = file.find('/') == std::string::npos
                    ? posix_spawnp(&pid, file.c_str(), nullptr, attributes.Get(), argv.data(), environ)
                    : posix_spawn(&pid, file.c_str(), nullptr, attributes.Get(), argv.data(), environ);
    if (error != 0) {
        errno = error;
        return -1;
    }
    return pid;
}

} // namespace platform
