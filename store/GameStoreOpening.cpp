#include "store/GameStoreOpening.h"

#include "foundation/FileSystem.h"
#include "platform/Trace.h"
#include "store/CppSQLite3Exception.h"

#include <sqlite3.h>

#include <ctime>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

enum class Verdict { kSound, kDamaged, kUnwritable };

struct Check {
    Verdict verdict = Verdict::kSound;
    std::string reason;
};

bool IsDamageCode(int code)
{
    const int primary = code & 0xFF;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

Check FromException(const CppSQLite3Exception& e)
{
    return {IsDamageCode(e.ErrorCode()) ? Verdict::kDamaged : Verdict::kUnwritable, e.ErrorMessage()};
}

// Looks at the file on a connection of its own, closed before the store opens the file.
Check CheckFile(const std::string& path)
{
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (fs::exists(status) && !fs::is_regular_file(status))
        return {Verdict::kDamaged, "not a file"};
    try {
        CppSQLite3DB db;
        db.OpenUtf8(path);
        {
            CppSQLite3Query query = db.Query("PRAGMA quick_check(1);");
            const std::string answer = query.AtEnd() ? "" : query.ColumnString(0);
            if (answer != "ok")
                return {Verdict::kDamaged, "quick_check: " + answer};
        }
        // Creating the journal and taking the write lock are what a read-only file or folder and a
        // full disk refuse; the rollback leaves the file as it was.
        db.Execute("BEGIN IMMEDIATE; CREATE TABLE quokka_write_probe(x); ROLLBACK;");
    } catch (const CppSQLite3Exception& e) {
        return FromException(e);
    } catch (const std::exception& e) {
        return {Verdict::kUnwritable, e.what()};
    }
    return {};
}

// Renames the damaged file aside; the new name, or empty when it could not be renamed. Its journal
// was settled by the check's connection, which rolls back or discards a journal as it opens.
std::string MoveAside(const std::string& path)
{
    std::error_code ec;
    const std::string aside = BrokenFileName(path);
    fs::rename(path, aside, ec);
    if (ec) {
        platform::TraceF("game store: cannot move %s aside: %s", path.c_str(), ec.message().c_str());
        return {};
    }
    return aside;
}

StoreOpenResult Unwritable(std::string reason)
{
    StoreOpenResult result;
    result.outcome = StoreOpenOutcome::kUnwritable;
    result.reason = std::move(reason);
    return result;
}

} // namespace

StoreOpenResult OpenStoreForStartup(const std::string& databasePath)
{
    const fs::path folder = fs::path(databasePath).parent_path();
    std::error_code ec;
    if (!folder.empty() && !fs::is_directory(folder, ec)) {
        fs::create_directories(folder, ec);
        if (ec)
            return Unwritable("cannot make " + folder.string() + ": " + ec.message());
    }

    StoreOpenResult result;
    Check check = CheckFile(databasePath);
    if (check.verdict == Verdict::kUnwritable)
        return Unwritable(check.reason);
    if (check.verdict == Verdict::kDamaged) {
        result.asidePath = MoveAside(databasePath);
        if (result.asidePath.empty())
            return Unwritable("cannot move the damaged " + databasePath + " aside (" + check.reason + ")");
        platform::TraceF("game store: %s is damaged (%s); moved to %s", databasePath.c_str(),
                         check.reason.c_str(), result.asidePath.c_str());
        result.outcome = StoreOpenOutcome::kMovedAside;
        result.reason = check.reason;
    }
    try {
        result.store = std::make_unique<CGameStore>(databasePath);
    } catch (const CppSQLite3Exception& e) {
        return Unwritable(e.ErrorMessage());
    }
    return result;
}
