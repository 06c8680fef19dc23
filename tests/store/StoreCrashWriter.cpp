// A helper for the crash-safety test: writes LocalGame rows through the game store synchronously,
// one after another, and prints each row's path on its own line once Submit has returned. The
// test kills it at a random moment and then checks that every printed row is in the file.
//
// Usage: store_crash_writer <database path> <path prefix>
#include "store/CppSQLite3Exception.h"
#include "store/GameStore.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <database path> <path prefix>\n", argv[0]);
        return 2;
    }
    try {
        CGameStore store(argv[1]);
        for (long i = 0;; ++i) {
            LocalGameRecord record;
            record.GameName = "crash test";
            record.FilePath = std::string(argv[2]) + std::to_string(i);
            record.Icon = std::string(static_cast<size_t>(i % 4000), 'x'); // rows of varying size spill pages
            if (!store.Submit(kStoreAddLocalGame, &record, false, false)) {
                std::fprintf(stderr, "write %ld failed\n", i);
                return 1;
            }
            std::printf("%s\n", record.FilePath.c_str());
            std::fflush(stdout);
        }
    } catch (const CppSQLite3Exception& e) {
        std::fprintf(stderr, "%s\n", e.ErrorMessage());
        return 1;
    }
}
