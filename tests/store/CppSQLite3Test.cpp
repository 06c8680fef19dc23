#include "store/CppSQLite3DB.h"
#include "store/CppSQLite3Exception.h"

#include "platform/CodePage.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <string>

namespace {

class CppSQLite3Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_db.OpenUtf8(m_dir.Path() + "layer.db");
        m_db.Execute("create table t (Id integer PRIMARY KEY AUTOINCREMENT, Name TEXT, Value TEXT);");
    }

    testsupport::TempDir m_dir;
    CppSQLite3DB m_db;
};

// Runs `action`, which must throw CppSQLite3Exception; returns the exception.
template <typename Action> CppSQLite3Exception Caught(Action action)
{
    try {
        action();
    } catch (const CppSQLite3Exception& e) {
        return e;
    }
    ADD_FAILURE() << "no CppSQLite3Exception was thrown";
    return CppSQLite3Exception(0, "");
}

TEST(CppSQLite3ExceptionTest, NamesCodesAndFormatsMessages)
{
    EXPECT_STREQ(CppSQLite3Exception::ErrorCodeAsString(0), "SQLITE_OK");
    EXPECT_STREQ(CppSQLite3Exception::ErrorCodeAsString(5), "SQLITE_BUSY");
    EXPECT_STREQ(CppSQLite3Exception::ErrorCodeAsString(25), "SQLITE_RANGE");
    EXPECT_STREQ(CppSQLite3Exception::ErrorCodeAsString(100), "SQLITE_ROW");
    EXPECT_STREQ(CppSQLite3Exception::ErrorCodeAsString(101), "SQLITE_DONE");
    EXPECT_STREQ(CppSQLite3Exception::ErrorCodeAsString(1000), "CPPSQLITE_ERROR");
    EXPECT_STREQ(CppSQLite3Exception::ErrorCodeAsString(26), "UNKNOWN_ERROR");
    EXPECT_STREQ(CppSQLite3Exception::ErrorCodeAsString(-1), "UNKNOWN_ERROR");

    CppSQLite3Exception original(14, "unable to open database file");
    EXPECT_STREQ(original.ErrorMessage(), "SQLITE_CANTOPEN[14]: unable to open database file");
    CppSQLite3Exception copy(original);
    CppSQLite3Exception assigned(0, nullptr);
    EXPECT_STREQ(assigned.ErrorMessage(), "SQLITE_OK[0]: ");
    assigned = copy;
    EXPECT_EQ(assigned.ErrorCode(), 14);
    EXPECT_STREQ(assigned.ErrorMessage(), original.ErrorMessage());
    EXPECT_NE(assigned.ErrorMessage(), original.ErrorMessage()) << "a copy owns its own message";
}

TEST_F(CppSQLite3Test, QueryIntOnEmptyTableCountsZeroAndNullIsZero)
{
    EXPECT_EQ(m_db.QueryInt("select count(*) from t;"), 0);
    EXPECT_EQ(m_db.QueryInt("select NULL;"), 0);
    EXPECT_EQ(m_db.QueryInt("select ?;", {"42"}), 42);

    CppSQLite3Exception noRow = Caught([&] { m_db.QueryInt("select Name from t;"); });
    EXPECT_EQ(noRow.ErrorCode(), 1000);
    EXPECT_STREQ(noRow.ErrorMessage(), "CPPSQLITE_ERROR[1000]: Invalid scalar query");
}

TEST_F(CppSQLite3Test, ColumnAccessChecksIndexAndStatement)
{
    m_db.Execute("insert into t values (NULL, 'a', NULL);");
    CppSQLite3Query query = m_db.Query("select * from t;");
    ASSERT_FALSE(query.AtEnd());
    ASSERT_EQ(query.ColumnCount(), 3);
    EXPECT_STREQ(query.ColumnText(1), "a");
    EXPECT_STREQ(query.ColumnText(2), "") << "NULL reads as an empty text";
    EXPECT_EQ(query.ColumnType(2), SQLITE_NULL);
    EXPECT_EQ(query.ColumnType(0), SQLITE_INTEGER);

    for (int bad : {-1, 3}) {
        CppSQLite3Exception e = Caught([&] { query.ColumnText(bad); });
        EXPECT_EQ(e.ErrorCode(), 1000);
        EXPECT_STREQ(e.ErrorMessage(), "CPPSQLITE_ERROR[1000]: Invalid field index requested");
        EXPECT_EQ(Caught([&] { query.ColumnType(bad); }).ErrorCode(), 1000);
    }

    query.Step();
    EXPECT_TRUE(query.AtEnd());
    query.Step(); // stays at its end instead of running the statement again
    EXPECT_TRUE(query.AtEnd());

    query.Finish();
    CppSQLite3Exception noStatement = Caught([&] { query.ColumnText(0); });
    EXPECT_STREQ(noStatement.ErrorMessage(), "CPPSQLITE_ERROR[1000]: Null Virtual Machine pointer");
    EXPECT_EQ(Caught([&] { query.Step(); }).ErrorCode(), 1000);
    query.Finish(); // nothing left to finalise
}

