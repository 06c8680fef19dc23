#include "emulator/StoreBatch.h"

#include "store/GameStore.h"

#include <chrono>

namespace {

int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

CStoreBatch::CStoreBatch(CGameStore& store) : m_store(store) {}

CStoreBatch::~CStoreBatch()
{
    End();
}

void CStoreBatch::Begin()
{
    if (m_open)
        return;
    m_store.Submit(kStoreBeginTransaction, nullptr, false, true);
    m_open = true;
    m_rows = 0;
    m_openedMs = NowMs();
}

void CStoreBatch::Inserted()
{
    if (!m_open)
        return;
    if (++m_rows >= kMaxRows)
        End();
    else
        CommitIfDue();
}

void CStoreBatch::CommitIfDue()
{
    if (m_open && NowMs() - m_openedMs >= kMaxMs)
        End();
}

void CStoreBatch::End()
{
    if (!m_open)
        return;
    m_store.Submit(kStoreCommitTransaction, nullptr, false, true);
    m_open = false;
}
