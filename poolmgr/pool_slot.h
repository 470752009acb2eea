// One position of a pool: the state of the thread that serves it and the
// objects that thread works with.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/sync.h"
#include "platform/types.h"

// Thread state of a slot. Bit values, compared by equality.
enum eThdState : std::uint32_t {
  eThdFree = 0,      // no live thread (never used, or reaped)
  eThdIdle = 1,      // finished a job, waits on its wake event
  eThdReserved = 2,  // chosen for a job, not yet running it
  eThdWorking = 4,   // running a job
  eThdEnded = 8,     // ended (normal end, kill, failed start); waits to be reaped
  eThdExpired = 16,  // idle expiry passed without a job; waits to be reaped
};

class QRPoolThread;

// The state is changed by the slot's thread and by the pool at the same time,
// so every transition that races is a compare-exchange; the other fields are
// handed between them through those transitions and the wake event.
struct CPoolSlot {
  explicit CPoolSlot(int index, eThdState state = eThdFree);
  ~CPoolSlot();  // deletes the thread object
  // A record owns a thread object and an OS thread's handle: never copied.
  CPoolSlot(const CPoolSlot&) = delete;
  CPoolSlot& operator=(const CPoolSlot&) = delete;

  // Moves a working, idle or reserved slot to eThdEnded; an ended or expired
  // slot keeps its state.
  void MarkEnded();

  std::atomic<eThdState> m_State;
  std::atomic<std::int64_t> m_JobStartTime{0};      // seconds since 1970
  std::atomic<std::int64_t> m_LastActivityTime{0};  // seconds since 1970
  std::unique_ptr<platform::Thread> m_Thread;
  std::atomic<platform::DWORD> m_ThreadId{0};  // 0 when no thread runs
  std::atomic<platform::DWORD> m_JobCount{0};
  // Manual reset. Set means "your parameters hold a job" (or "you are killed").
  std::unique_ptr<platform::Event> m_WakeEvent;
  platform::DWORD m_IdleExpiryMs = 0;
  int m_SlotIndex;
  std::unique_ptr<QRPoolThread> m_PoolThread;

  // Who frees the record once the pool has given up on a thread that is still
  // running: whichever of the two comes second (see QRPoolThread).
  enum Handover : int { kHeldByPool = 0, kThreadDone = 1, kLeftToThread = 2 };
  std::atomic<int> m_Handover{kHeldByPool};
};
