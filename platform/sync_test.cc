#include "platform/sync.h"

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/testing.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

// The thread-safety analysis does not see a mutex taken by the waits, and one
// release here is meant to fail.
bool ReleaseUnchecked(Mutex& mutex) NO_THREAD_SAFETY_ANALYSIS { return mutex.Release(); }

long ElapsedMs(Clock::time_point since) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

TEST(Events, ManualResetStaysSetAutoResetReleasesOneWaiter) {
  auto manual = Event::Create(true, true);
  EXPECT_EQ(WaitForSingleObject(*manual, 0), kWaitObject0);
  EXPECT_EQ(WaitForSingleObject(*manual, 0), kWaitObject0);
  manual->Reset();
  EXPECT_EQ(WaitForSingleObject(*manual, 0), kWaitTimeout);

  auto automatic = Event::Create(false, true);
  EXPECT_EQ(WaitForSingleObject(*automatic, 0), kWaitObject0);
  EXPECT_EQ(WaitForSingleObject(*automatic, 0), kWaitTimeout);

  // One Set with two waiters: exactly one of them wakes.
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 2; ++i) {
    waiters.emplace_back([&] {
      if (WaitForSingleObject(*automatic, 300) == kWaitObject0) ++woken;
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  automatic->Set();
  for (auto& t : waiters) t.join();
  EXPECT_EQ(woken.load(), 1);
}

// Set and Release skip the wake-up call while nobody sleeps: a waiter that
// is just going to sleep must still be woken. Two threads hand a turn back
// and forth and share a mutex; a lost wake-up would show as a timeout.
TEST(Waits, NoWakeUpIsLostBetweenThreadsThatTakeTurns) {
  constexpr int kRounds = 20000;
  auto ping = Event::Create(false, false);
  auto pong = Event::Create(false, false);
  auto mutex = Mutex::Create(false);
  int shared = 0;
  std::atomic<int> lost{0};
  const auto player = [&](Event& mine, Event& other, bool serves) {
    for (int i = 0; i < kRounds; ++i) {
      if (serves) other.Set();
      if (WaitForSingleObject(mine, 5000) != kWaitObject0) {
        ++lost;
        return;
      }
      if (!serves) other.Set();
      if (!mutex->Acquire(5000)) {
        ++lost;
        return;
      }
      ++shared;
      mutex->Release();
    }
  };
  std::thread first([&] { player(*ping, *pong, true); });
  std::thread second([&] { player(*pong, *ping, false); });
  first.join();
  second.join();
  EXPECT_EQ(lost.load(), 0);
  EXPECT_EQ(shared, 2 * kRounds);
}

TEST(Waits, TimeoutIsHonouredAndLowestIndexWins) {
  auto a = Event::Create(true, false);
  auto b = Event::Create(true, false);
  Waitable* both[] = {a.get(), b.get()};
  auto start = Clock::now();
  EXPECT_EQ(WaitForMultipleObjects(both, 100), kWaitTimeout);
  EXPECT_GE(ElapsedMs(start), 95);

  b->Set();
  EXPECT_EQ(WaitForMultipleObjects(both, 0), kWaitObject0 + 1);
  a->Set();
  EXPECT_EQ(WaitForMultipleObjects(both, 0), kWaitObject0);

  std::vector<Waitable*> none;
  EXPECT_EQ(WaitForMultipleObjects(none, 0), kWaitFailed);
  std::vector<Waitable*> too_many(kMaximumWaitObjects + 1, a.get());
  EXPECT_EQ(WaitForMultipleObjects(too_many, 0), kWaitFailed);
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
}

TEST(Waits, SetFromAnotherThreadWakesAWaiterOnSixtyFourObjects) {
  std::vector<std::unique_ptr<Event>> events;
  std::vector<Waitable*> list;
  for (std::size_t i = 0; i < kMaximumWaitObjects; ++i) {
    events.push_back(Event::Create(false, false));
    list.push_back(events.back().get());
  }
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    events[63]->Set();
  });
  EXPECT_EQ(WaitForMultipleObjects(list, 5000), kWaitObject0 + 63);
  setter.join();
}

