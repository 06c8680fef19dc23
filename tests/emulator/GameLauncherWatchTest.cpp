#include "tests/emulator/LaunchTestSupport.h"

#include "tests/support/Fifo.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <signal.h>

namespace {

using launchtest::LaunchEnvironment;

// The desktop as the test sets it: which windows exist, and what the launcher looked at and hid.
struct Desktop {
    std::mutex mutex;
    std::condition_variable changed;
    bool available = true;
    bool askedAvailable = false;
    std::vector<platform::TopLevelWindow> windows;
    int looks = 0;
    std::vector<unsigned long> hidden;

    void Set(std::vector<platform::TopLevelWindow> now)
    {
        std::lock_guard lock(mutex);
        windows = std::move(now);
        looks = 0;
    }

    // Blocks until `done` holds (under the lock), at most 10 s.
    template <class Predicate> bool WaitUntil(Predicate done)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), done);
    }
};

class FakeWatch : public platform::IWindowWatch {
public:
    explicit FakeWatch(Desktop& desktop) : m_desktop(desktop) {}
    bool Available() const override
    {
        std::lock_guard lock(m_desktop.mutex);
        m_desktop.askedAvailable = true;
        m_desktop.changed.notify_all();
        return m_desktop.available;
    }
    std::vector<platform::TopLevelWindow> ListWindows() override
    {
        std::lock_guard lock(m_desktop.mutex);
        ++m_desktop.looks;
        m_desktop.changed.notify_all();
        return m_desktop.windows;
    }
    bool HideWindow(unsigned long id) override
    {
        std::lock_guard lock(m_desktop.mutex);
        m_desktop.hidden.push_back(id);
        for (auto& window : m_desktop.windows)
            if (window.id == id)
                window.visible = false;
        m_desktop.changed.notify_all();
        return true;
    }

private:
    Desktop& m_desktop;
};

class GameLauncherWatchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_env.Settings("2", "0");
        m_env.Behaviour("STARTED='" + m_started.Path() + "'\nRELEASE='" + m_release.Path() + "'\nCODE=5\n");
        m_launcher = std::make_unique<GameLauncher>(m_env.Manager(), m_env.RecordPath());
        m_launcher->SetWindowWatchFactory([this] { return std::make_unique<FakeWatch>(m_desktop); });
    }

    // Launches a game of the platform and waits until its emulator runs; m_game is its process id.
    void Launch(int typeId)
    {
        LocalGameRecord row;
        row.EmulatorId = std::to_string(typeId);
        row.FilePath = m_env.Dir() + "game.zip";
        ASSERT_TRUE(testsupport::WriteFile(row.FilePath, "game"));
        m_folder = m_env.Install(typeId);
        m_launchedAt = std::chrono::steady_clock::now();
        ASSERT_TRUE(m_launcher->LaunchLocalGame(&row, nullptr));
        auto pidLine = m_started.ReadLine(10000);
        ASSERT_TRUE(pidLine);
        m_game = std::stoi(*pidLine);
    }

    int64_t MillisecondsSinceLaunch() const
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                     m_launchedAt)
            .count();
    }

    LaunchEnvironment m_env;
    testsupport::Fifo m_started{m_env.Dir() + "started"};
    testsupport::Fifo m_release{m_env.Dir() + "release"};
    Desktop m_desktop;
    std::unique_ptr<GameLauncher> m_launcher;
    std::string m_folder;
    pid_t m_game = -1;
    std::chrono::steady_clock::time_point m_launchedAt;
};

