#include "tests/emulator/LaunchTestSupport.h"

#include "foundation/AppMessages.h"
#include "platform/Process.h"
#include "tests/support/Fifo.h"
#include "tests/support/MessageRecorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using launchtest::FakeLaunchPrompts;
using launchtest::LaunchEnvironment;
using testsupport::ReadFile;
using testsupport::WriteFile;

const platform::HWND kWindow = reinterpret_cast<platform::HWND>(0x40);

std::vector<std::string> Args(const std::vector<std::string>& report)
{
    std::vector<std::string> args;
    for (const std::string& line : report)
        if (line.rfind("arg ", 0) == 0)
            args.push_back(line.substr(4));
    return args;
}

std::vector<std::string> Runs(const std::vector<std::string>& report)
{
    std::vector<std::string> runs;
    for (const std::string& line : report)
        if (line.rfind("run ", 0) == 0)
            runs.push_back(line.substr(4));
    return runs;
}

class GameLauncherTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_launcher = std::make_unique<GameLauncher>(m_env.Manager(), m_env.RecordPath());
        m_launcher->SetPrompts(&m_prompts);
        // No test here looks at real windows.
        m_launcher->SetWindowWatchFactory([] { return std::unique_ptr<platform::IWindowWatch>(); });
    }

    void TearDown() override { m_launcher.reset(); }

    LocalGameRecord Local(int typeId, const std::string& path, const std::string& playUrl = "")
    {
        LocalGameRecord row;
        row.EmulatorId = std::to_string(typeId);
        row.FilePath = path;
        row.PlayUrl = playUrl;
        return row;
    }

    GameinfoRecord Downloaded(int typeId, const std::string& folder, const std::string& gameId,
                              const std::string& fileName = "", const std::string& playUrl = "")
    {
        GameinfoRecord row;
        row.EmulatorId = std::to_string(typeId);
        row.FilePath = folder;
        row.GameId = gameId;
        row.FileName = fileName;
        row.PlayUrl = playUrl;
        return row;
    }

    // A file of the test folder, its folders made.
    std::string Game(const std::string& relative, const std::string& content = "game")
    {
        const std::string path = m_env.Dir() + relative;
        fs::create_directories(fs::path(path).parent_path());
        EXPECT_TRUE(WriteFile(path, content));
        return path;
    }

    bool RunToEnd(bool started)
    {
        EXPECT_TRUE(started);
        return m_launcher->WaitUntilIdle(10000);
    }

    // The WM_GAME_STATE wParams posted so far.
    std::vector<int> States()
    {
        std::vector<int> states;
        while (auto message = m_messages.Next(0)) {
            if (message->message == WM_GAME_STATE) {
                EXPECT_EQ(message->hwnd, kWindow);
                states.push_back(static_cast<int>(message->wParam));
            }
        }
        return states;
    }

    testsupport::MessageRecorder m_messages;
    LaunchEnvironment m_env;
    FakeLaunchPrompts m_prompts;
    std::unique_ptr<GameLauncher> m_launcher;
};

