// Programs that cannot be started, said to the user without holding the run's worker, and game runs
// and settings runs of the emulators kept apart, with the real launcher and manager, real processes
// and the test emulator installed from quokka-server.

#include "tests/emulator/LaunchTestSupport.h"

#include "foundation/AppMessages.h"
#include "tests/support/Fifo.h"
#include "tests/support/MessageRecorder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;
using launchtest::FakeLaunchPrompts;
using launchtest::LaunchEnvironment;
using testsupport::ReadFile;
using testsupport::WriteFile;

const platform::HWND kWindow = reinterpret_cast<platform::HWND>(0x40);

// The launch prompts with a hook into the control-method dialog, for what happens while it is up.
class HookedPrompts : public FakeLaunchPrompts {
public:
    int AskControlMethod(platform::HWND owner) override
    {
        if (whileAsked)
            whileAsked();
        return FakeLaunchPrompts::AskControlMethod(owner);
    }
    std::function<void()> whileAsked;
};

ino_t InodeOf(const std::string& path)
{
    struct stat info = {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

class LaunchStartFailureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_env.Manager().SetLaunchPrompts(&m_prompts);
        m_launcher = std::make_unique<GameLauncher>(m_env.Manager(), m_env.RecordPath());
        m_launcher->SetPrompts(&m_prompts);
        m_launcher->SetWindowWatchFactory([] { return std::unique_ptr<platform::IWindowWatch>(); });
        m_folder = m_env.Install(125);
        ASSERT_FALSE(m_folder.empty());
    }

    void TearDown() override { m_launcher.reset(); }

    std::string Game(const std::string& relative, const std::string& content = "game")
    {
        const std::string path = m_env.Dir() + relative;
        fs::create_directories(fs::path(path).parent_path());
        EXPECT_TRUE(WriteFile(path, content));
        return path;
    }

    LocalGameRecord Local(int typeId, const std::string& path)
    {
        LocalGameRecord row;
        row.EmulatorId = std::to_string(typeId);
        row.FilePath = path;
        return row;
    }

    // Replaces the emulator's first program with `content` and `mode`; no content removes it.
    void FirstProgram(const std::string& content, mode_t mode)
    {
        const std::string path = m_folder + "launch.sh";
        fs::remove(path);
        if (content.empty())
            return;
        ASSERT_TRUE(WriteFile(path, content));
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    }

    // The user's own keyboard copy, as a person who changed their keys has it.
    std::string UserCopy(const std::string& content)
    {
        const std::string path = m_folder + "UserKeyBoardCfg/pad.cfg";
        fs::create_directories(fs::path(path).parent_path());
        EXPECT_TRUE(WriteFile(path, content));
        return path;
    }

    // The WM_GAME_STATE wParams posted so far.
    std::vector<int> States()
    {
        std::vector<int> states;
        while (auto message = m_messages.Next(0))
            if (message->message == WM_GAME_STATE)
                states.push_back(static_cast<int>(message->wParam));
        return states;
    }

    std::string CannotStart(const std::string& path) const { return "提示|无法启动：" + path; }

    testsupport::MessageRecorder m_messages;
    LaunchEnvironment m_env;
    HookedPrompts m_prompts;
    std::unique_ptr<GameLauncher> m_launcher;
    std::string m_folder; // the FC test emulator's, ending with '/'
};

