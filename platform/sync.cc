// Every waitable is a 32-bit word that is non-zero while the object is
// available. Waiters sleep on the words with the kernel's vectored futex wait,
// so a wait on several objects needs no helper threads; a named event's word
// lives in a file mapping shared by every process that holds the event.
#include "platform/sync.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/machine.h"

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#define ZONDREL_TSAN_ACQUIRE(p) __tsan_acquire(p)
#define ZONDREL_TSAN_RELEASE(p) __tsan_release(p)
#else
#define ZONDREL_TSAN_ACQUIRE(p) ((void)(p))
#define ZONDREL_TSAN_RELEASE(p) ((void)(p))
#endif

namespace platform {

namespace {

void FutexWakeAll(std::atomic<std::uint32_t>* word, bool shared) {
  ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word),
            shared ? FUTEX_WAKE : FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

timespec DeadlineAfter(DWORD milliseconds) {
  timespec now {};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  now.tv_sec += milliseconds / 1000;
  now.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
  if (now.tv_nsec >= 1000000000L) {
    now.tv_sec += 1;
    now.tv_nsec -= 1000000000L;
  }
  return now;
}

}  // namespace

void Waitable::WakeAll() {
  // The object was made available before this look. A waiter counts itself
  // before it sleeps, and its sleep checks the word again: one that counts
  // itself after this look finds the object available and does not sleep.
  // (Waiters of other processes cannot be counted here.)
  std::atomic_thread_fence(std::memory_order_seq_cst);
  if (!Shared() && sleepers_.load(std::memory_order_seq_cst) == 0) return;
  FutexWakeAll(Word(), Shared());
}

DWORD WaitForMultipleObjects(std::span<Waitable* const> objects, DWORD milliseconds) {
  const std::size_t count = objects.size();
  if (count == 0 || count > kMaximumWaitObjects) {
    SetLastError(kErrorInvalidParameter);
    return kWaitFailed;
  }
  for (Waitable* object : objects) {
    if (object == nullptr) {
      SetLastError(kErrorInvalidHandle);
      return kWaitFailed;
    }
  }
  const bool forever = milliseconds == kInfinite;
  const timespec deadline = forever ? timespec{} : DeadlineAfter(milliseconds);
  futex_waitv waiters[kMaximumWaitObjects];
  for (;;) {
    for (std::size_t i = 0; i < count; ++i) {
      if (objects[i]->TryTake()) {
        ZONDREL_TSAN_ACQUIRE(objects[i]->Word());
        return kWaitObject0 + static_cast<DWORD>(i);
      }
    }
    if (milliseconds == 0) return kWaitTimeout;
    for (std::size_t i = 0; i < count; ++i) {
      waiters[i] = futex_waitv{};
      waiters[i].val = 0;
      waiters[i].uaddr = reinterpret_cast<std::uintptr_t>(objects[i]->Word());
      waiters[i].flags = FUTEX_32 | (objects[i]->Shared() ? 0 : FUTEX_PRIVATE_FLAG);
    }
    for (std::size_t i = 0; i < count; ++i) objects[i]->sleepers_.fetch_add(1, std::memory_order_seq_cst);
    long result = ::syscall(SYS_futex_waitv, waiters, static_cast<unsigned>(count), 0,
                            forever ? nullptr : &deadline, CLOCK_MONOTONIC);
    const int error = errno;
    for (std::size_t i = 0; i < count; ++i) objects[i]->sleepers_.fetch_sub(1, std::memory_order_relaxed);
    errno = error;
    if (result < 0) {
      if (errno == ETIMEDOUT) {
        // One last look: an object set right at the deadline still counts.
        for (std::size_t i = 0; i < count; ++i) {
          if (objects[i]->TryTake()) {
            ZONDREL_TSAN_ACQUIRE(objects[i]->Word());
            return kWaitObject0 + static_cast<DWORD>(i);
          }
        }
        return kWaitTimeout;
      }
      if (errno != EAGAIN && errno != EINTR) {
        SetLastError(kErrorInvalidParameter);
        return kWaitFailed;
      }
    }
  }
}

DWORD WaitForSingleObject(Waitable& object, DWORD milliseconds) {
  Waitable* list[1] = {&object};
  return WaitForMultipleObjects(list, milliseconds);
}

// --- events -------------------------------------------------------------------

namespace {

constexpr std::uint32_t kEventMagic = 0x5A455654;  // "ZEVT"
constexpr std::size_t kMaxEventName = 255;

struct SharedEventBlock {
  std::atomic<std::uint32_t> word;
  std::uint32_t manual;
  std::uint32_t magic;
};

bool ValidEventName(const std::string& name) {
  if (name.empty() || name.size() > kMaxEventName) return false;
  if (name == "." || name == "..") return false;
  return name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

// Serialises the decisions about whether a named event exists between the
// processes of the machine.
class MachineEventLock {
 public:
  MachineEventLock() {
    fd_ = ::open((MachineDirectory("events") + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
      while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~MachineEventLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  MachineEventLock(const MachineEventLock&) = delete;
  MachineEventLock& operator=(const MachineEventLock&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace

// A process holds a named event by holding a shared lock on its file; an
// event file that nobody holds is a leftover and counts as absent.
struct Event::NamedState {
  int fd = -1;
  SharedEventBlock* block = nullptr;
  ~NamedState() {
    if (block != nullptr) ::munmap(block, sizeof(SharedEventBlock));
    if (fd >= 0) ::close(fd);
  }
};

// Maps the event's block; false (last error set) when it cannot be.
static bool MapBlock(Event::NamedState* state);

std::unique_ptr<Event> Event::Create(bool manualReset, bool initialState) {
  std::unique_ptr<Event> event(new Event());
  event->local_manual_ = manualReset;
  event->local_word_.store(initialState ? 1 : 0);
  SetLastError(0);
  return event;
}

std::unique_ptr<Event> Event::CreateNamed(const std::string& name, bool manualReset,
                                          bool initialState, bool everyoneMayOpen) {
  if (!ValidEventName(name)) {
    SetLastError(kErrorInvalidName);
    return nullptr;
  }
  MachineEventLock lock;
  auto state = std::make_unique<NamedState>();
  std::string path = MachineDirectory("events") + name;
  state->fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, everyoneMayOpen ? 0666 : 0600);
  if (state->fd < 0) {
    SetLastError(errno == EACCES ? kErrorAccessDenied : kErrorInvalidName);
    return nullptr;
  }
  bool fresh = ::flock(state->fd, LOCK_EX | LOCK_NB) == 0;
  if (fresh) {
    ::fchmod(state->fd, everyoneMayOpen ? 0666 : 0600);
    if (::ftruncate(state->fd, sizeof(SharedEventBlock)) != 0) {
      SetLastError(kErrorWriteFault);
      return nullptr;
    }
  }
  if (!MapBlock(state.get())) return nullptr;
  if (fresh || state->block->magic != kEventMagic) {
    state->block->manual = manualReset ? 1 : 0;
    state->block->word.store(initialState ? 1 : 0);
    state->block->magic = kEventMagic;
    fresh = true;
  }
  std::unique_ptr<Event> event = FromNamedState(name, std::move(state));
  SetLastError(fresh ? 0 : kErrorAlreadyExists);
  return event;
}

std::unique_ptr<Event> Event::OpenNamed(const std::string& name) {
  if (!ValidEventName(name)) {
    SetLastError(kErrorInvalidName);
    return nullptr;
  }
  MachineEventLock lock;
  auto state = std::make_unique<NamedState>();
  std::string path = MachineDirectory("events") + name;
  state->fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (state->fd < 0) {
    SetLastError(errno == EACCES ? kErrorAccessDenied : kErrorFileNotFound);
    return nullptr;
  }
  if (::flock(state->fd, LOCK_EX | LOCK_NB) == 0) {
    // Nobody holds it: the event no longer exists.
    ::unlink(path.c_str());
    SetLastError(kErrorFileNotFound);
    return nullptr;
  }
  if (!MapBlock(state.get())) return nullptr;
  std::unique_ptr<Event> event = FromNamedState(name, std::move(state));
  SetLastError(0);
  return event;
}

static bool MapBlock(Event::NamedState* state) {
  void* mapping = ::mmap(nullptr, sizeof(SharedEventBlock), PROT_READ | PROT_WRITE, MAP_SHARED,
                         state->fd, 0);
  if (mapping == MAP_FAILED) {
    SetLastError(kErrorNotEnoughMemory);
    return false;
  }
  state->block = static_cast<SharedEventBlock*>(mapping);
  return true;
}

// Holds the event (a shared lock on its file) and wraps it.
std::unique_ptr<Event> Event::FromNamedState(const std::string& name, std::unique_ptr<NamedState> state) {
  ::flock(state->fd, LOCK_SH);
  std::unique_ptr<Event> event(new Event());
  event->name_ = name;
  event->named_ = std::move(state);
  return event;
}

Event::~Event() = default;

std::atomic<std::uint32_t>* Event::Word() {
  return named_ ? &named_->block->word : &local_word_;
}

bool Event::Shared() const { return named_ != nullptr; }

bool Event::Set() {
  std::atomic<std::uint32_t>* word = Word();
  ZONDREL_TSAN_RELEASE(word);
  word->store(1, std::memory_order_release);
  WakeAll();
  return true;
}

bool Event::Reset() {
  Word()->store(0, std::memory_order_release);
  return true;
}

bool Event::IsSet() const {
  const std::atomic<std::uint32_t>* word = named_ ? &named_->block->word : &local_word_;
  return word->load(std::memory_order_acquire) != 0;
}

bool Event::TryTake() {
  std::atomic<std::uint32_t>* word = Word();
  bool manual = named_ ? named_->block->manual != 0 : local_manual_;
  if (manual) return word->load(std::memory_order_acquire) != 0;
  std::uint32_t expected = 1;
  return word->compare_exchange_strong(expected, 0, std::memory_order_acq_rel);
}

// --- semaphores and mutexes ----------------------------------------------------

std::unique_ptr<Semaphore> Semaphore::Create(LONG initialCount, LONG maximumCount) {
  if (maximumCount <= 0 || initialCount < 0 || initialCount > maximumCount) {
    SetLastError(kErrorInvalidParameter);
    return nullptr;
  }
  return std::unique_ptr<Semaphore>(new Semaphore(initialCount, maximumCount));
}

bool Semaphore::Release(LONG count, LONG* previous) {
  if (count <= 0) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  std::uint32_t current = count_.load(std::memory_order_relaxed);
  do {
    if (static_cast<std::int64_t>(current) + count > maximum_) {
      SetLastError(kErrorTooManyPosts);
      return false;
    }
  } while (!count_.compare_exchange_weak(current, current + static_cast<std::uint32_t>(count),
                                         std::memory_order_release));
  if (previous != nullptr) *previous = static_cast<LONG>(current);
  ZONDREL_TSAN_RELEASE(&count_);
  WakeAll();
  return true;
}

bool Semaphore::TryTake() {
  std::uint32_t current = count_.load(std::memory_order_relaxed);
  while (current > 0) {
    if (count_.compare_exchange_weak(current, current - 1, std::memory_order_acq_rel)) return true;
  }
  return false;
}

std::unique_ptr<Mutex> Mutex::Create(bool initiallyOwned) {
  std::unique_ptr<Mutex> mutex(new Mutex());
  if (initiallyOwned) mutex->TryTake();
  return mutex;
}

bool Mutex::TryTake() {
  DWORD self = GetCurrentThreadId();
  if (owner_.load(std::memory_order_relaxed) == self) {
    ++recursion_;
    return true;
  }
  std::uint32_t expected = 1;
  if (!free_.compare_exchange_strong(expected, 0, std::memory_order_acq_rel)) return false;
  owner_.store(self, std::memory_order_relaxed);
  recursion_ = 1;
  return true;
}

bool Mutex::Acquire(DWORD milliseconds) { return WaitForSingleObject(*this, milliseconds) == kWaitObject0; }

bool Mutex::Release() {
  if (owner_.load(std::memory_order_relaxed) != GetCurrentThreadId()) {
    SetLastError(kErrorNotOwner);
    return false;
  }
  if (--recursion_ > 0) return true;
  owner_.store(0, std::memory_order_relaxed);
  ZONDREL_TSAN_RELEASE(&free_);
  free_.store(1, std::memory_order_release);
  WakeAll();
  return true;
}

// --- threads ---------------------------------------------------------------------

struct Thread::State {
  std::function<DWORD()> body;
  std::atomic<std::uint32_t> started{0};
  std::atomic<std::uint32_t> done{0};
  std::atomic<DWORD> id{0};
  std::atomic<DWORD> exit_code{0};
};

namespace {

constexpr std::size_t kDefaultStack = 256 * 1024;

void* ThreadEntry(void* argument) {
  // The thread keeps its state alive until it ends, whatever its creator does.
  std::shared_ptr<Thread::State>* holder = static_cast<std::shared_ptr<Thread::State>*>(argument);
  std::shared_ptr<Thread::State> state = std::move(*holder);
  delete holder;
  state->id.store(GetCurrentThreadId());
  state->started.store(1, std::memory_order_release);
  FutexWakeAll(&state->started, false);
  DWORD code = 1;
  try {
    code = state->body();
  } catch (...) {
    std::fputs("zondrel: a thread ended with an uncaught exception\n", stderr);
  }
  state->body = nullptr;
  state->exit_code.store(code);
  ZONDREL_TSAN_RELEASE(&state->done);
  state->done.store(1, std::memory_order_release);
  FutexWakeAll(&state->done, false);
  return nullptr;
}

}  // namespace

std::unique_ptr<Thread> Thread::Start(std::function<DWORD()> body, std::size_t stackBytes) {
  auto state = std::make_shared<State>();
  state->body = std::move(body);
  pthread_attr_t attributes;
  ::pthread_attr_init(&attributes);
  std::size_t stack = stackBytes < kDefaultStack ? kDefaultStack : stackBytes;
  ::pthread_attr_setstacksize(&attributes, stack);
  ::pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  auto* holder = new std::shared_ptr<State>(state);
  pthread_t handle;
  int error = ::pthread_create(&handle, &attributes, ThreadEntry, holder);
  ::pthread_attr_destroy(&attributes);
  if (error != 0) {
    delete holder;
    SetLastError(kErrorNotEnoughMemory);
    return nullptr;
  }
  // Wait for the id, so that callers can record it at once.
  while (state->started.load(std::memory_order_acquire) == 0) {
    ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&state->started), FUTEX_WAIT_PRIVATE, 0,
              nullptr, nullptr, 0);
  }
  std::unique_ptr<Thread> thread(new Thread());
  thread->state_ = std::move(state);
  return thread;
}

Thread::~Thread() = default;

DWORD Thread::Id() const { return state_->id.load(); }
bool Thread::Finished() const { return state_->done.load(std::memory_order_acquire) != 0; }
DWORD Thread::ExitCode() const { return state_->exit_code.load(); }
bool Thread::TryTake() { return state_->done.load(std::memory_order_acquire) != 0; }
std::atomic<std::uint32_t>* Thread::Word() { return &state_->done; }

DWORD GetCurrentThreadId() {
  static thread_local DWORD id = static_cast<DWORD>(::syscall(SYS_gettid));
  return id;
}

void Sleep(DWORD milliseconds) {
  timespec delay {static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
  while (::nanosleep(&delay, &delay) != 0 && errno == EINTR) {
  }
}

bool ScheduleCurrentThreadForThroughput() {
  // The batch policy keeps the thread's share of the processor and its nice
  // value; it only gives up preempting on wake-up.
  sched_param unused{};
  return ::sched_setscheduler(0, SCHED_BATCH, &unused) == 0;
}

}  // namespace platform
