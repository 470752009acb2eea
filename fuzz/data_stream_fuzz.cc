// Fuzzes the upstream data-stream reader as the proxy's fetch loop drives it:
// reads of random size appended to a 16384-byte buffer, the reader taking
// every complete part. Items must add up to what their headers announce and
// the reader must never read past the answer's length.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_machine_root.h"
#include "net/fetched_item_collector.h"
#include "net/iqrn_http.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// Checks the order of the reader's calls and the byte count of each item,
// and keeps the items as the default sink does.
class CheckingSink : public CDataStreamSink {
 public:
  bool BeginItem(const CDataStreamFields& fields, std::string_view rawHeader, std::int64_t nextUpdate) override {
    Check(!open_);
    Check(rawHeader.ends_with("\n"));
    Check(rawHeader.size() <= IQRNHTTP::kMaxRawHeader);
    Check(fields.tlen <= IQRNHTTP::kMaxItemLength);
    open_ = true;
    expected_ = fields.tlen;
    received_ = 0;
    return collector_.BeginItem(fields, rawHeader, nextUpdate);
  }
  bool AppendItemData(const char* data, std::size_t length) override {
    Check(open_ && length > 0);
    received_ += length;
    Check(received_ <= expected_);
    return collector_.AppendItemData(data, length);
  }
  bool EndItem() override {
    Check(open_ && received_ == expected_);
    open_ = false;
    if (!collector_.EndItem()) return false;
    Check(collector_.Items().back()->Data().size() == expected_);
    return true;
  }
  std::size_t ItemCount() const { return collector_.Items().size(); }

 private:
  CFetchedItemCollector collector_;
  bool open_ = false;
  std::size_t expected_ = 0;
  std::size_t received_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  UseTemporaryMachineRoot();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  // Mostly the length of the body that follows, as a well-behaved server
  // announces it; sometimes any length, or none.
  const bool anyLength = provider.ConsumeIntegralInRange<int>(0, 3) == 0;
  const std::int64_t announced = provider.ConsumeIntegralInRange<std::int64_t>(-1, 2 * static_cast<std::int64_t>(size));
  std::uint32_t pieceSeed = provider.ConsumeIntegral<std::uint32_t>();
  const std::vector<char> body = provider.ConsumeRemainingBytes<char>();
  const std::int64_t contentLength = anyLength ? announced : static_cast<std::int64_t>(body.size());

  IQRNHTTP reader;
  CheckingSink sink;
  reader.BeginAnswer(contentLength, &sink);
  char buffer[16384];
  unsigned int held = 0;
  std::size_t fed = 0;
  httpStatus status = eHTTPMoreData;
  while (status == eHTTPMoreData && fed < body.size()) {
    pieceSeed = pieceSeed * 1103515245u + 12345u;
    std::size_t piece = 1 + (pieceSeed >> 8) % 3000;
    if (piece > body.size() - fed) piece = body.size() - fed;
    if (piece > sizeof(buffer) - held) piece = sizeof(buffer) - held;
    Check(piece > 0);  // the reader always leaves room
    std::memcpy(buffer + held, body.data() + fed, piece);
    fed += piece;
    held += static_cast<unsigned int>(piece);
    const unsigned int before = held;
    status = reader.HTTPrespState(buffer, held);
    Check(held <= before);
    if (status == eHTTPMoreData) Check(held < IQRNHTTP::kMaxLineLength);
    if (contentLength >= 0) Check(reader.BytesRead() <= contentLength);
  }
  if (status == eHTTPComplete) Check(reader.BytesRead() == contentLength);
  Check(sink.ItemCount() <= IQRNHTTP::kMaxItemsPerAnswer);
  return 0;
}
