// A pool of reusable worker threads: a fixed number of slots, each holding at
// most one thread made by the pool's factory. A job (a parameter object) goes
// to the idle thread of the lowest free slot, or to a new thread there (a
// slot whose thread has ended or expired counts as free); a cleaner thread
// reaps ended threads, counts stuck ones and signals the named event
// "PoolMgrNotify" while few threads are busy.
//
// Every operation returns 0 or a code of poolmgr/pool_results.h.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "platform/sync.h"
#include "platform/thread_annotations.h"
#include "platform/types.h"
#include "poolmgr/pool_slot.h"
#include "poolmgr/pool_thread.h"
#include "poolmgr/thread_params.h"

class QRPoolManager {
 public:
  static constexpr platform::DWORD kPoolMutexWaitMs = 5000;
  static constexpr platform::DWORD kCleanerStopWaitMs = 6500;
  static constexpr const char* kNotifyEventName = "PoolMgrNotify";

  // Cleaner states.
  static constexpr int kCleanerNone = 0;
  static constexpr int kCleanerStarting = 2;
  static constexpr int kCleanerRunning = 4;
  static constexpr int kCleanerStopping = 8;

  // `factory` is borrowed and never deleted by the pool. No handle is created
  // before OpenPool.
  QRPoolManager(QRPoolThreadFactory* factory, platform::DWORD deadbeatSeconds,
                platform::DWORD idleExpiryMs, platform::DWORD lowWater);
  QRPoolManager(const QRPoolManager&) = delete;
  QRPoolManager& operator=(const QRPoolManager&) = delete;
  virtual ~QRPoolManager();  // ClosePoolEasy

  // The second arguments of OpenPool and IssueThread are ignored. Opening and
  // closing make and free the pool mutex itself, so no other call on the
  // pool may run meanwhile; every other call may come from any thread.
  int OpenPool(int depth, int unused = 0) NO_THREAD_SAFETY_ANALYSIS;
  // Returns at once: 8197 when every slot is taken.
  int IssueThread(const QRThreadParams* params, int unused = 0);
  int StartPoolCleaner(platform::DWORD intervalMs);
  int StopPoolCleaner();
  // Stops the cleaner and every thread, frees the slots. Returns 0.
  int ClosePoolEasy() NO_THREAD_SAFETY_ANALYSIS;

  int GatherSummaryStats(int& slots, int& idle, int& reserved, int& working, int& ended,
                         int& expired, float& averageJobs);
  int GatherCleanerStats(int& reapedEnded, int& reapedExpired, int& deadbeats);
  int IncreaseDepthTo(int depth);
  int IncreaseDepthBy(int count);

 protected:
  bool AccessResource(platform::DWORD milliseconds) TRY_ACQUIRE(true, *m_PoolMutex);
  void ReleaseResource() RELEASE(*m_PoolMutex);
  int FindOpenSlot(CPoolSlot*& slot, int& index, eThdState& previousState);
  int InsertNewSlot(CPoolSlot*& slot, int index) REQUIRES(*m_PoolMutex);
  int AppendNewSlot(CPoolSlot*& slot, int& index);  // a placeholder: always 8200
  void DestroyPoolSlots();
  int LaunchPoolCleaner();
  int KillPoolCleaner();
  void PoolCleanerThread();
  void ScanForDeadbeats();
  static platform::DWORD ThreadKicker(void* self);

 private:
  bool CleanerActive() const;
  // Empties an ended or expired slot whose thread is gone, counts it as
  // reaped and hands its thread object over; false while the thread still
  // runs. Under the pool mutex, so that a slot is reaped once.
  bool ReapSlot(CPoolSlot* slot, eThdState state, std::unique_ptr<QRPoolThread>& reaped);
  // Frees a slot record, or leaves it to its thread when that still runs.
  static void ReleaseSlot(CPoolSlot* slot);
  void GrowTable() REQUIRES(*m_PoolMutex);

  std::atomic<int> m_CleanerState{kCleanerNone};
  std::unique_ptr<platform::Event> m_CleanerStopEvent;
  std::unique_ptr<platform::Thread> m_CleanerThread;
  platform::DWORD m_CleanerThreadId = 0;
  platform::DWORD m_CleanerIntervalMs = 0;
  std::atomic<platform::DWORD> m_DeadbeatCount{0};
  std::atomic<platform::DWORD> m_ReapedEndedCount{0};
  std::atomic<platform::DWORD> m_ReapedExpiredCount{0};
  std::unique_ptr<platform::Event> m_NotifyEvent GUARDED_BY(*m_PoolMutex);
  std::vector<CPoolSlot*> m_Slots GUARDED_BY(*m_PoolMutex);  // owned
  int m_Depth = 0;
  std::atomic<bool> m_Open{false};
  platform::DWORD m_DeadbeatSeconds;
  platform::DWORD m_IdleExpiryMs;
  std::unique_ptr<platform::Mutex> m_PoolMutex;
  platform::DWORD m_LowWater;
  platform::DWORD m_JobsSinceNotify GUARDED_BY(*m_PoolMutex);
  QRPoolThreadFactory* m_Factory;
};
