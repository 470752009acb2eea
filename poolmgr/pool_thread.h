// A pool's worker thread and the factory that makes one per slot.
//
// A derived thread's Run is a loop over jobs:
//
//   void Run() override {
//     while (!stop_) {
//       ... work on *m_Params, UpdateActivityTime() at each step ...
//       if (stop_) Kill();
//       ... release the job's resources ...
//       if (!Recycle(eThdIdle)) return;   // no further job: the thread ends
//     }
//     (void)Recycle(eThdEnded);
//   }
//
// Ending the OS thread from inside Recycle or Kill would skip the destructors
// of everything on the thread's stack, so those calls mark the end and return
// false instead; Run must then return, and the thread entry finishes the job.
#pragma once

#include <cstddef>

#include "platform/types.h"
#include "poolmgr/pool_slot.h"
#include "poolmgr/thread_params.h"

class QRPoolThread {
 public:
  QRPoolThread(const QRPoolThread& other) = default;
  QRPoolThread& operator=(const QRPoolThread& other) = default;
  virtual ~QRPoolThread();

  static constexpr platform::DWORD kStopWaitMs = 20000;
  static constexpr platform::DWORD kKillWaitMs = 5000;
  // The requested 1 KiB of the classic design is only a commit hint; pool
  // threads get a small but adequate fixed stack.
  static constexpr std::size_t kStackBytes = 256 * 1024;

 protected:
  QRPoolThread() = default;

  // The job. The base version only ends the thread.
  virtual void Run();
  // Waits up to m_StopWaitMs for the thread to end. Returns 0, or 8451 when it
  // did not end: it is then left to finish on its own (a thread cannot be
  // ended safely from outside), keeping its objects until it does.
  virtual int StopWorkingNow();

  // On the slot's own thread: eThdIdle parks the thread until the next job
  // (true: the parameters hold it) or the idle expiry (false); eThdEnded ends
  // it (false). False always means: return from Run now. From another thread
  // only eThdEnded is honoured (it marks the slot ended); a foreign eThdIdle
  // would offer a working thread's slot for a job that nobody would run.
  [[nodiscard]] bool Recycle(eThdState state);
  // On the own thread: marks the thread ended (Run must return). From another
  // thread: marks it ended, wakes it and waits up to kKillWaitMs. Returns 0.
  int Kill();
  void UpdateActivityTime();
  // On the own thread, between two jobs: the thread found its next job
  // itself instead of parking, and it counts as a job of its own.
  void BeginTakenJob();

  CPoolSlot* m_Slot = nullptr;          // set on the first Start
  QRThreadParams* m_Params = nullptr;   // owned by the derived class; may be null
  platform::DWORD m_StopWaitMs = kStopWaitMs;

 private:
  friend class QRPoolManager;

  // Called by the pool under its mutex with the slot reserved.
  int Start(CPoolSlot* slot, const QRThreadParams* params);
  static platform::DWORD ThreadKicker(void* self);
  bool OnOwnThread() const;
  bool WaitForNextJob();
};

class QRPoolThreadFactory {
 public:
  virtual ~QRPoolThreadFactory();
  // A new thread object, or null.
  virtual QRPoolThread* CreatePoolThread() = 0;
};
