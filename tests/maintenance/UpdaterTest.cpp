// quokka-update, the real program, replacing stand-in programs (shell scripts) in a portable folder
// made in the test: the swap, the confirmation by the new program, the way back when it does not
// come up, and a kill at any moment leaving one whole program.

#include "foundation/IniFile.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <sys/stat.h>

using testsupport::ChildProcess;
using testsupport::ReadFile;
using testsupport::WriteFile;
namespace fs = std::filesystem;

namespace {

// A stand-in program: at start it removes a stale "<exe>.new", writes its name into "ran.txt" beside
// itself and, when `confirms`, removes "<exe>.old" (as the real program does once its window
// exists); then it exits with `exitCode`. `padding` bytes of comment make it as long as a program.
std::string StandIn(const std::string& name, bool confirms, int exitCode, size_t padding = 0)
{
    std::string script = "#!/bin/sh\nrm -f \"$0.new\"\necho " + name + " >> \"$(dirname \"$0\")/ran.txt\"\n";
    if (confirms)
        script += "rm -f \"$0.old\"\n";
    script += "exit " + std::to_string(exitCode) + "\n";
    for (size_t written = 0; written < padding; written += 80)
        script += "# " + std::string(77, 'x') + "\n";
    return script;
}

bool IsExecutable(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && (info.st_mode & 0111) == 0111;
}

class UpdaterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(ProgramDir() + "database");
        fs::create_directories(ProgramDir() + "Emulator/FC");
        fs::create_directories(WorkDir());
        ASSERT_TRUE(WriteFile(ProgramDir() + "quokka.cfg", "[Set]\nRomPath=/games/\nUpdateType=1\n"));
        ASSERT_TRUE(WriteFile(ProgramDir() + "database/quokka.db", "store bytes"));
        ASSERT_TRUE(WriteFile(ProgramDir() + "Emulator/FC/fceux.cfg", "emulator bytes"));
        fs::copy_file(QUOKKA_UPDATE_PATH, WorkDir() + "QuokkaUpdate.exe");
    }

    std::string ProgramDir() const { return m_dir.Path() + "portable folder/"; }
    std::string WorkDir() const { return m_dir.Path() + "work/"; }
    std::string Program() const { return ProgramDir() + "quokka"; }

    void Install(const std::string& oldProgram, const std::string& newProgram, pid_t pid)
    {
        ASSERT_TRUE(WriteFile(Program(), oldProgram));
        fs::permissions(Program(), fs::perms(0755));
        ASSERT_TRUE(WriteFile(WorkDir() + "quokka", newProgram));
        ASSERT_TRUE(IniFile::WriteStrings(WorkDir() + "QuokkaUpdate.ini", "Update",
                                          {{"Program", Program()}, {"Pid", std::to_string(pid)}}));
    }
    // The id of a process that has already ended.
    static pid_t EndedPid()
    {
        ChildProcess done({"/bin/true"});
        const pid_t pid = done.Pid();
        done.Wait(5000);
        return pid;
    }
    std::unique_ptr<ChildProcess> StartUpdater()
    {
        return std::make_unique<ChildProcess>(std::vector<std::string>{WorkDir() + "QuokkaUpdate.exe"},
                                              std::map<std::string, std::string>{}, true);
    }
    void ExpectUserDataUntouched()
    {
        EXPECT_EQ(ReadFile(ProgramDir() + "quokka.cfg"), "[Set]\nRomPath=/games/\nUpdateType=1\n");
        EXPECT_EQ(ReadFile(ProgramDir() + "database/quokka.db"), "store bytes");
        EXPECT_EQ(ReadFile(ProgramDir() + "Emulator/FC/fceux.cfg"), "emulator bytes");
    }
    // The unpacked update (new program, ini, the updater itself) is gone once the swap is settled.
    void ExpectWorkFolderEmpty()
    {
        std::vector<std::string> left;
        for (const auto& entry : fs::directory_iterator(WorkDir()))
            left.push_back(entry.path().filename().string());
        EXPECT_TRUE(left.empty()) << "left in the work folder: " << ::testing::PrintToString(left);
    }
    static std::string Output(ChildProcess& child)
    {
        std::string all;
        while (auto line = child.ReadLine(100))
            all += *line + "\n";
        return all;
    }

    testsupport::TempDir m_dir;
};

TEST_F(UpdaterTest, WaitsForTheProgramThenSwapsAndTheNewOneConfirms)
{
    const std::string oldProgram = StandIn("old", true, 0);
    const std::string newProgram = StandIn("new", true, 0, 200000);
    ChildProcess running({"/bin/sleep", "60"});
    Install(oldProgram, newProgram, running.Pid());

    auto updater = StartUpdater();
    // While the old program runs nothing may change: the updater ends only after it.
    EXPECT_FALSE(updater->Wait(300).has_value()) << Output(*updater);
    EXPECT_EQ(ReadFile(Program()), oldProgram);
    EXPECT_FALSE(fs::exists(Program() + ".new"));

    running.Signal(SIGKILL);
    running.Wait(5000);
    EXPECT_EQ(updater->Wait(20000), 0) << Output(*updater);
    while (updater->ReadLine(10000)) {
    } // the new program, started with the updater's output, has ended
    EXPECT_EQ(ReadFile(Program()), newProgram);
    EXPECT_TRUE(IsExecutable(Program()));
    EXPECT_FALSE(fs::exists(Program() + ".old")) << "the new program confirmed and removed it";
    EXPECT_FALSE(fs::exists(Program() + ".new"));
    EXPECT_EQ(ReadFile(ProgramDir() + "ran.txt"), "new\n");
    ExpectUserDataUntouched();
    ExpectWorkFolderEmpty();
}

