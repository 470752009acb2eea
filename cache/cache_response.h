// CCacheResponse: the cached items of one answer, in the order they are
// sent. It holds the entries' published item lists it takes items from, so
// the items stay alive while the answer is being written, whatever refreshes
// happen meanwhile; building it copies no item bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "cache/cache_entry.h"

class CCacheResponse {
 public:
  // Appends items [first, end) of `items`, each with `nextUpdate` as its
  // viewer next-update time.
  void Add(std::shared_ptr<const CCacheItems> items, std::size_t first, std::int64_t nextUpdate);

  std::size_t Count() const { return m_Count; }
  bool Empty() const { return m_Count == 0; }
  // The sum of the items' data lengths.
  std::uint64_t DataLength() const { return m_DataLength; }
  // The next-update time of the first item, 0 for an empty answer.
  std::int64_t NextUpdateTime() const { return m_First.items != nullptr ? m_First.nextUpdate : 0; }

  // Calls `visit(item)` for every item in order; stops at the first false.
  template <typename Visit>
  bool ForEachItem(Visit&& visit) const {
    if (m_First.items != nullptr && !VisitRange(m_First, visit)) return false;
    for (const Range& range : m_More) {
      if (!VisitRange(range, visit)) return false;
    }
    return true;
  }

 private:
  struct Range {
    std::shared_ptr<const CCacheItems> items;
    std::size_t first = 0;
    std::int64_t nextUpdate = 0;
  };

  template <typename Visit>
  static bool VisitRange(const Range& range, Visit& visit) {
    for (std::size_t i = range.first; i < range.items->Count(); ++i) {
      if (!visit((*range.items)[i])) return false;
    }
    return true;
  }

  // Most answers come from one entry: its range is held in place.
  Range m_First;
  std::vector<Range> m_More;
  std::size_t m_Count = 0;
  std::uint64_t m_DataLength = 0;
};
