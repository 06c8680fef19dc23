#pragma once

#include "store/CppSQLite3Query.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

// One SQLite connection. It holds no lock: a connection and the queries made from it belong to one
// thread at a time (the game store keeps its connection on its worker thread).
//
// Every failure throws CppSQLite3Exception: SQLite's failures with SQLite's result code and error
// text, the layer's own with code 1000 (CPPSQLITE_ERROR) and one of its texts ("Database not open",
// "Unable to close database", "Invalid scalar query").
//
// Statements with values take them as bound parameters ('?' in the text, in order): a value is
// stored as text with exactly its bytes, whatever they are, and can never change the statement.
// Statement texts may be of any length SQLite accepts.
class CppSQLite3DB {
public:
    static constexpr int kDefaultBusyTimeoutMs = 60000;

    explicit CppSQLite3DB(int busyTimeoutMs = kDefaultBusyTimeoutMs);
    CppSQLite3DB(const CppSQLite3DB&) = delete;
    CppSQLite3DB& operator=(const CppSQLite3DB&) = delete;
    // Closes the connection; a failure is swallowed. Statements still alive keep the connection's
    // memory until they are finalised.
    virtual ~CppSQLite3DB();

    // Opens (creating when missing) the file at a narrow path in the process code page, closing
    // any connection held before. Throws with SQLite's code when the file cannot be opened, and
    // the conversions' std::runtime_error when the path is not valid text.
    void Open(const char* ansiPath);
    // The same with a native (UTF-8) file name.
    void OpenUtf8(const std::string& utf8Path);

    // Closes the connection; does nothing when none is open. When SQLite refuses (statements are
    // still alive) it throws code 1000 "Unable to close database" and the connection stays open.
    void Close();

    bool IsOpen() const { return m_db != nullptr; }

    // Runs one or more statements; returns the number of rows changed by the last one.
    int Execute(const char* sql);
    // Runs one statement with bound values; returns the number of rows it changed. Rows that the
    // statement yields are ignored.
    int Execute(const char* sql, const std::vector<std::string_view>& values);

    // Compiles a statement and steps to its first row.
    CppSQLite3Query Query(const char* sql, const std::vector<std::string_view>& values = {});

    // The first column of the first row as an integer, 0 when it is NULL. A statement without a
    // row or a column throws code 1000 "Invalid scalar query".
    int QueryInt(const char* sql, const std::vector<std::string_view>& values = {});

private:
    struct ConnectionCloser {
        void operator()(sqlite3* db) const;
    };

    void CheckOpen() const;
    CppSQLite3Query::StatementPtr Prepare(const char* sql, const std::vector<std::string_view>& values);

    std::unique_ptr<sqlite3, ConnectionCloser> m_db;
    int m_busyTimeoutMs;
};
