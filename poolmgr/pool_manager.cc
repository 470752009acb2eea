#include "poolmgr/pool_manager.h"

#include <climits>
#include <ctime>
#include <new>

#include "base/trace_bits.h"
#include "platform/trace.h"
#include "poolmgr/pool_results.h"

using platform::DWORD;
namespace results = poolmgr;

QRPoolManager::QRPoolManager(QRPoolThreadFactory* factory, DWORD deadbeatSeconds,
                             DWORD idleExpiryMs, DWORD lowWater)
    : m_DeadbeatSeconds(deadbeatSeconds),
      m_IdleExpiryMs(idleExpiryMs),
      m_LowWater(lowWater),
      m_JobsSinceNotify(lowWater + 1),
      m_Factory(factory) {}

QRPoolManager::~QRPoolManager() { ClosePoolEasy(); }

// --- opening, closing, depth -------------------------------------------------------

int QRPoolManager::OpenPool(int depth, int) {
  if (m_Open.load()) return results::kPoolAlreadyOpen;
  if (m_Factory == nullptr) return results::kPoolNoFactory;
  m_PoolMutex = platform::Mutex::Create();
  m_Depth = depth < 0 ? 0 : depth;
  m_Slots.assign(static_cast<std::size_t>(m_Depth), nullptr);
  m_Open.store(true);
  return results::kPoolOk;
}

int QRPoolManager::ClosePoolEasy() {
  if (!m_Open.load()) return results::kPoolOk;
  if (m_CleanerThread || m_CleanerStopEvent) {
    if (KillPoolCleaner() != results::kPoolOk && m_CleanerThread) {
      // The cleaner works on the slots that are about to be freed.
      platform::WaitForSingleObject(*m_CleanerThread, platform::kInfinite);
      KillPoolCleaner();
    }
  }
  DestroyPoolSlots();
  m_NotifyEvent.reset();
  m_PoolMutex.reset();
  m_Open.store(false);
  m_Depth = 0;
  return results::kPoolOk;
}

void QRPoolManager::GrowTable() { m_Slots.resize(static_cast<std::size_t>(m_Depth), nullptr); }

int QRPoolManager::IncreaseDepthTo(int depth) {
  if (!m_Open.load() || m_Factory == nullptr) return results::kPoolNotOpen;
  if (!AccessResource(kPoolMutexWaitMs)) return results::kPoolMutexTimeout;
  int result = results::kPoolOk;
  if (depth <= m_Depth) {
    result = results::kPoolDepthNotGreater;
  } else {
    int previous = m_Depth;
    m_Depth = depth;
    try {
      GrowTable();
    } catch (const std::bad_alloc&) {
      m_Depth = previous;
      result = results::kPoolSlotAllocationFailed;
    }
  }
  ReleaseResource();
  return result;
}

int QRPoolManager::IncreaseDepthBy(int count) {
  if (!m_Open.load() || m_Factory == nullptr) return results::kPoolNotOpen;
  if (!AccessResource(kPoolMutexWaitMs)) return results::kPoolMutexTimeout;
  int result = results::kPoolNotOpen;
  // A depth that would pass INT_MAX is refused like a count that is not positive.
  if (count > 0 && count <= INT_MAX - m_Depth) {
    result = results::kPoolOk;
    m_Depth += count;
    try {
      GrowTable();
    } catch (const std::bad_alloc&) {
      m_Depth -= count;
      result = results::kPoolSlotAllocationFailed;
    }
  }
  ReleaseResource();
  return result;
}

// --- slots ---------------------------------------------------------------------------

bool QRPoolManager::AccessResource(DWORD milliseconds) {
  if (!m_PoolMutex) return false;
  return m_PoolMutex->Acquire(milliseconds);
}

void QRPoolManager::ReleaseResource() {
  // Only ever after AccessResource took it, so the mutex exists.
  m_PoolMutex->Release();
}

