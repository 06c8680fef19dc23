#pragma once

#include "store/GameStore.h"

#include <memory>
#include <string>

// How opening the program's database at start-up went.
enum class StoreOpenOutcome {
    kOpened,     // the file was sound (or missing, and made now)
    kMovedAside, // the file was damaged: it was renamed aside, kept, and an empty store made in its place
    kUnwritable, // the database's folder or file cannot be written: no store
};

struct StoreOpenResult {
    StoreOpenOutcome outcome = StoreOpenOutcome::kOpened;
    std::unique_ptr<CGameStore> store; // null only for kUnwritable
    std::string asidePath;             // kMovedAside: where the damaged file now is
    std::string reason;                // kMovedAside, kUnwritable: what SQLite or the file system said
};

// Opens the store at `databasePath` for a start of the program, which must not end on a damaged
// file. Before the store is made, the file is checked on a connection of its own: SQLite's
// quick_check must answer "ok" (a damaged page would otherwise be used without notice), and a
// write inside a transaction that is rolled back must succeed (a read-only file or folder, or a
// full disk, would otherwise fail every later write).
//
// A file that SQLite calls damaged or not a database, a quick_check that finds faults, and anything
// that is not a file where the database belongs (a folder, say) are renamed to
// "<databasePath>.broken-<local time YYYYMMDD-HHMMSS>" (a counter is added when that name is taken),
// so their rows can still be recovered by hand; a fresh store is then made. Every other failure (the folder
// cannot be made or written, the file cannot be opened for writing, the disk is full) is kUnwritable and
// nothing is renamed.
StoreOpenResult OpenStoreForStartup(const std::string& databasePath);
