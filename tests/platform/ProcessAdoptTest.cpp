#include "platform/Process.h"
#include "tests/support/Fifo.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <unistd.h>

using platform::ProcessHandle;
using platform::ProcessStartTime;
using platform::StartProcess;
using platform::WaitResult;

namespace {

class ProcessAdoptTest : public ::testing::Test {
protected:
    // A script that starts a helper in the background, says both ids on the fifo and then waits.
    std::string FamilyScript()
    {
        const std::string path = m_dir.Path() + "family.sh";
        EXPECT_TRUE(testsupport::WriteFile(
            path, "#!/bin/sh\nsleep 600 >/dev/null 2>&1 </dev/null &\necho \"$$ $!\" > '" + m_said.Path() +
                      "'\nread x < '" + m_go.Path() + "'\n"));
        ::chmod(path.c_str(), 0755);
        return path;
    }

    // The two ids the family script said.
    std::pair<pid_t, pid_t> Ids()
    {
        auto line = m_said.ReadLine(10000);
        EXPECT_TRUE(line.has_value());
        if (!line)
            return {-1, -1};
        size_t space = line->find(' ');
        return {std::stoi(line->substr(0, space)), std::stoi(line->substr(space + 1))};
    }

    testsupport::TempDir m_dir;
    testsupport::Fifo m_said{m_dir.Path() + "said"};
    testsupport::Fifo m_go{m_dir.Path() + "go"};
};

TEST_F(ProcessAdoptTest, TerminateWithACodeEndsTheWholeGroupAndReportsThatCode)
{
    ProcessHandle script = StartProcess(FamilyScript(), "", m_dir.Path());
    ASSERT_TRUE(script);
    auto [shell, helper] = Ids();
    EXPECT_EQ(shell, script.Pid());
    // The helper is no child of ours: it is watched as an adopted process.
    ProcessHandle adoptedHelper = ProcessHandle::Adopt(helper, ProcessStartTime(helper));
    ASSERT_TRUE(adoptedHelper);
    EXPECT_TRUE(adoptedHelper.IsRunning());

    EXPECT_TRUE(script.Terminate(0));
    EXPECT_EQ(script.Wait(10000), WaitResult::Exited);
    EXPECT_EQ(script.ExitCode(), 0) << "the code asked for, not the signal's";
    EXPECT_EQ(adoptedHelper.Wait(10000), WaitResult::Exited) << "the rest of the group ends too";
    EXPECT_EQ(adoptedHelper.ExitCode(), -1) << "an adopted process's status belongs to its parent";
    EXPECT_FALSE(script.Terminate(3)) << "an ended process cannot be terminated again";
    EXPECT_EQ(script.ExitCode(), 0);

    // Without a code the hard stop reports the signal, as before.
    ProcessHandle other = StartProcess(FamilyScript(), "", m_dir.Path());
    ASSERT_TRUE(other);
    Ids();
    EXPECT_TRUE(other.Terminate());
    EXPECT_EQ(other.Wait(10000), WaitResult::Exited);
    EXPECT_EQ(other.ExitCode(), 137);
}

TEST_F(ProcessAdoptTest, AdoptionNeedsTheSameStartTimeAndSeesTheEndWithoutReaping)
{
    ProcessHandle script = StartProcess(FamilyScript(), "", m_dir.Path());
    ASSERT_TRUE(script);
    const pid_t helper = Ids().second;
    ProcessHandle adoptedHelper = ProcessHandle::Adopt(helper, ProcessStartTime(helper));
    const uint64_t started = ProcessStartTime(script.Pid());
    ASSERT_NE(started, 0u);
    EXPECT_FALSE(ProcessHandle::Adopt(script.Pid(), started + 1)) << "another process under a reused id";
    EXPECT_FALSE(ProcessHandle::Adopt(script.Pid(), 0));
    EXPECT_FALSE(ProcessHandle::Adopt(-1, started));

    ProcessHandle adopted = ProcessHandle::Adopt(script.Pid(), started);
    ASSERT_TRUE(adopted);
    EXPECT_EQ(adopted.Pid(), script.Pid());
    EXPECT_EQ(adopted.Wait(20), WaitResult::TimedOut);
    platform::Event stop;
    stop.Set();
    EXPECT_EQ(adopted.Wait(platform::Event::kInfinite, &stop), WaitResult::Stopped);

    ASSERT_TRUE(m_go.WriteLine("go"));
    EXPECT_EQ(adopted.Wait(10000), WaitResult::Exited);
    EXPECT_EQ(adopted.ExitCode(), -1);
    EXPECT_FALSE(adopted.IsRunning());
    // The real parent still gets the status: the adopting handle did not take it.
    EXPECT_EQ(script.Wait(10000), WaitResult::Exited);
    EXPECT_EQ(script.ExitCode(), 0);
    EXPECT_EQ(ProcessStartTime(script.Pid()), 0u) << "a reaped process has no start time";
    EXPECT_NE(ProcessStartTime(::getpid()), 0u);

    // The helper outlived its parent; an adopted process can be ended too.
    ASSERT_TRUE(adoptedHelper);
    EXPECT_TRUE(adoptedHelper.Terminate(0));
    EXPECT_EQ(adoptedHelper.Wait(10000), WaitResult::Exited);
    EXPECT_EQ(adoptedHelper.ExitCode(), 0);
}

} // namespace
