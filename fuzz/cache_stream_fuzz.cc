// Fuzzes the proxy cache's data-stream reader as a refresh drives it: an
// entry that already holds items, a fake upstream that hands out the body in
// reads of random size and then ends (closed or failed), and a trim to a
// random count. Whatever arrives, the entry must stay sorted by unique IDs,
// hold only whole records, and keep the highest IDs when trimmed.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cache/cache_entry.h"
#include "cache/cache_stream_reader.h"
#include "fuzz/fuzz_machine_root.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

std::vector<std::uint32_t> Ids(const CCacheItems& items) {
  std::vector<std::uint32_t> ids;
  for (std::size_t i = 0; i < items.Count(); ++i) ids.push_back(items[i].ItemID());
  return ids;
}

void CheckItems(const CCacheItems& items) {
  const std::vector<std::uint32_t> ids = Ids(items);
  Check(std::adjacent_find(ids.begin(), ids.end(), [](auto a, auto b) { return a >= b; }) == ids.end());
  for (std::size_t i = 0; i < items.Count(); ++i) {
    const CCacheFile& item = items[i];
    Check(item.DataLength() <= item.Capacity());
    Check(item.Published());
    // Every record starts with its header text.
    if (item.DataLength() > 0) Check(std::memchr(item.Data(), '\n', item.DataLength()) != nullptr);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  UseTemporaryMachineRoot();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  const int heldItems = provider.ConsumeIntegralInRange<int>(0, 4);
  const int lengthMode = provider.ConsumeIntegralInRange<int>(0, 3);
  const int endResult = provider.ConsumeIntegralInRange<int>(-2, 0);
  const std::size_t trimTo = provider.ConsumeIntegralInRange<std::size_t>(0, 8);
  std::uint32_t pieceSeed = provider.ConsumeIntegral<std::uint32_t>();
  const std::string body = provider.ConsumeRemainingBytesAsString();

  CCacheEntry entry("1000");
  Check(entry.Lock(0));
  // Items from an earlier refresh, already visible to readers.
  for (int i = 0; i < heldItems; ++i) {
    const std::string record = "LID:" + std::to_string(i * 2) + "\r\n\r\nheld";
    auto item = CCacheFile::Create(static_cast<std::uint32_t>(i * 2), 0, static_cast<std::uint32_t>(record.size()));
    Check(item != nullptr && item->Write(record.data(), record.size()));
    Check(entry.AddItem(std::move(item)));
  }
  entry.Publish();
  const auto before = entry.Items();

  // The announced length: the body's own (a well-behaved server), none, or any.
  std::int64_t contentLength = static_cast<std::int64_t>(body.size());
  if (lengthMode == 1) contentLength = -1;
  if (lengthMode == 2) contentLength = static_cast<std::int64_t>(pieceSeed % (2 * body.size() + 1));

  std::size_t fed = 0;
  CCacheStreamReader reader(entry, contentLength);
  const CCacheStreamReader::Outcome outcome = reader.ReadBody([&](char* buffer, std::size_t room) {
    Check(room > 0 && room <= CCacheStreamReader::kBufferSize);
    if (fed >= body.size()) return endResult;
    pieceSeed = pieceSeed * 1103515245u + 12345u;
    const std::size_t piece = std::min({room, body.size() - fed, std::size_t{1} + (pieceSeed >> 8) % 5000});
    std::memcpy(buffer, body.data() + fed, piece);
    fed += piece;
    return static_cast<int>(piece);
  });
  if (outcome == CCacheStreamReader::eBodyComplete && contentLength >= 0) Check(reader.BytesRead() == contentLength);
  if (contentLength >= 0) Check(reader.BytesRead() <= contentLength);

  if (outcome == CCacheStreamReader::eStreamBroken) {
    entry.Trim(0);
  } else {
    entry.Trim(trimTo);
    Check(entry.Count() <= trimTo);
  }
  const std::uint32_t newest = entry.NewestID();
  entry.Publish();
  entry.Unlock();

  const auto after = entry.Items();
  CheckItems(*after);
  Check(after->NewestID() == newest);
  // Readers of the earlier list still see it whole.
  Check(before->Count() == static_cast<std::size_t>(heldItems));
  CheckItems(*before);
  return 0;
}
