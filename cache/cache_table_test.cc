// The directory table: sizing and growth while readers look up, the cap on
// directories, and entries created exactly once.
#include "cache/cache_table.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(CacheTable, SizesAndGrowsWhileLookupsGoOn) {
  EXPECT_EQ(CCacheTable::BucketCountFor(0), CCacheTable::BucketCountFor(100));
  EXPECT_GT(CCacheTable::BucketCountFor(10000), 12000u);

  CCacheTable table(CCacheTable::BucketCountFor(0));
  const std::uint32_t initial = table.BucketCount();
  std::atomic<bool> stop{false};
  std::atomic<int> misses{0};
  CCacheEntry* first = table.FindOrCreate("1000");
  std::thread reader([&] {
    while (!stop) {
      if (table.Find("1000") != first) ++misses;
    }
  });
  for (int i = 0; i < 2000; ++i) ASSERT_NE(table.FindOrCreate("1000\\" + std::to_string(i)), nullptr);
  stop = true;
  reader.join();
  EXPECT_EQ(misses, 0);
  EXPECT_GT(table.BucketCount(), initial);
  EXPECT_EQ(table.Count(), 2001u);
  for (int i = 0; i < 2000; i += 97) EXPECT_NE(table.Find("1000\\" + std::to_string(i)), nullptr);
  EXPECT_EQ(table.Find("1000\\2000"), nullptr);
}

TEST(CacheTable, RefusesNewDirectoriesBeyondItsCapAndKeepsTheOthers) {
  CCacheTable table(CCacheTable::BucketCountFor(0));
  for (std::size_t i = 0; i < CCacheTable::kMaxEntries; ++i) {
    ASSERT_NE(table.FindOrCreate("1000\\" + std::to_string(i)), nullptr) << i;
  }
  EXPECT_EQ(table.FindOrCreate("1000\\new"), nullptr);
  EXPECT_EQ(table.Count(), CCacheTable::kMaxEntries);
  EXPECT_NE(table.FindOrCreate("1000\\0"), nullptr) << "known directories are still served";
}

TEST(CacheTable, CreatesAnEntryExactlyOnceUnderContention) {
  CCacheTable table(CCacheTable::BucketCountFor(0));
  std::vector<CCacheEntry*> seen(8);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < seen.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) table.FindOrCreate("7\\" + std::to_string(i));
      seen[t] = table.FindOrCreate("7\\0");
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(table.Count(), 200u);
  for (CCacheEntry* entry : seen) EXPECT_EQ(entry, seen[0]);

  std::vector<std::string> order;
  table.ForEachEntry([&](CCacheEntry& entry) { order.push_back(entry.Name()); });
  EXPECT_EQ(order.size(), 200u);
}

}  // namespace
