#include "store/GameStore.h"

#include "foundation/AppPaths.h"
#include "platform/Trace.h"
#include "store/CppSQLite3Exception.h"
#include "tests/store/StoreTestHelpers.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <sqlite3.h>
#include <thread>

namespace {

using Rows_t = std::vector<std::vector<std::string>>;

class GameStoreTest : public ::testing::Test {
protected:
    std::string DbPath() const { return m_dir.Path() + "database/quokka.db"; }

    CGameStore& Store()
    {
        if (!m_store)
            m_store = std::make_unique<CGameStore>(DbPath());
        return *m_store;
    }

    // Stops the store and opens the file on a connection of the test's own.
    CppSQLite3DB& Reopen()
    {
        m_store.reset();
        if (!m_check.IsOpen())
            m_check.OpenUtf8(DbPath());
        return m_check;
    }

    bool Sync(int operation, void* data) { return Store().Submit(operation, data, false, false); }

    testsupport::TempDir m_dir;
    std::unique_ptr<CGameStore> m_store;
    CppSQLite3DB m_check;
};

Rows_t TableInfo(CppSQLite3DB& db, const std::string& table)
{
    Rows_t columns;
    for (auto& row : Rows(db, ("PRAGMA table_info(" + table + ");").c_str()))
        columns.push_back({row[1], row[2], row[5]}); // name, type, primary key
    return columns;
}

Rows_t TextColumns(std::initializer_list<const char*> names)
{
    Rows_t columns = {{"Id", "INTEGER", "1"}};
    for (const char* name : names)
        columns.push_back({name, "TEXT", "0"});
    return columns;
}

TEST_F(GameStoreTest, FreshInstallationCreatesTheFourEmptyTables)
{
    AppPaths saved = GetAppPaths();
    AppPaths paths = saved;
    paths.InstancePath = m_dir.Path();
    SetAppPaths(paths);
    EXPECT_EQ(CGameStore::DefaultDatabasePath(), m_dir.Path() + "database/quokka.db");
    CGameStore::Instance();
    EXPECT_EQ(&CGameStore::Instance(), &CGameStore::Instance());
    CGameStore::DestroyInstance();
    CGameStore::DestroyInstance();
    SetAppPaths(saved);
    ASSERT_TRUE(std::filesystem::exists(DbPath()));

    CppSQLite3DB& db = Reopen();
    EXPECT_EQ(Rows(db, "select name from sqlite_master where type='table' order by name;"),
              (Rows_t{{"DownloadInfo"}, {"EmulatorInfo"}, {"Gameinfo"}, {"LocalGame"}, {"sqlite_sequence"}}));
    EXPECT_EQ(TableInfo(db, "Gameinfo"),
              TextColumns({"GameId", "Icon", "Size", "GameName", "EmulatorShortName", "CategoryShortName",
                           "IsPlay", "IsPK", "FilePath", "FileName", "EmulatorId", "CategoryId", "PlayUrl"}));
    EXPECT_EQ(TableInfo(db, "DownloadInfo"), TextColumns({"GameId",
                                                          "Icon",
                                                          "GameName",
                                                          "EmulatorShortName",
                                                          "CategoryShortName",
                                                          "EmulatorId",
                                                          "CategoryId",
                                                          "PlayUrl",
                                                          "FilePath",
                                                          "FileName",
                                                          "NeedUnZip",
                                                          "Volume",
                                                          "UrlList",
                                                          "PanUrlList",
                                                          "PanRealUrlList",
                                                          "VolumeUrlList",
                                                          "VolumePanUrlList",
                                                          "VolumePanRealUrlList",
                                                          "FileLenth",
                                                          "VolumeFileLenth",
                                                          "FileList",
                                                          "TotalSize",
                                                          "CurrentSize",
                                                          "Reserved1",
                                                          "Reserved2",
                                                          "Reserved3",
                                                          "Reserved4"}));
    EXPECT_EQ(TableInfo(db, "LocalGame"),
              TextColumns({"GameName", "Icon", "Size", "EmulatorShortName", "IsPlay", "FilePath", "FileName",
                           "EmulatorId", "PlayUrl"}));
    EXPECT_EQ(
        TableInfo(db, "EmulatorInfo"),
        TextColumns({"EmulatorId",   "Name",      "Version",   "Downloadurl",  "UpdateDate", "Description",
                     "Emulatortype", "System",    "Executet",  "Executeparam", "Configtype", "KeyConfig",
                     "SetConfig",    "IsDefault", "Reserved1", "Reserved2",    "Reserved3",  "Reserved4",
                     "Reserved5",    "Reserved6", "Reserved7", "Reserved8"}));
    for (const char* table : {"Gameinfo", "DownloadInfo", "LocalGame", "EmulatorInfo"})
        EXPECT_EQ(db.QueryInt(("select count(*) from " + std::string(table) + ";").c_str()), 0) << table;
    // The key column counts up without reuse.
    EXPECT_NE(Rows(db, "select sql from sqlite_master where name='Gameinfo';")[0][0].find("AUTOINCREMENT"),
              std::string::npos);
}

TEST_F(GameStoreTest, ExistingTablesAreNeverAltered)
{
    std::filesystem::create_directories(m_dir.Path() + "database");
    {
        CppSQLite3DB db;
        db.OpenUtf8(DbPath());
        db.Execute("create table Gameinfo (Id integer PRIMARY KEY AUTOINCREMENT, GameId TEXT);"
                   "insert into Gameinfo values (NULL, 'kept');");
    }
    Store();
    EXPECT_TRUE(Sync(kStoreCreateTables, nullptr)) << "creating again finds every table";
    CppSQLite3DB& db = Reopen();
    EXPECT_EQ(TableInfo(db, "Gameinfo"), TextColumns({"GameId"}));
    EXPECT_EQ(Rows(db, "select GameId from Gameinfo;"), (Rows_t{{"kept"}}));
    EXPECT_EQ(db.QueryInt("select count(*) from sqlite_master where type='table';"), 5);
}

TEST_F(GameStoreTest, AFileThatIsNotADatabaseFailsTheConstruction)
{
    std::filesystem::create_directories(m_dir.Path() + "database");
    ASSERT_TRUE(testsupport::WriteFile(DbPath(), std::string(4096, 'z')));
    try {
        CGameStore store(DbPath());
        ADD_FAILURE() << "the store opened a file that is not a database";
    } catch (const CppSQLite3Exception& e) {
        EXPECT_EQ(e.ErrorCode(), SQLITE_NOTADB) << e.ErrorMessage();
    }
    EXPECT_EQ(testsupport::ReadFile(DbPath()), std::string(4096, 'z')) << "the file is left as it was";
}

TEST_F(GameStoreTest, CatalogueGamesKeepTheFirstRowOfAKey)
{
    GameinfoRecord first = SampleGameinfo("100", "first");
    GameinfoRecord second = SampleGameinfo("100", "second");
    GameinfoRecord other = SampleGameinfo("200", "other");
    ASSERT_TRUE(Sync(kStoreAddGameinfo, &first));
    ASSERT_TRUE(Sync(kStoreAddGameinfo, &second));
    ASSERT_TRUE(Store().Submit(kStoreAddGameinfo, new GameinfoRecord(other), true, true));

    GameinfoMap games;
    ASSERT_TRUE(Sync(kStoreReadGameinfo, &games));
    EXPECT_EQ(games, (GameinfoMap{{"100", first}, {"200", other}}));

    std::string id = "100";
    ASSERT_TRUE(Sync(kStoreRemoveGameinfo, &id));
    CppSQLite3DB& db = Reopen();
    EXPECT_EQ(Rows(db, "select GameId, Icon, Size, GameName, FilePath, PlayUrl from Gameinfo;"),
              (Rows_t{{"200", "icon/200.png", "12.50", "other", "/roms/FC/200/", "http://play/200"}}));
}

TEST_F(GameStoreTest, LocalGamesRenameOnlyTheNameOfTheirPath)
{
    LocalGameRecord first = SampleLocalGame("/lib/GBA/a.gba", "first");
    LocalGameRecord twin = SampleLocalGame("/lib/GBA/a.gba", "twin");
    twin.Size = "9.9";
    LocalGameRecord other = SampleLocalGame("/lib/GBA/b.gba", "other");
    for (LocalGameRecord* record : {&first, &twin, &other})
        ASSERT_TRUE(Sync(kStoreAddLocalGame, record));

    LocalGameMap games;
    ASSERT_TRUE(Sync(kStoreReadLocalGames, &games));
    EXPECT_EQ(games, (LocalGameMap{{first.FilePath, first}, {other.FilePath, other}}));

    LocalGameRecord rename = SampleLocalGame("/lib/GBA/a.gba", "新名字 'x'");
    rename.Icon = "must not be written";
    rename.Size = "must not be written";
    ASSERT_TRUE(Store().Submit(kStoreRenameLocalGame, new LocalGameRecord(rename), true, false));

    std::string removed = other.FilePath;
    ASSERT_TRUE(Store().Submit(kStoreRemoveLocalGame, new std::string(removed), true, true));
    CppSQLite3DB& db = Reopen();
    EXPECT_EQ(Rows(db, "select GameName, Icon, Size, FilePath from LocalGame order by Id;"),
              (Rows_t{{"新名字 'x'", "icon.png", "3.2", "/lib/GBA/a.gba"},
                      {"新名字 'x'", "icon.png", "9.9", "/lib/GBA/a.gba"}}));
}

// A download task with every list kind, in UTF-8 and in GBK bytes (whose second bytes may be '\',
// '|' or '@'), survives a write, an update and a read unchanged.
TEST_F(GameStoreTest, DownloadTasksRoundTripWithTheirLists)
{
    const std::string utf8 = "中文游戏 \"引号\" it's";
    const std::string gbk = "\xd6\xd0\xce\xc4\x81\x5c\x81\x7c\x81\x40 'q'";
    DownloadTaskRecord a = SampleDownload("1190001", utf8);
    DownloadTaskRecord b = SampleDownload("1190002", gbk);
    ASSERT_TRUE(Sync(kStoreAddDownload, &a));
    ASSERT_TRUE(Store().Submit(kStoreAddDownload, new DownloadTaskRecord(b), true, true));

    DownloadTaskMap tasks;
    ASSERT_TRUE(Sync(kStoreReadDownloads, &tasks));
    ASSERT_EQ(tasks.size(), 2u);
    EXPECT_EQ(tasks["1190001"], a);
    EXPECT_EQ(tasks["1190002"], b);

    b.CurrentSize = "300.00";
    b.VolumeFileLenth[3] = "4096";
    b.PanRealUrlList = {{0, "http://resolved/" + gbk}};
    b.Source = 1;
    ASSERT_TRUE(Sync(kStoreUpdateDownload, &b));
    tasks.clear();
    ASSERT_TRUE(Sync(kStoreReadDownloads, &tasks));
    EXPECT_EQ(tasks["1190002"], b);
    EXPECT_EQ(tasks["1190001"], a) << "the update touches only its own GameId";

    std::string gone = "1190001";
    ASSERT_TRUE(Sync(kStoreRemoveDownload, &gone));
    CppSQLite3DB& db = Reopen();
    Rows_t rows =
        Rows(db, "select GameId, UrlList, VolumeUrlList, VolumeFileLenth, FileList, Reserved1, Reserved2, "
                 "Reserved3, Reserved4 from DownloadInfo;");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], "1190002");
    EXPECT_EQ(rows[0][1], "http://dl/a.zip;http://dl/b.zip?x='" + gbk + "';");
    EXPECT_EQ(rows[0][2], "0@http://dl/v1|" + gbk + "|1\\http://dl/v2|2\\;");
    EXPECT_EQ(rows[0][3], "1048576;524288;4096;");
    EXPECT_EQ(rows[0][4], "disc/game.cue|120;disc/" + gbk + ".bin|700000000;") << "keys in byte order";
    EXPECT_EQ(rows[0][5], "http://nozip/" + gbk + ";");
    EXPECT_EQ(rows[0][6], "1");
    EXPECT_EQ(rows[0][7], "");
    EXPECT_EQ(rows[0][8], "");
}

