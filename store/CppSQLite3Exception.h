#pragma once

// The error raised by the SQLite access layer: an SQLite result code (or the layer's own code 1000)
// and a message "NAME[code]: text", where NAME is the code's name below.
//
// The message is allocated by SQLite's formatter and freed with it; copying an exception formats a
// new copy of the message. The message is never null: when memory for it cannot be had it reads as
// an empty text.

// The layer's own code, used for misuse that SQLite itself does not report.
constexpr int CPPSQLITE_ERROR = 1000;

class CppSQLite3Exception {
public:
    // Formats "NAME[errorCode]: errorText"; a null errorText counts as empty.
    CppSQLite3Exception(int errorCode, const char* errorText);
    CppSQLite3Exception(const CppSQLite3Exception& other);
    CppSQLite3Exception& operator=(const CppSQLite3Exception& other);
    virtual ~CppSQLite3Exception();

    int ErrorCode() const { return m_code; }
    const char* ErrorMessage() const { return m_message ? m_message : ""; }

    // "SQLITE_OK" to "SQLITE_RANGE" for 0 to 25, "SQLITE_ROW" and "SQLITE_DONE" for 100 and 101,
    // "CPPSQLITE_ERROR" for 1000 and "UNKNOWN_ERROR" for anything else.
    static const char* ErrorCodeAsString(int errorCode);

private:
    int m_code;
    char* m_message; // from sqlite3_mprintf; may be null only when that failed
};