TEST_F(UpdaterTest, ANewProgramThatEndsUnconfirmedIsRolledBackAndTheOldOneStarted)
{
    const std::string oldProgram = StandIn("old", true, 0);
    Install(oldProgram, StandIn("broken", false, 1), EndedPid());

    auto updater = StartUpdater();
    EXPECT_EQ(updater->Wait(20000), 1) << Output(*updater);
    EXPECT_EQ(ReadFile(Program()), oldProgram);
    EXPECT_TRUE(IsExecutable(Program()));
    EXPECT_FALSE(fs::exists(Program() + ".old"));
    // The old program was started again once it was back in place; the output the updater handed
    // down ends when that program has ended.
    while (updater->ReadLine(10000)) {
    }
    EXPECT_EQ(ReadFile(ProgramDir() + "ran.txt"), "broken\nold\n");
    ExpectUserDataUntouched();
    ExpectWorkFolderEmpty();
}

TEST_F(UpdaterTest, RefusesWithoutTouchingAnythingWhenTheHandOffIsIncomplete)
{
    const std::string oldProgram = StandIn("old", true, 0);
    Install(oldProgram, StandIn("new", true, 0), EndedPid());
    const std::vector<std::pair<std::string, std::string>> broken[] = {
        {{"Program", ""}, {"Pid", "1"}},
        {{"Program", "quokka"}, {"Pid", "1"}},    // not a full path
        {{"Program", Program()}, {"Pid", "12x"}}, // not a process id
        {{"Program", Program()}, {"Pid", "0"}},
        {{"Program", ProgramDir() + "missing"}, {"Pid", "1"}},
        {{"Program", WorkDir() + "quokka"}, {"Pid", "1"}}, // the new program itself
    };
    for (const auto& entries : broken) {
        ASSERT_TRUE(IniFile::WriteStrings(WorkDir() + "QuokkaUpdate.ini", "Update", entries));
        auto updater = StartUpdater();
        EXPECT_EQ(updater->Wait(10000), 2) << entries[0].second << " / " << entries[1].second;
    }
    fs::remove(WorkDir() + "quokka");
    ASSERT_TRUE(IniFile::WriteStrings(WorkDir() + "QuokkaUpdate.ini", "Update",
                                      {{"Program", Program()}, {"Pid", std::to_string(EndedPid())}}));
    EXPECT_EQ(StartUpdater()->Wait(10000), 2) << "no new program beside the updater";
    EXPECT_EQ(ReadFile(Program()), oldProgram);
    EXPECT_FALSE(fs::exists(ProgramDir() + "ran.txt"));
    EXPECT_FALSE(fs::exists(Program() + ".new"));
    EXPECT_FALSE(fs::exists(Program() + ".old"));
    ExpectUserDataUntouched();
}

TEST_F(UpdaterTest, KilledAtAnyMomentItLeavesOneWholeProgramThatStarts)
{
    const std::string oldProgram = StandIn("old", true, 0, 2000000);
    const std::string newProgram = StandIn("new", true, 0, 2000000);
    unsigned seed = std::random_device{}();
    if (const char* replay = std::getenv("QUOKKA_CRASH_SEED"))
        seed = static_cast<unsigned>(std::strtoul(replay, nullptr, 10));
    std::printf("[ seed     ] QUOKKA_CRASH_SEED=%u\n", seed);
    std::mt19937 random(seed);
    int endedNew = 0;
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        fs::remove(Program() + ".new");
        fs::remove(Program() + ".old");
        fs::remove(ProgramDir() + "ran.txt");
        Install(oldProgram, newProgram, EndedPid());
        if (!fs::exists(WorkDir() + "QuokkaUpdate.exe")) // a settled round removed it
            fs::copy_file(QUOKKA_UPDATE_PATH, WorkDir() + "QuokkaUpdate.exe");
        auto updater = StartUpdater();
        // The kill lands anywhere from before the copy to after the confirmation.
        const int moment = static_cast<int>(random() % 40);
        if (moment > 0)
            updater->Wait(moment);
        updater->Signal(SIGKILL);
        updater->Wait(5000);
        while (updater->ReadLine(10000)) {
        } // a program the updater had started has ended too

        const std::string now = ReadFile(Program());
        ASSERT_TRUE(now == oldProgram || now == newProgram) << "a program of " << now.size() << " bytes";
        ASSERT_TRUE(IsExecutable(Program()));
        // The program there starts (and tidies what the updater left).
        fs::remove(ProgramDir() + "ran.txt");
        ChildProcess start({Program()});
        EXPECT_EQ(start.Wait(10000), 0);
        EXPECT_EQ(ReadFile(ProgramDir() + "ran.txt"), now == oldProgram ? "old\n" : "new\n");
        EXPECT_FALSE(fs::exists(Program() + ".new"));
        ExpectUserDataUntouched();
        endedNew += now == newProgram;
    }
    std::printf("[ figures  ] %d of 20 kills left the new program, the others the old one\n", endedNew);
}

} // namespace