TEST_F(GameStoreTest, EmulatorsAddUpdateReadAndRemove)
{
    EmulatorRecord fc = SampleEmulator("1250001", "FCEUX");
    EmulatorRecord again = SampleEmulator("1250001", "later row");
    EmulatorRecord md = SampleEmulator("1220001", "Gens");
    md.Emulatortype = 122;
    md.Execute.clear();
    md.KeyConfig.clear();
    ASSERT_TRUE(Sync(kStoreAddEmulator, &fc));
    ASSERT_TRUE(Sync(kStoreAddEmulator, &again));
    ASSERT_TRUE(Store().Submit(kStoreAddEmulator, new EmulatorRecord(md), true, true));

    EmulatorMap emulators;
    ASSERT_TRUE(Sync(kStoreReadEmulators, &emulators));
    EXPECT_EQ(emulators, (EmulatorMap{{"1220001", md}, {"1250001", fc}}));

    md.Version = "2.0";
    md.IsDefault = "1";
    ASSERT_TRUE(Store().Submit(kStoreUpdateEmulator, new EmulatorRecord(md), true, false));
    emulators.clear();
    ASSERT_TRUE(Sync(kStoreReadEmulators, &emulators));
    EXPECT_EQ(emulators["1220001"], md);

    ASSERT_TRUE(Store().Submit(kStoreRemoveEmulator, new std::string("1250001"), true, false));
    CppSQLite3DB& db = Reopen();
    EXPECT_EQ(Rows(db, "select EmulatorId, Emulatortype, Executet, Reserved1, Reserved8 from EmulatorInfo;"),
              (Rows_t{{"1220001", "122", "", "", ""}}));
}

