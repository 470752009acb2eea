// The viewer protocol: QRNHTTP parses one viewer request at a time (fed
// incrementally by the request thread) and formats the answer's response
// prefix and data-stream headers.
//
// A viewer request line reads, for example:
//   GET /KIBO-1/NumItm-5/67328-1?x+y HTTP/1.0
// It names the protocol keyword and version, addressing keywords, the
// category and item, an optional extra path and "+"-separated arguments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "net/fetched_item.h"
#include "net/http_status.h"

// A built text: zero-terminated, owned by the caller. Null when it could not
// be built.
using HTTPText = std::unique_ptr<char[]>;

class QRNHTTP {
 public:
  // Method table; only GET, HEAD, POST and PUT are accepted.
  enum Method : std::uint32_t { eGET = 0, eHEAD, ePOST, ePUT, eDELETE, eLINK, eUNLINK, eMethodCount };
  static const char* MethodName(std::uint32_t method);  // "" outside the table

  // Limits on what a viewer may send.
  static constexpr std::size_t kMaxPendingRequestLine = 255;  // waiting without a line end
  static constexpr std::size_t kMaxLineLength = 4096;
  static constexpr std::size_t kMaxRequestHead = 64 * 1024;
  static constexpr std::uint32_t kMaxContentLength = 16 * 1024 * 1024;
  static constexpr std::size_t kScratchBufferSize = 2048;

  QRNHTTP();
  ~QRNHTTP();
  QRNHTTP(const QRNHTTP&) = delete;
  QRNHTTP& operator=(const QRNHTTP&) = delete;

  // Forgets the previous request; called before each request.
  void ResetHTTP();

  // Parses as much of buffer[0..length) as it can. The bytes it consumed are
  // removed from the front of the buffer and `length` is reduced by their
  // number, so the caller appends the next read behind what is left.
  httpStatus HTTPprocess(char* buffer, unsigned int& length);

  // Parsed request.
  std::uint32_t BytesConsumed() const { return m_BytesConsumed; }
  std::uint32_t GetMethod() const { return m_Method; }
  const std::string& ProxyHost() const { return m_ProxyHost; }     // host of an absolute target
  std::int32_t ProxyHostPort() const { return m_ProxyHostPort; }   // 80 when none is given
  std::int32_t GetCategory() const { return m_Category; }
  std::int32_t GetItem() const { return m_Item; }
  std::int32_t ProtocolVersion() const { return m_ProtocolVersion; }
  std::int32_t NumberOfItems() const { return m_NumItems; }
  std::int32_t NumberOfReferences() const { return m_NumRefs; }
  std::int32_t Bid() const { return m_Bid; }
  // Extra path segment and query arguments, in request order. Agents may take
  // arguments off it.
  std::vector<std::string>& Arguments() { return m_Arguments; }
  const std::vector<std::string>& Arguments() const { return m_Arguments; }
  const std::string& RequestURI() const { return m_RequestURI; }
  // Request line and header lines as received, each ended by CR LF, and the
  // empty line that ends the head.
  const std::string& RequestHead() const { return m_RequestHead; }
  // The request line with its CR LF: the start of the head.
  std::string_view RequestLine() const { return std::string_view(m_RequestHead).substr(0, m_RequestLineLength); }
  // The header lines in the order received, each without its CR LF; the
  // parser notes where they lie as it keeps them, so nobody scans the head.
  std::size_t HeaderLineCount() const { return m_HeaderLines.size(); }
  std::string_view HeaderLine(std::size_t index) const {
    return std::string_view(m_RequestHead).substr(m_HeaderLines[index].offset, m_HeaderLines[index].length);
  }
  const std::vector<char>& Body() const { return m_Body; }
  std::uint32_t ContentLength() const { return m_ContentLength; }
  std::int32_t RouterTime() const { return m_RouterTime; }
  const std::string& URIHost() const { return m_URIHost; }
  std::int32_t URIPort() const { return m_URIPort; }
  std::int64_t IfModifiedSince() const { return m_IfModifiedSince; }
  std::int32_t RequestType() const { return m_RequestType; }

  // Scratch space lent to the agents for file reads while they answer.
  char* ScratchBuffer() { return m_lpScratchBuffer.get(); }
  std::size_t ScratchBufferSize() const { return kScratchBufferSize; }

  // --- Answer formatting (every text is newly allocated; null on failure) ---

