#include "store/GameStoreOpening.h"

#include "tests/store/StoreTestHelpers.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

constexpr size_t kPageSize = 4096; // SQLite's default, which the store keeps

class GameStoreOpeningTest : public ::testing::Test {
protected:
    std::string Folder() const { return m_dir.Path() + "database/"; }
    std::string DbPath() const { return Folder() + "quokka.db"; }

    // A store of many pages: `games` rows with long names.
    void MakeStore(int games)
    {
        CGameStore store(DbPath());
        for (int i = 0; i < games; ++i) {
            GameinfoRecord row = SampleGameinfo("g" + std::to_string(i), std::string(300, 'n'));
            ASSERT_TRUE(store.Submit(kStoreAddGameinfo, &row, false, false));
        }
    }

    // The files in the database folder whose name starts with "quokka.db.broken-".
    std::vector<std::string> AsideNames() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(Folder())) {
            std::string name = entry.path().filename().string();
            if (name.rfind("quokka.db.broken-", 0) == 0)
                names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    static size_t GameCount(CGameStore& store)
    {
        GameinfoMap games;
        EXPECT_TRUE(store.Submit(kStoreReadGameinfo, &games, false, false));
        return games.size();
    }

    // Opens a damaged file: it is moved aside with exactly its bytes, and an empty, working store
    // takes its place.
    void ExpectMovedAside(const std::string& what)
    {
        SCOPED_TRACE(what);
        const std::string before = fs::is_regular_file(DbPath()) ? ReadFile(DbPath()) : std::string();
        StoreOpenResult result = OpenStoreForStartup(DbPath());
        ASSERT_EQ(result.outcome, StoreOpenOutcome::kMovedAside) << result.reason;
        ASSERT_TRUE(result.store);
        EXPECT_EQ(fs::path(result.asidePath).parent_path(), fs::path(DbPath()).parent_path());
        EXPECT_EQ(fs::path(result.asidePath).filename().string().rfind("quokka.db.broken-", 0), 0u)
            << result.asidePath;
        if (!before.empty()) {
            EXPECT_EQ(ReadFile(result.asidePath), before);
        }
        EXPECT_EQ(GameCount(*result.store), 0u);
        GameinfoRecord row = SampleGameinfo("fresh");
        EXPECT_TRUE(result.store->Submit(kStoreAddGameinfo, &row, false, false));
    }

    testsupport::TempDir m_dir;
};

TEST_F(GameStoreOpeningTest, ASoundOrMissingFileIsOpenedAsItIs)
{
    StoreOpenResult fresh = OpenStoreForStartup(DbPath());
    ASSERT_EQ(fresh.outcome, StoreOpenOutcome::kOpened) << fresh.reason;
    ASSERT_TRUE(fresh.store);
    fresh.store.reset();

    MakeStore(40);
    StoreOpenResult kept = OpenStoreForStartup(DbPath());
    ASSERT_EQ(kept.outcome, StoreOpenOutcome::kOpened) << kept.reason;
    EXPECT_EQ(GameCount(*kept.store), 40u);
    // The write check leaves nothing behind.
    CppSQLite3DB db;
    db.OpenUtf8(DbPath());
    EXPECT_EQ(Rows(db, "select name from sqlite_master where name like 'quokka%';").size(), 0u);
    EXPECT_TRUE(AsideNames().empty());
}

TEST_F(GameStoreOpeningTest, DamagedFilesAreMovedAsideKeptAndReplacedByAnEmptyStore)
{
    fs::create_directories(Folder());
    ASSERT_TRUE(WriteFile(DbPath(), std::string(5000, '\x5a')));
    ExpectMovedAside("garbage");

    fs::remove(DbPath());
    MakeStore(60);
    fs::resize_file(DbPath(), fs::file_size(DbPath()) / 2 + 100);
    ExpectMovedAside("truncated");

    // A page in the middle overwritten: SQLite reads the first pages happily, so only the check
    // at opening tells.
    fs::remove(DbPath());
    MakeStore(60);
    {
        std::string bytes = ReadFile(DbPath());
        ASSERT_GT(bytes.size(), 8 * kPageSize);
        std::fill(bytes.begin() + 5 * kPageSize, bytes.begin() + 6 * kPageSize, '\xa5');
        ASSERT_TRUE(WriteFile(DbPath(), bytes));
    }
    ExpectMovedAside("a damaged middle page");

    fs::remove(DbPath());
    fs::create_directories(DbPath() + "/inside");
    ExpectMovedAside("a folder in its place");

    // Each damaged file has its own name; every one is kept.
    EXPECT_EQ(AsideNames().size(), 4u);
}

} // namespace
