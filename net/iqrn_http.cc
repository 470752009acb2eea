// IQRNHTTP: requests to and answers from the upstream service.
#include "net/iqrn_http.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "base/text_scan.h"
#include "base/trace_bits.h"
#include "platform/trace.h"

namespace {

// Characters that would change the meaning of a request target.
bool NeedsEscape(unsigned char c) {
  return c < 0x20 || c == 0x7F || std::strchr(" !#%*+/:;=?\\", c) != nullptr;
}

}  // namespace

std::string IQRNHTTP::MakeRequestTarget(std::string_view host, unsigned port, std::string_view registrationId,
                                        std::uint32_t bid, std::uint32_t numItems, std::uint32_t numRefs,
                                        std::uint32_t category, std::uint32_t item) {
  std::string target;
  if (!host.empty()) target.append("http://").append(host).append(":").append(std::to_string(port));
  target.append("/KIBO-1");
  if (!registrationId.empty()) target.append("/RegID-").append(registrationId);
  if (bid != 1) target.append("/BID-").append(std::to_string(bid));
  if (numItems != 1) target.append("/NumItm-").append(std::to_string(numItems));
  if (numRefs != 0) target.append("/NumRef-").append(std::to_string(numRefs));
  target.append("/").append(std::to_string(category)).append("-").append(std::to_string(item));
  return target;
}

std::string IQRNHTTP::EscapeArgument(std::string_view argument) {
  std::string escaped;
  escaped.reserve(argument.size());
  for (char c : argument) {
    const auto byte = static_cast<unsigned char>(c);
    if (!NeedsEscape(byte)) {
      escaped.push_back(c);
      continue;
    }
    char code[4];
    std::snprintf(code, sizeof(code), "%%%02x", byte);
    escaped.append(code, 3);
  }
  return escaped;
}

void IQRNHTTP::BeginAnswer(std::int64_t contentLength, CDataStreamSink* sink) {
  m_Sink = sink;
  m_ContentLength = contentLength < 0 ? -1 : contentLength;
  m_BytesRead = 0;
  m_NextUpdateTime = 0;
  m_NextUpdateAnnounced = false;
  m_Fields = CDataStreamFields();
  m_RawHeader.clear();
  m_ItemLeft = 0;
  m_ItemCount = 0;
  m_State = contentLength > kMaxAnswerLength ? eReadInvalid : eReadHeader;
}

httpStatus IQRNHTTP::HTTPrespState(char* buffer, unsigned int& length) {
  if (buffer == nullptr) length = 0;
  std::size_t position = 0;
  httpStatus status = eHTTPMoreData;
  for (bool reading = true; reading;) {
    switch (m_State) {
      case eReadHeader:
        if (ContentComplete() && m_RawHeader.empty()) {
          m_State = eReadComplete;
        } else {
          reading = TakeHeaderLine(buffer, length, position);
        }
        break;
      case eReadData:
        reading = TakeItemData(buffer, length, position);
        break;
      case eReadComplete:
        status = eHTTPComplete;
        reading = false;
        break;
      case eReadInvalid:
        status = eHTTPInvalid;
        reading = false;
        break;
    }
  }
  if (position > 0) {
    std::memmove(buffer, buffer + position, length - position);
    length -= static_cast<unsigned int>(position);
  }
  return status;
}

std::int64_t IQRNHTTP::ContentLeft() const {
  return (m_ContentLength >= 0 ? m_ContentLength : kMaxAnswerLength) - m_BytesRead;
}

bool IQRNHTTP::Fail() {
  m_State = eReadInvalid;
  return true;
}

