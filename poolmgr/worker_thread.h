// CWorkerThread: the base of a background thread that sleeps, wakes up to do
// one piece of work and sleeps again. It wakes on a private stop event, on an
// update event that may carry a machine-wide name (so that another process
// can set it and force a run now) and on optional user events. A subclass
// supplies WorkerThreadRun, normally a loop around WaitFor:
//
//   DWORD WorkerThreadRun() override {
//     while (WaitFor(period_, true) != kWakeStop) { ... one update ... }
//     return 0;
//   }
//
// Start, Stop and WaitForCompletion belong to the owner's thread; WaitFor and
// WaitUntil to the body. User events are added before Start or by the body.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "platform/sync.h"
#include "platform/types.h"

class CWorkerThread {
 public:
  // Wake codes of WaitFor; a user event gives its table position - 1 (1..62).
  static constexpr int kWakeTimeout = -1;
  static constexpr int kWakeStop = 0;
  static constexpr int kWakeUpdate = -2;
  static constexpr int kWakeFailed = -130;
  // AddUserEvent's answer when the table is full or the handle is null.
  static constexpr int kUserEventRefused = -3;

  static constexpr std::size_t kWaitTableSize = platform::kMaximumWaitObjects;

  // Creates nothing; Start does.
  CWorkerThread(std::string name, std::string updateEventName);
  CWorkerThread(const CWorkerThread&) = delete;
  CWorkerThread& operator=(const CWorkerThread&) = delete;
  // Stops with 15 seconds, then waits for a thread that Stop had to give up on.
  virtual ~CWorkerThread();

  // Creates the events and the thread. `updateSet`: the first WaitFor that
  // accepts updates returns at once. Failures are traced, never returned.
  void Start(bool updateSet);
  // Sets the stop event and waits up to `seconds` for the thread. A thread
  // that does not end is reported "TERMINATED" and left to finish on its own
  // (it cannot be ended safely from outside); it keeps its events until then.
  void Stop(platform::DWORD seconds);
  // 1 when the thread has ended (or none runs), 0 when still running after
  // waiting up to `seconds`.
  int WaitForCompletion(platform::DWORD seconds);
  // Waits up to `milliseconds` for a thread that Stop left running; true when
  // there is none (any more). Owners whose body uses their own members call
  // it before freeing them.
  bool WaitForDetachedThread(platform::DWORD milliseconds);

  // Returns the wake code the event will give, or kUserEventRefused.
  int AddUserEvent(platform::Waitable* event);
  void RemoveUserEvent(platform::Waitable* event);

  const std::string& Name() const { return m_Name; }
  platform::DWORD ThreadId() const { return m_ThreadId.load(); }
  platform::DWORD ExitCode() const { return m_ExitCode.load(); }

 protected:
  // Waits up to `seconds` (0 polls) for the stop event and, when
  // `acceptUpdates`, the update and user events. Returns a wake code.
  int WaitFor(std::int32_t seconds, bool acceptUpdates);
  // WaitFor until the clock time `when` (at once when it has passed).
  int WaitUntil(std::time_t when, bool acceptUpdates);

  virtual platform::DWORD WorkerThreadRun() = 0;

 private:
  platform::DWORD ThreadProcedure();
  void CreateEvents(bool updateSet);
  void CloseEvents();
  platform::DWORD WaitOnTable(platform::DWORD count, std::uint64_t milliseconds, int* code);

  const std::string m_Name;
  const std::string m_UpdateEventName;
  platform::DWORD m_HandleCount = 2;
  std::array<platform::Waitable*, kWaitTableSize> m_WaitTable{};
  std::unique_ptr<platform::Event> m_StopEvent;
  std::unique_ptr<platform::Event> m_UpdateEvent;
  // Only the owner's side touches the handle, so it is released exactly once.
  std::unique_ptr<platform::Thread> m_Thread;
  std::atomic<platform::DWORD> m_ThreadId{0};
  std::atomic<int> m_Finished{1};
  std::atomic<platform::DWORD> m_ExitCode{0};

  // A thread that Stop gave up on, with the events it still waits on.
  struct Detached {
    std::unique_ptr<platform::Thread> thread;
    std::unique_ptr<platform::Event> stop;
    std::unique_ptr<platform::Event> update;
  };
  Detached m_Detached;
};
