#include "store/LocalLibrary.h"

#include "foundation/AppMessages.h"
#include "store/GameStore.h"
#include "tests/store/StoreTestHelpers.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/TempDir.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <vector>

namespace {

platform::HWND Window(uintptr_t n)
{
    return reinterpret_cast<platform::HWND>(n);
}

GameinfoRecord Game(const std::string& id, const std::string& emulatorId, const std::string& categoryId)
{
    GameinfoRecord record = SampleGameinfo(id);
    record.EmulatorId = emulatorId;
    record.CategoryId = categoryId;
    return record;
}

LocalGameRecord Local(const std::string& path, const std::string& emulatorId)
{
    LocalGameRecord record = SampleLocalGame(path);
    record.EmulatorId = emulatorId;
    return record;
}

// Takes `count` messages and returns them; fails the test when fewer arrive.
std::vector<testsupport::MessageRecorder::Message> Take(testsupport::MessageRecorder& recorder, size_t count)
{
    std::vector<testsupport::MessageRecorder::Message> messages;
    while (messages.size() < count) {
        auto message = recorder.Next();
        if (!message) {
            ADD_FAILURE() << "only " << messages.size() << " of " << count << " messages arrived";
            break;
        }
        messages.push_back(*message);
    }
    return messages;
}

TEST(LocalLibraryTest, ReadsBothTablesFromTheStoreAndChangesOnlyItsMaps)
{
    testsupport::TempDir dir;
    const std::string dbPath = dir.Path() + "database/quokka.db";
    {
        CGameStore store(dbPath);
        GameinfoRecord a = SampleGameinfo("200", "Second");
        GameinfoRecord b = SampleGameinfo("100", "First");
        LocalGameRecord l = SampleLocalGame("/roms/LocalGame/GBA/x.gba", "X");
        ASSERT_TRUE(store.Submit(kStoreAddGameinfo, &a, false, false));
        ASSERT_TRUE(store.Submit(kStoreAddGameinfo, &b, false, false));
        ASSERT_TRUE(store.Submit(kStoreAddLocalGame, &l, false, false));
    }

    CGameStore store(dbPath);
    CLocalLibrary library(store);
    ASSERT_EQ(library.GameCount(), 2u);
    ASSERT_EQ(library.LocalGameCount(), 1u);
    EXPECT_EQ(library.FindGame("100"), SampleGameinfo("100", "First"));
    EXPECT_EQ(library.FindLocalGame("/roms/LocalGame/GBA/x.gba"),
              SampleLocalGame("/roms/LocalGame/GBA/x.gba", "X"));
    EXPECT_FALSE(library.FindGame("300"));
    EXPECT_FALSE(library.FindLocalGame("/elsewhere"));

    // A key that is present is never replaced.
    EXPECT_FALSE(library.AddGame(SampleGameinfo("100", "Other")));
    EXPECT_EQ(library.FindGame("100")->GameName, "First");
    EXPECT_FALSE(library.AddLocalGame(SampleLocalGame("/roms/LocalGame/GBA/x.gba", "Other")));
    EXPECT_TRUE(library.AddLocalGame(SampleLocalGame("/roms/LocalGame/GBA/y.gba", "Y")));

    EXPECT_TRUE(library.RenameLocalGame("/roms/LocalGame/GBA/x.gba", "Renamed"));
    EXPECT_FALSE(library.RenameLocalGame("/roms/none.gba", "Renamed"));
    EXPECT_EQ(library.FindLocalGame("/roms/LocalGame/GBA/x.gba")->GameName, "Renamed");

    EXPECT_TRUE(library.RemoveGame("200"));
    EXPECT_FALSE(library.RemoveGame("200"));
    EXPECT_TRUE(library.RemoveLocalGame("/roms/LocalGame/GBA/y.gba"));
    EXPECT_FALSE(library.RemoveLocalGame("/roms/LocalGame/GBA/y.gba"));

    // The file is the store's business: a second set made now reads what the table holds.
    CLocalLibrary again(store);
    EXPECT_EQ(again.GameCount(), 2u);
    EXPECT_EQ(again.FindLocalGame("/roms/LocalGame/GBA/x.gba")->GameName, "X");
}

TEST(LocalLibraryTest, DownloadedFillerPostsCopiesInIdOrderThroughBothFilters)
{
    CLocalLibrary library;
    library.AddGame(Game("3", "120", "5"));
    library.AddGame(Game("1", "120", "12")); // category 12 is not category 5 (nor is its prefix 1)
    library.AddGame(Game("2", "121", "5"));
    library.AddGame(Game("4", "abc", "5")); // reads as no emulator at all
    library.AddGame(Game("10", "120", "5"));
    testsupport::MessageRecorder recorder;

    library.StartDownloadedFiller(Window(7), 0, 0);
    std::vector<std::string> ids;
    for (auto& message : Take(recorder, 5)) {
        EXPECT_EQ(message.hwnd, Window(7));
        EXPECT_EQ(message.message, WM_GAME_INSTALLED);
        EXPECT_EQ(message.message, 1134u);
        EXPECT_EQ(message.wParam, 0u);
        ids.push_back(message.Payload<GameinfoRecord>()->GameId);
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"1", "10", "2", "3", "4"}));

    library.StartDownloadedFiller(Window(7), 0, 5);
    ids.clear();
    for (auto& message : Take(recorder, 4))
        ids.push_back(message.Payload<GameinfoRecord>()->GameId);
    EXPECT_EQ(ids, (std::vector<std::string>{"10", "2", "3", "4"}));

    library.StartDownloadedFiller(Window(7), 120, 5);
    ids.clear();
    auto messages = Take(recorder, 2);
    for (auto& message : messages)
        ids.push_back(message.Payload<GameinfoRecord>()->GameId);
    EXPECT_EQ(ids, (std::vector<std::string>{"10", "3"}));
    library.StopDownloadedFiller();
    EXPECT_EQ(recorder.Pending(), 0u);

    // The message owns a copy: the set may drop the record while the message waits.
    ASSERT_TRUE(library.RemoveGame("10"));
    EXPECT_EQ(*messages[0].Payload<GameinfoRecord>(), Game("10", "120", "5"));

    // The window's handlers judge stale records by the filters last given.
    EXPECT_TRUE(library.MatchesDownloadedFilter(Game("9", "120", "5")));
    EXPECT_FALSE(library.MatchesDownloadedFilter(Game("9", "120", "12")));
    EXPECT_FALSE(library.MatchesDownloadedFilter(Game("9", "121", "5")));
    EXPECT_FALSE(library.MatchesDownloadedFilter(Game("9", "", "5")));
}