TEST_F(LaunchStartFailureTest, AnEmulatorThatCannotStartIsSaidAndTheRunEndsAsAfterAnExit)
{
    m_env.Settings("2");
    auto row = Local(125, Game("roms/contra.nes"));
    struct Case {
        const char* what;
        std::string content;
        mode_t mode;
    } cases[] = {
        {"missing", "", 0},
        {"a Windows program, not one of this system", std::string("MZ\x90\0\3\0\0\0", 8) + "PE program",
         0644},
        {"a script whose interpreter is missing", "#!/nonexistent/interpreter\nexit 0\n", 0755},
        {"an executable the system cannot run",
         std::string("\x7f"
                     "ELF\1\1\1garbage",
                     14),
         0755},
    };
    // A desktop opener that would take the file that is not a program, as a document.
    const std::string opener =
        Game("bin/xdg-open", "#!/bin/sh\necho \"opened $*\" >> '" + m_env.Out() + "'\n");
    ASSERT_EQ(::chmod(opener.c_str(), 0755), 0);
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", (m_env.Dir() + "bin:" + path).c_str(), 1);
    struct PathBack {
        std::string path;
        ~PathBack() { ::setenv("PATH", path.c_str(), 1); }
    } pathBack{path};

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FirstProgram(c.content, c.mode);
        const std::string user = UserCopy("the user's keys\n");
        const ino_t before = InodeOf(user);
        fs::remove(m_env.Out());

        ASSERT_TRUE(m_launcher->LaunchLocalGame(&row, kWindow));
        ASSERT_TRUE(m_launcher->WaitUntilIdle(10000));

        EXPECT_EQ(m_prompts.Notices(), std::vector<std::string>{CannotStart(m_folder + "launch.sh")});
        EXPECT_EQ(m_prompts.noticeOwners, std::vector<platform::HWND>{kWindow});
        EXPECT_TRUE(m_prompts.told.empty()) << "no box that waits for the user on the worker";
        EXPECT_EQ(States(), (std::vector<int>{1, 0})) << "the tips come and go as for a game that ended";
        EXPECT_TRUE(m_env.Report().empty())
            << "not opened as a document; the second program is only for an exit with code 1";
        // The user copy was put in place, then taken back (a new file renamed over it), whole.
        EXPECT_EQ(ReadFile(m_folder + "config/pad.cfg"), "the user's keys\n");
        EXPECT_EQ(ReadFile(user), "the user's keys\n");
        EXPECT_NE(InodeOf(user), before) << "the after-exit step ran";
        EXPECT_FALSE(fs::exists(m_env.RecordPath())) << "the run is over";
        m_prompts.notices.clear();
        m_prompts.noticeOwners.clear();
    }
}

TEST_F(LaunchStartFailureTest, ProgramsThatEndWith127HaveStarted)
{
    m_env.Settings("2");
    m_env.Behaviour("CODE=127\n");
    auto row = Local(125, Game("roms/contra.nes"));
    ASSERT_TRUE(m_launcher->LaunchLocalGame(&row, kWindow));
    ASSERT_TRUE(m_launcher->WaitUntilIdle(10000));
    EXPECT_EQ(m_launcher->LastExitCode(), 127);
    EXPECT_EQ(LaunchEnvironment::RunCount(m_env.Report()), 1);
    EXPECT_EQ(States(), (std::vector<int>{1, 0}));

    // A PC game's program, and an emulator run for its settings, that end so.
    const std::string pc = Game("pc/ends/run.sh", "#!/bin/sh\nexit 127\n");
    ::chmod(pc.c_str(), 0755);
    auto pcRow = Local(138, pc);
    ASSERT_TRUE(m_launcher->LaunchLocalGame(&pcRow, kWindow));
    ASSERT_TRUE(m_launcher->WaitUntilIdle(10000));
    EXPECT_EQ(m_launcher->LastExitCode(), 127);

    m_env.Manager().RunForSettings(*m_env.Manager().Installed("1250002"), kWindow);
    ASSERT_TRUE(m_env.Manager().WaitForSettingsRun(10000));
    EXPECT_EQ(LaunchEnvironment::RunCount(m_env.Report()), 2);

    EXPECT_TRUE(m_prompts.Notices().empty());
}

TEST_F(LaunchStartFailureTest, PcGamesWhoseProgramCannotStartAreSaid)
{
    m_env.Settings("0");
    const std::string folder = m_env.Dir() + "pc dl/";
    Game("pc dl/bin/present.txt");
    Game("elsewhere/run.sh", "#!/bin/sh\n");
    GameinfoRecord row;
    row.EmulatorId = "138";
    row.FilePath = folder;
    row.GameId = "id";
    struct Case {
        std::string playUrl;
        std::string shown;
    } cases[] = {
        {"bin\\missing.sh", folder + "bin/missing.sh"},
        {"..\\..\\elsewhere\\run.sh", folder + "../../elsewhere/run.sh"}, // refused: outside the game
        {"bin\\", folder + "bin/"},                                       // a folder, no program
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.playUrl);
        row.PlayUrl = c.playUrl;
        ASSERT_TRUE(m_launcher->LaunchDownloadedGame(&row, kWindow));
        ASSERT_TRUE(m_launcher->WaitUntilIdle(10000));
        EXPECT_EQ(m_prompts.Notices(), std::vector<std::string>{CannotStart(c.shown)});
        m_prompts.notices.clear();
    }
    EXPECT_TRUE(States().empty()) << "PC games post no game state";
    EXPECT_EQ(m_prompts.methodAsked, 0);
}

