#include "perf/perf_sampler.h"

#include <cstring>

#include <gtest/gtest.h>

#include "base/eventually_testing.h"
#include "perf/perf_block.h"
#include "platform/shared_memory.h"
#include "poolmgr/pool_manager.h"
#include "poolmgr/pool_thread.h"

namespace {

// Threads that end after their one job.
class OneJobThread : public QRPoolThread {};
class OneJobFactory : public QRPoolThreadFactory {
 public:
  QRPoolThread* CreatePoolThread() override { return new OneJobThread(); }
};

std::uint32_t WordAt(const unsigned char* at) {
  return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
         (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

TEST(PerfSampler, CountsSamplesThePoolAndLeavesNoBlockBehind) {
  perf::Counters words{};
  EXPECT_FALSE(perf::ReadBlock(words));
  OneJobFactory factory;
  QRPoolManager pool(&factory, 180000, 600000, 5);
  ASSERT_EQ(pool.OpenPool(4, 0), 0);
  ASSERT_EQ(pool.StartPoolCleaner(600000), 0);
  ASSERT_EQ(pool.IssueThread(nullptr), 0);

  CPerfSampler sampler;
  // Counting before the block exists does nothing and does not crash.
  sampler.CountAccepted();
  unsigned char snapshot[perf::kSnapshotSize];
  EXPECT_EQ(sampler.Snapshot(snapshot), -1);
  ASSERT_EQ(sampler.Start(&pool, 20), 0);
  for (int i = 0; i < 5; ++i) sampler.ConnectionAccepted();
  sampler.ConnectionRefused();
  ASSERT_TRUE(perf::ReadBlock(words));
  EXPECT_EQ(words[perf::eAcceptedRate], 5u);
  EXPECT_EQ(words[perf::eAcceptedTotal], 5u);
  EXPECT_EQ(words[perf::eRefused], 1u);

  int slots = 0, idle = 0, reserved = 0, working = 0, ended = 0, expired = 0;
  float jobs = 0;
  ASSERT_EQ(pool.GatherSummaryStats(slots, idle, reserved, working, ended, expired, jobs), 0);
  ASSERT_GT(slots, 0);
  EXPECT_TRUE(poolmgr_testing::Eventually([&] { return perf::ReadBlock(words) && words[perf::ePoolSlots] == static_cast<std::uint32_t>(slots); }));

  // The snapshot: words 1 to 6, word 7 as a float, words 8 to 12.
  ASSERT_EQ(sampler.Snapshot(snapshot), 0);
  words = sampler.Read();
  EXPECT_EQ(WordAt(snapshot), 1u);
  EXPECT_EQ(WordAt(snapshot + 20), words[perf::ePoolSlots]);
  float asFloat = 0;
  std::memcpy(&asFloat, snapshot + 24, 4);
  EXPECT_EQ(asFloat, static_cast<float>(words[perf::eJobsPerThread]));
  EXPECT_EQ(WordAt(snapshot + 44), 5u);

  sampler.Stop();
  EXPECT_FALSE(perf::ReadBlock(words));
  sampler.CountAccepted();
  pool.ClosePoolEasy();
}

TEST(PerfSampler, StartsAfreshOverABlockLeftBehind) {
  auto left = platform::SharedMemory::Create(perf::kBlockName, perf::kBlockSize);
  ASSERT_NE(left, nullptr);
  std::memset(left->Data(), 0x7F, 52);
  OneJobFactory factory;
  QRPoolManager pool(&factory, 180000, 600000, 5);
  CPerfSampler sampler;
  ASSERT_EQ(sampler.Start(&pool, 10000), 0);
  sampler.CountAccepted();
  perf::Counters words{};
  ASSERT_TRUE(perf::ReadBlock(words));
  EXPECT_EQ(words[perf::eAcceptedTotal], 1u);
  EXPECT_EQ(words[perf::eRefused], 0u);
  // A second start while running is refused.
  EXPECT_EQ(sampler.Start(&pool, 10000), -1);
}

}  // namespace
