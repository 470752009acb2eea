#include "cache/cache_fetch_request.h"

#include <algorithm>
#include <string_view>

#include "net/http_tables.h"
#include "net/iqrn_http.h"
#include "net/qrn_http.h"
#include "base/text_scan.h"

namespace {

// Header lines of the viewer that do not go upstream: the server names
// itself and its host, and a length would announce a body that is not sent.
constexpr std::string_view kDroppedHeaders[] = {"GET ", "HEAD ", "User-Agent:", "Host:", "Content-length:"};

bool Dropped(std::string_view line) {
  return std::any_of(std::begin(kDroppedHeaders), std::end(kDroppedHeaders), [line](std::string_view name) {
    return line.size() >= name.size() && net::EqualsNoCase(line.substr(0, name.size()), name);
  });
}

std::uint32_t NotNegative(std::int32_t value) { return value < 0 ? 0 : static_cast<std::uint32_t>(value); }

}  // namespace

std::string MakeCacheFetchRequest(const QRNHTTP& request, const std::string* argument, std::uint32_t newestID) {
  std::string text = "GET ";
  text.append(IQRNHTTP::MakeRequestTarget({}, 0, {}, static_cast<std::uint32_t>(request.Bid()),
                                          NotNegative(request.NumberOfItems()),
                                          NotNegative(request.NumberOfReferences()),
                                          static_cast<std::uint32_t>(request.GetCategory()), newestID));
  // Escaped, the argument is one path segment and cannot change the line.
  if (argument != nullptr) text.append("/").append(IQRNHTTP::EscapeArgument(*argument));
  text.append(" HTTP/1.0\r\n");
  text.append(net::HTTPUserAgentHeader()).append("\r\n");

  for (std::size_t i = 0; i < request.HeaderLineCount(); ++i) {
    const std::string_view line = request.HeaderLine(i);
    if (!Dropped(line)) text.append(line).append("\r\n");
  }
  text.append("\r\n");
  return text;
}
