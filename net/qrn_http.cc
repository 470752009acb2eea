// QRNHTTP: the incremental parser of viewer requests.
#include "net/qrn_http.h"

#include <algorithm>
#include <cstring>

#include "base/text_scan.h"
#include "base/trace_bits.h"
#include "platform/trace.h"

namespace {

constexpr const char* kMethodNames[] = {"GET", "HEAD", "POST", "PUT", "DELETE", "LINK", "UNLINK"};

enum AddressingKeyword { eKIBO, eNumItm, eNumRef, eRegID, eBID, eKeywordCount };
constexpr const char* kAddressingKeywords[] = {"KIBO", "NumItm", "NumRef", "RegID", "BID"};

enum Header {
  eContentLength,
  eContentType,
  eExpires,
  eURI,
  eServer,
  eUserAgent,
  eIfModifiedSince,
  eLastModified,
  eQRNReqType,
  eQRNrouterTime,
  eHeaderCount
};
constexpr const char* kHeaderNames[] = {"Content-length", "Content-type",      "Expires",       "URI",
                                        "Server",         "User-Agent",        "If-Modified-Since",
                                        "Last-Modified",  "QRNReqType",        "QRNrouter-time"};

// A body this large is never kept for long by an idle parser.
constexpr std::size_t kRetainedBodyCapacity = 64 * 1024;

template <std::size_t N>
int FindNoCase(const char* const (&table)[N], std::string_view name) {
  for (std::size_t i = 0; i < N; ++i) {
    if (net::EqualsNoCase(name, table[i])) return static_cast<int>(i);
  }
  return -1;
}

// Request lines carry printable text; control bytes have no business there.
bool HasControlBytes(std::string_view line) {
  return std::any_of(line.begin(), line.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte < 0x20 && byte != '\t') || byte == 0x7F;
  });
}

}  // namespace

// The tokenizer over one request line: a token runs from the current position
// up to the first of a set of delimiters, and the position moves past that
// delimiter.
class QRNHTTP::LineCursor {
 public:
  explicit LineCursor(std::string_view line) : line_(line) {}

  std::string_view GetToken(const char* delimiters) {
    if (position_ >= line_.size()) {
      trace(trace_bits::kParse, "QRNHTTP: GetToken() - [line <= 0] \"%s\"\n", delimiters);
      delimiter_ = '\0';
      return {};
    }
    const std::size_t end = line_.find_first_of(delimiters, position_);
    const std::size_t stop = end == std::string_view::npos ? line_.size() : end;
    std::string_view token = line_.substr(position_, stop - position_);
    delimiter_ = end == std::string_view::npos ? '\0' : line_[end];
    position_ = end == std::string_view::npos ? line_.size() : end + 1;
    return token;
  }

  // The delimiter that ended the last token; '\0' at the end of the line.
  char Delimiter() const { return delimiter_; }
  std::size_t Position() const { return position_; }
  bool AtEnd() const { return position_ >= line_.size(); }
  char Peek() const { return AtEnd() ? '\0' : line_[position_]; }
  bool Skip(std::string_view text) {
    if (line_.substr(position_, text.size()) != text) return false;
    position_ += text.size();
    return true;
  }
  // Takes the next character as the delimiter when it is one of `set`; at
  // the end of the line the delimiter becomes '\0'.
  bool TakeDelimiter(const char* set) {
    if (AtEnd()) {
      delimiter_ = '\0';
      return true;
    }
    if (std::strchr(set, line_[position_]) == nullptr) return false;
    delimiter_ = line_[position_++];
    return true;
  }
  std::string_view Rest() const { return line_.substr(std::min(position_, line_.size())); }

 private:
  std::string_view line_;
  std::size_t position_ = 0;
  char delimiter_ = '\0';
};

const char* QRNHTTP::MethodName(std::uint32_t method) {
  return method < eMethodCount ? kMethodNames[method] : "";
}

QRNHTTP::QRNHTTP() : m_lpScratchBuffer(new char[kScratchBufferSize]()) { ResetHTTP(); }

QRNHTTP::~QRNHTTP() = default;

