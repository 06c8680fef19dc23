#include "platform/Event.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using platform::Event;

TEST(EventTest, ManualResetStaysSignalledUntilReset)
{
    Event event(Event::Mode::ManualReset);
    EXPECT_FALSE(event.Wait(0));
    event.Set();
    EXPECT_TRUE(event.Wait(0));
    EXPECT_TRUE(event.Wait(0));
    event.Reset();
    EXPECT_FALSE(event.Wait(10));
}

TEST(EventTest, AutoResetReleasesOneWaiterPerSet)
{
    Event event(Event::Mode::AutoReset);
    Event released(Event::Mode::AutoReset);
    std::atomic<int> count{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.emplace_back([&] {
            if (event.Wait(Event::kInfinite)) {
                ++count;
                released.Set();
            }
        });
    for (int i = 1; i <= 3; ++i) {
        event.Set();
        ASSERT_TRUE(released.Wait(5000));
        EXPECT_EQ(count, i) << "one Set releases exactly one waiter";
        EXPECT_FALSE(event.IsSet()) << "the released waiter clears the event";
    }
    for (auto& t : waiters)
        t.join();
}

TEST(EventTest, WaitWakesWhenAnotherThreadSets)
{
    Event event;
    std::thread setter([&] { event.Set(); });
    EXPECT_TRUE(event.Wait(5000));
    setter.join();
}

TEST(EventTest, InitiallySetAutoResetEventClearsOnFirstWait)
{
    Event event(Event::Mode::AutoReset, true);
    EXPECT_TRUE(event.Wait(0));
    EXPECT_FALSE(event.Wait(0));
}
