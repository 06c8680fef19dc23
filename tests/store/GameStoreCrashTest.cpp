#include "store/CppSQLite3DB.h"

#include "tests/store/StoreTestHelpers.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <thread>

namespace {

// A writer process is killed with SIGKILL at a random moment, many times over on the same file.
// After each kill the file must pass SQLite's integrity check and hold every row whose synchronous
// Submit had returned (the writer prints a row only after that).
TEST(GameStoreCrashTest, KilledWriterLosesNoConfirmedRowAndLeavesTheFileSound)
{
    testsupport::TempDir dir;
    const std::string dbPath = dir.Path() + "database/quokka.db";
    // The seed is printed, and QUOKKA_CRASH_SEED replays a run that failed.
    const char* replay = std::getenv("QUOKKA_CRASH_SEED");
    const unsigned seed = replay != nullptr ? static_cast<unsigned>(std::strtoul(replay, nullptr, 10))
                                            : std::random_device{}();
    std::printf("crash test seed %u (QUOKKA_CRASH_SEED=%u replays it)\n", seed, seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::set<std::string> confirmed;
    std::filesystem::create_directories(dir.Path() + "database");
    constexpr int kRounds = 10;

    for (int round = 0; round < kRounds; ++round) {
        std::string prefix = "/r" + std::to_string(round) + "/";
        testsupport::ChildProcess writer({STORE_CRASH_WRITER, dbPath, prefix});
        // Let it confirm a random number of rows, then kill it at a random point of its next write.
        int confirmBeforeKill = std::uniform_int_distribution<int>(0, 12)(random);
        for (int i = 0; i < confirmBeforeKill; ++i) {
            std::optional<std::string> line = writer.ReadLine(10000);
            ASSERT_TRUE(line) << "the writer stopped confirming in round " << round;
            confirmed.insert(*line);
        }
        std::this_thread::sleep_for(
            std::chrono::microseconds(std::uniform_int_distribution<int>(0, 3000)(random)));
        writer.Signal(SIGKILL);
        // Rows it confirmed before dying are still in the pipe.
        while (std::optional<std::string> line = writer.ReadLine(10000))
            confirmed.insert(*line);
        ASSERT_TRUE(writer.Wait(10000)) << "the writer did not end";

        CppSQLite3DB db;
        db.OpenUtf8(dbPath);
        EXPECT_EQ(Rows(db, "PRAGMA integrity_check;"), (std::vector<std::vector<std::string>>{{"ok"}}))
            << "round " << round;
        std::set<std::string> stored;
        // A writer killed while it was still making its tables has confirmed nothing yet.
        if (db.QueryInt("select count(*) from sqlite_master where name = 'LocalGame';") > 0) {
            for (auto& row : Rows(db, "select FilePath from LocalGame;"))
                stored.insert(row[0]);
        }
        for (const std::string& path : confirmed)
            ASSERT_TRUE(stored.count(path)) << path << " was confirmed but is missing after round " << round;
    }
    EXPECT_GT(confirmed.size(), 0u);
}

} // namespace
