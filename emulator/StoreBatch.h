#pragma once

#include <cstdint>

class CGameStore;

// Frames a stream of inserts into the game store in short transactions: one opens before the first
// insert and commits once it holds kMaxRows inserts or has been open kMaxMs, whichever comes first.
// The store's one connection carries every writer's requests (download progress, a finished game's
// rows, renames), and whatever reaches it while a transaction is open belongs to that transaction; a
// short one keeps them from waiting on a long scan, and a process killed mid-scan loses at most one
// frame's rows instead of the whole pass with everyone else's writes.
//
// Owned by one thread; the requests are asynchronous, queued behind what that thread submitted
// before. The destructor commits what is open.
class CStoreBatch {
public:
    static constexpr int kMaxRows = 256;
    static constexpr int64_t kMaxMs = 100;

    explicit CStoreBatch(CGameStore& store);
    CStoreBatch(const CStoreBatch&) = delete;
    CStoreBatch& operator=(const CStoreBatch&) = delete;
    ~CStoreBatch();

    // Opens a transaction unless one is open. Call before submitting an insert.
    void Begin();
    // Counts an insert submitted since Begin and commits when the frame is full or old enough.
    void Inserted();
    // Commits when the open frame is old enough; cheap enough to call between every entry of a walk,
    // so a frame is not held open by a long stretch of files that add nothing.
    void CommitIfDue();
    // Commits the open frame, if any.
    void End();

private:
    CGameStore& m_store;
    bool m_open = false;
    int m_rows = 0;
    int64_t m_openedMs = 0;
};
