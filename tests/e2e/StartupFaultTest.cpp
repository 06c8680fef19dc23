// Start-up against a damaged or unwritable database and a second copy of the program: the real
// program in a temporary portable folder, its message boxes answered and traced
// (QUOKKA_TEST_BOX_ANSWER).
#include "tests/e2e/EndToEnd.h"

#include "tests/support/FirstRunLibraryFolder.h"

#include <csignal>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using testsupport::ChildProcess;

namespace {

constexpr char kWindowLine[] = "start-up: main window created";

class StartupFaultTest : public e2e::EndToEndTest {
protected:
    std::map<std::string, std::string> AnsweredEnv(const std::map<std::string, std::string>& extra = {}) const
    {
        std::map<std::string, std::string> env = Env(extra);
        env["QUOKKA_TEST_BOX_ANSWER"] = "1";
        return env;
    }
};

TEST_F(StartupFaultTest, ADamagedDatabaseIsMovedAsideSaidAndTheProgramStartsWithAnEmptyOne)
{
    fs::create_directories(fs::path(StorePath()).parent_path());
    const std::string garbage(8192, '\x66');
    std::ofstream(StorePath(), std::ios::binary) << garbage;

    ChildProcess quokka(Command(), AnsweredEnv(), true);
    const std::string box = WaitForLine(quokka, "message box: ", "游戏库数据已损坏");
    ASSERT_FALSE(box.empty()) << "no box about the database";
    ASSERT_FALSE(WaitForLine(quokka, kWindowLine).empty()) << "the program did not start";
    EndRunning(quokka);

    std::vector<std::string> aside;
    for (const auto& entry : fs::directory_iterator(fs::path(StorePath()).parent_path()))
        if (entry.path().filename().string().rfind("quokka.db.broken-", 0) == 0)
            aside.push_back(entry.path().string());
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_NE(box.find(fs::path(aside[0]).filename().string()), std::string::npos) << box;
    EXPECT_EQ(fs::file_size(aside[0]), garbage.size());
    ExpectStoreIntact();
}

TEST_F(StartupFaultTest, AProgramFolderThatCannotHoldTheDatabaseIsSaidAndTheRunEndsWithOne)
{
    std::ofstream(m_program.Path() + "database") << "a file where the database folder belongs";

    ChildProcess quokka(Command(), AnsweredEnv(), true);
    e2e::RunEnd end = WaitForEnd(quokka, 30000);
    EXPECT_EQ(end.exitCode, std::optional<int>(1)) << end.Joined();
    EXPECT_TRUE(end.Printed("程序文件夹无法写入")) << end.Joined();
    EXPECT_FALSE(end.Printed(kWindowLine)) << end.Joined();
    ExpectNoSanitizerReport(end);
}

// A copy started with a runtime folder of its own (no XDG_RUNTIME_DIR, another session) on the same
// program folder finds the first through the folder and ends; only one runs on the data.
TEST_F(StartupFaultTest, ASecondCopyOnTheSameProgramFolderShowsTheFirstWhateverItsRuntimeFolder)
{
    ChildProcess first(Command(), AnsweredEnv(), true);
    ASSERT_FALSE(WaitForLine(first, kWindowLine).empty());

    const std::string otherRuntime = m_temp.Path() + "run2";
    fs::create_directories(otherRuntime);
    fs::permissions(otherRuntime, fs::perms::owner_all);
    ChildProcess second(Command(), AnsweredEnv({{"XDG_RUNTIME_DIR", otherRuntime}}), true);
    e2e::RunEnd secondEnd = WaitForEnd(second, 30000);
    EXPECT_EQ(secondEnd.exitCode, std::optional<int>(0)) << secondEnd.Joined();
    EXPECT_TRUE(
        secondEnd.Printed("another instance runs on this program folder; asked it to show its window"))
        << secondEnd.Joined();
    EXPECT_FALSE(secondEnd.Printed("start-up: Quokka")) << secondEnd.Joined();
    EXPECT_FALSE(WaitForLine(first, "show requested by a second start").empty());

    EndRunning(first);
    ExpectStoreIntact();
}

// The first run's settings window waits before the main window is up; a second start meanwhile is
// answered at once instead of giving up.
TEST_F(StartupFaultTest, ASecondStartDuringTheFirstRunSettingsIsAnswered)
{
    testsupport::FirstRunLibraryFolder library;
    std::ofstream(m_program.Path() + "quokka.cfg", std::ios::trunc) << "[Set]\nIsTray=0\n";

    ChildProcess first(Command(), Env(), true);
    ASSERT_FALSE(WaitForLine(first, "start-up: no library folder").empty());

    ChildProcess second(Command(), Env(), true);
    e2e::RunEnd secondEnd = WaitForEnd(second, 30000);
    EXPECT_EQ(secondEnd.exitCode, std::optional<int>(0)) << secondEnd.Joined();
    EXPECT_TRUE(secondEnd.Printed("another instance runs; asked it to show its window"))
        << secondEnd.Joined();
    EXPECT_FALSE(WaitForLine(first, "show requested by a second start").empty());

    EndRunning(first);
}

} // namespace
