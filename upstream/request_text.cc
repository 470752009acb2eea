#include "upstream/request_text.h"

#include "base/kibo_folder.h"
#include "base/text_scan.h"

namespace upstream {
namespace {

constexpr std::string_view kHeadEnd = "\r\n\r\n";
constexpr std::size_t kMaxHostLength = 255;

// Calls `visit(name, value)` for each header line after the first line, up
// to the blank line; stops when it returns true.
template <typename Visit>
bool AnyHeaderLine(std::string_view text, Visit visit) {
  std::size_t start = text.find('\n');
  while (start != std::string_view::npos) {
    ++start;
    std::size_t end = text.find('\n', start);
    std::string_view line = text.substr(start, end == std::string_view::npos ? end : end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) return false;
    const std::size_t colon = line.find(':');
    if (colon != std::string_view::npos &&
        visit(net::TrimBlanks(line.substr(0, colon)), net::TrimBlanks(line.substr(colon + 1)))) {
      return true;
    }
    start = end;
  }
  return false;
}

}  // namespace

bool InsertHeaderLine(std::string& request, std::string_view line) {
  const std::size_t end = request.find(kHeadEnd);
  if (end == std::string::npos) return false;
  std::string inserted = "\r\n";
  inserted += line;
  request.insert(end, inserted);
  return true;
}

bool HasBasicCredentials(std::string_view request, std::string_view name) {
  return AnyHeaderLine(request, [name](std::string_view lineName, std::string_view value) {
    return net::EqualsNoCase(lineName, name) && net::StartsWithNoCase(value, "Basic ");
  });
}

std::string MakeAbsoluteRequest(std::string_view request, std::string_view host, unsigned port) {
  const std::size_t slash = request.find('/');
  if (slash == std::string_view::npos) return std::string(request);
  std::string absolute(request.substr(0, slash));
  absolute += "http://";
  absolute += host;
  absolute += ':';
  absolute += std::to_string(port);
  absolute += request.substr(slash);
  return absolute;
}

std::string BasicCredentials(std::string_view user, std::string_view password) {
  std::string joined(user);
  joined += ':';
  joined += password;
  std::string encoded = CKiboFolder::Base64Encode(joined);
  // Receivers insist on whole groups of four.
  while (encoded.size() % 4 != 0) encoded += '=';
  return encoded;
}

RedirectTarget ParseRedirectLocation(std::string_view header, std::string& host, unsigned& port) {
  std::string_view url;
  const bool found = AnyHeaderLine(header, [&url](std::string_view name, std::string_view value) {
    if (!net::EqualsNoCase(name, "Location") || !net::StartsWithNoCase(value, "http://")) return false;
    url = value.substr(7);
    return true;
  });
  if (!found) return RedirectTarget::kNone;
  // Only the authority counts: a colon further on is no port.
  const std::string_view authority = url.substr(0, url.find_first_of("/?# \t"));
  const std::size_t colon = authority.find(':');
  if (colon == std::string_view::npos || colon == 0 || colon > kMaxHostLength) return RedirectTarget::kNoPort;
  const std::string_view digits = authority.substr(colon + 1);
  if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string_view::npos) {
    return RedirectTarget::kNoPort;
  }
  const std::int32_t number = net::ScanLong(digits);
  if (number < 1 || number > 65535) return RedirectTarget::kNoPort;
  host = std::string(authority.substr(0, colon));
  port = static_cast<unsigned>(number);
  return RedirectTarget::kFound;
}

}  // namespace upstream
