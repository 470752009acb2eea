#include "poolmgr/read_write_lock.h"

void CReadWriteLock::LockShared() {
  std::unique_lock<std::mutex> hold(m_Monitor);
  if (m_ActiveWriters > 0 || m_WaitingWriters > 0) {
    ++m_WaitingReaders;
    // Only a releasing writer lets waiting readers in, all of them at once.
    const std::uint64_t turn = m_ReaderTurn;
    m_ReaderCondition.wait(hold, [&] { return m_ReaderTurn != turn; });
    --m_WaitingReaders;
    --m_AdmittedReaders;
  }
  ++m_ActiveReaders;
}

void CReadWriteLock::UnlockShared() {
  std::lock_guard<std::mutex> hold(m_Monitor);
  --m_ActiveReaders;
  if (m_ActiveReaders == 0 && m_WaitingWriters > 0) m_WriterCondition.notify_one();
}

void CReadWriteLock::LockExclusive() {
  std::unique_lock<std::mutex> hold(m_Monitor);
  if (!WriterMayEnter()) {
    ++m_WaitingWriters;
    m_WriterCondition.wait(hold, [&] { return WriterMayEnter(); });
    --m_WaitingWriters;
  }
  ++m_ActiveWriters;
}

void CReadWriteLock::UnlockExclusive() {
  std::lock_guard<std::mutex> hold(m_Monitor);
  --m_ActiveWriters;
  if (m_WaitingReaders > 0) {
    // Every reader waiting now waited for a writer: it goes before the next one.
    m_AdmittedReaders = m_WaitingReaders;
    ++m_ReaderTurn;
    m_ReaderCondition.notify_all();
  } else if (m_WaitingWriters > 0) {
    m_WriterCondition.notify_one();
  }
}

int CReadWriteLock::WaitingReaders() {
  std::lock_guard<std::mutex> hold(m_Monitor);
  return m_WaitingReaders;
}

int CReadWriteLock::WaitingWriters() {
  std::lock_guard<std::mutex> hold(m_Monitor);
  return m_WaitingWriters;
}
