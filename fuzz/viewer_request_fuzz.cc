// Fuzzes the viewer-request parser the way the request thread feeds it: bytes
// arrive in pieces of random size and are appended behind what the parser
// left in a 4096-byte buffer. A complete request must be consistent, and the
// answer texts built from its values must be well-formed.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_machine_root.h"
#include "net/iqrn_http.h"
#include "net/qrn_http.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckAnswerTexts(QRNHTTP& parser) {
  unsigned long length = parser.Body().size();
  const unsigned long given = length;
  HTTPText prefix = parser.MakeResponsePrefix(length, parser.RouterTime(), parser.RequestType(), 1);
  Check(prefix != nullptr);
  const std::string text(prefix.get());
  Check(text.starts_with(given != 0 ? "HTTP/1.0 200 OK\r\n" : "HTTP/1.0 204 No content\r\n"));
  Check(text.find("\r\n\r\n") != std::string::npos);
  Check(given == 0 || length > given);

  for (const std::string& argument : parser.Arguments()) {
    const auto flags = static_cast<short>(parser.NumberOfItems());
    HTTPText header = parser.MakeDataStreamHeader(parser.Body().size(), 7, argument.c_str(),
                                                  static_cast<unsigned long>(parser.GetItem()),
                                                  static_cast<std::uint16_t>(flags), parser.Bid());
    Check(header != nullptr);
    Check(parser.CalculateDSHeaderLength(parser.Bid(), 0, 7, argument, parser.Body().size(),
                                         static_cast<unsigned long>(parser.GetItem()), flags) ==
          std::strlen(header.get()));
    const std::string escaped = IQRNHTTP::EscapeArgument(argument);
    Check(escaped.find_first_of(" !#*+/:;=?\\\r\n") == std::string::npos);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  UseTemporaryMachineRoot();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // One parser for all inputs, as a request thread keeps one for all requests.
  static QRNHTTP parser;
  parser.ResetHTTP();
  FuzzedDataProvider provider(data, size);
  char buffer[4096];
  unsigned int held = 0;
  httpStatus status = eHTTPMoreData;
  while (status == eHTTPMoreData && provider.remaining_bytes() > 0) {
    const std::size_t room = sizeof(buffer) - 1 - held;
    if (room == 0) break;  // the request thread drops such a request
    const std::size_t want = provider.ConsumeIntegralInRange<std::size_t>(1, 600);
    const std::vector<char> piece = provider.ConsumeBytes<char>(want < room ? want : room);
    if (piece.empty()) break;
    std::memcpy(buffer + held, piece.data(), piece.size());
    held += static_cast<unsigned int>(piece.size());
    const unsigned int before = held;
    status = parser.HTTPprocess(buffer, held);
    Check(held <= before);
    Check(status == eHTTPMoreData || status == eHTTPComplete || status == eHTTPInvalid);
    if (status == eHTTPMoreData) Check(held < QRNHTTP::kMaxLineLength);
  }
  if (status != eHTTPComplete) return 0;

  Check(parser.GetMethod() <= QRNHTTP::ePUT);
  Check(parser.ProtocolVersion() == 1);
  Check(parser.ContentLength() <= QRNHTTP::kMaxContentLength);
  Check(parser.GetMethod() == QRNHTTP::ePOST ? parser.Body().size() == parser.ContentLength() : parser.Body().empty());
  Check(parser.RequestHead().starts_with(parser.RequestLine()));
  Check(parser.RequestHead().ends_with("\r\n"));
  Check(parser.RequestHead().size() <= QRNHTTP::kMaxRequestHead + QRNHTTP::kMaxLineLength + 2);
  Check(parser.RequestLine().find(parser.RequestURI()) != std::string::npos);
  for (std::size_t i = 0; i < parser.HeaderLineCount(); ++i) {
    // A header line lies inside the head, behind the request line, with its CR LF.
    const std::string_view line = parser.HeaderLine(i);
    const std::size_t offset = static_cast<std::size_t>(line.data() - parser.RequestHead().data());
    Check(offset >= parser.RequestLine().size());
    Check(parser.RequestHead().compare(offset + line.size(), 2, "\r\n") == 0);
  }
  CheckAnswerTexts(parser);
  return 0;
}