TEST_F(LaunchStartFailureTest, ASettingsRunWhoseEmulatorCannotStartIsSaid)
{
    m_env.Settings("2");
    const std::string user = UserCopy("the user's keys\n");
    FirstProgram("", 0);
    EmulatorRecordPtr emulator = m_env.Manager().Installed("1250002");
    ASSERT_TRUE(emulator);
    m_env.Manager().RunForSettings(*emulator, kWindow);
    ASSERT_TRUE(m_env.Manager().WaitForSettingsRun(10000));
    EXPECT_EQ(m_prompts.Notices(), std::vector<std::string>{CannotStart(m_folder + "launch.sh")});
    EXPECT_EQ(m_prompts.noticeOwners, std::vector<platform::HWND>{kWindow});
    EXPECT_EQ(ReadFile(user), "the user's keys\n");
    EXPECT_FALSE(fs::exists(EmulatorManager::SettingsRunRecordPath()));
}

// Both runs put the user's copy in place and take it back at the end: while one runs the other
// does nothing, and the copy ends up holding what the run that did happen changed.
TEST_F(LaunchStartFailureTest, GameRunsAndSettingsRunsExcludeEachOther)
{
    m_env.Settings("0"); // a launch would ask for the control method; the settings run uses the pad
    m_prompts.methodAnswer = 1;
    testsupport::Fifo started(m_env.Dir() + "started");
    testsupport::Fifo release(m_env.Dir() + "release");
    m_env.Behaviour("STARTED='" + started.Path() + "'\nRELEASE='" + release.Path() + "'\n");
    EmulatorRecordPtr emulator = m_env.Manager().Installed("1250002");
    ASSERT_TRUE(emulator);
    auto row = Local(125, Game("roms/contra.nes"));
    const std::string user = m_folder + "UserGamePadCfg/pad.cfg";

    // A settings run holds a launch off, without a dialog or a message.
    m_env.Manager().RunForSettings(*emulator, kWindow);
    auto settingsPid = started.ReadLine(10000);
    ASSERT_TRUE(settingsPid);
    EXPECT_FALSE(m_launcher->LaunchLocalGame(&row, kWindow));
    EXPECT_EQ(m_prompts.methodAsked, 0);
    EXPECT_FALSE(m_launcher->IsRunning());
    ASSERT_TRUE(release.WriteLine("go"));
    ASSERT_TRUE(m_env.Manager().WaitForSettingsRun(10000));
    EXPECT_EQ(ReadFile(user), "changed by " + *settingsPid + "\n") << "the settings run's change is kept";

    // A game holds a settings run off.
    ASSERT_TRUE(m_launcher->LaunchLocalGame(&row, kWindow));
    auto gamePid = started.ReadLine(10000);
    ASSERT_TRUE(gamePid);
    m_env.Manager().RunForSettings(*emulator, kWindow);
    EXPECT_FALSE(m_env.Manager().SettingsRunRunning());
    ASSERT_TRUE(release.WriteLine("go"));
    ASSERT_TRUE(m_launcher->WaitUntilIdle(10000));
    EXPECT_EQ(ReadFile(user), "changed by " + *gamePid + "\n") << "the game's change is kept";
    EXPECT_EQ(LaunchEnvironment::RunCount(m_env.Report()), 2);
    EXPECT_EQ(States(), (std::vector<int>{1, 0})) << "only the game that ran said so";

    // A settings run begun while the launch's dialog was up: the launch starts nothing.
    m_env.Settings("0");
    m_prompts.whileAsked = [&] { m_env.Manager().RunForSettings(*emulator, kWindow); };
    EXPECT_FALSE(m_launcher->LaunchLocalGame(&row, kWindow));
    m_prompts.whileAsked = nullptr;
    settingsPid = started.ReadLine(10000);
    ASSERT_TRUE(settingsPid);
    EXPECT_FALSE(m_launcher->IsRunning());
    ASSERT_TRUE(release.WriteLine("go"));
    ASSERT_TRUE(m_env.Manager().WaitForSettingsRun(10000));
    EXPECT_EQ(ReadFile(user), "changed by " + *settingsPid + "\n");
    EXPECT_EQ(LaunchEnvironment::RunCount(m_env.Report()), 3);
    EXPECT_TRUE(States().empty());
}

} // namespace
