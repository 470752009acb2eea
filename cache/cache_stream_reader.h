// CCacheStreamReader: reads the data-stream body of an upstream answer into a
// cache entry. Every complete record becomes a CCacheFile holding the record
// as received (its header, the empty line and its TLEN bytes) and is added to
// the entry by ID and frame part; a record cut short is never added.
//
// The caller holds the entry's lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "cache/cache_entry.h"
#include "net/data_stream_sink.h"
#include "net/iqrn_http.h"

class CCacheStreamReader : private CDataStreamSink {
 public:
  // The body is read through a buffer of this size.
  static constexpr std::size_t kBufferSize = 16384;

  enum Outcome {
    eBodyComplete,  // every announced byte was read
    eStreamBroken,  // the data stream itself is not valid (or an item could not be kept)
    eReadFailed,    // the connection failed or ended before the body did
  };

  // Fills `buffer` with up to `size` bytes: the count, 0 when the peer
  // closed, negative on failure.
  using ReadFunction = std::function<int(char* buffer, std::size_t size)>;

  // `contentLength` negative: not announced; the body then ends when the
  // peer closes between two records.
  CCacheStreamReader(CCacheEntry& entry, std::int64_t contentLength);

  Outcome ReadBody(const ReadFunction& read);

  // The answer's next update (now + NXTUPD), and whether it had one at all.
  std::int64_t NextUpdateTime() const { return m_Reader.NextUpdateTime(); }
  bool NextUpdateAnnounced() const { return m_Reader.NextUpdateAnnounced(); }
  std::size_t ItemsAdded() const { return m_ItemsAdded; }
  std::int64_t BytesRead() const { return m_Reader.BytesRead(); }

 private:
  bool BeginItem(const CDataStreamFields& fields, std::string_view rawHeader, std::int64_t nextUpdateTime) override;
  bool AppendItemData(const char* data, std::size_t length) override;
  bool EndItem() override;

  CCacheEntry& m_Entry;
  std::int64_t m_ContentLength;
  IQRNHTTP m_Reader;
  std::shared_ptr<CCacheFile> m_Current;
  std::size_t m_ItemsAdded = 0;
};
