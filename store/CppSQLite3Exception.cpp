#include "store/CppSQLite3Exception.h"

#include <iterator>
#include <sqlite3.h>

namespace {

// Indexed by result code 0..25; the names match the SQLite result code macros.
constexpr const char* kPrimaryCodeNames[] = {
    "SQLITE_OK",       "SQLITE_ERROR",   "SQLITE_INTERNAL", "SQLITE_PERM",     "SQLITE_ABORT",
    "SQLITE_BUSY",     "SQLITE_LOCKED",  "SQLITE_NOMEM",    "SQLITE_READONLY", "SQLITE_INTERRUPT",
    "SQLITE_IOERR",    "SQLITE_CORRUPT", "SQLITE_NOTFOUND", "SQLITE_FULL",     "SQLITE_CANTOPEN",
    "SQLITE_PROTOCOL", "SQLITE_EMPTY",   "SQLITE_SCHEMA",   "SQLITE_TOOBIG",   "SQLITE_CONSTRAINT",
    "SQLITE_MISMATCH", "SQLITE_MISUSE",  "SQLITE_NOLFS",    "SQLITE_AUTH",     "SQLITE_FORMAT",
    "SQLITE_RANGE",
};

char* FormatMessage(int code, const char* text)
{
    return sqlite3_mprintf("%s[%d]: %s", CppSQLite3Exception::ErrorCodeAsString(code), code,
                           text ? text : "");
}

} // namespace

CppSQLite3Exception::CppSQLite3Exception(int errorCode, const char* errorText)
    : m_code(errorCode), m_message(FormatMessage(errorCode, errorText))
{
}

CppSQLite3Exception::CppSQLite3Exception(const CppSQLite3Exception& other)
    : m_code(other.m_code), m_message(sqlite3_mprintf("%s", other.ErrorMessage()))
{
}

CppSQLite3Exception& CppSQLite3Exception::operator=(const CppSQLite3Exception& other)
{
    if (this == &other)
        return *this;
    char* copy = sqlite3_mprintf("%s", other.ErrorMessage());
    sqlite3_free(m_message);
    m_message = copy;
    m_code = other.m_code;
    return *this;
}

CppSQLite3Exception::~CppSQLite3Exception()
{
    sqlite3_free(m_message);
}

const char* CppSQLite3Exception::ErrorCodeAsString(int errorCode)
{
    if (errorCode >= 0 && errorCode < static_cast<int>(std::size(kPrimaryCodeNames)))
        return kPrimaryCodeNames[errorCode];
    switch (errorCode) {
    case SQLITE_ROW:
        return "SQLITE_ROW";
    case SQLITE_DONE:
        return "SQLITE_DONE";
    case CPPSQLITE_ERROR:
        return "CPPSQLITE_ERROR";
    default:
        return "UNKNOWN_ERROR";
    }
}
