#include "poolmgr/pool_thread.h"

#include <ctime>
#include <exception>

#include "base/trace_bits.h"
#include "platform/trace.h"
#include "poolmgr/pool_results.h"

using platform::DWORD;

namespace {

void StampJobStart(CPoolSlot* slot) {
  std::int64_t now = std::time(nullptr);
  slot->m_JobStartTime.store(now);
  slot->m_LastActivityTime.store(now);
  slot->m_JobCount.fetch_add(1);
}

}  // namespace

QRPoolThread::~QRPoolThread() = default;
QRPoolThreadFactory::~QRPoolThreadFactory() = default;

void QRPoolThread::Run() { (void)Recycle(eThdEnded); }

bool QRPoolThread::OnOwnThread() const {
  return m_Slot != nullptr && m_Slot->m_ThreadId.load() == platform::GetCurrentThreadId();
}

int QRPoolThread::Start(CPoolSlot* slot, const QRThreadParams* params) {
  if (m_Slot == nullptr) m_Slot = slot;
  if (slot->m_State.load() != eThdReserved) return poolmgr::kPoolThreadStartFailed;
  if (m_Params != nullptr && params != nullptr) m_Params->Assign(*params);
  if (slot->m_WakeEvent) {
    // An idle thread waits for exactly this.
    slot->m_WakeEvent->Set();
    return poolmgr::kPoolOk;
  }
  slot->m_WakeEvent = platform::Event::Create(true, false);
  std::unique_ptr<platform::Thread> thread =
      platform::Thread::Start([this] { return ThreadKicker(this); }, kStackBytes);
  if (!thread) {
    slot->m_WakeEvent.reset();
    slot->m_ThreadId.store(0);
    slot->m_State.store(eThdEnded);
    return poolmgr::kPoolThreadStartFailed;
  }
  slot->m_ThreadId.store(thread->Id());
  slot->m_Thread = std::move(thread);
  // The new thread waits for this: from here on its slot is complete.
  slot->m_WakeEvent->Set();
  return poolmgr::kPoolOk;
}

DWORD QRPoolThread::ThreadKicker(void* self) {
  // A pool thread is woken by whoever hands it a job; letting that thread
  // go on (a listener has the next connection to accept) saves a context
  // switch per job under load.
  platform::ScheduleCurrentThreadForThroughput();
  auto* thread = static_cast<QRPoolThread*>(self);
  CPoolSlot* slot = thread->m_Slot;
  platform::WaitForSingleObject(*slot->m_WakeEvent, platform::kInfinite);
  slot->m_WakeEvent->Reset();
  eThdState expected = eThdReserved;
  if (slot->m_State.compare_exchange_strong(expected, eThdWorking)) {
    StampJobStart(slot);
    try {
      thread->Run();
    } catch (const std::exception& error) {
      trace(trace_bits::kThreads, "PoolMgr: thread 0x%X: job ended by an exception: %s\n",
            slot->m_ThreadId.load(), error.what());
    } catch (...) {
      trace(trace_bits::kThreads, "PoolMgr: thread 0x%X: job ended by an unknown exception\n",
            slot->m_ThreadId.load());
    }
  }
  // A Run that returned without ending itself leaves its slot to the cleaner.
  slot->MarkEnded();
  slot->m_ThreadId.store(0);
  // The last touch of the slot: if the pool has given up on this thread, the
  // record (and this thread object with it) is ours to free.
  if (slot->m_Handover.exchange(CPoolSlot::kThreadDone) == CPoolSlot::kLeftToThread) delete slot;
  return 0;
}

bool QRPoolThread::WaitForNextJob() {
  CPoolSlot* slot = m_Slot;
  // Read while the slot is still ours: once idle, the pool may hand it a new
  // job (and a new expiry) at any moment.
  DWORD limit = slot->m_IdleExpiryMs;
  eThdState expected = eThdWorking;
  if (!slot->m_State.compare_exchange_strong(expected, eThdIdle)) {
    // Killed while working.
    slot->MarkEnded();
    return false;
  }
  for (;;) {
    DWORD result = platform::WaitForSingleObject(*slot->m_WakeEvent, limit);
    if (result == platform::kWaitTimeout) {
      expected = eThdIdle;
      if (slot->m_State.compare_exchange_strong(expected, eThdExpired)) return false;
      if (expected != eThdReserved) {
        slot->MarkEnded();
        return false;
      }
      // The pool reserved this thread for a job just now: the wake-up that
      // carries the job is on the way.
      limit = platform::kInfinite;
      continue;
    }
    if (result != platform::kWaitObject0) {
      slot->MarkEnded();
      return false;
    }
    slot->m_WakeEvent->Reset();
    expected = eThdReserved;
    if (slot->m_State.compare_exchange_strong(expected, eThdWorking)) {
      StampJobStart(slot);
      return true;
    }
    if (expected != eThdIdle) {
      // Killed.
      slot->MarkEnded();
      return false;
    }
    // Woken without a job: keep waiting.
  }
}

bool QRPoolThread::Recycle(eThdState state) {
  if (m_Slot == nullptr) return false;
  if (!OnOwnThread()) {
    // Only a working or idle slot is marked; a reserved one carries a job.
    if (state == eThdEnded) {
      eThdState current = m_Slot->m_State.load();
      while ((current == eThdWorking || current == eThdIdle) &&
             !m_Slot->m_State.compare_exchange_weak(current, eThdEnded)) {
      }
    }
    return false;
  }
  switch (state) {
    case eThdIdle:
      return WaitForNextJob();
    case eThdEnded:
      m_Slot->MarkEnded();
      return false;
    default:
      return true;
  }
}

int QRPoolThread::Kill() {
  CPoolSlot* slot = m_Slot;
  if (slot == nullptr || !slot->m_Thread || slot->m_ThreadId.load() == 0) return 0;
  slot->MarkEnded();
  if (OnOwnThread()) return 0;
  if (slot->m_WakeEvent) slot->m_WakeEvent->Set();
  platform::WaitForSingleObject(*slot->m_Thread, kKillWaitMs);
  return 0;
}

int QRPoolThread::StopWorkingNow() {
  CPoolSlot* slot = m_Slot;
  if (slot == nullptr || !slot->m_Thread || slot->m_ThreadId.load() == 0 || OnOwnThread()) return 0;
  if (platform::WaitForSingleObject(*slot->m_Thread, m_StopWaitMs) == platform::kWaitObject0) {
    return poolmgr::kPoolOk;
  }
  trace(trace_bits::kThreads, "PoolMgr: thread 0x%X did not end within %u ms: TERMINATED (left to finish on its own)\n",
        slot->m_ThreadId.load(), m_StopWaitMs);
  return poolmgr::kPoolThreadTerminated;
}

void QRPoolThread::BeginTakenJob() {
  if (OnOwnThread()) StampJobStart(m_Slot);
}

void QRPoolThread::UpdateActivityTime() {
  if (m_Slot != nullptr) m_Slot->m_LastActivityTime.store(std::time(nullptr));
}