TEST(SemaphoresAndMutexes, CountsAndOwnership) {
  auto semaphore = Semaphore::Create(0, 1);
  EXPECT_EQ(WaitForSingleObject(*semaphore, 0), kWaitTimeout);
  LONG previous = -1;
  EXPECT_TRUE(semaphore->Release(1, &previous));
  EXPECT_EQ(previous, 0);
  EXPECT_FALSE(semaphore->Release(1));  // past the maximum
  EXPECT_EQ(GetLastError(), kErrorTooManyPosts);
  EXPECT_EQ(WaitForSingleObject(*semaphore, 0), kWaitObject0);
  EXPECT_EQ(WaitForSingleObject(*semaphore, 0), kWaitTimeout);
  EXPECT_EQ(Semaphore::Create(2, 1), nullptr);

  auto mutex = Mutex::Create();
  EXPECT_EQ(WaitForSingleObject(*mutex, 0), kWaitObject0);
  EXPECT_EQ(WaitForSingleObject(*mutex, 0), kWaitObject0);  // recursive
  std::thread other([&] {
    EXPECT_EQ(WaitForSingleObject(*mutex, 50), kWaitTimeout);
    EXPECT_FALSE(ReleaseUnchecked(*mutex));
    EXPECT_EQ(GetLastError(), kErrorNotOwner);
  });
  other.join();
  EXPECT_TRUE(ReleaseUnchecked(*mutex));
  EXPECT_TRUE(ReleaseUnchecked(*mutex));
  std::thread taker([&] {
    if (!mutex->Acquire(1000)) {
      ADD_FAILURE() << "the released mutex is not taken";
      return;
    }
    EXPECT_TRUE(mutex->Release());
  });
  taker.join();
}

TEST(Threads, HandleBecomesSignalledAndOutlivesItsObject) {
  auto gate = Event::Create(true, false);
  auto thread = Thread::Start([&] {
    WaitForSingleObject(*gate, kInfinite);
    return DWORD{7};
  });
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(thread->Id(), 0u);
  EXPECT_NE(thread->Id(), GetCurrentThreadId());
  EXPECT_EQ(WaitForSingleObject(*thread, 20), kWaitTimeout);
  gate->Set();
  EXPECT_EQ(WaitForSingleObject(*thread, 5000), kWaitObject0);
  EXPECT_TRUE(thread->Finished());
  EXPECT_EQ(thread->ExitCode(), 7u);

  // Dropping the handle of a running thread neither kills nor joins it.
  std::atomic<bool> ran{false};
  auto release = Event::Create(true, false);
  {
    auto detached = Thread::Start([&] {
      WaitForSingleObject(*release, kInfinite);
      ran = true;
      return DWORD{0};
    });
  }
  release->Set();
  for (int i = 0; i < 500 && !ran; ++i) Sleep(2);
  EXPECT_TRUE(ran);
}

TEST(NamedEvents, ExistWhileHeldAndAreSharedBetweenProcesses) {
  EXPECT_EQ(Event::OpenNamed("NoSuchEvent"), nullptr);
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_EQ(Event::CreateNamed("bad/name", false, false), nullptr);
  EXPECT_EQ(Event::CreateNamed(std::string(256, 'x'), false, false), nullptr);

  auto event = Event::CreateNamed("WakeMe", false, false);
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(GetLastError(), 0u);
  auto again = Event::CreateNamed("WakeMe", true, true);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(GetLastError(), kErrorAlreadyExists);
  EXPECT_FALSE(again->IsSet());  // the existing event keeps its state

  // A child process opens the event by name and sets it.
  pid_t child = ::fork();
  if (child == 0) {
    auto opened = Event::OpenNamed("WakeMe");
    ::_exit(opened != nullptr && opened->Set() ? 0 : 1);
  }
  EXPECT_EQ(WaitForSingleObject(*event, 5000), kWaitObject0);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // Auto reset: taken by our wait.
  EXPECT_EQ(WaitForSingleObject(*event, 0), kWaitTimeout);

  // Once every holder has closed it, the event is gone, and creating it
  // again gives a fresh one.
  event.reset();
  again.reset();
  EXPECT_EQ(Event::OpenNamed("WakeMe"), nullptr);
  auto fresh = Event::CreateNamed("WakeMe", true, true);
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_TRUE(fresh->IsSet());
}

TEST(NamedEvents, HolderThatDiedLeavesNoEventBehind) {
  pid_t child = ::fork();
  if (child == 0) {
    auto held = Event::CreateNamed("Orphan", true, true);
    ::_exit(held != nullptr ? 0 : 1);  // no destructor runs
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Event::OpenNamed("Orphan"), nullptr);
  auto created = Event::CreateNamed("Orphan", true, false);
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_FALSE(created->IsSet());
}

}  // namespace
}  // namespace platform
