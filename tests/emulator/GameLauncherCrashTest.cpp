#include "tests/emulator/LaunchTestSupport.h"

#include "platform/Process.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Fifo.h"

#include <gtest/gtest.h>

#include <csignal>
#include <random>

namespace {

using launchtest::LaunchEnvironment;
using testsupport::ChildProcess;
using testsupport::ReadFile;

// The program is killed while a game runs, or at a random point of a launch (while the user copy is
// put in place, the emulator starts, or the copy is taken back). The next start must take the game's
// change back, and no user file may ever be left cut short.
TEST(GameLauncherCrashTest, TheNextStartFinishesTheRunOfAKilledProgram)
{
    LaunchEnvironment env;
    env.Settings("1");
    const std::string folder = env.Install(125);
    ASSERT_FALSE(folder.empty());
    const std::string game = env.Dir() + "contra.nes";
    ASSERT_TRUE(testsupport::WriteFile(game, "game"));
    const std::string user = folder + "UserGamePadCfg/pad.cfg";
    const std::string target = folder + "config/pad.cfg";
    testsupport::Fifo started(env.Dir() + "started");
    testsupport::Fifo release(env.Dir() + "release");

    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delay(0, 6000);
    int killedMidway = 0;
    for (int round = 0; round < 50; ++round) {
        SCOPED_TRACE("round " + std::to_string(round) + ", seed " + std::to_string(seed));
        if (round % 2 == 0) {
            // Killed while the game runs; the game ends before or after the next start.
            env.Behaviour("STARTED='" + started.Path() + "'\nRELEASE='" + release.Path() + "'\n");
            ChildProcess host({LAUNCHER_CRASH_HOST, env.App(), game, "125"});
            auto pidLine = started.ReadLine(10000);
            ASSERT_TRUE(pidLine);
            const pid_t pid = std::stoi(*pidLine);
            host.Signal(SIGKILL);
            ASSERT_EQ(host.Wait(10000), 128 + SIGKILL);
            platform::ProcessHandle orphan =
                platform::ProcessHandle::Adopt(pid, platform::ProcessStartTime(pid));
            ASSERT_TRUE(orphan);
            if (round % 4 == 0) {
                ASSERT_TRUE(release.WriteLine("go"));
                ASSERT_EQ(orphan.Wait(10000), platform::WaitResult::Exited);
                GameLauncher next(env.Manager(), env.RecordPath());
                ASSERT_TRUE(next.WaitUntilIdle(10000));
            } else {
                GameLauncher next(env.Manager(), env.RecordPath());
                EXPECT_TRUE(next.IsRunning()) << "the running game is adopted";
                ASSERT_TRUE(release.WriteLine("go"));
                ASSERT_TRUE(next.WaitUntilIdle(10000));
            }
            EXPECT_EQ(ReadFile(user), "changed by " + *pidLine + "\n");
        } else {
            env.Behaviour("");
            ChildProcess host({LAUNCHER_CRASH_HOST, env.App(), game, "125", std::to_string(delay(random))});
            auto exitCode = host.Wait(10000);
            ASSERT_TRUE(exitCode);
            if (*exitCode == 128 + SIGKILL)
                ++killedMidway;
            else
                ASSERT_EQ(*exitCode, 0);
            GameLauncher next(env.Manager(), env.RecordPath());
            ASSERT_TRUE(next.WaitUntilIdle(10000));
        }
        EXPECT_FALSE(std::filesystem::exists(env.RecordPath()));
        const std::string kept = ReadFile(user);
        EXPECT_TRUE(kept.rfind("changed by ", 0) == 0 || kept == "gamepad defaults\n") << kept;
        EXPECT_EQ(kept.back(), '\n') << "never cut short";
        EXPECT_EQ(kept, ReadFile(target)) << "the emulator's file and the user copy agree";
    }
    EXPECT_GT(killedMidway, 0);
}

} // namespace
