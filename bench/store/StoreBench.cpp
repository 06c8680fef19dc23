// Speed of the game store beside the sqlite3 command, in one run:
// - 10000 LocalGame rows submitted asynchronously between a begin and a commit request, against the
//   sqlite3 command inserting the same rows in one transaction (process start included); the goal
//   is at least half of the command's speed;
// - the round-trip latency of one synchronous request (a request that does nothing, and an insert
//   of one row in its own transaction), median and 99th percentile.
//
// Usage: store_bench [path of the sqlite3 command]
#include "store/CppSQLite3DB.h"
#include "store/GameStore.h"
#include "store/StoreTables.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRows = 10000;
constexpr int kRounds = 3;

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

LocalGameRecord Row(int i)
{
    char number[16];
    std::snprintf(number, sizeof number, "%05d", i);
    return {std::string("游戏 ") + number,
            std::string("icon/") + number + ".png",
            "12.50",
            "GBA",
            "0",
            std::string("/home/user/roms/LocalGame/GBA/game") + number + ".gba",
            std::string("game") + number + ".gba",
            "120",
            ""};
}

std::string Quoted(const std::string& value)
{
    std::string out = "'";
    for (char c : value) {
        if (c == '\'')
            out += '\'';
        out += c;
    }
    return out + "'";
}

void CreateEmptyStore(const std::string& path)
{
    CGameStore store(path); // makes the folder and the four tables
}

// Runs the sqlite3 command on `db` with `sqlFile` as its input; the wall time, or -1 on failure.
double RunCli(const std::string& cli, const std::string& db, const std::string& sqlFile)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, sqlFile.c_str(), O_RDONLY, 0);
    std::vector<char*> argv = {const_cast<char*>(cli.c_str()), const_cast<char*>(db.c_str()), nullptr};
    auto start = Clock::now();
    pid_t pid = -1;
    int result = posix_spawnp(&pid, cli.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    double elapsed = Seconds(Clock::now() - start);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? elapsed : -1;
}

double RunStore(const std::string& db)
{
    CGameStore store(db);
    auto start = Clock::now();
    store.Submit(kStoreBeginTransaction, nullptr, false, true);
    for (int i = 0; i < kRows; ++i)
        store.Submit(kStoreAddLocalGame, new LocalGameRecord(Row(i)), true, true);
    bool committed = store.Submit(kStoreCommitTransaction, nullptr, false, false);
    double elapsed = Seconds(Clock::now() - start);
    return committed ? elapsed : -1;
}

int CountRows(const std::string& path)
{
    CppSQLite3DB db;
    db.OpenUtf8(path);
    return db.QueryInt("select count(*) from LocalGame;");
}

struct Percentiles {
    double median;
    double p99;
};

Percentiles Measure(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    auto at = [&](double q) {
        return samples[std::min(samples.size() - 1, static_cast<size_t>(q * samples.size()))];
    };
    return {at(0.5), at(0.99)};
}

} // namespace

int main(int argc, char** argv)
{
    const std::string cli = argc > 1 ? argv[1] : "sqlite3";
    char pattern[] = "/tmp/quokka-store-bench-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = std::string(pattern) + "/";

    const std::string sqlFile = dir + "inserts.sql";
    {
        std::ofstream sql(sqlFile);
        sql << "BEGIN TRANSACTION;\n";
        for (int i = 0; i < kRows; ++i) {
            std::vector<std::string> values = LocalGameValues(Row(i));
            sql << "insert into LocalGame values (NULL";
            for (const std::string& value : values)
                sql << "," << Quoted(value);
            sql << ");\n";
        }
        sql << "COMMIT TRANSACTION;\n";
    }

    std::printf(
        "%d LocalGame inserts in one transaction (seconds; speed ratio = sqlite3 time / store time)\n",
        kRows);
    std::vector<double> ratios;
    for (int round = 0; round < kRounds; ++round) {
        std::string cliDb = dir + "cli" + std::to_string(round) + ".db";
        std::string storeDb = dir + "store" + std::to_string(round) + ".db";
        CreateEmptyStore(cliDb);
        CreateEmptyStore(storeDb);
        double cliTime = RunCli(cli, cliDb, sqlFile);
        double storeTime = RunStore(storeDb);
        if (cliTime < 0 || storeTime < 0 || CountRows(cliDb) != kRows || CountRows(storeDb) != kRows) {
            std::fprintf(stderr, "round %d failed (sqlite3 %.3f, store %.3f)\n", round, cliTime, storeTime);
            std::filesystem::remove_all(dir);
            return 1;
        }
        ratios.push_back(cliTime / storeTime);
        std::printf("  round %d: sqlite3 %.4f s, store %.4f s (%.0f rows/s), ratio %.2f\n", round, cliTime,
                    storeTime, kRows / storeTime, ratios.back());
    }
    std::sort(ratios.begin(), ratios.end());
    double ratio = ratios[ratios.size() / 2];
    std::printf("median speed ratio: %.2f (goal >= 0.50): %s\n", ratio, ratio >= 0.5 ? "met" : "NOT MET");

    {
        CGameStore store(dir + "latency.db");
        std::vector<double> noop;
        for (int i = 0; i < 5000; ++i) {
            auto start = Clock::now();
            store.Submit(2, nullptr, false, false);
            noop.push_back(Seconds(Clock::now() - start) * 1e6);
        }
        Percentiles p = Measure(noop);
        std::printf("synchronous round trip, empty request: median %.1f us, p99 %.1f us (%zu samples)\n",
                    p.median, p.p99, noop.size());

        std::vector<double> insert;
        for (int i = 0; i < 300; ++i) {
            LocalGameRecord record = Row(i);
            auto start = Clock::now();
            store.Submit(kStoreAddLocalGame, &record, false, false);
            insert.push_back(Seconds(Clock::now() - start) * 1e6);
        }
        p = Measure(insert);
        std::printf(
            "synchronous round trip, one committed insert: median %.1f us, p99 %.1f us (%zu samples)\n",
            p.median, p.p99, insert.size());
    }
    std::filesystem::remove_all(dir);
    return ratio >= 0.5 ? 0 : 1;
}
