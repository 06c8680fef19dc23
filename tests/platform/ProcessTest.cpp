#include "platform/Process.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "tests/support/TempDir.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using platform::Event;
using platform::ProcessHandle;
using platform::SplitCommandLine;
using platform::StartProcess;
using platform::WaitResult;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;
using Strings = std::vector<std::string>;

namespace {

// Sets an environment variable for the test's life and puts the old value back after.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv()
    {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

void WriteScript(const std::string& path, const std::string& body, mode_t mode = 0755)
{
    ASSERT_TRUE(WriteFile(path, "#!/bin/sh\n" + body));
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

Strings Lines(const std::string& text)
{
    Strings lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The state letter of a process in /proc ('Z' for a zombie), or 0 when there is no such process.
char ProcState(pid_t pid)
{
    std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    size_t close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() ? 0 : stat[close + 2];
}

// Waits (bounded) until `done` holds, looking every few milliseconds.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 5000)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

int64_t MsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
        .count();
}

} // namespace

TEST(SplitCommandLineTest, SplitsAsAWindowsProgramDoes)
{
    EXPECT_EQ(SplitCommandLine(""), Strings{});
    EXPECT_EQ(SplitCommandLine(" \t "), Strings{});
    EXPECT_EQ(SplitCommandLine("/q"), Strings{"/q"});
    EXPECT_EQ(SplitCommandLine("  a\tb   c "), (Strings{"a", "b", "c"}));
    EXPECT_EQ(SplitCommandLine("\"C:\\Program Files\\x.exe\" -f"),
              (Strings{"C:\\Program Files\\x.exe", "-f"}));
    EXPECT_EQ(SplitCommandLine("a\"b c\"d"), Strings{"ab cd"}) << "quotes group inside a word";
    EXPECT_EQ(SplitCommandLine("\"\" x"), (Strings{"", "x"})) << "an empty quoted argument stays";
    EXPECT_EQ(SplitCommandLine("\"unclosed arg"), Strings{"unclosed arg"});
    // Backslashes are literal unless they come before a quote.
    EXPECT_EQ(SplitCommandLine("a\\\\b c\\"), (Strings{"a\\\\b", "c\\"}));
    EXPECT_EQ(SplitCommandLine("a\\\"b"), Strings{"a\"b"}) << "odd count: a literal quote";
    EXPECT_EQ(SplitCommandLine("\"a\\\\\" b"), (Strings{"a\\", "b"})) << "even count: the quote closes";
    EXPECT_EQ(SplitCommandLine("a\\\\\\\"b"), Strings{"a\\\"b"});
    EXPECT_EQ(SplitCommandLine("\"a\"\"b\""), Strings{"a\"b"}) << "a doubled quote inside quotes";
    // The runtime installers' switch for their inner msiexec: one argument after /q:a.
    EXPECT_EQ(SplitCommandLine("/q:a /c:\"msiexec /i vcredist.msi /qn /l*v %temp%\\vcredist_x86.log\""),
              (Strings{"/q:a", "/c:msiexec /i vcredist.msi /qn /l*v %temp%\\vcredist_x86.log"}));
    EXPECT_EQ(SplitCommandLine("/s \"/tmp/a b/x.reg\""), (Strings{"/s", "/tmp/a b/x.reg"}));
}

class StartProcessTest : public ::testing::Test {
protected:
    TempDir m_temp;
    ScopedEnv m_dataHome{"XDG_DATA_HOME", m_temp.Path() + "data"};
};

// The child gets its arguments split, runs in the folder asked for, and finds the program folder first
// on PATH and the registry emulation in SystemRoot.
TEST_F(StartProcessTest, ChildGetsArgumentsFolderAndEnvironment)
{
    const std::string out = m_temp.Path() + "out.txt";
    WriteScript(m_temp.Path() + "record.sh", "{ for a in \"$@\"; do echo \"arg:$a\"; done; pwd; "
                                             "echo \"path:${PATH%%:*}\"; echo \"root:$SystemRoot\"; } > " +
                                                 out + "\n");
    std::filesystem::create_directory(m_temp.Path() + "work dir");
    ProcessHandle process =
        StartProcess(m_temp.Path() + "record.sh", "one \"two words\" a\\\"q", m_temp.Path() + "work dir");
    ASSERT_TRUE(process) << std::strerror(errno);
    ASSERT_EQ(process.Wait(10000), WaitResult::Exited);
    EXPECT_EQ(process.ExitCode(), 0);
    Strings lines = Lines(ReadFile(out));
    const std::string programFolder = platform::ProgramFolder();
    EXPECT_EQ(lines, (Strings{"arg:one", "arg:two words", "arg:a\"q", m_temp.Path() + "work dir",
                              "path:" + programFolder.substr(0, programFolder.size() - 1),
                              "root:" + m_temp.Path() + "data/quokka/windows"}));
    EXPECT_TRUE(std::filesystem::is_directory(platform::SystemFolder())) << "installers find system32/";
}

// A script that is not executable still runs when it starts with "#!"; a relative name is looked for
// in the folder given.
TEST_F(StartProcessTest, ScriptsWithoutExecBitAndRelativeNames)
{
    WriteScript(m_temp.Path() + "plain.sh", "echo \"$1\" > \"$2\"\nexit 3\n", 0644);
    ProcessHandle process = StartProcess("plain.sh", "hello " + m_temp.Path() + "plain.out", m_temp.Path());
    ASSERT_TRUE(process) << std::strerror(errno);
    ASSERT_EQ(process.Wait(10000), WaitResult::Exited);
    EXPECT_EQ(process.ExitCode(), 3);
    EXPECT_EQ(ReadFile(m_temp.Path() + "plain.out"), "hello\n");

    errno = 0;
    EXPECT_FALSE(StartProcess(m_temp.Path() + "missing.sh", "", ""));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(StartProcess("no-such-program-anywhere", "", m_temp.Path()));
    ProcessHandle empty;
    EXPECT_EQ(empty.Wait(0), WaitResult::Failed);
    EXPECT_FALSE(empty.ExitCode().has_value());
    EXPECT_FALSE(empty.Terminate());
}

// Folders and documents go to the desktop's opener, with nothing else on its command line.
TEST_F(StartProcessTest, FoldersAndDocumentsGoToTheOpener)
{
    std::filesystem::create_directory(m_temp.Path() + "bin");
    WriteScript(m_temp.Path() + "bin/xdg-open", "echo \"$#:$1\" >> " + m_temp.Path() + "opened.txt\n");
    ScopedEnv path("PATH", m_temp.Path() + "bin:" + std::string(std::getenv("PATH")));
    ASSERT_TRUE(WriteFile(m_temp.Path() + "readme.txt", "text"));

    for (const std::string& target : {m_temp.Path() + "data", m_temp.Path() + "readme.txt"}) {
        std::filesystem::create_directories(m_temp.Path() + "data");
        ProcessHandle process = StartProcess(target, "ignored parameters", "");
        ASSERT_TRUE(process) << target;
        ASSERT_EQ(process.Wait(10000), WaitResult::Exited);
    }
    EXPECT_EQ(Lines(ReadFile(m_temp.Path() + "opened.txt")),
              (Strings{"1:" + m_temp.Path() + "data", "1:" + m_temp.Path() + "readme.txt"}));
}

// Every wait can be ended: by its time-out, by the stop event, or by terminating the process, which
// also ends what the process started in its group.
TEST_F(StartProcessTest, WaitsEndByTimeoutStopOrTerminate)
{
    const std::string childPid = m_temp.Path() + "child.pid";
    WriteScript(m_temp.Path() + "long.sh", "sleep 60 &\necho $! > " + childPid + ".tmp\nmv " + childPid +
                                               ".tmp " + childPid + "\nwait\n");
    ProcessHandle process = StartProcess(m_temp.Path() + "long.sh", "", "");
    ASSERT_TRUE(process);

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(process.Wait(100), WaitResult::TimedOut);
    EXPECT_GE(MsSince(start), 100);
    EXPECT_TRUE(process.IsRunning());
    EXPECT_FALSE(process.ExitCode().has_value());

    Event stop;
    std::thread stopper([&] { stop.Set(); });
    start = std::chrono::steady_clock::now();
    // An endless wait that returns Stopped was ended by the event.
    EXPECT_EQ(process.Wait(Event::kInfinite, &stop), WaitResult::Stopped);
    stopper.join();

    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(childPid); }));
    const pid_t grandchild = std::stoi(ReadFile(childPid));
    EXPECT_TRUE(process.Terminate());
    ASSERT_EQ(process.Wait(5000), WaitResult::Exited);
    EXPECT_EQ(process.ExitCode(), 128 + SIGKILL);
    EXPECT_FALSE(process.Terminate()) << "an ended process cannot be terminated again";
    EXPECT_TRUE(WaitUntil([&] {
        char state = ProcState(grandchild);
        return state == 0 || state == 'Z';
    })) << "the script's own child ends with it";
}

// A handle dropped while its process runs leaves no zombie once the process has ended.
TEST_F(StartProcessTest, DroppedHandleLeavesNoZombie)
{
    pid_t pid = -1;
    {
        ProcessHandle process = StartProcess("/bin/sleep", "60", "");
        ASSERT_TRUE(process);
        pid = process.Pid();
    }
    ASSERT_NE(ProcState(pid), 0);
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    ASSERT_TRUE(WaitUntil([&] { return ProcState(pid) == 'Z'; }));
    ProcessHandle next = StartProcess("/bin/true", "", "");
    ASSERT_TRUE(next);
    EXPECT_EQ(next.Wait(5000), WaitResult::Exited);
    EXPECT_EQ(ProcState(pid), 0) << "the next start reaped the ended child";
}