TEST_F(GameLauncherTest, EachTemplateStartsTheInstalledEmulatorWithAPathHoldingSpaces)
{
    m_env.Settings("2");
    const std::string game = Game("my games/mario kart.nes");
    const std::string named = Game("my games/mario.sfc");
    struct Case {
        int typeId;
        std::string game;
        std::vector<std::string> args;
    } cases[] = {
        {125, game, {game}},
        {121, named, {"-name", "mario", "-x"}},
        {120, game, {"--load", game, "--fast"}},
        {122, game, {"-game", game}},
    };
    for (const Case& c : cases) {
        fs::remove(m_env.Out());
        auto row = Local(c.typeId, c.game);
        ASSERT_TRUE(RunToEnd(m_launcher->LaunchLocalGame(&row, kWindow))) << c.typeId;
        auto report = m_env.Report();
        EXPECT_EQ(Runs(report), std::vector<std::string>{"launch.sh"}) << c.typeId;
        EXPECT_EQ(Args(report), c.args) << c.typeId;
        const std::string folder = m_env.Install(c.typeId);
        ASSERT_FALSE(folder.empty());
        EXPECT_EQ(report.at(1), "cwd " + fs::canonical(folder).string()) << c.typeId;
        EXPECT_EQ(States(), (std::vector<int>{1, 0})) << "tips shown, then hidden, once each";
        EXPECT_EQ(m_launcher->Platform(), std::to_string(c.typeId));
        EXPECT_EQ(m_launcher->ControlMethod(), 2);
        EXPECT_EQ(m_launcher->LastExitCode(), 0);
        EXPECT_FALSE(fs::exists(m_env.RecordPath())) << "the run record goes with the run";
    }
    EXPECT_EQ(m_env.installer.installs, 4) << "each emulator was installed by its first launch";
    EXPECT_TRUE(m_prompts.told.empty());

    // Without the tips setting nothing is shown, but the end still comes.
    m_env.Settings("2", "0");
    auto row = Local(125, game);
    ASSERT_TRUE(RunToEnd(m_launcher->LaunchLocalGame(&row, kWindow)));
    EXPECT_EQ(States(), std::vector<int>{0});
}

TEST_F(GameLauncherTest, ControlMethodIsAskedUntilChosenAndMissingGamesAreSaid)
{
    m_env.Settings("0");
    const std::string game = Game("roms/contra.nes");
    auto row = Local(125, game);
    EXPECT_FALSE(m_launcher->LaunchLocalGame(&row, kWindow)) << "the dialog was closed";
    EXPECT_EQ(m_prompts.methodAsked, 1);
    EXPECT_EQ(CAppSettings().HandleType(), "0") << "closing changes no setting";
    EXPECT_FALSE(fs::exists(m_env.Out()));

    m_prompts.methodAnswer = 1;
    ASSERT_TRUE(RunToEnd(m_launcher->LaunchLocalGame(&row, kWindow)));
    EXPECT_EQ(m_prompts.methodAsked, 2);
    EXPECT_EQ(CAppSettings().HandleType(), "1");
    EXPECT_EQ(m_launcher->ControlMethod(), 1);
    ASSERT_TRUE(RunToEnd(m_launcher->LaunchLocalGame(&row, kWindow)));
    EXPECT_EQ(m_prompts.methodAsked, 2) << "asked once, then kept";
    EXPECT_EQ(Runs(m_env.Report()).size(), 2u);

    // A game file that is gone, and launches without a row or with a platform nobody serves.
    auto gone = Local(125, m_env.Dir() + "roms/gone.nes");
    EXPECT_FALSE(m_launcher->LaunchLocalGame(&gone, kWindow));
    EXPECT_EQ(m_prompts.told, std::vector<std::string>{"提示|游戏文件不存在"});
    EXPECT_FALSE(m_launcher->LaunchLocalGame(nullptr, kWindow));
    EXPECT_FALSE(m_launcher->LaunchDownloadedGame(nullptr, kWindow));
    auto unserved = Local(131, game);
    EXPECT_FALSE(m_launcher->LaunchLocalGame(&unserved, kWindow));
    EXPECT_EQ(m_prompts.told.size(), 1u) << "a platform without an emulator ends silently";
    EXPECT_EQ(Runs(m_env.Report()).size(), 2u);
}

