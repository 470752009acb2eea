// Cache entries: ordering by ID and frame part, trimming with the retired
// list, readers that outlive refreshes, and the lock with its timeout.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "cache/cache_entry.h"

namespace {

std::shared_ptr<CCacheFile> Item(std::uint32_t id, std::uint16_t framePart, const std::string& bytes) {
  auto item = CCacheFile::Create(id, framePart, static_cast<std::uint32_t>(bytes.size()));
  EXPECT_TRUE(item->Write(bytes.data(), bytes.size()));
  return item;
}

std::string Bytes(const CCacheFile& item) { return std::string(item.Data(), item.DataLength()); }

std::vector<std::uint32_t> Ids(const CCacheItems& items) {
  std::vector<std::uint32_t> ids;
  for (std::size_t i = 0; i < items.Count(); ++i) ids.push_back(items[i].ItemID());
  return ids;
}

TEST(CacheEntry, KeepsItemsSortedAndCombinesFrameParts) {
  CCacheEntry entry("5\\x");
  ASSERT_TRUE(entry.Lock(0));
  for (std::uint32_t id : {4u, 1u, 9u, 6u}) ASSERT_TRUE(entry.AddItem(Item(id, 0, "item" + std::to_string(id))));
  // Same ID, same frame part: the new item takes the old one's place.
  ASSERT_TRUE(entry.AddItem(Item(6, 0, "six again")));
  EXPECT_EQ(entry.RetiredCount(), 1u);
  // Same ID, another frame part: its bytes follow.
  ASSERT_TRUE(entry.AddItem(Item(4, 1, "+part")));
  entry.Publish();
  entry.Unlock();

  const auto items = entry.Items();
  EXPECT_EQ(Ids(*items), (std::vector<std::uint32_t>{1, 4, 6, 9}));
  EXPECT_EQ(Bytes((*items)[1]), "item4+part");
  EXPECT_EQ(Bytes((*items)[2]), "six again");
  EXPECT_EQ(items->FirstAfter(4), 2u);
  EXPECT_EQ(items->FirstAfter(9), 4u);
  EXPECT_EQ(items->FirstAfter(-1), 0u);
  EXPECT_EQ(items->NewestID(), 9u);
}

TEST(CacheEntry, PublishedItemsStayAsReadersSawThem) {
  CCacheEntry entry("5");
  ASSERT_TRUE(entry.Lock(0));
  ASSERT_TRUE(entry.AddItem(Item(1, 0, "one")));
  ASSERT_TRUE(entry.AddItem(Item(2, 0, "two")));
  entry.Publish();
  const auto before = entry.Items();

  // A frame part for a published item goes to a copy; trimming retires the
  // rest; the reader's snapshot is untouched and its items stay alive.
  ASSERT_TRUE(entry.AddItem(Item(2, 1, "+more")));
  entry.Trim(1);
  EXPECT_EQ(entry.Count(), 1u);
  entry.Trim(1);
  EXPECT_EQ(entry.RetiredCount(), 0u) << "the next trim frees what the last one retired";
  entry.Publish();
  entry.Unlock();

  EXPECT_EQ(Ids(*before), (std::vector<std::uint32_t>{1, 2}));
  EXPECT_EQ(Bytes((*before)[0]), "one");
  EXPECT_EQ(Bytes((*before)[1]), "two");
  const auto after = entry.Items();
  EXPECT_EQ(Ids(*after), (std::vector<std::uint32_t>{2}));
  EXPECT_EQ(Bytes((*after)[0]), "two+more");
}

TEST(CacheEntry, TrimKeepsTheHighestIds) {
  CCacheEntry entry("5");
  ASSERT_TRUE(entry.Lock(0));
  for (std::uint32_t id = 1; id <= 8; ++id) ASSERT_TRUE(entry.AddItem(Item(id, 0, "x")));
  entry.Trim(5);
  EXPECT_EQ(entry.RetiredCount(), 3u);
  entry.Publish();
  entry.Unlock();
  EXPECT_EQ(Ids(*entry.Items()), (std::vector<std::uint32_t>{4, 5, 6, 7, 8}));
}

TEST(CacheEntry, LockIsExclusiveAndTimesOut) {
  CCacheEntry entry("5");
  ASSERT_TRUE(entry.Lock(0));
  std::atomic<bool> taken{true};
  std::thread other([&] { taken = entry.Lock(50); });
  other.join();
  EXPECT_FALSE(taken);
  entry.Unlock();
  EXPECT_TRUE(entry.Lock(0));
  entry.Unlock();
}

}  // namespace