// Values are bound: quotes, statement text and every byte value come back exactly and never change
// the statement.
TEST_F(GameStoreTest, HostileValuesAreStoredByteForByte)
{
    std::string everyByte;
    for (int c = 0; c < 256; ++c)
        everyByte += static_cast<char>(c);
    LocalGameRecord record = SampleLocalGame("/lib/it's/a'b.gba", "x'); drop table LocalGame; --");
    record.Icon = everyByte;
    record.PlayUrl = "'" + std::string(3, '\'') + "\\'";
    ASSERT_TRUE(Sync(kStoreAddLocalGame, &record));
    ASSERT_TRUE(Sync(kStoreRenameLocalGame, &record));
    std::string path = record.FilePath;

    LocalGameMap games;
    ASSERT_TRUE(Sync(kStoreReadLocalGames, &games));
    ASSERT_EQ(games.size(), 1u);
    EXPECT_EQ(games.begin()->second, record);

    ASSERT_TRUE(Sync(kStoreRemoveLocalGame, &path));
    games.clear();
    ASSERT_TRUE(Sync(kStoreReadLocalGames, &games));
    EXPECT_TRUE(games.empty());
}

// Neither a run statement nor a row's values have a length limit.
TEST_F(GameStoreTest, StatementsOfAnyLengthWork)
{
    std::string longText(100000, 'x');
    std::string statement =
        "insert into LocalGame (GameName, FilePath) values ('" + longText + "', '/long');";
    ASSERT_GT(statement.size(), 40960u);
    ASSERT_TRUE(Sync(kStoreExecute, &statement));

    LocalGameRecord big = SampleLocalGame("/big", std::string(300000, 'n'));
    big.Icon = std::string(200000, 'i');
    ASSERT_TRUE(Sync(kStoreAddLocalGame, &big));

    LocalGameMap games;
    ASSERT_TRUE(Sync(kStoreReadLocalGames, &games));
    EXPECT_EQ(games["/long"].GameName, longText);
    EXPECT_EQ(games["/big"], big);
}