TEST_F(GameLauncherTest, DownloadedGamesAreFoundIgnoringCaseAndDiscsAreOffered)
{
    m_env.Settings("2");
    const std::string folder = m_env.Dir() + "lib/";
    auto launch = [&](const GameinfoRecord& row) {
        fs::remove(m_env.Out());
        bool started = m_launcher->LaunchDownloadedGame(&row, kWindow);
        if (started) {
            EXPECT_TRUE(m_launcher->WaitUntilIdle(10000));
        }
        auto args = Args(m_env.Report());
        return started && !args.empty() ? args.back() : std::string();
    };

    // Cartridges: the game id with the platform's extensions, letter case aside.
    const std::string contra = Game("lib/fc/CONTRA.NES");
    EXPECT_EQ(launch(Downloaded(125, folder + "fc/", "contra")), contra);
    EXPECT_EQ(launch(Downloaded(125, folder + "fc/", "missing")), "");
    EXPECT_EQ(m_prompts.told, std::vector<std::string>{"提示|游戏文件不存在"});
    EXPECT_EQ(launch(Downloaded(125, folder + "fc/", "../fc/contra")), "") << "a game id is one name";

    // Disc images: the id first, else the only file of an extension anywhere below the folder.
    const std::string only = Game("lib/one/deep/er/Image.CSO");
    EXPECT_EQ(launch(Downloaded(129, folder + "one/", "whatever")), only);
    Game("lib/two/a.iso");
    Game("lib/two/b.iso");
    m_prompts.told.clear();
    EXPECT_EQ(launch(Downloaded(129, folder + "two/", "whatever")), "") << "two .iso files name no game";
    EXPECT_EQ(m_prompts.told, std::vector<std::string>{"提示|游戏文件不存在"});

    // Several discs: the dialog with one button per disc found, in suffix order.
    const std::string discA = Game("lib/multi/ff_A.iso");
    const std::string discC = Game("lib/multi/FF_c.ISO");
    m_prompts.discAnswer = 1;
    EXPECT_EQ(launch(Downloaded(129, folder + "multi/", "ff")), discC);
    m_prompts.discAnswer = 0;
    EXPECT_EQ(launch(Downloaded(129, folder + "multi/", "ff")), discA);
    m_prompts.discAnswer = -1;
    EXPECT_EQ(launch(Downloaded(129, folder + "multi/", "ff")), "") << "a closed dialog starts nothing";
    EXPECT_EQ(m_prompts.discCounts, (std::vector<int>{2, 2, 2}));
    Game("lib/single/ff_A.iso");
    Game("lib/single/extra/notes.iso"); // so that the search by extension finds no single file
    m_prompts.told.clear();
    EXPECT_EQ(launch(Downloaded(129, folder + "single/", "ff")), "") << "one disc alone is not found";
    EXPECT_EQ(m_prompts.told, std::vector<std::string>{"提示|游戏文件不存在"});
    EXPECT_EQ(m_prompts.discCounts.size(), 3u);

    // Arcade games by their file name.
    const std::string sf2 = Game("lib/arcade/sf2.zip");
    EXPECT_EQ(launch(Downloaded(123, folder + "arcade/", "id", "SF2.ZIP")), "sf2");
    EXPECT_EQ(launch(Downloaded(123, folder + "arcade/", "id", "../arcade/sf2.zip")), "");
}

TEST_F(GameLauncherTest, ArcadeGamesAreCopiedIntoRomsWithoutOverwriting)
{
    m_env.Settings("2");
    const std::string roms = m_env.Install(126) + "roms/";
    fs::create_directories(roms);
    ASSERT_TRUE(WriteFile(roms + "kof.zip", "the one already there"));
    auto kof = Local(126, Game("arcade/kof.zip", "new kof"));
    ASSERT_TRUE(RunToEnd(m_launcher->LaunchLocalGame(&kof, kWindow)));
    EXPECT_EQ(ReadFile(roms + "kof.zip"), "the one already there");
    EXPECT_EQ(Args(m_env.Report()), (std::vector<std::string>{"-rompath", "roms", "kof"}));

    auto slug = Local(126, Game("arcade/mslug.zip", "slug"));
    ASSERT_TRUE(RunToEnd(m_launcher->LaunchLocalGame(&slug, kWindow)));
    EXPECT_EQ(ReadFile(roms + "mslug.zip"), "slug");
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(roms))
        ++entries;
    EXPECT_EQ(entries, 2u) << "no partial copy stays behind";
}

