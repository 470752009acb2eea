// The periodic thread: rounds come every period, a stop ends the wait at
// once, and the thread can be started again after it stopped.
#include "base/periodic_thread.h"

#include <atomic>
#include <chrono>

#include <gtest/gtest.h>

namespace {

using Clock = std::chrono::steady_clock;

TEST(PeriodicThread, RunsEveryPeriodStopsAtOnceAndStartsAgain) {
  CPeriodicThread thread;
  std::atomic<int> rounds{0};
  const auto body = [&] {
    while (thread.WaitPeriod(20)) ++rounds;
    return platform::DWORD{0};
  };
  EXPECT_TRUE(thread.Stop(1000));  // none ran
  ASSERT_TRUE(thread.Start(body));
  EXPECT_FALSE(thread.Start(body));  // one at a time
  EXPECT_TRUE(thread.Running());
  while (rounds.load() < 3) platform::Sleep(5);
  EXPECT_TRUE(thread.Stop(5000));
  EXPECT_FALSE(thread.Running());
  EXPECT_FALSE(thread.Started());

  // A long period: the stop does not wait for it.
  const int before = rounds.load();
  ASSERT_TRUE(thread.Start([&] {
    while (thread.WaitPeriod(60000)) ++rounds;
    return platform::DWORD{0};
  }));
  const auto asked = Clock::now();
  EXPECT_TRUE(thread.Stop(5000));
  EXPECT_LT(Clock::now() - asked, std::chrono::seconds(2));
  EXPECT_EQ(rounds.load(), before);
}

}  // namespace
