// The self-update end to end with real builds: quokka 0.0.14 in a portable folder, the stand-in
// server serving the demo's update package of quokka-next (0.0.15) and the real quokka-update, the
// question answered "yes" through QUOKKA_TEST_UPDATE_ANSWER. The old program hands off and ends,
// the updater swaps the program and starts it; a new program that fails at start is rolled back.
#include "demo/DemoUpdate.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <poll.h>
#include <random>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace fs = std::filesystem;
using testsupport::ChildProcess;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

constexpr char kStartTrace[] = "start-up: Quokka ";

// Ends a process that is no child of the test (the updater started it) and waits for its end.
bool TerminateAndWait(pid_t pid, int timeoutMs)
{
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0)
        return errno == ESRCH;
    ::kill(pid, SIGTERM);
    pollfd ended{pidfd, POLLIN, 0};
    const bool done = ::poll(&ended, 1, timeoutMs) > 0;
    if (!done)
        ::kill(pid, SIGKILL);
    ::close(pidfd);
    return done;
}

class UpdateSwapTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(Portable());
        fs::create_directories(Data());
        fs::create_directories(m_temp.Path() + "run");
        fs::permissions(m_temp.Path() + "run", fs::perms::owner_all);
        fs::copy_file(QUOKKA_EXECUTABLE, Program());
        fs::copy_file(QUOKKA_REGEDIT_EXECUTABLE, Portable() + "quokka-regedit");
        fs::create_directories(m_temp.Path() + "games");
        m_config = "[Set]\nRomPath=" + m_temp.Path() + "games/\nUpdateType=1\nIsTray=0\n";
        ASSERT_TRUE(WriteFile(Portable() + "quokka.cfg", m_config));

        m_server = std::make_unique<ChildProcess>(
            std::vector<std::string>{QUOKKA_SERVER_EXECUTABLE, "--port", "0", "--data", Data(), "--log",
                                     m_temp.Path() + "requests.log", "--write-servers-cfg",
                                     Portable() + "servers.cfg"},
            std::map<std::string, std::string>{}, true);
        const std::string first = m_server->ReadLine(20000).value_or("");
        ASSERT_NE(first.find("listening on 127.0.0.1:"), std::string::npos) << first;
    }
    void TearDown() override
    {
        for (pid_t pid : m_started)
            TerminateAndWait(pid, 15000);
        if (m_server) {
            m_server->Signal(SIGTERM);
            m_server->Wait(15000);
        }
    }

    std::string Portable() const { return m_temp.Path() + "portable/"; }
    std::string Program() const { return Portable() + "quokka"; }
    std::string Data() const { return m_temp.Path() + "data/"; }

    void ServeVersion(const std::string& version)
    {
        ASSERT_TRUE(WriteFile(Data() + "update/index.json", "{\"version\":\"" + version + "\"}"));
    }

    std::unique_ptr<ChildProcess> StartQuokka()
    {
        return std::make_unique<ChildProcess>(
            std::vector<std::string>{Program()},
            std::map<std::string, std::string>{{"TMPDIR", m_temp.Path()},
                                               {"XDG_RUNTIME_DIR", m_temp.Path() + "run"},
                                               {"XDG_DATA_HOME", m_temp.Path() + "xdg"},
                                               {"QUOKKA_TRACE", "1"},
                                               {"QT_QPA_PLATFORM", "offscreen"},
                                               {"QUOKKA_TEST_UPDATE_ANSWER", "yes"},
                                               {"LSAN_OPTIONS", "suppressions=" QUOKKA_LSAN_SUPPRESSIONS}},
            true);
    }

    // Reads lines until a program announces `version` at start; its pid (0 when none came). Every
    // line read is kept in m_output.
    pid_t WaitForStart(ChildProcess& output, const std::string& version)
    {
        const std::string wanted = kStartTrace + version + " (pid ";
        while (auto line = output.ReadLine(60000)) {
            m_output += *line + "\n";
            const size_t at = line->find(wanted);
            if (at != std::string::npos) {
                const pid_t pid = std::atoi(line->c_str() + at + wanted.size());
                m_started.push_back(pid);
                return pid;
            }
        }
        return 0;
    }
    bool WaitForLine(ChildProcess& output, const std::string& text)
    {
        while (auto line = output.ReadLine(60000)) {
            m_output += *line + "\n";
            if (line->find(text) != std::string::npos)
                return true;
        }
        return false;
    }

    testsupport::TempDir m_temp;
    std::unique_ptr<ChildProcess> m_server;
    std::string m_config;
    std::string m_output;
    std::vector<pid_t> m_started;
};

