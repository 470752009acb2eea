#include "admin/content_types.h"

#include <cctype>
#include <memory>
#include <unordered_set>

#include "base/text_scan.h"
#include "platform/file.h"
#include "platform/registry.h"
#include "regwrap/qr_registry.h"

namespace content_types {
namespace {

constexpr const char* kContentTypeValue = "Content Type";

// Token characters of a media type name (RFC 6838's restricted names).
bool IsTypeCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '!' || c == '#' || c == '$' || c == '&' ||
         c == '^' || c == '_' || c == '.' || c == '+' || c == '-';
}

bool IsValidType(std::string_view type) {
  if (type.empty() || type.size() > kMaxTypeBytes) return false;
  const std::size_t slash = type.find('/');
  if (slash == 0 || slash == std::string_view::npos || slash + 1 == type.size()) return false;
  for (std::size_t i = 0; i < type.size(); ++i) {
    if (i != slash && !IsTypeCharacter(type[i])) return false;
  }
  return true;
}

bool IsValidExtension(std::string_view extension) {
  if (extension.empty() || extension.size() > kMaxExtensionBytes || extension.front() == '.') return false;
  for (char c : extension) {
    if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '+' && c != '-' && c != '_' && c != '.') {
      return false;
    }
  }
  return true;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

}  // namespace

std::vector<Entry> ParseTable(std::string_view text) {
  std::vector<Entry> entries;
  std::unordered_set<std::string> seen;
  std::size_t start = 0;
  while (start < text.size() && entries.size() < kMaxEntries) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (line.size() > kMaxLineBytes) continue;
    const std::vector<std::string_view> words = net::SplitWords(line);
    if (words.size() < 2 || words.front().front() == '#' || !IsValidType(words.front())) continue;
    for (std::size_t i = 1; i < words.size() && entries.size() < kMaxEntries; ++i) {
      if (words[i].front() == '#') break;
      if (!IsValidExtension(words[i]) || !seen.insert(Lower(words[i])).second) continue;
      entries.push_back(Entry{"." + std::string(words[i]), std::string(words.front())});
    }
  }
  return entries;
}

int Seed(const std::string& path) {
  std::unique_ptr<platform::File> file = platform::File::Open(path, platform::File::Mode::kRead);
  if (!file) return -1;
  std::string text;
  char buffer[16384];
  for (;;) {
    const long long n = file->Read(buffer, sizeof(buffer));
    if (n < 0) return -1;
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > kMaxTableBytes) return -1;
  }
  return SeedEntries(ParseTable(text));
}

int SeedEntries(const std::vector<Entry>& entries) {
  int written = 0;
  const QRRegistry classes(platform::HKEY_CLASSES_ROOT);
  for (const Entry& entry : entries) {
    QRRegistry key(classes, entry.extension.c_str(), nullptr);
    if (!key.Open(1)) continue;
    if (!key.DoesValueExist(kContentTypeValue) &&
        key.SetValue(kContentTypeValue, entry.type.c_str(), platform::REG_SZ)) {
      ++written;
    }
    key.Close(0);
  }
  return written;
}

}  // namespace content_types
