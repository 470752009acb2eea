#include "poolmgr/read_write_lock.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/eventually_testing.h"

namespace {

using poolmgr_testing::Eventually;

// The order in which threads got the lock.
class Entries {
 public:
  void Add(const std::string& who) {
    std::lock_guard<std::mutex> hold(m_Lock);
    m_Order.push_back(who);
  }
  std::vector<std::string> Order() {
    std::lock_guard<std::mutex> hold(m_Lock);
    return m_Order;
  }

 private:
  std::mutex m_Lock;
  std::vector<std::string> m_Order;
};

TEST(ReadWriteLock, AWaitingWriterGoesBeforeReadersThatArriveAfterIt) {
  CReadWriteLock lock;
  Entries entries;
  lock.LockShared();  // the reader already inside

  std::thread writer([&] {
    lock.LockExclusive();
    entries.Add("writer");
    lock.UnlockExclusive();
  });
  EXPECT_TRUE(Eventually([&] { return lock.WaitingWriters() == 1; }));

  std::thread lateReader([&] {
    lock.LockShared();
    entries.Add("late reader");
    lock.UnlockShared();
  });
  // The late reader queues although only a reader holds the lock.
  EXPECT_TRUE(Eventually([&] { return lock.WaitingReaders() == 1; }));
  EXPECT_TRUE(entries.Order().empty());

  lock.UnlockShared();
  writer.join();
  lateReader.join();
  EXPECT_EQ(entries.Order(), (std::vector<std::string>{"writer", "late reader"}));
}

TEST(ReadWriteLock, AReleasingWriterLetsTheWaitingReadersInBeforeTheNextWriter) {
  CReadWriteLock lock;
  Entries entries;
  lock.LockExclusive();

  // Both readers must be inside together before either leaves.
  std::atomic<int> inside{0};
  auto reader = [&](const char* name) {
    lock.LockShared();
    entries.Add(name);
    ++inside;
    Eventually([&] { return inside.load() == 2; });
    lock.UnlockShared();
  };
  std::thread first(reader, "reader");
  std::thread second(reader, "reader");
  EXPECT_TRUE(Eventually([&] { return lock.WaitingReaders() == 2; }));
  std::thread nextWriter([&] {
    lock.LockExclusive();
    entries.Add("next writer");
    lock.UnlockExclusive();
  });
  EXPECT_TRUE(Eventually([&] { return lock.WaitingWriters() == 1; }));

  lock.UnlockExclusive();
  first.join();
  second.join();
  nextWriter.join();
  EXPECT_EQ(inside.load(), 2);
  EXPECT_EQ(entries.Order(), (std::vector<std::string>{"reader", "reader", "next writer"}));
}

TEST(ReadWriteLock, ManyReadersHoldTheLockAtOnce) {
  constexpr int kReaders = 16;
  CReadWriteLock lock;
  std::atomic<int> inside{0};
  std::atomic<int> allSeen{0};
  std::vector<std::thread> readers;
  for (int i = 0; i < kReaders; ++i) {
    readers.emplace_back([&] {
      CSharedLock hold(lock);
      ++inside;
      if (Eventually([&] { return inside.load() == kReaders; })) ++allSeen;
    });
  }
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(allSeen.load(), kReaders);
}

// Readers and writers hammer the lock: writers are alone and every thread
// gets through (a lost wake-up hangs the test until ctest's time limit).
TEST(ReadWriteLock, UnderLoadWritersAreAloneAndEveryoneGetsThrough) {
  constexpr int kRounds = 20000;
  CReadWriteLock lock;
  std::atomic<int> readersInside{0};
  std::atomic<int> writersInside{0};
  std::atomic<int> overlaps{0};
  long value = 0;  // plain: the lock alone guards it
  std::vector<std::thread> threads;
  for (int i = 0; i < 9; ++i) {
    const bool writer = i < 3;
    threads.emplace_back([&, writer] {
      for (int round = 0; round < kRounds; ++round) {
        if (writer) {
          CExclusiveLock hold(lock);
          if (writersInside.fetch_add(1) != 0 || readersInside.load() != 0) ++overlaps;
          ++value;
          writersInside.fetch_sub(1);
        } else {
          CSharedLock hold(lock);
          readersInside.fetch_add(1);
          if (writersInside.load() != 0) ++overlaps;
          readersInside.fetch_sub(1);
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_EQ(value, 3L * kRounds);
}

}  // namespace
