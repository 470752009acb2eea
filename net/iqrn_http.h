// IQRNHTTP: the viewer protocol spoken towards the upstream service —
// building the request target of an upstream request, escaping arguments,
// and reading the data stream of an upstream answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "net/data_stream_sink.h"
#include "net/http_status.h"

class IQRNHTTP {
 public:
  // Limits on what an upstream answer may hold.
  static constexpr std::size_t kMaxLineLength = 4096;
  static constexpr std::size_t kMaxRawHeader = 64 * 1024;
  static constexpr std::size_t kRawHeaderStep = 1024;
  static constexpr std::uint32_t kMaxItemLength = 16 * 1024 * 1024;
  static constexpr std::int64_t kMaxAnswerLength = 256 * 1024 * 1024;
  static constexpr std::uint32_t kMaxItemsPerAnswer = 65536;

  // "[http://host:port]/KIBO-1[/RegID-id][/BID-n][/NumItm-n][/NumRef-n]/category-item";
  // each addressing keyword only when it differs from its default.
  static std::string MakeRequestTarget(std::string_view host, unsigned port, std::string_view registrationId,
                                       std::uint32_t bid, std::uint32_t numItems, std::uint32_t numRefs,
                                       std::uint32_t category, std::uint32_t item);
  // Replaces blank ! # % * + / : ; = ? \ and control bytes by "%xx".
  static std::string EscapeArgument(std::string_view argument);

  // Starts reading the body of an answer of `contentLength` bytes (negative:
  // not announced; the reader then never reports completion itself). Items
  // go to `sink`, which must outlive the reading.
  void BeginAnswer(std::int64_t contentLength, CDataStreamSink* sink);

  // Reads as much of buffer[0..length) as it can; the consumed bytes are
  // removed from the front and `length` reduced, as QRNHTTP::HTTPprocess
  // does. Complete when the announced content has been read.
  httpStatus HTTPrespState(char* buffer, unsigned int& length);

  // The answer's next update (now + NXTUPD seconds; 0 when NXTUPD was 0 or absent).
  std::int64_t NextUpdateTime() const { return m_NextUpdateTime; }
  // Whether the answer carried an NXTUPD line at all (NXTUPD 0 counts).
  bool NextUpdateAnnounced() const { return m_NextUpdateAnnounced; }
  std::int64_t BytesRead() const { return m_BytesRead; }

 private:
  enum ReaderState { eReadHeader, eReadData, eReadComplete, eReadInvalid };

  bool TakeHeaderLine(const char* buffer, std::size_t length, std::size_t& position);
  bool TakeItemData(const char* buffer, std::size_t length, std::size_t& position);
  bool HeaderEnded();
  bool ContentComplete() const { return m_ContentLength >= 0 && m_BytesRead >= m_ContentLength; }
  std::int64_t ContentLeft() const;
  bool Fail();

  CDataStreamSink* m_Sink = nullptr;
  std::int64_t m_ContentLength = -1;
  std::int64_t m_BytesRead = 0;
  std::int64_t m_NextUpdateTime = 0;
  bool m_NextUpdateAnnounced = false;
  ReaderState m_State = eReadInvalid;
  CDataStreamFields m_Fields;
  std::string m_RawHeader;
  std::uint32_t m_ItemLeft = 0;  // data bytes of the current item still to come
  std::uint32_t m_ItemCount = 0;
};
