#include "upstream/no_proxy_list.h"

#include "base/text_scan.h"

#include <cctype>
#include <string>

#include "platform/socket.h"

namespace upstream {
namespace {

constexpr std::string_view kSeparators = " ;\n\t\r";

// The pieces between the asterisks must appear in order; the first must
// start the name unless the pattern starts with "*", the last must end it
// unless the pattern ends with "*".
bool GlobMatches(std::string_view pattern, std::string_view name) {
  std::size_t position = 0;
  std::size_t start = 0;
  bool first = true;
  for (;;) {
    const std::size_t star = pattern.find('*', start);
    const std::string_view piece = pattern.substr(start, star == std::string_view::npos ? star : star - start);
    if (star == std::string_view::npos) {
      // The last piece: anchored at the end (and at the start when it is also the first).
      if (first) return name == piece;
      return name.size() >= position + piece.size() && name.substr(name.size() - piece.size()) == piece;
    }
    if (first) {
      if (name.substr(0, piece.size()) != piece) return false;
      position = piece.size();
    } else if (!piece.empty()) {
      const std::size_t found = name.find(piece, position);
      if (found == std::string_view::npos) return false;
      position = found + piece.size();
    }
    first = false;
    start = star + 1;
  }
}

}  // namespace

bool MatchesNoProxyList(std::string_view list, std::string_view host) {
  const std::string name = net::LowerCase(host);
  std::size_t start = 0;
  while (start < list.size()) {
    start = list.find_first_not_of(kSeparators, start);
    if (start == std::string_view::npos) break;
    std::size_t end = list.find_first_of(kSeparators, start);
    if (end == std::string_view::npos) end = list.size();
    if (GlobMatches(net::LowerCase(list.substr(start, end - start)), name)) return true;
    start = end;
  }
  return false;
}

bool BypassesProxy(std::string_view list, const std::string& host) {
  if (list.find_first_not_of(kSeparators) == std::string_view::npos) return false;
  const std::string official = platform::OfficialHostName(host);
  return MatchesNoProxyList(list, official.empty() ? host : official);
}

}  // namespace upstream
