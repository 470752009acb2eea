#include "config/statistic_counter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// What a counter published: how often, and the last count.
struct Published {
  std::mutex lock;
  std::vector<std::uint32_t> counts;
  std::uint32_t Last() {
    std::lock_guard hold(lock);
    return counts.empty() ? 0 : counts.back();
  }
  std::size_t Writes() {
    std::lock_guard hold(lock);
    return counts.size();
  }
  auto Sink() {
    return [this](std::uint32_t count) {
      std::lock_guard hold(lock);
      counts.push_back(count);
    };
  }
};

bool Within(std::chrono::milliseconds limit, const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

TEST(StatisticCounter, CountsFromManyThreadsArePublishedOnceASecondNotPerIncrement) {
  Published published;
  CStatisticCounter counter(published.Sink());
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 5000; ++i) counter.Increment();
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(counter.Value(), 20000u);
  EXPECT_TRUE(Within(std::chrono::seconds(5), [&] { return published.Last() == 20000u; }));
  EXPECT_LE(published.Writes(), 6u);
  // Nothing new: nothing written again.
  const std::size_t writes = published.Writes();
  std::this_thread::sleep_for(CStatisticCounter::kPublishInterval * 2);
  EXPECT_EQ(published.Writes(), writes);
}

TEST(StatisticCounter, TheLastCountIsPublishedWhenTheCounterEndsAndCountersComeAndGo) {
  Published first;
  {
    CStatisticCounter counter(first.Sink());
    counter.Increment();
    counter.Increment();
  }
  EXPECT_EQ(first.Last(), 2u);
  // Counters ended and made again restart the publishing thread each time.
  for (int round = 0; round < 20; ++round) {
    Published published;
    {
      CStatisticCounter a(published.Sink());
      CStatisticCounter b([](std::uint32_t) {});
      a.Increment();
    }
    EXPECT_EQ(published.Last(), 1u);
  }
  // An unused counter writes nothing: the registry keeps what it held.
  Published unused;
  { CStatisticCounter counter(unused.Sink()); }
  EXPECT_EQ(unused.Writes(), 0u);
}

}  // namespace