TEST_F(GameLauncherWatchTest, ArcadeConsoleWindowIsHiddenWhileOthersStay)
{
    m_launcher->SetWatchTimings({2, 60000, 500, 10000});
    Launch(123);
    const std::string console = m_folder + "launch.sh";
    m_desktop.Set({{7, "other program", true}, {8, console, false}, {9, console + " (copy)", true}});
    {
        std::lock_guard lock(m_desktop.mutex);
        m_desktop.windows.push_back({10, console, true});
    }
    ASSERT_TRUE(m_desktop.WaitUntil([&] { return !m_desktop.hidden.empty(); }));
    // A window that shows again is hidden again.
    {
        std::lock_guard lock(m_desktop.mutex);
        m_desktop.windows.back().visible = true;
    }
    ASSERT_TRUE(m_desktop.WaitUntil([&] { return m_desktop.hidden.size() >= 2; }));
    ASSERT_TRUE(m_release.WriteLine("go"));
    ASSERT_TRUE(m_launcher->WaitUntilIdle(10000));
    std::lock_guard lock(m_desktop.mutex);
    EXPECT_EQ(m_desktop.hidden, (std::vector<unsigned long>{10, 10}));
    EXPECT_EQ(m_launcher->LastExitCode(), 5) << "hiding ends nothing";
}

TEST_F(GameLauncherWatchTest, PsEmulatorIsEndedOnlyAfterItsWindowWasSeenAndIsGone)
{
    m_launcher->SetWatchTimings({50, 5000, 2, 60000});
    Launch(119);
    // Not shown yet: many looks, nothing ended.
    ASSERT_TRUE(m_desktop.WaitUntil([&] { return m_desktop.looks >= 20; }));
    EXPECT_TRUE(m_launcher->IsRunning());
    m_desktop.Set({{3, "ePSXe - 增强型 PSX 模拟器", true}});
    ASSERT_TRUE(m_desktop.WaitUntil([&] { return m_desktop.looks >= 20; }));
    EXPECT_TRUE(m_launcher->IsRunning()) << "the window is there";
    m_desktop.Set({{4, "ePSXe", true}});
    ASSERT_TRUE(m_launcher->WaitUntilIdle(10000));
    EXPECT_EQ(m_launcher->LastExitCode(), 0) << "ended as by the program itself, so no fallback";
    EXPECT_EQ(launchtest::LaunchEnvironment::RunCount(m_env.Report()), 1);
}

TEST_F(GameLauncherWatchTest, PsEmulatorWhoseWindowNeverShowsIsEndedFromTheTimeLimit)
{
    m_launcher->SetWatchTimings({50, 5000, 2, 150});
    Launch(119);
    ASSERT_TRUE(m_launcher->WaitUntilIdle(10000));
    EXPECT_GE(MillisecondsSinceLaunch(), 150);
    EXPECT_EQ(m_launcher->LastExitCode(), 0);
}

TEST_F(GameLauncherWatchTest, WithoutADisplayNothingIsWatched)
{
    m_desktop.available = false;
    m_launcher->SetWatchTimings({1, 5000, 1, 0});
    Launch(119);
    ASSERT_TRUE(m_desktop.WaitUntil([&] { return m_desktop.askedAvailable; }));
    ASSERT_TRUE(m_release.WriteLine("go"));
    ASSERT_TRUE(m_launcher->WaitUntilIdle(10000));
    EXPECT_EQ(m_launcher->LastExitCode(), 5) << "the game ended by itself";
    std::lock_guard lock(m_desktop.mutex);
    EXPECT_EQ(m_desktop.looks, 0);
}

TEST_F(GameLauncherWatchTest, WatchesEndWithTheGameAndAtShutdown)
{
    m_launcher->SetWatchTimings({1, 60000, 500, 60000});
    Launch(123);
    ASSERT_TRUE(m_release.WriteLine("go"));
    ASSERT_TRUE(m_launcher->WaitUntilIdle(10000)) << "a long hide watch ends with the process";

    m_launcher->SetWatchTimings({50, 5000, 1, 60000});
    Launch(119);
    ASSERT_TRUE(m_desktop.WaitUntil([&] { return m_desktop.looks >= 3; }));
    // The game waits for the release below: Shutdown returning at all shows that the watch ended
    // without waiting for it.
    m_launcher->Shutdown();
    EXPECT_EQ(::kill(m_game, 0), 0) << "the game was left running";
    EXPECT_FALSE(m_launcher->LastExitCode()) << "the first game's code is not taken for this one's";
    ASSERT_TRUE(m_release.WriteLine("go")); // let it end
}

} // namespace