// Every field of the previous request goes, not only the addressing values:
// a content length or body left behind would be taken for the next request's.
void QRNHTTP::ResetHTTP() {
  m_BytesConsumed = 0;
  m_Method = 0;
  m_ProxyHost.clear();
  m_ProxyHostPort = 80;
  m_Category = 0;
  m_Item = -1;
  m_ProtocolVersion = 0;
  m_NumItems = 1;
  m_NumRefs = 0;
  m_Bid = 1;
  m_Arguments.clear();
  m_RequestURI.clear();
  m_RequestHead.clear();
  m_RequestLineLength = 0;
  m_HeaderLines.clear();
  if (m_Body.capacity() > kRetainedBodyCapacity) {
    std::vector<char>().swap(m_Body);
  } else {
    m_Body.clear();
  }
  m_ContentLength = 0;
  m_ContentRead = 0;
  m_RouterTime = 0;
  m_URIHost.clear();
  m_URIPort = 0;
  m_IfModifiedSince = 0;
  m_RequestType = 0;
  m_State = eStateRequestLine;
}

httpStatus QRNHTTP::HTTPprocess(char* buffer, unsigned int& length) {
  if (buffer == nullptr) length = 0;
  std::size_t position = 0;
  const httpStatus status = Parse(buffer, length, position);
  if (position > 0) {
    std::memmove(buffer, buffer + position, length - position);
    length -= static_cast<unsigned int>(position);
    m_BytesConsumed += static_cast<std::uint32_t>(position);
  }
  return status;
}

httpStatus QRNHTTP::Parse(const char* buffer, std::size_t length, std::size_t& position) {
  for (;;) {
    bool progressed = false;
    switch (m_State) {
      case eStateRequestLine:
        progressed = TakeRequestLine(buffer, length, position);
        break;
      case eStateHeaders:
        progressed = TakeHeaderLine(buffer, length, position);
        break;
      case eStateArguments:
        progressed = TakeArgumentLine(buffer, length, position);
        break;
      case eStateArgumentBody:
      case eStatePostBody:
        progressed = TakeContent(buffer, length, position);
        break;
      case eStateComplete:
        return eHTTPComplete;
      case eStateInvalid:
        return eHTTPInvalid;
    }
    if (!progressed) return eHTTPMoreData;
  }
}

bool QRNHTTP::Fail() {
  m_State = eStateInvalid;
  return true;
}

bool QRNHTTP::TakeRequestLine(const char* buffer, std::size_t length, std::size_t& position) {
  const std::size_t waiting = length - position;
  std::size_t rawLength = 0;
  std::string_view line;
  if (!net::FindLine(buffer + position, std::min(waiting, kMaxLineLength), rawLength, line)) {
    if (waiting > kMaxPendingRequestLine) return Fail();
    return false;
  }
  // Kept with CR LF whatever the viewer ended its lines with: the head goes
  // upstream as it is, and upstream waits for a CR LF CR LF.
  m_RequestHead.assign(line).append("\r\n");
  m_RequestLineLength = static_cast<std::uint32_t>(m_RequestHead.size());
  position += rawLength;
  if (!ParseRequestLine(line)) return Fail();
  m_State = eStateHeaders;
  return true;
}

bool QRNHTTP::ParseRequestLine(std::string_view line) {
  if (HasControlBytes(line)) return false;
  LineCursor cursor(line);
  const std::string_view methodToken = cursor.GetToken(" ");
  m_Method = eMethodCount;
  for (std::uint32_t i = 0; i < eMethodCount; ++i) {
    if (methodToken == kMethodNames[i]) m_Method = i;
  }
  if (m_Method > ePUT) {
    trace(trace_bits::kParse, "QRNHTTP: Invalid Method in HTTP response (%u)\n", m_Method);
    return false;
  }
  if (cursor.Delimiter() != ' ') return false;

  const std::size_t targetStart = cursor.Position();
  if (!ParseTarget(cursor) || cursor.Delimiter() != ' ') return false;
  m_RequestURI.assign(line.substr(targetStart, cursor.Position() - 1 - targetStart));

  // The protocol: "HTTP", "/" and a version that reads as 1.0.
  while (cursor.Peek() == ' ') cursor.Skip(" ");
  const std::string_view protocol = cursor.GetToken("/");
  if (protocol != "HTTP" || cursor.Delimiter() != '/') return false;
  return net::ScanDecimal(cursor.Rest()) == 1.0;
}