// A failing request is traced and reported, its owned data is freed (the leak checker sees it), and
// the worker goes on with the next request.
TEST_F(GameStoreTest, FailuresAreCaughtTracedAndTheWorkerGoesOn)
{
    Store();
    platform::SetTraceEnabled(true);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Store().Submit(kStoreExecute, new std::string("selec broken;"), true, false));
    EXPECT_TRUE(
        Store().Submit(kStoreExecute, new std::string("insert into nowhere values (1);"), true, true));
    EXPECT_FALSE(Sync(kStoreAddLocalGame, nullptr)) << "a missing record fails the request, not the worker";
    EXPECT_FALSE(Store().Submit(21, nullptr, false, false)) << "unknown codes are refused";
    EXPECT_FALSE(Store().Submit(-1, nullptr, false, true));
    EXPECT_TRUE(Sync(2, nullptr));
    EXPECT_TRUE(Sync(14, nullptr));
    std::string commitWithoutBegin = "COMMIT;";
    EXPECT_FALSE(Sync(kStoreExecute, &commitWithoutBegin));
    LocalGameRecord after = SampleLocalGame("/after");
    EXPECT_TRUE(Sync(kStoreAddLocalGame, &after));
    std::string trace = testing::internal::GetCapturedStderr();
    platform::SetTraceEnabled(false);

    EXPECT_NE(trace.find("SQLITE_ERROR[1]: near \"selec\": syntax error"), std::string::npos) << trace;
    EXPECT_NE(trace.find("no such table: nowhere"), std::string::npos) << trace;
    EXPECT_NE(trace.find("operation 4 without data"), std::string::npos) << trace;
    LocalGameMap games;
    ASSERT_TRUE(Sync(kStoreReadLocalGames, &games));
    EXPECT_EQ(games, (LocalGameMap{{"/after", after}}));
}