int QRPoolManager::FindOpenSlot(CPoolSlot*& slot, int& index, eThdState& previousState) {
  if (!AccessResource(kPoolMutexWaitMs)) return results::kPoolMutexTimeout;
  std::unique_ptr<QRPoolThread> reaped;
  int result = results::kPoolFull;
  int scanned = 0;
  // Lowest index first, so that low slots are reused before new threads start.
  for (std::size_t i = 0; i < m_Slots.size(); ++i) {
    ++scanned;
    CPoolSlot* candidate = m_Slots[i];
    if (candidate == nullptr) {
      if (InsertNewSlot(candidate, static_cast<int>(i)) != results::kPoolOk) continue;
      previousState = eThdFree;
    } else {
      eThdState state = candidate->m_State.load();
      // A thread that has ended or expired gives its slot up at once: left
      // to the cleaner, the slot would count as taken for up to a whole
      // interval, and a pool that was busy once would refuse every job.
      if ((state == eThdEnded || state == eThdExpired) && ReapSlot(candidate, state, reaped)) state = eThdFree;
      if (state != eThdFree && state != eThdIdle) continue;
      // An idle thread may expire at this very moment; whoever changes the
      // state first wins.
      if (!candidate->m_State.compare_exchange_strong(state, eThdReserved)) continue;
      previousState = state;
    }
    slot = candidate;
    index = static_cast<int>(i);
    result = results::kPoolOk;
    break;
  }
  if (result != results::kPoolOk) {
    result = m_Depth > scanned ? results::kPoolNoSlotFound : results::kPoolFull;
  }
  ReleaseResource();
  return result;
}

bool QRPoolManager::ReapSlot(CPoolSlot* slot, eThdState state, std::unique_ptr<QRPoolThread>& reaped) {
  // A thread that marked its end may still be leaving Run: its object is
  // freed only once it is gone.
  if (slot->m_Thread && !slot->m_Thread->Finished()) return false;
  reaped = std::move(slot->m_PoolThread);
  slot->m_Thread.reset();
  slot->m_WakeEvent.reset();
  slot->m_ThreadId.store(0);
  slot->m_Handover.store(CPoolSlot::kHeldByPool);
  slot->m_JobStartTime.store(0);
  slot->m_LastActivityTime.store(0);
  slot->m_JobCount.store(0);
  slot->m_IdleExpiryMs = 0;
  slot->m_SlotIndex = 0;
  (state == eThdExpired ? m_ReapedExpiredCount : m_ReapedEndedCount).fetch_add(1);
  slot->m_State.store(eThdFree);
  return true;
}

int QRPoolManager::InsertNewSlot(CPoolSlot*& slot, int index) {
  if (index < 0 || index >= m_Depth || index >= static_cast<int>(m_Slots.size())) {
    return results::kPoolFull;
  }
  CPoolSlot* record = new (std::nothrow) CPoolSlot(index, eThdReserved);
  if (record == nullptr) return results::kPoolSlotAllocationFailed;
  m_Slots[static_cast<std::size_t>(index)] = record;
  slot = record;
  return results::kPoolOk;
}

int QRPoolManager::AppendNewSlot(CPoolSlot*& slot, int& index) {
  slot = nullptr;
  index = -1;
  return results::kPoolSlotAllocationFailed;
}

void QRPoolManager::ReleaseSlot(CPoolSlot* slot) {
  if (slot->m_Thread && !slot->m_Thread->Finished()) {
    // The thread still runs (it did not stop in time). It must leave Run at
    // its next Recycle, and it frees the record when it is gone, unless it
    // is gone already.
    slot->MarkEnded();
    if (slot->m_WakeEvent) slot->m_WakeEvent->Set();
    if (slot->m_Handover.exchange(CPoolSlot::kLeftToThread) != CPoolSlot::kThreadDone) return;
  }
  delete slot;
}

void QRPoolManager::DestroyPoolSlots() {
  if (!AccessResource(kPoolMutexWaitMs)) return;
  for (CPoolSlot*& slot : m_Slots) {
    if (slot == nullptr) continue;
    if (slot->m_PoolThread) {
      // A thread handed a job may be starting on it this very moment: it is
      // either kept from starting (its job then never runs) or stopped as a
      // working thread, never ended beneath a job it has begun.
      eThdState state = slot->m_State.load();
      if (state == eThdReserved) slot->m_State.compare_exchange_strong(state, eThdEnded);
      if (state == eThdWorking) {
        slot->m_PoolThread->StopWorkingNow();
      } else {
        slot->m_PoolThread->Kill();
      }
    }
    ReleaseSlot(slot);
    slot = nullptr;
  }
  m_Slots.clear();
  m_Slots.shrink_to_fit();
  ReleaseResource();
}

// --- jobs ----------------------------------------------------------------------------

