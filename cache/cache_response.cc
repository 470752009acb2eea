#include "cache/cache_response.h"

#include <utility>

void CCacheResponse::Add(std::shared_ptr<const CCacheItems> items, std::size_t first, std::int64_t nextUpdate) {
  if (items == nullptr || first >= items->Count()) return;
  for (std::size_t i = first; i < items->Count(); ++i) {
    const CCacheFile& item = (*items)[i];
    // The item records the next update of the last answer it went into.
    item.SetNextUpdateTime(nextUpdate);
    m_DataLength += item.DataLength();
  }
  m_Count += items->Count() - first;
  Range range{std::move(items), first, nextUpdate};
  if (m_First.items == nullptr) {
    m_First = std::move(range);
  } else {
    m_More.push_back(std::move(range));
  }
}