TEST_F(GameLauncherTest, GameNamesReachTheEmulatorWholeAndNamesLikeOptionsAreRefused)
{
    m_env.Settings("2");
    // Arcade files named with blanks, options and quotes: the name is one argument of the emulator.
    for (const std::string name : {"Street Fighter", "sf2 -listxml --evil", "say \"hi\" --x"}) {
        fs::remove(m_env.Out());
        auto row = Local(123, Game("arcade/" + name + ".zip"));
        ASSERT_TRUE(RunToEnd(m_launcher->LaunchLocalGame(&row, kWindow))) << name;
        EXPECT_EQ(Args(m_env.Report()), (std::vector<std::string>{"-rompath", "roms", name}));
    }
    EXPECT_TRUE(m_prompts.told.empty());

    // A file whose name begins with "-" is not handed to an emulator, whichever kind of game it is;
    // the launch says why, and the file is left alone.
    fs::remove(m_env.Out());
    const std::string dashed = Game("arcade/-rf --no-preserve-root x.zip");
    auto local = Local(123, dashed);
    EXPECT_FALSE(m_launcher->LaunchLocalGame(&local, kWindow));
    auto downloaded = Downloaded(126, m_env.Dir() + "arcade/", "id", "-rf --no-preserve-root x.zip");
    EXPECT_FALSE(m_launcher->LaunchDownloadedGame(&downloaded, kWindow));
    auto cartridge = Local(125, Game("fc/-o.nes"));
    EXPECT_FALSE(m_launcher->LaunchLocalGame(&cartridge, kWindow));
    const std::string refused = "提示|无法启动：游戏文件名不能以“-”开头";
    EXPECT_EQ(m_prompts.told, (std::vector<std::string>{refused, refused, refused}));
    EXPECT_FALSE(m_launcher->IsRunning());
    EXPECT_FALSE(fs::exists(m_env.Out())) << "no emulator ran";
    EXPECT_TRUE(fs::exists(dashed));
    EXPECT_FALSE(fs::exists(m_env.Install(126) + "roms/-rf --no-preserve-root x.zip"));
}

TEST_F(GameLauncherTest, ShutdownEndsTheCopyIntoRomsAndRemovesWhatItWrote)
{
    m_env.Settings("2");
    const std::string roms = m_env.Install(126) + "roms/";
    // Far more than the launcher gets through before the shutdown below; sparse, so it costs no disk.
    const std::string big = Game("arcade/big.zip", "");
    fs::resize_file(big, uintmax_t{4} << 30);
    auto row = Local(126, big);
    ASSERT_TRUE(m_launcher->LaunchLocalGame(&row, kWindow));
    m_launcher->Shutdown();
    std::vector<std::string> left;
    std::error_code ec;
    for (fs::directory_iterator it(roms, ec), end; !ec && it != end; it.increment(ec))
        left.push_back(it->path().filename().string());
    EXPECT_TRUE(left.empty()) << left.front();
    EXPECT_FALSE(fs::exists(m_env.Out())) << "nothing started after the shutdown";
}