bool IQRNHTTP::TakeHeaderLine(const char* buffer, std::size_t length, std::size_t& position) {
  const std::size_t waiting = length - position;
  const auto left = static_cast<std::size_t>(std::max<std::int64_t>(0, ContentLeft()));
  std::size_t rawLength = 0;
  std::string_view line;
  if (!net::FindLine(buffer + position, std::min({waiting, left, kMaxLineLength}), rawLength, line)) {
    // A line may neither run past the content nor past the line limit.
    if (left <= std::min(waiting, kMaxLineLength) || waiting >= kMaxLineLength) return Fail();
    trace(trace_bits::kParse, "IQRNHTTP: ...need more DSheader\n");
    return false;
  }
  const std::string_view raw(buffer + position, rawLength);
  position += rawLength;
  m_BytesRead += static_cast<std::int64_t>(rawLength);

  const std::size_t colon = line.find(':');
  const std::string_view name = net::TrimBlanks(line.substr(0, colon));
  const std::string_view value = colon == std::string_view::npos ? std::string_view() : net::TrimBlanks(line.substr(colon + 1));
  if (!line.empty() && net::EqualsNoCase(name, "NXTUPD")) {
    // The answer's next update; the line itself leaves the stream.
    const std::int32_t seconds = net::ScanLong(value);
    m_NextUpdateTime = seconds == 0 ? 0 : static_cast<std::int64_t>(std::time(nullptr)) + seconds;
    m_NextUpdateAnnounced = true;
    return true;
  }

  if (m_RawHeader.size() + raw.size() > kMaxRawHeader) {
    trace(trace_bits::kParse, "IQRNHTTP: Error allocating space in HTTPrespState\n");
    return Fail();
  }
  if (m_RawHeader.size() + raw.size() > m_RawHeader.capacity()) {
    const std::size_t needed = m_RawHeader.size() + raw.size();
    m_RawHeader.reserve((needed + kRawHeaderStep - 1) / kRawHeaderStep * kRawHeaderStep);
  }
  m_RawHeader.append(raw);
  if (line.empty()) return HeaderEnded();

  if (net::EqualsNoCase(name, "OFF")) {
    m_Fields.off = net::ScanUnsigned(value);
  } else if (net::EqualsNoCase(name, "LEN")) {
    m_Fields.len = net::ScanUnsigned(value);
  } else if (net::EqualsNoCase(name, "TLEN")) {
    m_Fields.tlen = net::ScanUnsigned(value);
  } else if (net::EqualsNoCase(name, "LID")) {
    m_Fields.lid = net::ScanUnsigned(value);
  } else if (net::EqualsNoCase(name, "FP")) {
    m_Fields.fp = static_cast<std::uint16_t>(net::ScanUnsigned(value));
  } else if (net::EqualsNoCase(name, "LR")) {
    m_Fields.lr = net::ScanUnsigned(value);
  } else if (net::EqualsNoCase(name, "SRC")) {
    m_Fields.src.assign(value);
  } else if (net::EqualsNoCase(name, "CMP")) {
    m_Fields.cmp = net::ScanUnsigned(value);
    trace(trace_bits::kParse, "IQRNHTTP: Received CMP value: %u \n", m_Fields.cmp);
  }
  return true;
}

bool IQRNHTTP::HeaderEnded() {
  if (ContentComplete()) {
    m_State = eReadComplete;
    return true;
  }
  // An item must fit in what is left of the answer, and answers hold a
  // bounded number of items.
  if (m_Fields.tlen > kMaxItemLength || m_Fields.tlen > ContentLeft() || m_ItemCount >= kMaxItemsPerAnswer) {
    return Fail();
  }
  if (m_Sink != nullptr && !m_Sink->BeginItem(m_Fields, m_RawHeader, m_NextUpdateTime)) {
    trace(trace_bits::kParse, "IQRNHTTP: %%ERROR%% - failed to create item\n");
    return Fail();
  }
  ++m_ItemCount;
  m_ItemLeft = m_Fields.tlen;
  m_State = eReadData;
  return true;
}

bool IQRNHTTP::TakeItemData(const char* buffer, std::size_t length, std::size_t& position) {
  const std::size_t take = std::min<std::size_t>(length - position, m_ItemLeft);
  if (take > 0) {
    if (m_Sink != nullptr && !m_Sink->AppendItemData(buffer + position, take)) return Fail();
    position += take;
    m_BytesRead += static_cast<std::int64_t>(take);
    m_ItemLeft -= static_cast<std::uint32_t>(take);
  }
  if (m_ItemLeft != 0) return false;
  if (m_Sink != nullptr && !m_Sink->EndItem()) return Fail();
  trace(trace_bits::kParse, "IQRNHTTP: Content Length - %ld, BytesRead - %ld\n", static_cast<long>(m_ContentLength),
        static_cast<long>(m_BytesRead));
  m_Fields = CDataStreamFields();
  m_RawHeader.clear();
  m_State = eReadHeader;
  return true;
}
