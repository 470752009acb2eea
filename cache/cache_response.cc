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
  m_Ranges.push_back(Range{std::move(items), first, nextUpdate});
}