int QRPoolManager::IssueThread(const QRThreadParams* params, int) {
  if (!m_Open.load() || m_Factory == nullptr) return results::kPoolNotOpen;
  // Held to the end, so that closing the pool never frees a slot being started.
  if (!AccessResource(kPoolMutexWaitMs)) return results::kPoolMutexTimeout;
  CPoolSlot* slot = nullptr;
  int index = -1;
  eThdState previous = eThdFree;
  int result = FindOpenSlot(slot, index, previous);
  if (result == results::kPoolOk && !slot->m_PoolThread) {
    QRPoolThread* thread = nullptr;
    try {
      thread = m_Factory->CreatePoolThread();
    } catch (...) {
      thread = nullptr;
    }
    if (thread == nullptr) {
      slot->m_State.store(previous);
      result = results::kPoolNoThreadObject;
    } else {
      slot->m_PoolThread.reset(thread);
    }
  }
  if (result == results::kPoolOk) {
    slot->m_IdleExpiryMs = m_IdleExpiryMs;
    slot->m_SlotIndex = index;
    try {
      result = slot->m_PoolThread->Start(slot, params);
    } catch (...) {
      // The parameters could not be copied: the slot's thread (if any) ends
      // and the cleaner reaps it.
      slot->m_State.store(eThdEnded);
      if (slot->m_WakeEvent) slot->m_WakeEvent->Set();
      result = results::kPoolThreadStartFailed;
    }
  }
  if (result == results::kPoolOk && m_JobsSinceNotify <= m_LowWater) {
    ++m_JobsSinceNotify;
    if (m_JobsSinceNotify > m_LowWater && m_NotifyEvent) m_NotifyEvent->Reset();
  }
  ReleaseResource();
  return result;
}

// --- statistics ------------------------------------------------------------------------

int QRPoolManager::GatherSummaryStats(int& slots, int& idle, int& reserved, int& working,
                                      int& ended, int& expired, float& averageJobs) {
  slots = idle = reserved = working = ended = expired = 0;
  averageJobs = 0.0f;
  if (!m_Open.load() || m_Factory == nullptr) return results::kPoolNotOpen;
  // The table may grow meanwhile, so even reading it takes the mutex.
  if (!AccessResource(kPoolMutexWaitMs)) return results::kPoolMutexTimeout;
  slots = static_cast<int>(m_Slots.size());
  std::uint64_t jobs = 0;
  int live = 0;
  for (const CPoolSlot* slot : m_Slots) {
    if (slot == nullptr) continue;
    switch (slot->m_State.load()) {
      case eThdFree: continue;
      case eThdIdle: ++idle; break;
      case eThdReserved: ++reserved; break;
      case eThdWorking: ++working; break;
      case eThdEnded: ++ended; break;
      case eThdExpired: ++expired; break;
    }
    jobs += slot->m_JobCount.load();
    ++live;
  }
  ReleaseResource();
  if (jobs > 0 && live > 0) averageJobs = static_cast<float>(jobs) / static_cast<float>(live);
  return results::kPoolOk;
}

int QRPoolManager::GatherCleanerStats(int& reapedEnded, int& reapedExpired, int& deadbeats) {
  reapedEnded = reapedExpired = deadbeats = 0;
  if (!m_Open.load() || m_Factory == nullptr) return results::kPoolNotOpen;
  if (!CleanerActive()) return results::kPoolCleanerNotRunning;
  reapedEnded = static_cast<int>(m_ReapedEndedCount.load());
  reapedExpired = static_cast<int>(m_ReapedExpiredCount.load());
  deadbeats = static_cast<int>(m_DeadbeatCount.load());
  return results::kPoolOk;
}

// --- cleaner --------------------------------------------------------------------------

bool QRPoolManager::CleanerActive() const {
  int state = m_CleanerState.load();
  return state == kCleanerStarting || state == kCleanerRunning;
}

int QRPoolManager::StartPoolCleaner(DWORD intervalMs) {
  if (!m_Open.load() || m_Factory == nullptr) return results::kPoolNotOpen;
  if (intervalMs == 0) return results::kPoolCleanerIntervalZero;
  if (CleanerActive()) return results::kPoolCleanerRunning;
  m_CleanerIntervalMs = intervalMs;
  return LaunchPoolCleaner();
}

int QRPoolManager::StopPoolCleaner() {
  if (!m_Open.load() || m_Factory == nullptr) return results::kPoolNotOpen;
  if (!CleanerActive()) return results::kPoolCleanerNotRunning;
  return KillPoolCleaner();
}

