#pragma once

#include <memory>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

// A forward-only cursor over the rows of one prepared statement, made by CppSQLite3DB::Query. It
// owns its statement and finalises it in Finish or in its destructor; it may be moved but not
// copied. It must not outlive the connection's use by another thread: like the connection, a query
// belongs to the thread that made it.
//
// Failures throw CppSQLite3Exception. Using a query that has no statement (finished, or moved from)
// throws code 1000 "Null Virtual Machine pointer"; a column index outside 0 to ColumnCount() - 1
// throws code 1000 "Invalid field index requested".
class CppSQLite3Query {
public:
    CppSQLite3Query() = default;
    CppSQLite3Query(CppSQLite3Query&& other) noexcept;
    CppSQLite3Query& operator=(CppSQLite3Query&& other) noexcept;
    CppSQLite3Query(const CppSQLite3Query&) = delete;
    CppSQLite3Query& operator=(const CppSQLite3Query&) = delete;
    // Finalises the statement; a failure is swallowed.
    virtual ~CppSQLite3Query();

    // True once the statement has no further row.
    bool AtEnd() const { return m_atEnd; }
    // The number of columns of the statement; 0 without a statement.
    int ColumnCount() const { return m_columnCount; }

    // The column's text up to its first NUL byte; "" for a NULL value or when the cursor is at its
    // end. Valid until the cursor moves.
    const char* ColumnText(int index) const;
    // The column's bytes, all of them (embedded NUL bytes included); empty for NULL.
    std::string ColumnString(int index) const;
    // The column's value as an integer (0 for NULL).
    int ColumnInt(int index) const;
    // SQLITE_INTEGER, SQLITE_FLOAT, SQLITE_TEXT, SQLITE_BLOB or SQLITE_NULL.
    int ColumnType(int index) const;

    // Moves to the next row; at the end AtEnd becomes true and further calls do nothing. A failure
    // finalises the statement (the query then has none) and throws with SQLite's code and text.
    void Step();

    // Finalises the statement now; throws when the finalisation reports an error (the statement is
    // released either way). Does nothing without a statement.
    void Finish();

private:
    friend class CppSQLite3DB;

    struct StatementFinalizer {
        void operator()(sqlite3_stmt* statement) const;
    };
    using StatementPtr = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

    // Takes over a statement on which the first step has been made.
    CppSQLite3Query(sqlite3* db, StatementPtr statement, bool atEnd);

    void CheckStatement() const;
    void CheckIndex(int index) const;

    sqlite3* m_db = nullptr; // the connection the statement came from, for its error texts
    StatementPtr m_statement;
    bool m_atEnd = true;
    int m_columnCount = 0;
};
