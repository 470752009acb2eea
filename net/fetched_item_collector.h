// The data-stream sink that turns each item of an upstream answer into a
// CFetchedItem held in memory, in the order of the answer.
#pragma once

#include <memory>
#include <vector>

#include "net/data_stream_sink.h"
#include "net/fetched_item.h"

class CFetchedItemCollector : public CDataStreamSink {
 public:
  bool BeginItem(const CDataStreamFields& fields, std::string_view rawHeader, std::int64_t nextUpdateTime) override;
  bool AppendItemData(const char* data, std::size_t length) override;
  bool EndItem() override;

  // The complete items (an item still being read is not among them).
  const std::vector<std::unique_ptr<CFetchedItem>>& Items() const { return m_Items; }
  // The items as a response list; they stay owned by the collector.
  CResponseList List() const;

 private:
  std::unique_ptr<CFetchedItem> m_Current;
  std::vector<std::unique_ptr<CFetchedItem>> m_Items;
};
