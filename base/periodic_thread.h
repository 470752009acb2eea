// CPeriodicThread: a thread of its own that wakes every period until it is
// told to stop; the stop ends its wait at once. The samplers and the
// heartbeat run on one.
#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include "platform/sync.h"
#include "platform/types.h"

class CPeriodicThread {
 public:
  CPeriodicThread() = default;
  ~CPeriodicThread();  // Stop, waiting as long as it takes
  CPeriodicThread(const CPeriodicThread&) = delete;
  CPeriodicThread& operator=(const CPeriodicThread&) = delete;

  // Runs `body` on a new thread, which calls WaitPeriod between its rounds.
  // False when it runs already or the thread could not be made.
  bool Start(std::function<platform::DWORD()> body);
  // Asks the thread to stop and waits up to `waitMs` for it: false when it
  // did not end in time (it then ends on its own). True when none ran.
  bool Stop(platform::DWORD waitMs);

  // On the thread: waits `periodMs`; false when a stop was asked for.
  bool WaitPeriod(platform::DWORD periodMs);
  bool Running() const { return m_Running.load(); }
  bool Started() const { return m_Thread != nullptr; }

 private:
  // Periodic work needs little stack.
  static constexpr std::size_t kStackBytes = 64 * 1024;

  std::atomic<bool> m_Running{false};
  std::unique_ptr<platform::Event> m_Stop;
  std::unique_ptr<platform::Thread> m_Thread;
};
