// QRNHTTP: the answer's wire format — response prefix, next-update line and
// data-stream headers.
#include <algorithm>
#include <cstring>
#include <ctime>
#include <limits>
#include <new>
#include <string_view>

#include "net/bounded_text.h"
#include "net/http_date.h"
#include "base/product_identity.h"
#include "net/qrn_http.h"

namespace {

struct StatusEntry {
  const char* code;
  const char* reason;  // null: "No Reason"
};
constexpr StatusEntry kStatusLines[] = {
    {"200", "OK"},  {"201", "Created"}, {"202", "Accepted"}, {"203", nullptr}, {"204", "No content"},
    {"300", nullptr}, {"301", nullptr}, {"302", "Moved temporarily"}, {"303", nullptr}, {"304", nullptr},
    {"400", nullptr}, {"401", nullptr}, {"402", nullptr}, {"403", nullptr}, {"404", nullptr},
    {"405", nullptr}, {"406", nullptr}, {"407", nullptr}, {"408", nullptr}, {"409", nullptr},
    {"410", nullptr}, {"500", nullptr}, {"501", nullptr}, {"502", nullptr}, {"503", nullptr},
    {"504", nullptr}};
constexpr std::size_t kStatusOK = 0;
constexpr std::size_t kStatusNoContent = 4;

// Status line, server line, two content headers, two dates, the empty line
// and the next-update line fit with room to spare.
constexpr std::size_t kPrefixCapacity = 1024;
// The fixed lines of a data-stream header (everything but the source text).
constexpr std::size_t kDSFieldsCapacity = 192;
constexpr std::string_view kSourceName = "SRC:";
constexpr std::string_view kHeaderEnd = "\r\n\r\n";

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

unsigned Seconds32(std::int64_t seconds) {
  if (seconds < 0) return 0;
  return seconds > std::numeric_limits<unsigned>::max() ? std::numeric_limits<unsigned>::max()
                                                        : static_cast<unsigned>(seconds);
}

void AppendStatusLine(net::BoundedText& text, std::size_t index) {
  const StatusEntry& entry = kStatusLines[index];
  text.Append("HTTP/1.0 ");
  text.Append(entry.code);
  text.Append(" ");
  text.Append(entry.reason != nullptr ? entry.reason : "No Reason");
  text.Append("\r\n");
}

// "NXTUPD:<seconds>\r\n" into `out` (zero-terminated): its length, or 0
// when it does not fit.
std::size_t FormatNextUpdate(char* out, std::size_t capacity, std::int64_t seconds) {
  net::BoundedText text(out, capacity);
  text.Append("NXTUPD:");
  text.AppendNumber(Seconds32(seconds));
  text.Append("\r\n");
  return text.ok() ? text.text().size() : 0;
}

// The source text ends at the first line end (or zero byte): a source must
// not add lines of its own to the header.
std::string_view SourceText(std::string_view source) {
  return source.substr(0, source.find_first_of(std::string_view("\r\n\0", 3)));
}

// The lines OFF to CMP of a data-stream header; `cmp` null leaves CMP out.
std::size_t FormatDSFields(char (&out)[kDSFieldsCapacity], unsigned long totalLength, const unsigned long* cmp,
                           unsigned long id, std::uint16_t flags) {
  net::BoundedText text(out, sizeof(out));
  const auto line = [&text](std::string_view name, unsigned long value) {
    text.Append(name);
    text.AppendNumber(value);
    text.Append("\r\n");
  };
  line("OFF:", 0);
  line("LEN:", 0);
  line("LID:", id);
  line("TLEN:", totalLength);
  line("FP:", flags);
  if (cmp != nullptr) line("CMP:", *cmp);
  // Every number has at most 20 digits, so the lines always fit.
  return text.ok() ? text.text().size() : 0;
}

HTTPText BuildDataStreamHeader(unsigned long totalLength, const unsigned long* cmp, const char* source,
                               unsigned long id, unsigned long flags) {
  char fields[kDSFieldsCapacity];
  const std::size_t fieldsLength = FormatDSFields(fields, totalLength, cmp, id, static_cast<std::uint16_t>(flags));
  if (fieldsLength == 0) return nullptr;
  const std::string_view sourceText = SourceText(source != nullptr ? source : "");
  const std::size_t length = fieldsLength + kSourceName.size() + sourceText.size() + kHeaderEnd.size();
  HTTPText text(new (std::nothrow) char[length + 1]);
  if (text == nullptr) return nullptr;
  char* out = text.get();
  for (std::string_view piece : {std::string_view(fields, fieldsLength), kSourceName, sourceText, kHeaderEnd}) {
    std::memcpy(out, piece.data(), piece.size());
    out += piece.size();
  }
  *out = '\0';
  return text;
}

std::size_t DataStreamHeaderLength(unsigned long totalLength, const unsigned long* cmp, const std::string& source,
                                   unsigned long id, short flags) {
  char fields[kDSFieldsCapacity];
  const std::size_t fieldsLength = FormatDSFields(fields, totalLength, cmp, id, static_cast<std::uint16_t>(flags));
  return fieldsLength + kSourceName.size() + SourceText(source).size() + kHeaderEnd.size();
}

}  // namespace

