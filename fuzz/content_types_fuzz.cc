// Fuzzes the media-types table read at installation: every entry it gives is
// a well-formed ".ext" key with a "type/subtype", each extension once, and
// no more entries than the bound.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "admin/content_types.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::vector<content_types::Entry> entries = content_types::ParseTable(text);
  Check(entries.size() <= content_types::kMaxEntries);
  std::set<std::string> seen;
  for (const content_types::Entry& entry : entries) {
    Check(entry.extension.size() >= 2 && entry.extension.size() <= content_types::kMaxExtensionBytes + 1);
    Check(entry.extension[0] == '.' && entry.extension[1] != '.');
    Check(seen.insert(Lower(entry.extension)).second);
    Check(!entry.type.empty() && entry.type.size() <= content_types::kMaxTypeBytes);
    const std::size_t slash = entry.type.find('/');
    Check(slash != std::string::npos && slash > 0 && slash + 1 < entry.type.size());
    Check(entry.type.find('/', slash + 1) == std::string::npos);
    for (char c : entry.extension + entry.type) {
      Check(std::isgraph(static_cast<unsigned char>(c)) != 0 && c != '\\' && c != '"');
    }
  }
  return 0;
}