TEST_F(GameStoreTest, TransactionsFrameBulkChanges)
{
    ASSERT_TRUE(Sync(kStoreBeginTransaction, nullptr));
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(Store().Submit(
            kStoreAddLocalGame, new LocalGameRecord(SampleLocalGame("/t/" + std::to_string(i))), true, true));
    ASSERT_TRUE(Sync(kStoreCommitTransaction, nullptr));
    EXPECT_FALSE(Sync(kStoreCommitTransaction, nullptr)) << "no transaction is open any more";
    EXPECT_EQ(Reopen().QueryInt("select count(*) from LocalGame;"), 50);
}

// Stop is asked for while the worker is held up and hundreds of requests wait: they are all carried
// out before the worker ends, and a request after the stop is refused.
TEST_F(GameStoreTest, StopCarriesOutEveryQueuedRequest)
{
    Store();
    CppSQLite3DB blocker;
    blocker.OpenUtf8(DbPath());
    blocker.Execute("BEGIN EXCLUSIVE;");

    constexpr int kQueued = 100;
    for (int i = 0; i < kQueued; ++i)
        ASSERT_TRUE(Store().Submit(
            kStoreAddLocalGame, new LocalGameRecord(SampleLocalGame("/q/" + std::to_string(i))), true, true));
    std::thread stopper([this] { m_store->Shutdown(); });
    while (!m_store->StopRequested())
        std::this_thread::yield();
    EXPECT_FALSE(
        m_store->Submit(kStoreAddLocalGame, new LocalGameRecord(SampleLocalGame("/late")), true, true));
    std::string late = "insert into LocalGame (FilePath) values ('/late');";
    EXPECT_FALSE(m_store->Submit(kStoreExecute, &late, false, false)) << "refused without waiting";
    blocker.Execute("COMMIT;");
    stopper.join();

    EXPECT_EQ(blocker.QueryInt("select count(*) from LocalGame;"), kQueued);
    EXPECT_EQ(blocker.QueryInt("select count(*) from LocalGame where FilePath = '/late';"), 0);
    // In the order of submission.
    EXPECT_EQ(Rows(blocker, "select FilePath from LocalGame where Id = (select min(Id) from LocalGame);"),
              (Rows_t{{"/q/0"}}));
    EXPECT_EQ(Rows(blocker, "select FilePath from LocalGame where Id = (select max(Id) from LocalGame);"),
              (Rows_t{{"/q/99"}}));
}

// Several threads submit synchronous and asynchronous requests at once. Each synchronous read sees
// every earlier request of its own thread, and in the end every request was done exactly once, in
// each thread's order.
TEST_F(GameStoreTest, ConcurrentSubmittersAreServedOnceAndInOrder)
{
    Store();
    constexpr int kThreads = 4;
    constexpr int kPerThread = 30;
    std::vector<std::thread> threads;
    std::vector<int> failures(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this, t, &failures] {
            for (int i = 0; i < kPerThread; ++i) {
                std::string path = "/c/" + std::to_string(t) + "/" + std::to_string(i);
                if (i % 2 == 0) {
                    if (!Store().Submit(kStoreAddLocalGame, new LocalGameRecord(SampleLocalGame(path)), true,
                                        true))
                        ++failures[t];
                    continue;
                }
                LocalGameRecord record = SampleLocalGame(path);
                if (!Store().Submit(kStoreAddLocalGame, &record, false, false))
                    ++failures[t];
                LocalGameMap seen;
                if (!Store().Submit(kStoreReadLocalGames, &seen, false, false))
                    ++failures[t];
                for (int j = 0; j <= i; ++j) {
                    if (!seen.count("/c/" + std::to_string(t) + "/" + std::to_string(j)))
                        ++failures[t];
                }
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(failures, std::vector<int>(kThreads, 0));

    CppSQLite3DB& db = Reopen();
    EXPECT_EQ(db.QueryInt("select count(*) from LocalGame;"), kThreads * kPerThread);
    EXPECT_EQ(db.QueryInt("select count(distinct FilePath) from LocalGame;"), kThreads * kPerThread);
    for (int t = 0; t < kThreads; ++t) {
        std::string prefix = "/c/" + std::to_string(t) + "/";
        Rows_t rows = Rows(
            db,
            ("select FilePath from LocalGame where FilePath like '" + prefix + "%' order by Id;").c_str());
        ASSERT_EQ(rows.size(), static_cast<size_t>(kPerThread));
        for (int i = 0; i < kPerThread; ++i)
            EXPECT_EQ(rows[i][0], prefix + std::to_string(i));
    }
}

} // namespace