TEST_F(GameLauncherTest, PcGamesRunInTheirFolderWithoutEmulatorTipsOrDialog)
{
    m_env.Settings("0");
    const std::string script = "#!/bin/sh\necho \"pc $(pwd) $#\" >> '" + m_env.Out() + "'\n";
    const std::string local = Game("pc games/local game/start.sh", script);
    const std::string downloaded = Game("pc dl/bin dir/go.sh", script);
    ::chmod(local.c_str(), 0755);
    ::chmod(downloaded.c_str(), 0755);

    auto localRow = Local(138, local);
    ASSERT_TRUE(RunToEnd(m_launcher->LaunchLocalGame(&localRow, kWindow)));
    auto downloadedRow = Downloaded(138, m_env.Dir() + "pc dl/", "id", "", "bin dir\\go.sh");
    ASSERT_TRUE(RunToEnd(m_launcher->LaunchDownloadedGame(&downloadedRow, kWindow)));
    auto escaping =
        Downloaded(138, m_env.Dir() + "pc dl/", "id", "", "..\\..\\pc games\\local game\\start.sh");
    ASSERT_TRUE(RunToEnd(m_launcher->LaunchDownloadedGame(&escaping, kWindow)));

    EXPECT_EQ(m_env.Report(), (std::vector<std::string>{"pc " + m_env.Dir() + "pc games/local game 0",
                                                        "pc " + m_env.Dir() + "pc dl/bin dir 0"}))
        << "the program named outside the game's folder is not started";
    EXPECT_EQ(m_prompts.methodAsked, 0);
    EXPECT_TRUE(States().empty());
    EXPECT_EQ(m_env.installer.installs, 0);
}

TEST_F(GameLauncherTest, TwoLaunchesInOneTurnStartOneGame)
{
    m_env.Settings("2");
    testsupport::Fifo started(m_env.Dir() + "started");
    testsupport::Fifo release(m_env.Dir() + "release");
    m_env.Behaviour("STARTED='" + started.Path() + "'\nRELEASE='" + release.Path() + "'\n");
    auto row = Local(125, Game("roms/contra.nes"));
    EXPECT_TRUE(m_launcher->LaunchLocalGame(&row, kWindow));
    EXPECT_FALSE(m_launcher->LaunchLocalGame(&row, kWindow)) << "the second click finds the game running";
    ASSERT_TRUE(started.ReadLine(10000));
    EXPECT_TRUE(m_launcher->IsRunning());
    EXPECT_FALSE(m_launcher->LaunchLocalGame(&row, kWindow));
    ASSERT_TRUE(release.WriteLine("go"));
    ASSERT_TRUE(m_launcher->WaitUntilIdle(10000));
    EXPECT_EQ(Runs(m_env.Report()).size(), 1u);
    EXPECT_EQ(States(), (std::vector<int>{1, 0}));
}

TEST_F(GameLauncherTest, ExitCodeOneStartsTheSecondProgramAtMostThreeTimes)
{
    m_env.Settings("2");
    auto row = Local(125, Game("roms/contra.nes"));
    struct Case {
        std::string behaviour;
        std::vector<std::string> runs;
        int lastCode;
    } cases[] = {
        {"CODE=1\nFALLBACK_CODE=1\n", {"launch.sh", "fallback.sh", "fallback.sh", "fallback.sh"}, 1},
        {"CODE=1\nFALLBACK_CODE=0\n", {"launch.sh", "fallback.sh"}, 0},
        {"CODE=7\nFALLBACK_CODE=1\n", {"launch.sh"}, 7},
    };
    for (const Case& c : cases) {
        fs::remove(m_env.Out());
        m_env.Behaviour(c.behaviour);
        ASSERT_TRUE(RunToEnd(m_launcher->LaunchLocalGame(&row, kWindow)));
        EXPECT_EQ(Runs(m_env.Report()), c.runs) << c.behaviour;
        EXPECT_EQ(m_launcher->LastExitCode(), c.lastCode);
        EXPECT_EQ(States(), (std::vector<int>{1, 0})) << "one start and one end message per launch";
    }
}