TEST(LocalLibraryTest, LocalFillerPostsCopiesInPathOrderThroughItsFilter)
{
    CLocalLibrary library;
    library.AddLocalGame(Local("/r/FC/b.nes", "122"));
    library.AddLocalGame(Local("/r/FC/a.nes", "122"));
    library.AddLocalGame(Local("/r/GBA/c.gba", "120"));
    library.AddLocalGame(Local("/r/x/odd.bin", "FC"));
    testsupport::MessageRecorder recorder;

    library.StartLocalFiller(Window(3), 122);
    std::vector<std::string> paths;
    for (auto& message : Take(recorder, 2)) {
        EXPECT_EQ(message.message, WM_LOCAL_GAME_ADDED);
        EXPECT_EQ(message.message, 1141u);
        EXPECT_EQ(message.hwnd, Window(3));
        paths.push_back(message.Payload<LocalGameRecord>()->FilePath);
    }
    EXPECT_EQ(paths, (std::vector<std::string>{"/r/FC/a.nes", "/r/FC/b.nes"}));
    library.StopLocalFiller();
    EXPECT_EQ(recorder.Pending(), 0u);
    EXPECT_TRUE(library.MatchesLocalFilter(Local("/r/FC/z.nes", "122")));
    EXPECT_FALSE(library.MatchesLocalFilter(Local("/r/GBA/z.gba", "120")));
    EXPECT_FALSE(library.MatchesLocalFilter(Local("/r/x/z", "FC")));

    library.StartLocalFiller(Window(3), 0);
    EXPECT_EQ(Take(recorder, 4).size(), 4u);
    library.StopLocalFiller();
    EXPECT_TRUE(library.MatchesLocalFilter(Local("/r/x/z", "FC")));
}

