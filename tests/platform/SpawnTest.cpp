#include "platform/Spawn.h"
#include "tests/support/TempDir.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/wait.h>

namespace {

// Blocks SIGTERM and SIGINT in this thread and ignores SIGUSR1, as a running program might, and
// restores both when it goes.
class SignalsAsTheProgramHasThem {
public:
    SignalsAsTheProgramHasThem()
    {
        sigset_t blocked;
        sigemptyset(&blocked);
        sigaddset(&blocked, SIGTERM);
        sigaddset(&blocked, SIGINT);
        pthread_sigmask(SIG_BLOCK, &blocked, &m_savedMask);
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGUSR1, &ignore, &m_savedUsr1);
    }
    ~SignalsAsTheProgramHasThem()
    {
        sigaction(SIGUSR1, &m_savedUsr1, nullptr);
        pthread_sigmask(SIG_SETMASK, &m_savedMask, nullptr);
    }

private:
    sigset_t m_savedMask;
    struct sigaction m_savedUsr1;
};

int WaitExit(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The blocked and ignored signal masks that a child reports in /proc (grep run directly: a shell
// would reset its own mask), from a child spawned with `attributes` (null: none).
struct ChildSignals {
    unsigned long long blocked = 0;
    unsigned long long ignored = 0;
    bool Has(unsigned long long mask, int signal) const { return (mask >> (signal - 1)) & 1u; }
};

ChildSignals SpawnAndRead(posix_spawnattr_t* attributes, const std::string& outPath)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const char* argv[] = {"grep", "-E", "^(SigBlk|SigIgn):", "/proc/self/status", nullptr};
    pid_t pid = -1;
    int error = posix_spawn(&pid, "/bin/grep", &actions, attributes, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ChildSignals result;
    if (error != 0 || WaitExit(pid) != 0) {
        ADD_FAILURE() << "grep did not run: " << std::strerror(error);
        return result;
    }
    const std::string lines = testsupport::ReadFile(outPath);
    size_t blk = lines.find("SigBlk:");
    size_t ign = lines.find("SigIgn:");
    if (blk == std::string::npos || ign == std::string::npos) {
        ADD_FAILURE() << "no masks in: " << lines;
        return result;
    }
    result.blocked = std::stoull(lines.substr(blk + 7), nullptr, 16);
    result.ignored = std::stoull(lines.substr(ign + 7), nullptr, 16);
    return result;
}

} // namespace

TEST(SpawnTest, AChildStartsWithTheProgramsBlockedAndIgnoredSignalsAtTheirDefaults)
{
    testsupport::TempDir dir;
    SignalsAsTheProgramHasThem signals;

    ChildSignals inherited = SpawnAndRead(nullptr, dir.Path() + "inherited.txt");
    ASSERT_TRUE(inherited.Has(inherited.blocked, SIGTERM) && inherited.Has(inherited.blocked, SIGINT) &&
                inherited.Has(inherited.ignored, SIGUSR1))
        << "without the clean attributes a child inherits them, so the check below means something";

    platform::CleanSpawnAttributes attributes;
    ChildSignals clean = SpawnAndRead(attributes.Get(), dir.Path() + "clean.txt");
    EXPECT_EQ(clean.blocked, 0u) << std::hex << clean.blocked;
    EXPECT_FALSE(clean.Has(clean.ignored, SIGUSR1)) << std::hex << clean.ignored;
    EXPECT_FALSE(clean.Has(clean.ignored, SIGTERM) || clean.Has(clean.ignored, SIGINT) ||
                 clean.Has(clean.ignored, SIGPIPE) || clean.Has(clean.ignored, SIGHUP));
}

TEST(SpawnTest, SpawnCleanLooksUpBareNamesInPathAndReportsMissingFiles)
{
    pid_t child = platform::SpawnClean("sh", {"-c", "exit 7"});
    ASSERT_GT(child, 0) << std::strerror(errno);
    EXPECT_EQ(WaitExit(child), 7);
    EXPECT_EQ(platform::SpawnClean("/nonexistent/quokka-no-such-program", {}), -1);
}
