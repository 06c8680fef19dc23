#include "platform/SingleInstance.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <chrono>
#include <gtest/gtest.h>

using testsupport::ChildProcess;

namespace {

// Each test gets its own runtime folder, so the lock and socket never meet a real instance.
class SingleInstanceTest : public ::testing::Test {
protected:
    std::map<std::string, std::string> Env() const { return {{"XDG_RUNTIME_DIR", m_runtime.Path()}}; }
    testsupport::TempDir m_runtime;
};

TEST_F(SingleInstanceTest, SecondStartAsksTheFirstToShowAndExitsZero)
{
    ChildProcess first({SINGLE_INSTANCE_PEER, "serve"}, Env());
    ASSERT_EQ(first.ReadLine(5000), "first");

    ChildProcess second({SINGLE_INSTANCE_PEER, "serve"}, Env());
    EXPECT_EQ(second.ReadLine(10000), "second answered");
    EXPECT_EQ(second.Wait(10000), 0);
    EXPECT_EQ(first.ReadLine(5000), "shown");

    // A third start is answered too: the listener keeps serving.
    ChildProcess third({SINGLE_INSTANCE_PEER, "serve"}, Env());
    EXPECT_EQ(third.ReadLine(10000), "second answered");
    EXPECT_EQ(first.ReadLine(5000), "shown");

    first.CloseInput();
    EXPECT_EQ(first.Wait(5000), 0);
}

TEST_F(SingleInstanceTest, FirstThatNeverAnswersIsGivenUpAfterFiveSeconds)
{
    ChildProcess first({SINGLE_INSTANCE_PEER, "mute"}, Env());
    ASSERT_EQ(first.ReadLine(5000), "first");

    auto start = std::chrono::steady_clock::now();
    ChildProcess second({SINGLE_INSTANCE_PEER, "serve"}, Env());
    EXPECT_EQ(second.ReadLine(15000), "second timeout");
    EXPECT_EQ(second.Wait(5000), 0);
    auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_GE(elapsed.count(), 4900);
}

TEST_F(SingleInstanceTest, LockIsReleasedWhenTheFirstEnds)
{
    {
        ChildProcess first({SINGLE_INSTANCE_PEER, "serve"}, Env());
        ASSERT_EQ(first.ReadLine(5000), "first");
        first.Signal(SIGKILL); // even a crash releases the lock; the stale socket is replaced
        first.Wait(5000);
    }
    ChildProcess next({SINGLE_INSTANCE_PEER, "serve"}, Env());
    EXPECT_EQ(next.ReadLine(5000), "first");
}

// Two copies with runtime folders of their own share the data folder: the second finds its lock
// taken, asks the first through the socket beside it and ends; once the first has ended, the next
// copy takes the data folder.
TEST_F(SingleInstanceTest, ASecondCopyOnTheSameDataFolderShowsTheFirstWhateverItsRuntimeFolder)
{
    testsupport::TempDir data;
    testsupport::TempDir otherRuntime;
    {
        ChildProcess first({SINGLE_INSTANCE_PEER, "serve", data.Path()}, Env());
        ASSERT_EQ(first.ReadLine(30000), "first");

        ChildProcess second({SINGLE_INSTANCE_PEER, "serve", data.Path()},
                            {{"XDG_RUNTIME_DIR", otherRuntime.Path()}});
        EXPECT_EQ(second.ReadLine(30000), "second answered");
        EXPECT_EQ(second.Wait(30000), 0);
        EXPECT_EQ(first.ReadLine(30000), "shown");

        first.CloseInput();
        EXPECT_EQ(first.Wait(30000), 0);
    }
    ChildProcess next({SINGLE_INSTANCE_PEER, "serve", data.Path()},
                      {{"XDG_RUNTIME_DIR", otherRuntime.Path()}});
    EXPECT_EQ(next.ReadLine(30000), "first");
}

} // namespace
