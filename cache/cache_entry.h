// CCacheEntry: the cached content of one cache directory (a category, or a
// category and one argument): its items sorted by ascending item ID and two
// times, the viewer next-update time and the refresh deadline.
//
// Writers hold the entry's lock (one fetch at a time) and change a working
// list; Publish makes it the list that readers see. Readers take no lock:
// Items() hands them an immutable snapshot that keeps its items alive for as
// long as they hold it, so an item that is still being sent is never freed
// under its sender, however often the entry is refreshed meanwhile.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cache/cache_file.h"
#include "platform/sync.h"
#include "platform/types.h"

// The items of an entry as readers see them, sorted by ascending item ID.
class CCacheItems {
 public:
  CCacheItems() = default;
  explicit CCacheItems(std::vector<std::shared_ptr<CCacheFile>> items) : m_Items(std::move(items)) {}

  std::size_t Count() const { return m_Items.size(); }
  bool Empty() const { return m_Items.empty(); }
  const CCacheFile& operator[](std::size_t index) const { return *m_Items[index]; }
  // The position of the first item whose ID is greater than `id` (Count()
  // when there is none); a negative `id` gives 0.
  std::size_t FirstAfter(std::int64_t id) const;
  // The ID of the newest item, 0 when there is none.
  std::uint32_t NewestID() const { return m_Items.empty() ? 0 : m_Items.back()->ItemID(); }

 private:
  friend class CCacheEntry;
  std::vector<std::shared_ptr<CCacheFile>> m_Items;
};

class CCacheEntry {
 public:
  explicit CCacheEntry(std::string name);
  ~CCacheEntry();
  CCacheEntry(const CCacheEntry&) = delete;
  CCacheEntry& operator=(const CCacheEntry&) = delete;

  const std::string& Name() const { return m_Name; }

  // The entry's lock: an auto-reset event created signalled. True when taken
  // within `milliseconds` (platform::kInfinite: no limit).
  bool Lock(platform::DWORD milliseconds);
  // Releases it and yields the processor once, so that a waiter gets a turn.
  void Unlock();

  // Seconds since 1970, 0 until the first refresh; each is read and replaced
  // as a whole without the lock.
  std::int64_t ViewerNextUpdate() const { return m_ViewerNextUpdate.load(std::memory_order_acquire); }
  std::int64_t RefreshDeadline() const { return m_RefreshDeadline.load(std::memory_order_acquire); }
  std::int64_t ExchangeViewerNextUpdate(std::int64_t time) { return m_ViewerNextUpdate.exchange(time); }
  std::int64_t ExchangeRefreshDeadline(std::int64_t time) { return m_RefreshDeadline.exchange(time); }

  // The published items; no lock needed.
  std::shared_ptr<const CCacheItems> Items() const { return m_Published.load(std::memory_order_acquire); }

  // --- Only while holding the lock ---

  // Puts an item in its place by ID. An item with the same ID and another
  // frame part receives the new item's bytes; one with the same frame part
  // is replaced and retired. False when memory is short (the entry is
  // unchanged).
  bool AddItem(std::shared_ptr<CCacheFile> item);
  // Frees the items retired before, then retires the oldest items until at
  // most `count` remain.
  void Trim(std::size_t count);
  // The working list's item count and newest item ID (0 when empty).
  std::size_t Count() const;
  std::uint32_t NewestID() const;
  // The first position after `id` in the working list.
  std::size_t FirstPositionAfter(std::int64_t id) const;
  // Makes the working list the one readers see.
  void Publish();
  // Items retired since the last trim.
  std::size_t RetiredCount() const { return m_Retired.size(); }

 private:
  // The working list, copied from the published one on the first change.
  std::vector<std::shared_ptr<CCacheFile>>& Working();

  std::string m_Name;
  std::unique_ptr<platform::Event> m_Lock;
  std::atomic<std::int64_t> m_ViewerNextUpdate{0};
  std::atomic<std::int64_t> m_RefreshDeadline{0};
  std::atomic<std::shared_ptr<const CCacheItems>> m_Published;
  bool m_Editing = false;
  std::vector<std::shared_ptr<CCacheFile>> m_Working;
  std::vector<std::shared_ptr<CCacheFile>> m_Retired;
};