TEST_F(UpdateSwapTest, TheOldProgramHandsOffAndTheNewBuildRunsInItsPlace)
{
    WriteDemoUpdate(Data(), DemoUpdatePackage{QUOKKA_NEXT_EXECUTABLE, QUOKKA_UPDATE_EXECUTABLE, "0.0.15"});
    auto quokka = StartQuokka();
    ASSERT_NE(WaitForStart(*quokka, "0.0.14"), 0) << m_output;
    EXPECT_EQ(quokka->Wait(60000), 0) << "the old program ends normally after the hand-off:\n" << m_output;
    struct stat store;
    const bool hadStore = ::stat((Portable() + "database/quokka.db").c_str(), &store) == 0;

    // Its output went on to the updater and to the program the updater started.
    const pid_t next = WaitForStart(*quokka, "0.0.15");
    ASSERT_NE(next, 0) << m_output;
    // The new program's trace and the updater's word race each other on the shared output.
    bool removed = false;
    bool confirmed = false;
    while (!(removed && confirmed)) {
        auto line = quokka->ReadLine(60000);
        if (!line)
            break;
        m_output += *line + "\n";
        removed = removed || line->find("removed the program kept by the last update") != std::string::npos;
        confirmed = confirmed || line->find("started and confirmed") != std::string::npos;
    }
    ASSERT_TRUE(removed && confirmed) << m_output;

    EXPECT_EQ(ReadFile(Program()), ReadFile(QUOKKA_NEXT_EXECUTABLE))
        << "quokka is quokka-next, byte for byte";
    EXPECT_FALSE(fs::exists(Program() + ".old"));
    EXPECT_FALSE(fs::exists(Program() + ".new"));
    EXPECT_EQ(ReadFile(Portable() + "quokka.cfg"), m_config);
    if (hadStore) {
        struct stat after;
        ASSERT_EQ(::stat((Portable() + "database/quokka.db").c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, store.st_ino) << "the database is the same file";
    }
    EXPECT_TRUE(TerminateAndWait(next, 20000));
    // The output ends once the updater has ended too: what it unpacked is gone by then.
    while (auto line = quokka->ReadLine(60000))
        m_output += *line + "\n";
    for (const char* name : {"quokka", "QuokkaUpdate.exe", "QuokkaUpdate.ini", "QuokkaUpdate.zip"})
        EXPECT_FALSE(fs::exists(m_temp.Path() + "QuokkaAppStore/" + name)) << name << " left behind";
}

TEST_F(UpdateSwapTest, ANewProgramThatFailsAtStartIsRolledBackAndTheOldOneRunsAgain)
{
    const std::string broken = m_temp.Path() + "broken";
    ASSERT_TRUE(WriteFile(broken, "#!/bin/sh\nexit 1\n"));
    WriteDemoUpdate(Data(), DemoUpdatePackage{broken, QUOKKA_UPDATE_EXECUTABLE, "0.0.15"});
    const std::string original = ReadFile(Program());

    auto quokka = StartQuokka();
    ASSERT_NE(WaitForStart(*quokka, "0.0.14"), 0) << m_output;
    EXPECT_EQ(quokka->Wait(60000), 0) << m_output;
    // The program started again is the old one: it must not be offered the same update again.
    ServeVersion("0.0.14");

    ASSERT_TRUE(WaitForLine(*quokka, "the old one is back")) << m_output;
    const pid_t again = WaitForStart(*quokka, "0.0.14");
    ASSERT_NE(again, 0) << m_output;
    EXPECT_EQ(::kill(again, 0), 0) << "the old program runs again";
    EXPECT_EQ(ReadFile(Program()), original);
    EXPECT_FALSE(fs::exists(Program() + ".new"));
    EXPECT_EQ(ReadFile(Portable() + "quokka.cfg"), m_config);
    EXPECT_TRUE(TerminateAndWait(again, 20000));
}

TEST_F(UpdateSwapTest, KilledAtAnyMomentTheUpdaterLeavesOneWholeBuildThatStarts)
{
    const std::string work = m_temp.Path() + "work/";
    fs::create_directories(work);
    const std::string oldBuild = ReadFile(QUOKKA_EXECUTABLE);
    const std::string newBuild = ReadFile(QUOKKA_NEXT_EXECUTABLE);
    const std::map<std::string, std::string> env = {
        {"TMPDIR", m_temp.Path()},
        {"XDG_RUNTIME_DIR", m_temp.Path() + "run"},
        {"XDG_DATA_HOME", m_temp.Path() + "xdg"},
        {"QUOKKA_TRACE", "1"},
        {"QT_QPA_PLATFORM", "offscreen"},
        {"LSAN_OPTIONS", "suppressions=" QUOKKA_LSAN_SUPPRESSIONS}};
    ChildProcess ended({"/bin/true"});
    const pid_t endedPid = ended.Pid();
    ended.Wait(5000);

    // One round: the old build in place, the updater started and killed after `killMs` (never,
    // when negative). Ends every program the updater started and reads its output to the end.
    auto round = [&](int killMs) {
        fs::remove(Program() + ".new");
        fs::remove(Program() + ".old");
        fs::remove(Program());
        fs::copy_file(QUOKKA_EXECUTABLE, Program());
        // A settled update takes its unpacked files away with it.
        if (!fs::exists(work + "quokka"))
            fs::copy_file(QUOKKA_NEXT_EXECUTABLE, work + "quokka");
        if (!fs::exists(work + "QuokkaUpdate.exe"))
            fs::copy_file(QUOKKA_UPDATE_EXECUTABLE, work + "QuokkaUpdate.exe");
        ASSERT_TRUE(WriteFile(work + "QuokkaUpdate.ini",
                              "[Update]\nProgram=" + Program() + "\nPid=" + std::to_string(endedPid) + "\n"));
        ChildProcess updater({work + "QuokkaUpdate.exe"}, env, true);
        if (killMs >= 0) {
            if (killMs > 0)
                updater.Wait(killMs);
            updater.Signal(SIGKILL);
        }
        updater.Wait(60000);
        // The output ends when every program the updater started has ended; each is ended once
        // it has announced itself.
        const std::string announced = std::string(kStartTrace) + "0.0.15 (pid ";
        while (auto line = updater.ReadLine(60000)) {
            const size_t at = line->find(announced);
            if (at != std::string::npos) {
                EXPECT_TRUE(TerminateAndWait(std::atoi(line->c_str() + at + announced.size()), 20000));
            }
        }
    };

    const auto started = std::chrono::steady_clock::now();
    round(-1);
    const int wholeRunMs = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started)
            .count());
    ASSERT_EQ(ReadFile(Program()), newBuild) << "an updater left alone installs the new build";
    EXPECT_TRUE(fs::is_empty(work)) << "the unpacked update stays in the work folder";

    unsigned seed = std::random_device{}();
    if (const char* replay = std::getenv("QUOKKA_CRASH_SEED"))
        seed = static_cast<unsigned>(std::strtoul(replay, nullptr, 10));
    std::printf("[ seed     ] QUOKKA_CRASH_SEED=%u\n", seed);
    std::mt19937 random(seed);
    int leftNew = 0;
    for (int i = 0; i < 20; ++i) {
        SCOPED_TRACE("kill " + std::to_string(i));
        // Most moments fall early, where the updater copies, links and renames; the rest while it
        // waits for the new program.
        const double u = std::uniform_real_distribution<double>(0.0, 1.0)(random);
        round(static_cast<int>(wholeRunMs * u * u * u));
        const std::string now = ReadFile(Program());
        ASSERT_TRUE(now == oldBuild || now == newBuild) << "a program of " << now.size() << " bytes";
        struct stat info;
        ASSERT_EQ(::stat(Program().c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0111, 0111u);
        leftNew += now == newBuild;
    }
    std::printf("[ figures  ] whole update %d ms; %d of 20 kills left the new build\n", wholeRunMs, leftNew);

    // What stands there starts (and tidies what the last kill left).
    auto quokka = StartQuokka();
    const std::string version = ReadFile(Program()) == newBuild ? "0.0.15" : "0.0.14";
    const pid_t pid = WaitForStart(*quokka, version);
    ASSERT_NE(pid, 0) << m_output;
    ASSERT_TRUE(WaitForLine(*quokka, "main window created")) << m_output;
    EXPECT_FALSE(fs::exists(Program() + ".new"));
    EXPECT_FALSE(fs::exists(Program() + ".old"));
    EXPECT_EQ(ReadFile(Portable() + "quokka.cfg"), m_config);
}

} // namespace