TEST_F(CppSQLite3Test, ClosedConnectionAndSyntaxErrorsThrow)
{
    CppSQLite3Exception syntax = Caught([&] { m_db.Execute("selec nothing;"); });
    EXPECT_EQ(syntax.ErrorCode(), 1);
    EXPECT_EQ(std::string(syntax.ErrorMessage()).rfind("SQLITE_ERROR[1]: ", 0), 0u) << syntax.ErrorMessage();
    EXPECT_NE(std::string(syntax.ErrorMessage()).find("syntax error"), std::string::npos);

    EXPECT_EQ(Caught([&] { m_db.Query("select * from missing;"); }).ErrorCode(), 1);
    EXPECT_EQ(
        Caught([&] { m_db.Execute("insert into t values (NULL, ?);", {"too few columns"}); }).ErrorCode(), 1);
    EXPECT_EQ(Caught([&] {
                  m_db.Execute("insert into t values (NULL, ?, ?);", {"a", "b", "c"});
              }).ErrorCode(),
              SQLITE_RANGE);

    m_db.Close();
    EXPECT_FALSE(m_db.IsOpen());
    m_db.Close(); // closing twice does nothing
    for (auto action : {+[](CppSQLite3DB& db) { db.Execute("select 1;"); },
                        +[](CppSQLite3DB& db) { db.Query("select 1;"); },
                        +[](CppSQLite3DB& db) { db.QueryInt("select 1;"); }}) {
        CppSQLite3Exception e = Caught([&] { action(m_db); });
        EXPECT_EQ(e.ErrorCode(), 1000);
        EXPECT_STREQ(e.ErrorMessage(), "CPPSQLITE_ERROR[1000]: Database not open");
    }
}

TEST_F(CppSQLite3Test, CloseRefusedWhileAQueryLivesAndOpenFailureReported)
{
    m_db.Execute("insert into t values (NULL, 'a', 'b');");
    {
        CppSQLite3Query live = m_db.Query("select * from t;");
        CppSQLite3Exception e = Caught([&] { m_db.Close(); });
        EXPECT_STREQ(e.ErrorMessage(), "CPPSQLITE_ERROR[1000]: Unable to close database");
        EXPECT_TRUE(m_db.IsOpen());
        EXPECT_STREQ(live.ColumnText(1), "a") << "the connection stays usable";
    }
    m_db.Close();

    CppSQLite3DB other;
    CppSQLite3Exception e = Caught([&] { other.OpenUtf8(m_dir.Path() + "no/such/folder/x.db"); });
    EXPECT_EQ(e.ErrorCode(), SQLITE_CANTOPEN);
    EXPECT_FALSE(other.IsOpen());
}

TEST_F(CppSQLite3Test, BoundValuesKeepEveryByteAndExecuteCountsChanges)
{
    std::string everyByte;
    for (int c = 0; c < 256; ++c)
        everyByte += static_cast<char>(c);
    const std::string hostile = "x'); drop table t; --";
    EXPECT_EQ(m_db.Execute("insert into t values (NULL, ?, ?);", {hostile, everyByte}), 1);
    EXPECT_EQ(m_db.Execute("insert into t values (NULL, ?, ?);", {"", "b"}), 1);
    EXPECT_EQ(m_db.Execute("update t set Value = 'z';"), 2);

    CppSQLite3Query query = m_db.Query("select Name, Value from t where Name = ?;", {hostile});
    ASSERT_FALSE(query.AtEnd());
    EXPECT_EQ(query.ColumnString(0), hostile);
    m_db.Execute("update t set Value = ? where Id = 1;", {everyByte});
    CppSQLite3Query again = m_db.Query("select Value from t where Id = 1;");
    EXPECT_EQ(again.ColumnString(0), everyByte) << "embedded NUL and high bytes come back";
    CppSQLite3Query empty = m_db.Query("select Name from t where Id = 2;");
    EXPECT_EQ(empty.ColumnType(0), SQLITE_TEXT) << "an empty value is an empty text, not NULL";
}

TEST_F(CppSQLite3Test, OpenConvertsTheNarrowPathFromTheProcessCodePage)
{
    const std::string saved = platform::ProcessCodePage();
    for (const char* codePage : {"UTF-8", "GBK"}) {
        platform::SetProcessCodePage(codePage);
        // 游戏 in the code page under test; the file gets the UTF-8 name either way.
        std::string name = std::string(codePage) == "GBK" ? "\xd3\xce\xcf\xb7" : "游戏";
        std::string narrowPath = m_dir.Path() + codePage + name + ".db";
        CppSQLite3DB db;
        db.Open(narrowPath.c_str());
        db.Execute("create table x (a TEXT);");
        db.Close();
        EXPECT_TRUE(std::filesystem::exists(m_dir.Path() + codePage + "游戏.db")) << codePage;
    }
    platform::SetProcessCodePage(saved);
}

} // namespace
