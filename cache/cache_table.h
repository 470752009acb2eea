// CCacheTable: the cache directories by name. An entry is created on first
// use, exactly once, under the table's lock, and lives until the table goes.
//
// Looking up an entry that exists takes no lock: the hash chains are only
// ever extended at their heads with release stores, and a table that grows
// publishes a new bucket array while the old ones stay readable until the
// table is destroyed. So a request for a known directory is never held up by
// the table's lock (taken, for example, by a cache dump for its whole length).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "cache/cache_entry.h"

class CCacheTable {
 public:
  // Directories beyond this many are refused, so that viewers inventing
  // arguments cannot grow the table without bound.
  static constexpr std::size_t kMaxEntries = 250000;
  // A table is sized for at least this many entries.
  static constexpr std::size_t kMinSizing = 100;

  // The bucket count for a table expected to hold `expected` entries (at
  // least kMinSizing), by the rule that sizes every table read from upstream.
  static std::uint32_t BucketCountFor(std::uint32_t expected);

  explicit CCacheTable(std::uint32_t bucketCount);
  ~CCacheTable();
  CCacheTable(const CCacheTable&) = delete;
  CCacheTable& operator=(const CCacheTable&) = delete;

  // The entry of `name`, or null; no lock.
  CCacheEntry* Find(std::string_view name) const;
  // The entry of `name`, created when missing; null when the table is full
  // or memory is short.
  CCacheEntry* FindOrCreate(std::string_view name);

  std::size_t Count() const { return m_Count.load(std::memory_order_acquire); }
  std::uint32_t BucketCount() const;

  // Calls `visit` for every entry in the order of creation while holding the
  // table's lock, so that no entry is created meanwhile.
  void ForEachEntry(const std::function<void(CCacheEntry&)>& visit);

 private:
  struct Node {
    Node(std::size_t hashValue, CCacheEntry* entryPointer) : hash(hashValue), entry(entryPointer) {}
    std::size_t hash;
    CCacheEntry* entry;
    std::atomic<Node*> next{nullptr};
  };
  struct Buckets {
    explicit Buckets(std::uint32_t bucketCount);
    std::uint32_t count;
    std::unique_ptr<std::atomic<Node*>[]> heads;
    std::deque<Node> nodes;
  };

  static std::size_t Hash(std::string_view name);
  static CCacheEntry* FindIn(const Buckets& buckets, std::size_t hash, std::string_view name);
  // Under the lock: links an entry into `buckets`.
  static void Link(Buckets& buckets, std::size_t hash, CCacheEntry* entry);
  // Under the lock: a larger bucket array holding every entry.
  void Grow();

  std::mutex m_Lock;
  std::atomic<Buckets*> m_Current{nullptr};
  std::vector<std::unique_ptr<Buckets>> m_Generations;  // the current one last
  std::vector<std::unique_ptr<CCacheEntry>> m_Entries;  // in creation order
  std::atomic<std::size_t> m_Count{0};
};
