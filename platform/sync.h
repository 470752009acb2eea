// Waitable objects and waits with the classic semantics: manual- and
// auto-reset events, semaphores, recursive mutexes and thread handles, a wait
// for one or any of up to 64 objects with a timeout in milliseconds.
//
// Named events live in the machine and can be opened and set by any process
// of the same machine; an event exists while some process holds it open.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "platform/thread_annotations.h"
#include "platform/types.h"

namespace platform {

constexpr DWORD kWaitObject0 = 0;
constexpr DWORD kWaitAbandoned0 = 0x80;
constexpr DWORD kWaitTimeout = 258;
constexpr DWORD kWaitFailed = 0xFFFFFFFF;
constexpr std::size_t kMaximumWaitObjects = 64;

// Something a wait can be made on. Every waitable is a 32-bit word that is
// non-zero while the object is available; how an available object is taken
// depends on its kind.
class Waitable {
 public:
  Waitable(const Waitable&) = delete;
  Waitable& operator=(const Waitable&) = delete;
  virtual ~Waitable() = default;

 protected:
  Waitable() = default;
  // Takes the object when it is available (for a manual-reset event: only
  // looks). Returns true when the wait is satisfied by this object.
  virtual bool TryTake() = 0;
  // The word the waiter sleeps on, and whether it lives in memory shared
  // between processes.
  virtual std::atomic<std::uint32_t>* Word() = 0;
  virtual bool Shared() const { return false; }
  // Wakes every waiter sleeping on the word; without a system call when
  // none of this process sleeps on an object of this process.
  void WakeAll();

  friend DWORD WaitForMultipleObjects(std::span<Waitable* const> objects, DWORD milliseconds);

 private:
  // Threads about to sleep or sleeping on the word.
  std::atomic<std::uint32_t> sleepers_{0};
};

// Waits until one object is available, taking it. Returns kWaitObject0 + its
// index (the lowest index when several are), kWaitTimeout, or kWaitFailed
// (with the last error set) for an empty or over-long list.
DWORD WaitForMultipleObjects(std::span<Waitable* const> objects, DWORD milliseconds);
DWORD WaitForSingleObject(Waitable& object, DWORD milliseconds);

class Event : public Waitable {
 public:
  // An unnamed event of this process.
  static std::unique_ptr<Event> Create(bool manualReset, bool initialState);

  // A named event of the machine. Creating an event that exists opens it (its
  // reset mode and state stay as they are) and sets the last error to
  // kErrorAlreadyExists; otherwise the last error is 0. `everyoneMayOpen`
  // makes it usable by every user of the machine. Null with the last error set
  // on failure; names are 1..255 characters without "/" or NUL.
  static std::unique_ptr<Event> CreateNamed(const std::string& name, bool manualReset,
                                            bool initialState, bool everyoneMayOpen = true);
  // Opens an existing named event; null with kErrorFileNotFound when no
  // process holds it.
  static std::unique_ptr<Event> OpenNamed(const std::string& name);

  ~Event() override;

  bool Set();
  bool Reset();
  bool IsSet() const;
  const std::string& Name() const { return name_; }

 protected:
  bool TryTake() override;
  std::atomic<std::uint32_t>* Word() override;
  bool Shared() const override;

 public:
  struct NamedState;  // a named event's mapping and file

 private:
  static std::unique_ptr<Event> FromNamedState(const std::string& name, std::unique_ptr<NamedState> state);
  Event() = default;
  std::atomic<std::uint32_t> local_word_{0};
  bool local_manual_ = false;
  std::string name_;
  std::unique_ptr<NamedState> named_;  // set for named events
};

class Semaphore : public Waitable {
 public:
  static std::unique_ptr<Semaphore> Create(LONG initialCount, LONG maximumCount);
  // Adds `count`; false (kErrorInvalidParameter-like "too many posts") when
  // that would pass the maximum. *previous receives the count before.
  bool Release(LONG count = 1, LONG* previous = nullptr);

 protected:
  bool TryTake() override;
  std::atomic<std::uint32_t>* Word() override { return &count_; }

 private:
  Semaphore(LONG initial, LONG maximum) : count_(static_cast<std::uint32_t>(initial)), maximum_(maximum) {}
  std::atomic<std::uint32_t> count_;
  LONG maximum_;
};

// A recursive mutex owned by a thread, waitable with a timeout.
class CAPABILITY("mutex") Mutex : public Waitable {
 public:
  static std::unique_ptr<Mutex> Create(bool initiallyOwned = false);
  // WaitForSingleObject on the mutex as the thread-safety analysis sees it:
  // true when taken within `milliseconds`.
  bool Acquire(DWORD milliseconds) TRY_ACQUIRE(true);
  // False (kErrorNotOwner) when the caller does not own it.
  bool Release() RELEASE();

 protected:
  bool TryTake() override;
  std::atomic<std::uint32_t>* Word() override { return &free_; }

 private:
  Mutex() = default;
  std::atomic<std::uint32_t> free_{1};
  std::atomic<DWORD> owner_{0};
  std::uint32_t recursion_ = 0;
};

// An operating-system thread. The handle is waitable: it becomes available
// when the thread's function has returned. The object may be destroyed while
// the thread still runs; the thread then finishes on its own.
class Thread : public Waitable {
 public:
  // Starts `body` at once with a stack of `stackBytes` (0: 256 KiB). Null with
  // the last error set when the thread cannot be created.
  static std::unique_ptr<Thread> Start(std::function<DWORD()> body, std::size_t stackBytes = 0);
  ~Thread() override;

  struct State;  // shared by the handle and the running thread

  DWORD Id() const;
  bool Finished() const;
  // The body's result once finished.
  DWORD ExitCode() const;

 protected:
  bool TryTake() override;
  std::atomic<std::uint32_t>* Word() override;

 private:
  Thread() = default;
  std::shared_ptr<State> state_;
};

// std::mutex and std::recursive_mutex as the thread-safety analysis sees
// them: members declared GUARDED_BY such a lock are used while a Locked holds
// it.
template <typename Native>
class CAPABILITY("mutex") BasicLock {
 public:
  void lock() ACQUIRE() { native_.lock(); }
  void unlock() RELEASE() { native_.unlock(); }
  bool try_lock() TRY_ACQUIRE(true) { return native_.try_lock(); }

 private:
  Native native_;
};
using Lock = BasicLock<std::mutex>;
using RecursiveLock = BasicLock<std::recursive_mutex>;

// Holds a lock from its construction to its end, as std::lock_guard does.
template <typename L>
class SCOPED_CAPABILITY Locked {
 public:
  explicit Locked(L& lock) ACQUIRE(lock) : lock_(lock) { lock_.lock(); }
  ~Locked() RELEASE() { lock_.unlock(); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  L& lock_;
};

DWORD GetCurrentThreadId();
void Sleep(DWORD milliseconds);
// Marks the calling thread as throughput work: when woken it no longer
// preempts the thread that woke it, which can go on with what it was doing
// (a listener accepting the next connection) before this one runs. A thread
// woken onto an idle processor runs at once as before. False when the system
// refuses.
bool ScheduleCurrentThreadForThroughput();

}  // namespace platform
