// CReadWriteLock: any number of readers or one writer. A waiting writer goes
// before readers that arrive after it, so a steady stream of readers cannot
// keep the writer out; a releasing writer lets in every reader that waited
// for it before the next writer, so writers cannot starve readers either.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

class CReadWriteLock {
 public:
  CReadWriteLock() = default;
  CReadWriteLock(const CReadWriteLock&) = delete;
  CReadWriteLock& operator=(const CReadWriteLock&) = delete;

  void LockShared();
  void UnlockShared();
  void LockExclusive();
  void UnlockExclusive();

  // Threads waiting right now, for diagnostics and tests.
  int WaitingReaders();
  int WaitingWriters();

 private:
  bool WriterMayEnter() const { return m_ActiveReaders == 0 && m_ActiveWriters == 0 && m_AdmittedReaders == 0; }

  std::mutex m_Monitor;
  std::condition_variable m_ReaderCondition;
  std::condition_variable m_WriterCondition;
  int m_ActiveReaders = 0;
  int m_ActiveWriters = 0;
  int m_WaitingReaders = 0;
  int m_WaitingWriters = 0;
  // Readers a releasing writer let in that have not entered yet: no writer
  // may slip in before them.
  int m_AdmittedReaders = 0;
  // Advances each time a writer hands over to the waiting readers.
  std::uint64_t m_ReaderTurn = 0;
};

// Holds the lock shared for a scope.
class CSharedLock {
 public:
  explicit CSharedLock(CReadWriteLock& lock) : m_Lock(lock) { m_Lock.LockShared(); }
  ~CSharedLock() { m_Lock.UnlockShared(); }
  CSharedLock(const CSharedLock&) = delete;
  CSharedLock& operator=(const CSharedLock&) = delete;

 private:
  CReadWriteLock& m_Lock;
};

// Holds the lock exclusively for a scope.
class CExclusiveLock {
 public:
  explicit CExclusiveLock(CReadWriteLock& lock) : m_Lock(lock) { m_Lock.LockExclusive(); }
  ~CExclusiveLock() { m_Lock.UnlockExclusive(); }
  CExclusiveLock(const CExclusiveLock&) = delete;
  CExclusiveLock& operator=(const CExclusiveLock&) = delete;

 private:
  CReadWriteLock& m_Lock;
};
