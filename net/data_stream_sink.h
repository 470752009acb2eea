// What the upstream data-stream reader hands on: for each item of an answer,
// its header values and raw header text, then its bytes in pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The values of one data-stream header (names as on the wire).
struct CDataStreamFields {
  std::uint32_t off = 0;     // OFF
  std::uint32_t len = 0;     // LEN
  std::uint32_t tlen = 0;    // TLEN: the item's byte count
  std::uint32_t lid = 0;     // LID: the item id
  std::uint16_t fp = 0;      // FP: the frame part
  std::uint32_t lr = 0;      // LR
  std::uint32_t cmp = 0;     // CMP: the data format
  std::string src;           // SRC
};

class CDataStreamSink {
 public:
  virtual ~CDataStreamSink() = default;
  // A header is complete. `rawHeader` is its text as received, with the
  // empty line that ends it (the next-update line taken out);
  // `nextUpdateTime` is the answer's next update (seconds since 1970, 0 when
  // none was announced). False: no item could be made.
  virtual bool BeginItem(const CDataStreamFields& fields, std::string_view rawHeader,
                         std::int64_t nextUpdateTime) = 0;
  // The next bytes of the current item (all pieces add up to its TLEN).
  virtual bool AppendItemData(const char* data, std::size_t length) = 0;
  // The current item has all its bytes.
  virtual bool EndItem() = 0;
};