int QRPoolManager::LaunchPoolCleaner() {
  if (CleanerActive()) return results::kPoolCleanerRunning;
  // A cleaner that once failed to stop in time may have ended since.
  if (m_CleanerState.load() == kCleanerStopping && m_CleanerThread && m_CleanerThread->Finished()) {
    KillPoolCleaner();
  }
  if (m_CleanerState.load() != kCleanerNone || m_CleanerStopEvent) {
    return results::kPoolCleanerNotRunning;
  }
  m_CleanerStopEvent = platform::Event::Create(true, false);
  m_CleanerState.store(kCleanerStarting);
  m_CleanerThread =
      platform::Thread::Start([this] { return ThreadKicker(this); }, QRPoolThread::kStackBytes);
  if (!m_CleanerThread) {
    m_CleanerState.store(kCleanerNone);
    m_CleanerStopEvent.reset();
    return results::kPoolCleanerNotRunning;
  }
  m_CleanerThreadId = m_CleanerThread->Id();
  return results::kPoolOk;
}

int QRPoolManager::KillPoolCleaner() {
  m_CleanerState.store(kCleanerStopping);
  if (m_CleanerStopEvent) m_CleanerStopEvent->Set();
  bool ended = !m_CleanerThread ||
               platform::WaitForSingleObject(*m_CleanerThread, kCleanerStopWaitMs) ==
                   platform::kWaitObject0;
  if (!ended) {
    // Its stop event and handle stay with it (it still uses them), and the
    // state stays "stopping" so that no second cleaner starts beside it.
    trace(trace_bits::kThreads, "PoolMgr: cleaner thread 0x%X did not stop within %u ms\n", m_CleanerThreadId,
          kCleanerStopWaitMs);
    return results::kPoolCleanerNotRunning;
  }
  if (AccessResource(kPoolMutexWaitMs)) {
    m_NotifyEvent.reset();
    ReleaseResource();
  }
  m_CleanerThread.reset();
  m_CleanerStopEvent.reset();
  m_CleanerThreadId = 0;
  m_CleanerState.store(kCleanerNone);
  return results::kPoolOk;
}

DWORD QRPoolManager::ThreadKicker(void* self) {
  static_cast<QRPoolManager*>(self)->PoolCleanerThread();
  return 0;
}

void QRPoolManager::PoolCleanerThread() {
  std::unique_ptr<platform::Event> notify =
      platform::Event::CreateNamed(kNotifyEventName, true, false);
  if (AccessResource(kPoolMutexWaitMs)) {
    m_NotifyEvent = std::move(notify);
    ReleaseResource();
  }
  int expected = kCleanerStarting;
  m_CleanerState.compare_exchange_strong(expected, kCleanerRunning);
  for (;;) {
    if (platform::WaitForSingleObject(*m_CleanerStopEvent, m_CleanerIntervalMs) !=
        platform::kWaitTimeout) {
      break;
    }
    ScanForDeadbeats();
    m_CleanerStopEvent->Reset();
    if (m_CleanerState.load() == kCleanerStopping) break;
  }
}

void QRPoolManager::ScanForDeadbeats() {
  if (!AccessResource(kPoolMutexWaitMs)) return;
  std::vector<std::unique_ptr<QRPoolThread>> reaped;
  const std::int64_t now = std::time(nullptr);
  DWORD busy = 0;
  for (std::size_t i = m_Slots.size(); i-- > 0;) {
    CPoolSlot* slot = m_Slots[i];
    if (slot == nullptr) continue;
    eThdState state = slot->m_State.load();
    if (state == eThdWorking) {
      std::int64_t elapsed = now - slot->m_LastActivityTime.load();
      // A stuck thread is only counted, never stopped.
      if (elapsed > 0 && static_cast<std::uint64_t>(elapsed) > m_DeadbeatSeconds) {
        m_DeadbeatCount.fetch_add(1);
      } else {
        ++busy;
      }
    } else if (state == eThdEnded || state == eThdExpired) {
      std::unique_ptr<QRPoolThread> thread;
      if (ReapSlot(slot, state, thread)) reaped.push_back(std::move(thread));
    }
  }
  if (busy < m_LowWater && m_NotifyEvent) {
    m_NotifyEvent->Set();
    m_JobsSinceNotify = 0;
  }
  ReleaseResource();
  // The reaped thread objects are deleted here, outside the mutex.
}