// A poster that keeps the window of every message, for order checks over many messages.
class WindowLog {
public:
    WindowLog()
    {
        platform::SetMessagePoster([this](platform::HWND hwnd, platform::UINT, platform::WPARAM,
                                          platform::LPARAM, std::function<void()> freePayload) {
            if (freePayload)
                freePayload();
            {
                std::lock_guard lock(m_mutex);
                m_windows.push_back(hwnd);
            }
            m_cv.notify_all();
            return true;
        });
    }
    ~WindowLog() { platform::SetMessagePoster({}); }

    std::vector<platform::HWND> Windows()
    {
        std::lock_guard lock(m_mutex);
        return m_windows;
    }

    size_t Count(platform::HWND hwnd)
    {
        std::lock_guard lock(m_mutex);
        return std::count(m_windows.begin(), m_windows.end(), hwnd);
    }

    // Waits until `hwnd` has received `count` messages; false after 10 s.
    bool WaitFor(platform::HWND hwnd, size_t count)
    {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::seconds(10), [&] {
            return static_cast<size_t>(std::count(m_windows.begin(), m_windows.end(), hwnd)) >= count;
        });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<platform::HWND> m_windows;
};

TEST(LocalLibraryTest, RestartAndStopEndTheOldFillerBeforeReturning)
{
    WindowLog log; // made first, so it goes after the library has joined its fillers
    CLocalLibrary library;
    for (int i = 0; i < 20000; ++i)
        library.AddLocalGame(Local("/r/FC/" + std::to_string(100000 + i) + ".nes", "122"));

    library.StartLocalFiller(Window(1), 0);
    ASSERT_TRUE(log.WaitFor(Window(1), 1));
    library.StartLocalFiller(Window(2), 0);
    const size_t oldCount = log.Count(Window(1));
    ASSERT_TRUE(log.WaitFor(Window(2), 20000));
    // Every message of the old filler came before the first of the new one, and none came after.
    auto windows = log.Windows();
    EXPECT_TRUE(std::is_partitioned(windows.begin(), windows.end(), [](auto h) { return h == Window(1); }));
    EXPECT_EQ(log.Count(Window(1)), oldCount);
    EXPECT_EQ(log.Count(Window(2)), 20000u);

    library.StartDownloadedFiller(Window(3), 0, 0); // an empty map: ends at once
    library.StartLocalFiller(Window(4), 0);
    ASSERT_TRUE(log.WaitFor(Window(4), 1));
    library.StopLocalFiller();
    const size_t stopped = log.Count(Window(4));
    EXPECT_FALSE(library.LocalFillerRunning());
    // A filler of the other view runs to its end; the stopped one posted nothing more meanwhile.
    for (int i = 0; i < 50; ++i)
        library.AddGame(Game(std::to_string(i), "120", "1"));
    library.StartDownloadedFiller(Window(5), 0, 0);
    ASSERT_TRUE(log.WaitFor(Window(5), 50));
    EXPECT_EQ(log.Count(Window(4)), stopped);
    EXPECT_LT(stopped, 20000u);
}

TEST(LocalLibraryTest, ManyRestartsWhileRecordsComeAndGoLeaveOneCompleteWalk)
{
    WindowLog log; // made first, so it goes after the library has joined its fillers
    CLocalLibrary library;
    for (int i = 0; i < 500; ++i)
        library.AddLocalGame(Local("/r/GBA/" + std::to_string(1000 + i) + ".gba", "120"));

    std::atomic<bool> done{false};
    std::thread churn([&] {
        for (int i = 0; !done.load(); i = (i + 1) % 1000) {
            const std::string path = "/r/FC/" + std::to_string(i) + ".nes";
            if (!library.AddLocalGame(Local(path, "122")))
                library.RemoveLocalGame(path);
        }
    });
    std::vector<std::thread> restarters;
    for (int t = 0; t < 2; ++t)
        restarters.emplace_back([&, t] {
            for (int i = 0; i < 100; ++i)
                library.StartLocalFiller(Window(100 + t), i % 2 == 0 ? 120 : 0);
        });
    for (auto& thread : restarters)
        thread.join();
    done.store(true);
    churn.join();

    // The churn is over: one more start walks every record matching its filter exactly once.
    library.StartLocalFiller(Window(9), 120);
    ASSERT_TRUE(log.WaitFor(Window(9), 500));
    library.StopLocalFiller();
    EXPECT_EQ(log.Count(Window(9)), 500u);
    EXPECT_FALSE(library.LocalFillerRunning());
}

} // namespace
