#include "store/CppSQLite3DB.h"

#include "foundation/StringConv.h"
#include "store/CppSQLite3Exception.h"

#include <climits>
#include <mutex>
#include <sqlite3.h>

namespace {

struct SqliteFree {
    void operator()(char* text) const { sqlite3_free(text); }
};

// The connection may move between threads over its life (built on one, used on the store's
// worker), so SQLite is asked for its serialized mode once, before the first connection exists.
// When the library is already initialised the request is refused, which changes nothing.
void ConfigureLibraryOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { sqlite3_config(SQLITE_CONFIG_SERIALIZED); });
}

} // namespace

void CppSQLite3DB::ConnectionCloser::operator()(sqlite3* db) const
{
    // Deferred close: statements still alive finish the job when they are finalised.
    sqlite3_close_v2(db);
}

CppSQLite3DB::CppSQLite3DB(int busyTimeoutMs) : m_busyTimeoutMs(busyTimeoutMs) {}

CppSQLite3DB::~CppSQLite3DB() = default;

void CppSQLite3DB::Open(const char* ansiPath)
{
    OpenUtf8(AnsiToUtf8(ansiPath ? ansiPath : ""));
}

void CppSQLite3DB::OpenUtf8(const std::string& utf8Path)
{
    ConfigureLibraryOnce();
    m_db.reset();
    sqlite3* raw = nullptr;
    int result = sqlite3_open(utf8Path.c_str(), &raw);
    std::unique_ptr<sqlite3, ConnectionCloser> db(raw);
    if (result != SQLITE_OK)
        throw CppSQLite3Exception(result, db ? sqlite3_errmsg(db.get()) : "");
    sqlite3_busy_timeout(db.get(), m_busyTimeoutMs);
    m_db = std::move(db);
}

void CppSQLite3DB::Close()
{
    if (!m_db)
        return;
    if (sqlite3_close(m_db.get()) != SQLITE_OK)
        throw CppSQLite3Exception(CPPSQLITE_ERROR, "Unable to close database");
    (void)m_db.release();
}

void CppSQLite3DB::CheckOpen() const
{
    if (!m_db)
        throw CppSQLite3Exception(CPPSQLITE_ERROR, "Database not open");
}

int CppSQLite3DB::Execute(const char* sql)
{
    CheckOpen();
    char* rawError = nullptr;
    int result = sqlite3_exec(m_db.get(), sql, nullptr, nullptr, &rawError);
    std::unique_ptr<char, SqliteFree> error(rawError);
    if (result != SQLITE_OK)
        throw CppSQLite3Exception(result, error.get());
    return sqlite3_changes(m_db.get());
}

int CppSQLite3DB::Execute(const char* sql, const std::vector<std::string_view>& values)
{
    CppSQLite3Query::StatementPtr statement = Prepare(sql, values);
    int result;
    while ((result = sqlite3_step(statement.get())) == SQLITE_ROW) {
    }
    if (result != SQLITE_DONE) {
        int code = sqlite3_finalize(statement.release());
        throw CppSQLite3Exception(code, sqlite3_errmsg(m_db.get()));
    }
    return sqlite3_changes(m_db.get());
}

CppSQLite3Query::StatementPtr CppSQLite3DB::Prepare(const char* sql,
                                                    const std::vector<std::string_view>& values)
{
    CheckOpen();
    sqlite3_stmt* raw = nullptr;
    int result = sqlite3_prepare_v2(m_db.get(), sql ? sql : "", -1, &raw, nullptr);
    CppSQLite3Query::StatementPtr statement(raw);
    if (result != SQLITE_OK)
        throw CppSQLite3Exception(result, sqlite3_errmsg(m_db.get()));
    if (!statement) // only white space or a comment
        throw CppSQLite3Exception(CPPSQLITE_ERROR, "Empty statement");
    for (size_t i = 0; i < values.size(); ++i) {
        std::string_view value = values[i];
        if (value.size() > static_cast<size_t>(INT_MAX))
            throw CppSQLite3Exception(SQLITE_TOOBIG, "Value too large to bind");
        // An empty view may have no data pointer; SQLite takes a null pointer for NULL, so an
        // empty value is bound from "" to stay an empty text.
        const char* data = value.empty() ? "" : value.data();
        result = sqlite3_bind_text(statement.get(), static_cast<int>(i + 1), data,
                                   static_cast<int>(value.size()), SQLITE_TRANSIENT);
        if (result != SQLITE_OK)
            throw CppSQLite3Exception(result, sqlite3_errmsg(m_db.get()));
    }
    return statement;
}

CppSQLite3Query CppSQLite3DB::Query(const char* sql, const std::vector<std::string_view>& values)
{
    CppSQLite3Query::StatementPtr statement = Prepare(sql, values);
    int result = sqlite3_step(statement.get());
    if (result != SQLITE_DONE && result != SQLITE_ROW) {
        int code = sqlite3_finalize(statement.release());
        throw CppSQLite3Exception(code, sqlite3_errmsg(m_db.get()));
    }
    return CppSQLite3Query(m_db.get(), std::move(statement), result == SQLITE_DONE);
}

int CppSQLite3DB::QueryInt(const char* sql, const std::vector<std::string_view>& values)
{
    CppSQLite3Query query = Query(sql, values);
    if (query.AtEnd() || query.ColumnCount() < 1)
        throw CppSQLite3Exception(CPPSQLITE_ERROR, "Invalid scalar query");
    if (query.ColumnType(0) == SQLITE_NULL)
        return 0;
    return query.ColumnInt(0);
}
