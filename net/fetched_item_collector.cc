#include "net/fetched_item_collector.h"

#include <new>

bool CFetchedItemCollector::BeginItem(const CDataStreamFields& fields, std::string_view rawHeader,
                                      std::int64_t nextUpdateTime) {
  m_Current.reset(new (std::nothrow) CFetchedItem(fields.lid, fields.fp, fields.cmp, fields.src, std::vector<char>()));
  if (m_Current == nullptr) return false;
  m_Current->SetNextUpdateTime(nextUpdateTime);
  return true;
}

bool CFetchedItemCollector::AppendItemData(const char* data, std::size_t length) {
  if (m_Current == nullptr) return false;
  m_Current->AppendData(data, length);
  return true;
}

bool CFetchedItemCollector::EndItem() {
  if (m_Current == nullptr) return false;
  m_Items.push_back(std::move(m_Current));
  return true;
}

CResponseList CFetchedItemCollector::List() const {
  CResponseList list;
  list.reserve(m_Items.size());
  for (const auto& item : m_Items) list.push_back(item.get());
  return list;
}
