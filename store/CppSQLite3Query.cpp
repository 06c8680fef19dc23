#include "store/CppSQLite3Query.h"

#include "store/CppSQLite3Exception.h"

#include <sqlite3.h>
#include <utility>

void CppSQLite3Query::StatementFinalizer::operator()(sqlite3_stmt* statement) const
{
    sqlite3_finalize(statement);
}

CppSQLite3Query::CppSQLite3Query(sqlite3* db, StatementPtr statement, bool atEnd)
    : m_db(db), m_statement(std::move(statement)), m_atEnd(atEnd),
      m_columnCount(m_statement ? sqlite3_column_count(m_statement.get()) : 0)
{
}

CppSQLite3Query::CppSQLite3Query(CppSQLite3Query&& other) noexcept
    : m_db(other.m_db), m_statement(std::move(other.m_statement)), m_atEnd(other.m_atEnd),
      m_columnCount(other.m_columnCount)
{
    other.m_atEnd = true;
    other.m_columnCount = 0;
}

CppSQLite3Query& CppSQLite3Query::operator=(CppSQLite3Query&& other) noexcept
{
    if (this == &other)
        return *this;
    m_statement = std::move(other.m_statement);
    m_db = other.m_db;
    m_atEnd = std::exchange(other.m_atEnd, true);
    m_columnCount = std::exchange(other.m_columnCount, 0);
    return *this;
}

CppSQLite3Query::~CppSQLite3Query() = default;

void CppSQLite3Query::CheckStatement() const
{
    if (!m_statement)
        throw CppSQLite3Exception(CPPSQLITE_ERROR, "Null Virtual Machine pointer");
}

void CppSQLite3Query::CheckIndex(int index) const
{
    CheckStatement();
    if (index < 0 || index >= m_columnCount)
        throw CppSQLite3Exception(CPPSQLITE_ERROR, "Invalid field index requested");
}

const char* CppSQLite3Query::ColumnText(int index) const
{
    CheckIndex(index);
    if (m_atEnd)
        return "";
    const unsigned char* text = sqlite3_column_text(m_statement.get(), index);
    return text ? reinterpret_cast<const char*>(text) : "";
}

std::string CppSQLite3Query::ColumnString(int index) const
{
    CheckIndex(index);
    if (m_atEnd)
        return {};
    const unsigned char* text = sqlite3_column_text(m_statement.get(), index);
    if (!text)
        return {};
    // The length must be asked for after the text: it is the length of that conversion.
    int length = sqlite3_column_bytes(m_statement.get(), index);
    return std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(length));
}

int CppSQLite3Query::ColumnInt(int index) const
{
    CheckIndex(index);
    if (m_atEnd)
        return 0;
    return sqlite3_column_int(m_statement.get(), index);
}

int CppSQLite3Query::ColumnType(int index) const
{
    CheckIndex(index);
    if (m_atEnd)
        return SQLITE_NULL;
    return sqlite3_column_type(m_statement.get(), index);
}

void CppSQLite3Query::Step()
{
    CheckStatement();
    if (m_atEnd)
        return;
    int result = sqlite3_step(m_statement.get());
    if (result == SQLITE_DONE) {
        m_atEnd = true;
        return;
    }
    if (result == SQLITE_ROW)
        return;
    int code = sqlite3_finalize(m_statement.release());
    m_atEnd = true;
    throw CppSQLite3Exception(code, sqlite3_errmsg(m_db));
}

void CppSQLite3Query::Finish()
{
    if (!m_statement)
        return;
    int code = sqlite3_finalize(m_statement.release());
    m_atEnd = true;
    if (code != SQLITE_OK)
        throw CppSQLite3Exception(code, sqlite3_errmsg(m_db));
}