TEST_F(GameLauncherTest, TheRunsConfigurationChangeIsTakenBackForTheNextRun)
{
    m_env.Settings("1");
    auto row = Local(125, Game("roms/contra.nes"));
    ASSERT_TRUE(RunToEnd(m_launcher->LaunchLocalGame(&row, kWindow)));
    ASSERT_TRUE(RunToEnd(m_launcher->LaunchLocalGame(&row, kWindow)));
    auto report = m_env.Report();
    std::vector<std::string> seen;
    for (const std::string& line : report)
        if (line.rfind("target ", 0) == 0)
            seen.push_back(line.substr(7));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], "gamepad defaults") << "the user copy, made from the defaults, was put in place";
    EXPECT_EQ(seen[1].rfind("changed by ", 0), 0u) << "the first run's change came back for the second";
    const std::string user = m_env.Install(125) + "UserGamePadCfg/pad.cfg";
    EXPECT_EQ(ReadFile(user).rfind("changed by ", 0), 0u);
    EXPECT_NE(ReadFile(user), seen[1] + "\n") << "and the second run's change after it";
}

TEST_F(GameLauncherTest, ShutdownLeavesTheGameRunningAndTheNextStartAdoptsIt)
{
    m_env.Settings("1");
    testsupport::Fifo started(m_env.Dir() + "started");
    testsupport::Fifo release(m_env.Dir() + "release");
    m_env.Behaviour("STARTED='" + started.Path() + "'\nRELEASE='" + release.Path() + "'\n");
    auto row = Local(125, Game("roms/contra.nes"));
    ASSERT_TRUE(m_launcher->LaunchLocalGame(&row, kWindow));
    auto pidLine = started.ReadLine(10000);
    ASSERT_TRUE(pidLine);
    const pid_t game = std::stoi(*pidLine);

    // The game waits for the release below: Shutdown returning at all shows that it did not wait.
    m_launcher->Shutdown();
    EXPECT_EQ(::kill(game, 0), 0) << "the game goes on";
    EXPECT_TRUE(fs::exists(m_env.RecordPath()));
    EXPECT_EQ(States(), std::vector<int>{1}) << "no end while the game still runs";
    m_launcher.reset();

    GameLauncher next(m_env.Manager(), m_env.RecordPath());
    next.SetPrompts(&m_prompts);
    EXPECT_TRUE(next.IsRunning()) << "the earlier game is adopted";
    EXPECT_FALSE(next.LaunchLocalGame(&row, kWindow));
    EXPECT_EQ(next.ControlMethod(), 1);
    ASSERT_TRUE(release.WriteLine("go"));
    ASSERT_TRUE(next.WaitUntilIdle(10000));
    EXPECT_FALSE(fs::exists(m_env.RecordPath()));
    const std::string user = m_env.Install(125) + "UserGamePadCfg/pad.cfg";
    EXPECT_EQ(ReadFile(user), "changed by " + *pidLine + "\n") << "the change was taken back";
}