HTTPText QRNHTTP::MakeResponsePrefix(unsigned long& contentLength, long expires, long lastModified,
                                     int withNextUpdate) {
  const std::int64_t now = Now();
  const std::int64_t nextUpdate = std::max<std::int64_t>(0, expires - now);
  const bool hasContent = contentLength != 0;
  const bool nextUpdateLine = withNextUpdate == 1 && hasContent;
  if (nextUpdateLine) contentLength += AppendNextUpdate(static_cast<long>(Seconds32(nextUpdate)));
  m_ContentLength = static_cast<std::uint32_t>(std::min<unsigned long>(contentLength, 0xFFFFFFFFul));

  char storage[kPrefixCapacity];
  net::BoundedText text(storage, sizeof(storage));
  AppendStatusLine(text, hasContent ? kStatusOK : kStatusNoContent);
  text.Append(net::ServerHeaderLine());
  if (hasContent) {
    text.Append("Content-length:");
    text.AppendNumber(contentLength);
    text.Append("\r\nContent-type:application/octet-stream\r\n");
  }
  char date[net::kHTTPDateCapacity];
  std::size_t dateLength = net::FormatHTTPDate(expires != 0 ? expires : now + 60, date);
  if (dateLength != 0) {
    text.Append("Expires:");
    text.Append(std::string_view(date, dateLength));
    text.Append("\r\n");
  }
  if (lastModified != 0 && (dateLength = net::FormatHTTPDate(lastModified, date)) != 0) {
    text.Append("Last-Modified:");
    text.Append(std::string_view(date, dateLength));
    text.Append("\r\n");
  }
  text.Append("\r\n");
  if (nextUpdateLine) {
    char line[32];
    text.Append(std::string_view(line, FormatNextUpdate(line, sizeof(line), nextUpdate)));
  }
  return text.Copy();
}

HTTPText QRNHTTP::MakeResponsePrefix(const CResponseList* items) {
  unsigned long contentLength = 0;
  if (items == nullptr || items->empty()) return MakeResponsePrefix(contentLength, 0, 0, 1);
  const std::int64_t now = Now();
  for (const CFetchedItem* item : *items) {
    if (item == nullptr) return nullptr;
    contentLength += item->SendLength() +
                     CalculateDSHeaderLength(static_cast<long>(item->NextUpdateTime()), static_cast<long>(now),
                                             item->DataFormat(), item->Source(), item->SendLength(),
                                             item->ItemID(), static_cast<short>(item->FramePart()));
  }
  const CFetchedItem* first = items->front();
  return MakeResponsePrefix(contentLength, static_cast<long>(first->NextUpdateTime()),
                            static_cast<long>(first->LastModified()), 1);
}

std::size_t QRNHTTP::AppendNextUpdate(long seconds, char* buffer, std::size_t capacity) const {
  char line[32];
  const std::size_t length = FormatNextUpdate(line, sizeof(line), seconds);
  if (length == 0) return 0;
  if (buffer != nullptr) {
    const std::size_t used = strnlen(buffer, capacity);
    if (used + length + 1 > capacity) return 0;
    std::memcpy(buffer + used, line, length + 1);
  }
  return length;
}

HTTPText QRNHTTP::MakeDataStreamHeader(unsigned long totalLength, const char* source, unsigned long id,
                                       unsigned long flags, long nextUpdate) const {
  return BuildDataStreamHeader(totalLength, nullptr, source, id, flags);
}

HTTPText QRNHTTP::MakeDataStreamHeader(unsigned long totalLength, unsigned long cmp, const char* source,
                                       unsigned long id, unsigned long flags, long nextUpdate) const {
  return BuildDataStreamHeader(totalLength, &cmp, source, id, flags);
}

HTTPText QRNHTTP::MakeDataStreamHeader(const CFetchedItem* item, long now, int noNextUpdate) const {
  if (item == nullptr) return nullptr;
  const std::int64_t reference = now != 0 ? now : Now();
  std::int64_t nextUpdate = item->NextUpdateTime() - reference;
  if (nextUpdate < 0 || noNextUpdate != 0) nextUpdate = 0;
  return MakeDataStreamHeader(item->SendLength(), item->DataFormat(), item->Source().c_str(), item->ItemID(),
                              item->FramePart(), static_cast<long>(nextUpdate));
}

std::size_t QRNHTTP::CalculateDSHeaderLength(long nextUpdateTime, long now, const std::string& source,
                                             unsigned long totalLength, unsigned long id, short flags) const {
  return DataStreamHeaderLength(totalLength, nullptr, source, id, flags);
}

std::size_t QRNHTTP::CalculateDSHeaderLength(long nextUpdateTime, long now, unsigned long cmp,
                                             const std::string& source, unsigned long totalLength,
                                             unsigned long id, short flags) const {
  return DataStreamHeaderLength(totalLength, &cmp, source, id, flags);
}