bool QRNHTTP::ParseTarget(LineCursor& cursor) {
  // An absolute target names the host (and port) the viewer thinks it asks.
  const std::string_view scheme = cursor.GetToken("/:");
  if (cursor.Delimiter() == ':') {
    if (!net::EqualsNoCase(scheme, "http") || !cursor.Skip("//")) return false;
    m_ProxyHost.assign(cursor.GetToken("/:"));
    if (cursor.Delimiter() == ':') m_ProxyHostPort = net::ScanLong(cursor.GetToken("/"));
    if (cursor.Delimiter() != '/') return false;
  } else if (!scheme.empty() || cursor.Delimiter() != '/') {
    return false;
  }

  // The protocol keyword and its version: "KIBO-1" or "KIBO1".
  std::string_view token;
  while (token.empty()) {
    if (cursor.AtEnd()) return false;
    token = cursor.GetToken("/-");
  }
  const std::size_t keyword = token.find(kAddressingKeywords[eKIBO]);
  if (keyword == std::string_view::npos) return false;
  std::string_view version;
  if (cursor.Delimiter() == '-') {
    version = cursor.GetToken("/");
  } else if (cursor.Delimiter() == '/') {
    version = token.substr(keyword + std::strlen(kAddressingKeywords[eKIBO]));
  } else {
    return false;
  }
  m_ProtocolVersion = net::ScanLong(version);
  if (m_ProtocolVersion != 1) return false;

  // Addressing keywords with their values, then the category.
  for (;;) {
    const std::string_view name = cursor.GetToken("-.");
    const int index = FindNoCase(kAddressingKeywords, name);
    if (index < 0) {
      m_Category = net::ScanLong(name);
      break;
    }
    const std::string_view value = cursor.GetToken("/");
    if (index == eNumItm) m_NumItems = net::ScanLong(value);
    if (index == eNumRef) m_NumRefs = net::ScanLong(value);
    if (index == eBID) m_Bid = net::ScanLong(value);
  }

  m_Item = net::ScanLong(cursor.GetToken(" ?/"));
  if (cursor.Delimiter() == '/') {
    const std::string_view extra = cursor.GetToken(" ?");
    if (!extra.empty()) m_Arguments.emplace_back(extra);
  }
  if (cursor.Delimiter() != '?') return true;

  // Arguments separated by "+"; one in double quotes may hold any of them.
  do {
    if (cursor.Peek() == '"') {
      cursor.Skip("\"");
      const std::string_view quoted = cursor.GetToken("\"");
      if (cursor.Delimiter() != '"' || !cursor.TakeDelimiter("+ ")) return false;
      m_Arguments.emplace_back(quoted);
    } else {
      const std::string_view argument = cursor.GetToken("+\" ");
      if (cursor.Delimiter() == '"') return false;
      m_Arguments.emplace_back(argument);
    }
  } while (cursor.Delimiter() == '+');
  return true;
}

bool QRNHTTP::TakeHeaderLine(const char* buffer, std::size_t length, std::size_t& position) {
  const std::size_t waiting = length - position;
  std::size_t rawLength = 0;
  std::string_view line;
  if (!net::FindLine(buffer + position, std::min(waiting, kMaxLineLength), rawLength, line)) {
    if (waiting >= kMaxLineLength) return Fail();
    return false;
  }
  position += rawLength;
  if (line.empty()) return HeadersEnded();
  if (m_RequestHead.size() + line.size() + 2 > kMaxRequestHead) return Fail();
  m_HeaderLines.push_back({static_cast<std::uint32_t>(m_RequestHead.size()), static_cast<std::uint32_t>(line.size())});
  m_RequestHead.append(line).append("\r\n");
  if (!ParseHeader(line)) return Fail();
  return true;
}