TEST_F(GameLauncherTest, RecordsLeftByAnEndedRunAreFinishedOrDropped)
{
    const std::string folder = m_env.Install(125);
    m_launcher.reset();
    const std::string user = folder + "UserKeyBoardCfg/pad.cfg";
    fs::create_directories(folder + "UserKeyBoardCfg");
    RunRecordFile file(m_env.RecordPath());

    // The program died after the user copy was in place: the emulator's file is taken back.
    ASSERT_TRUE(WriteFile(user, "user copy\n"));
    ASSERT_TRUE(WriteFile(folder + "config/pad.cfg", "changed while the program was gone\n"));
    ASSERT_TRUE(file.Save(RunRecord{"1250002", 2, "/g/contra.nes", true, 0, 0, true, {}}));
    {
        GameLauncher next(m_env.Manager(), m_env.RecordPath());
        ASSERT_TRUE(next.WaitUntilIdle(10000));
    }
    EXPECT_EQ(ReadFile(user), "changed while the program was gone\n");
    EXPECT_FALSE(fs::exists(m_env.RecordPath()));

    // The files put in place had not all reached the disk yet: after the program died in this boot
    // of the machine they are whole in memory and taken back; after the machine went down (a record
    // of another boot) they may be cut short, and the user copy is kept.
    ASSERT_TRUE(WriteFile(folder + "config/pad.cfg", "changed, not flushed\n"));
    ASSERT_TRUE(file.Save(RunRecord{"1250002", 2, "/g/contra.nes", true, 0, 0, false, CurrentBootId()}));
    {
        GameLauncher next(m_env.Manager(), m_env.RecordPath());
        ASSERT_TRUE(next.WaitUntilIdle(10000));
    }
    EXPECT_EQ(ReadFile(user), "changed, not flushed\n");
    ASSERT_TRUE(WriteFile(user, "user copy\n"));
    ASSERT_TRUE(WriteFile(folder + "config/pad.cfg", ""));
    ASSERT_TRUE(file.Save(RunRecord{"1250002", 2, "/g/contra.nes", true, 0, 0, false, "an earlier boot"}));
    {
        GameLauncher next(m_env.Manager(), m_env.RecordPath());
        EXPECT_FALSE(next.IsRunning());
    }
    EXPECT_EQ(ReadFile(user), "user copy\n");
    EXPECT_FALSE(fs::exists(m_env.RecordPath()));

    // A record of the earlier format (no flush state) is finished as before.
    ASSERT_TRUE(WriteFile(folder + "config/pad.cfg", "changed under the earlier format\n"));
    ASSERT_TRUE(WriteFile(m_env.RecordPath(), "EmulatorId=1250002\nControlMethod=2\nGamePath=/g/contra.nes\n"
                                              "Prepared=1\nPid=0\nStartTime=0\nEnd=1\n"));
    {
        GameLauncher next(m_env.Manager(), m_env.RecordPath());
        ASSERT_TRUE(next.WaitUntilIdle(10000));
    }
    EXPECT_EQ(ReadFile(user), "changed under the earlier format\n");
    EXPECT_FALSE(fs::exists(m_env.RecordPath()));

    // It died while the user copy was being put in place: the user copy is kept as it is.
    ASSERT_TRUE(WriteFile(user, "user copy\n"));
    ASSERT_TRUE(WriteFile(folder + "config/pad.cfg", "half writ"));
    ASSERT_TRUE(file.Save(RunRecord{"1250002", 2, "/g/contra.nes", false, 0, 0, true, {}}));
    {
        GameLauncher next(m_env.Manager(), m_env.RecordPath());
        EXPECT_FALSE(next.IsRunning());
    }
    EXPECT_EQ(ReadFile(user), "user copy\n");
    EXPECT_FALSE(fs::exists(m_env.RecordPath()));

    // A record of an emulator that is gone, or one that does not read whole, is dropped.
    ASSERT_TRUE(file.Save(RunRecord{"9999999", 2, "", true, 0, 0, true, {}}));
    {
        GameLauncher next(m_env.Manager(), m_env.RecordPath());
        EXPECT_FALSE(next.IsRunning());
    }
    EXPECT_FALSE(fs::exists(m_env.RecordPath()));
    ASSERT_TRUE(WriteFile(m_env.RecordPath(), "EmulatorId=1250002\nControlMethod=2\n"));
    {
        GameLauncher next(m_env.Manager(), m_env.RecordPath());
        EXPECT_FALSE(next.IsRunning());
    }
    EXPECT_FALSE(fs::exists(m_env.RecordPath()));
    EXPECT_EQ(ReadFile(user), "user copy\n");
}

