#pragma once

#include <spawn.h>
#include <string>
#include <sys/types.h>
#include <vector>

namespace platform {

// Every process the program starts goes through these, so that a child starts clean: the program
// blocks SIGTERM and SIGINT in all its threads (one thread waits for them), and a child would
// otherwise inherit that mask, and any ignored signal, and could then not be ended normally.

// Sets POSIX_SPAWN_SETSIGMASK with an empty mask and POSIX_SPAWN_SETSIGDEF for every catchable
// signal on `attributes` (already initialised), keeping any other flags set on them.
void PrepareCleanSpawn(posix_spawnattr_t& attributes);

// Spawn attributes prepared by PrepareCleanSpawn, destroyed with the object.
class CleanSpawnAttributes {
public:
    CleanSpawnAttributes();
    ~CleanSpawnAttributes();
    CleanSpawnAttributes(const CleanSpawnAttributes&) = delete;
    CleanSpawnAttributes& operator=(const CleanSpawnAttributes&) = delete;

    posix_spawnattr_t* Get() { return &m_attributes; }

private:
    posix_spawnattr_t m_attributes;
};

// Starts `file` (looked up in PATH when it holds no '/') with `args` as its arguments after argv[0],
// which is `file`; the child inherits the environment and the open descriptors that are not
// close-on-exec. Returns the child's process id, which the caller must wait for (waitpid), or -1
// when it could not be started (errno says why).
pid_t SpawnClean(const std::string& file, const std::vector<std::string>& args);

} // namespace platform