bool QRNHTTP::ParseHeader(std::string_view line) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return true;
  const std::string_view value = net::TrimBlanks(line.substr(colon + 1));
  switch (FindNoCase(kHeaderNames, net::TrimBlanks(line.substr(0, colon)))) {
    case eContentLength: {
      // A length the server would not hold makes the request invalid before
      // any of its body is read.
      const std::int32_t contentLength = net::ScanLong(value);
      if (contentLength < 0 || static_cast<std::uint32_t>(contentLength) > kMaxContentLength) return false;
      m_ContentLength = static_cast<std::uint32_t>(contentLength);
      break;
    }
    case eURI:
      ParseURIHeader(value);
      break;
    case eIfModifiedSince:
      // Recognised but not interpreted: requests carry no modification condition.
      m_IfModifiedSince = 0;
      break;
    case eQRNReqType:
      m_RequestType = net::ScanLong(value);
      break;
    case eQRNrouterTime:
      m_RouterTime = net::ScanLong(value);
      break;
    default:
      break;
  }
  return true;
}

// "<http://host:port/...>": only a value in angle brackets names a host.
void QRNHTTP::ParseURIHeader(std::string_view value) {
  if (value.empty() || value.front() != '<') return;
  const std::size_t slashes = value.find("//");
  if (slashes == std::string_view::npos) return;
  std::string_view hostPart = value.substr(slashes + 2);
  hostPart = hostPart.substr(0, hostPart.find_first_of("/>"));
  const std::size_t colon = hostPart.find(':');
  m_URIHost.assign(hostPart.substr(0, colon));
  m_URIPort = colon == std::string_view::npos ? 80 : net::ScanLong(hostPart.substr(colon + 1));
}

bool QRNHTTP::HeadersEnded() {
  m_RequestHead.append("\r\n");
  m_ContentRead = 0;
  if (m_ContentLength == 0) {
    m_State = eStateComplete;
  } else {
    m_State = m_Method == ePOST ? eStatePostBody : eStateArguments;
  }
  return true;
}

// Content of a request other than POST: argument lines with data-stream
// field names, an empty line, and then bytes that are only counted.
bool QRNHTTP::TakeArgumentLine(const char* buffer, std::size_t length, std::size_t& position) {
  const std::size_t waiting = length - position;
  const std::size_t remaining = m_ContentLength - m_ContentRead;
  std::size_t rawLength = 0;
  std::string_view line;
  if (!net::FindLine(buffer + position, std::min({waiting, remaining, kMaxLineLength}), rawLength, line)) {
    if (remaining <= std::min(waiting, kMaxLineLength)) {
      // The content ends inside a line: what is left is only counted.
      position += remaining;
      m_ContentRead = m_ContentLength;
      m_State = eStateComplete;
      return true;
    }
    if (waiting >= kMaxLineLength) return Fail();
    trace(trace_bits::kParse, "QRNHTTP: ...need more request args\n");
    return false;
  }
  position += rawLength;
  m_ContentRead += static_cast<std::uint32_t>(rawLength);
  if (line.empty()) {
    m_State = eStateArgumentBody;
  } else if (const std::size_t colon = line.find(':'); colon != std::string_view::npos) {
    const std::string_view name = net::TrimBlanks(line.substr(0, colon));
    const std::string_view value = line.substr(colon + 1);
    if (net::EqualsNoCase(name, "NumRef")) m_NumRefs = net::ScanLong(value);
    if (net::EqualsNoCase(name, "NumItems")) m_NumItems = net::ScanLong(value);
    if (net::EqualsNoCase(name, "BID")) m_Bid = net::ScanLong(value);
  }
  if (m_ContentRead == m_ContentLength) m_State = eStateComplete;
  return true;
}

// The body grows with what arrives, never ahead of it, so a large announced
// length costs nothing until the bytes come.
bool QRNHTTP::TakeContent(const char* buffer, std::size_t length, std::size_t& position) {
  const std::size_t take = std::min<std::size_t>(length - position, m_ContentLength - m_ContentRead);
  if (m_State == eStatePostBody) m_Body.insert(m_Body.end(), buffer + position, buffer + position + take);
  position += take;
  m_ContentRead += static_cast<std::uint32_t>(take);
  if (m_ContentRead == m_ContentLength) {
    m_State = eStateComplete;
    return true;
  }
  return false;
}