TEST_F(GameLauncherTest, AnEmulatorTheRecordDidNotNameYetIsFoundInItsFolderOrByTheStartMark)
{
    // The program died between starting the emulator and writing its id into the record; the
    // emulator changes its file only after the next start has begun.
    const std::string folder = m_env.Install(125);
    m_launcher.reset();
    testsupport::Fifo started(m_env.Dir() + "started");
    testsupport::Fifo release(m_env.Dir() + "release");
    const std::string late = folder + "late.sh";
    ASSERT_TRUE(WriteFile(late, "#!/bin/sh\necho up > '" + started.Path() + "'\nread x < '" + release.Path() +
                                    "'\necho 'late change' > config/pad.cfg\n"));
    ::chmod(late.c_str(), 0755);
    ASSERT_TRUE(RunRecordFile(m_env.RecordPath())
                    .Save(RunRecord{"1250002", 2, "/g/contra.nes", true, 0, 0, true, {}}));
    platform::ProcessHandle emulator = platform::StartProcess(late, "", folder);
    ASSERT_TRUE(emulator);
    ASSERT_TRUE(started.ReadLine(10000));

    {
        GameLauncher next(m_env.Manager(), m_env.RecordPath());
        EXPECT_TRUE(next.IsRunning());
        ASSERT_TRUE(release.WriteLine("go"));
        ASSERT_TRUE(next.WaitUntilIdle(10000));
    }
    EXPECT_EQ(ReadFile(folder + "UserKeyBoardCfg/pad.cfg"), "late change\n") << "taken back after it ended";
    EXPECT_FALSE(fs::exists(m_env.RecordPath()));

    // It died while the process it started had not yet become the emulator (nor changed into the
    // emulator's folder): such a process holds the start mark, as this one does, outside the folder.
    ASSERT_TRUE(WriteFile(late, "#!/bin/sh\necho up > '" + started.Path() + "'\nread x < '" + release.Path() +
                                    "'\necho 'later change' > '" + folder + "config/pad.cfg'\n"));
    RunRecordFile record(m_env.RecordPath());
    ASSERT_TRUE(record.Save(RunRecord{"1250002", 2, "/g/contra.nes", true, 0, 0, true, {}}));
    const int mark = ::open(record.StartMarkPath().c_str(), O_RDONLY | O_CREAT, 0600);
    ASSERT_GE(mark, 0);
    platform::ProcessHandle becoming = platform::StartProcess(late, "", m_env.Dir());
    ::close(mark);
    ASSERT_TRUE(becoming);
    ASSERT_TRUE(started.ReadLine(10000));
    {
        GameLauncher next(m_env.Manager(), m_env.RecordPath());
        EXPECT_TRUE(next.IsRunning()) << "the process holding the start mark is waited for";
        ASSERT_TRUE(release.WriteLine("go"));
        ASSERT_TRUE(next.WaitUntilIdle(10000));
    }
    EXPECT_EQ(ReadFile(folder + "UserKeyBoardCfg/pad.cfg"), "later change\n");
    EXPECT_FALSE(fs::exists(record.StartMarkPath())) << "the mark goes with the record";
}

TEST(RunRecordFileTest, RoundTripsOddValuesAndRefusesDamagedFiles)
{
    testsupport::TempDir dir;
    RunRecordFile file(dir.Path() + "run.rec");
    EXPECT_FALSE(file.Load());
    RunRecord record{"1250001",       1,     "/g/two\nlines \\ and=equals", true, 4242,
                     123456789012ull, false, "boot\\with\nbreaks"};
    ASSERT_TRUE(file.Save(record));
    EXPECT_EQ(file.Load(), record);
    EXPECT_FALSE(fs::exists(file.Path() + ".tmp"));

    const std::string whole = ReadFile(file.Path());
    for (size_t cut : {size_t{0}, whole.size() / 2, whole.size() - 2}) {
        ASSERT_TRUE(WriteFile(file.Path(), whole.substr(0, cut)));
        EXPECT_FALSE(file.Load()) << "cut at " << cut;
    }
    ASSERT_TRUE(WriteFile(file.Path(),
                          std::string(whole).replace(whole.find("ControlMethod=1"), 15, "ControlMethod=3")));
    EXPECT_FALSE(file.Load());
    file.Remove();
    EXPECT_FALSE(fs::exists(file.Path()));
    EXPECT_FALSE(RunRecordFile("/nonexistent-folder/x.rec").Save(record));
}

} // namespace