  // Status line and headers of a data-stream answer of `contentLength` bytes
  // (200, or 204 without content). With `withNextUpdate` 1 and content, a
  // next-update line follows the headers and its length is added to
  // `contentLength`. The final length is also kept as ContentLength().
  HTTPText MakeResponsePrefix(unsigned long& contentLength, long expires, long lastModified, int withNextUpdate);
  // Prefix for a list of items: their data plus data-stream headers; expiry
  // and last-modified of the first item; next-update line on.
  HTTPText MakeResponsePrefix(const CResponseList* items);
  // Length of the line "NXTUPD:<seconds>\r\n". With a buffer, the line is
  // also appended to the text in it when it fits in `capacity` bytes (with
  // the terminating zero); when it does not, nothing is appended and 0 is
  // returned.
  std::size_t AppendNextUpdate(long seconds, char* buffer = nullptr, std::size_t capacity = 0) const;

  // Data-stream header of an item. `nextUpdate` is accepted for symmetry
  // with CalculateDSHeaderLength; the header carries no next-update line.
  HTTPText MakeDataStreamHeader(unsigned long totalLength, const char* source, unsigned long id,
                                unsigned long flags, long nextUpdate) const;
  HTTPText MakeDataStreamHeader(unsigned long totalLength, unsigned long cmp, const char* source,
                                unsigned long id, unsigned long flags, long nextUpdate) const;
  // Header of a fetched item, with its CMP value; `now` 0 means the current time.
  HTTPText MakeDataStreamHeader(const CFetchedItem* item, long now, int noNextUpdate) const;
  // Length of the text the matching MakeDataStreamHeader produces.
  std::size_t CalculateDSHeaderLength(long nextUpdateTime, long now, const std::string& source,
                                      unsigned long totalLength, unsigned long id, short flags) const;
  std::size_t CalculateDSHeaderLength(long nextUpdateTime, long now, unsigned long cmp,
                                      const std::string& source, unsigned long totalLength, unsigned long id,
                                      short flags) const;

 private:
  class LineCursor;
  enum ParserState : int {
    eStateRequestLine = 4,
    eStateArguments = 5,
    eStateHeaders = 6,
    eStateArgumentBody = 7,
    eStatePostBody = 8,
    eStateComplete = 9,
    eStateInvalid = 10,
  };

  httpStatus Parse(const char* buffer, std::size_t length, std::size_t& position);
  // Each step takes what it can from buffer[position..length): true when it
  // moved on (or reached an end state), false when it needs more bytes.
  bool TakeRequestLine(const char* buffer, std::size_t length, std::size_t& position);
  bool TakeHeaderLine(const char* buffer, std::size_t length, std::size_t& position);
  bool TakeArgumentLine(const char* buffer, std::size_t length, std::size_t& position);
  bool TakeContent(const char* buffer, std::size_t length, std::size_t& position);
  bool ParseRequestLine(std::string_view line);
  bool ParseTarget(LineCursor& cursor);
  bool ParseHeader(std::string_view line);
  void ParseURIHeader(std::string_view value);
  bool HeadersEnded();
  bool Fail();

  std::uint32_t m_BytesConsumed = 0;
  std::uint32_t m_Method = 0;
  std::string m_ProxyHost;
  std::int32_t m_ProxyHostPort = 0;
  std::int32_t m_Category = 0;
  std::int32_t m_Item = -1;
  std::int32_t m_ProtocolVersion = 0;
  std::int32_t m_NumItems = 1;
  std::int32_t m_NumRefs = 0;
  std::int32_t m_Bid = 1;
  std::vector<std::string> m_Arguments;
  std::string m_RequestURI;
  std::string m_RequestHead;
  // Where the lines lie in m_RequestHead (offsets fit: the head is bounded).
  struct HeadLine {
    std::uint32_t offset;
    std::uint32_t length;
  };
  std::uint32_t m_RequestLineLength = 0;
  std::vector<HeadLine> m_HeaderLines;
  std::vector<char> m_Body;
  std::uint32_t m_ContentLength = 0;
  std::uint32_t m_ContentRead = 0;  // content bytes taken so far
  std::int32_t m_RouterTime = 0;
  std::string m_URIHost;
  std::int32_t m_URIPort = 0;
  std::int64_t m_IfModifiedSince = 0;
  std::int32_t m_RequestType = 0;
  ParserState m_State = eStateRequestLine;
  std::unique_ptr<char[]> m_lpScratchBuffer;
};
