#include "upstream/file_url.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace upstream {
namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// A folder or file name that cannot climb out of the folder it is in.
std::string SafeSegment(std::string_view segment) {
  if (segment == ".") return "-";
  if (segment == "..") return "--";
  return ReplaceNameCharacters(segment);
}

}  // namespace

URLParse ParseFileURL(std::string_view url, FileURL& parts) {
  const std::size_t separator = url.find("://");
  if (separator == std::string_view::npos) return URLParse::kUnparsable;
  const std::size_t hostStart = separator + 3;
  const std::size_t slash = url.find('/', hostStart);
  if (slash == std::string_view::npos) return URLParse::kUnparsable;
  std::string_view host = url.substr(hostStart, slash - hostStart);
  unsigned port = 80;
  const std::size_t colon = host.find(':');
  if (colon != std::string_view::npos) {
    const std::string_view digits = host.substr(colon + 1);
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (error != std::errc() || end != digits.data() + digits.size() || port == 0 || port > 65535) {
      return URLParse::kUnparsable;
    }
    host = host.substr(0, colon);
  }
  if (host.empty()) return URLParse::kUnparsable;
  parts.scheme = std::string(url.substr(0, separator));
  parts.host = std::string(host);
  parts.port = port;
  parts.path = std::string(url.substr(slash));
  return EqualsNoCase(parts.scheme, "http") ? URLParse::kParsed : URLParse::kNotHttp;
}

std::string ReplaceNameCharacters(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    if (c == '"' || c == '*' || c == '<' || c == '>' || c == '?' || c == '|') c = '-';
  }
  return out;
}

std::string LocalCopyName(std::string_view tempDirectory, const FileURL& url) {
  std::string name(tempDirectory);
  std::replace(name.begin(), name.end(), '\\', '/');
  if (!name.empty() && name.back() != '/') name += '/';
  std::string host = SafeSegment(url.host);
  if (url.port != 80) host += "-" + std::to_string(url.port);
  name += host;

  std::string_view path = url.path;
  bool lastWasFolder = true;
  while (!path.empty()) {
    const std::size_t slash = path.find('/');
    const std::string_view segment = path.substr(0, slash);
    path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    lastWasFolder = slash != std::string_view::npos;
    if (segment.empty()) continue;
    name += "/" + SafeSegment(segment);
    if (!lastWasFolder) break;
  }
  if (lastWasFolder) name += "/-";
  return name;
}

}  // namespace upstream
