#include "base/text_scan.h"

#include <cctype>

#include <charconv>
#include <cstring>
#include <cstddef>
#include <limits>

namespace net {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Sign and magnitude of the leading number; the magnitude stops growing once
// it is past every 32-bit value, so no input can overflow it.
std::int64_t ScanSaturated(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t magnitude = 0;
  constexpr std::int64_t kCeiling = std::int64_t{1} << 33;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (magnitude < kCeiling) magnitude = magnitude * 10 + (text[i] - '0');
  }
  return negative ? -magnitude : magnitude;
}

}  // namespace

std::int32_t ScanLong(std::string_view text) {
  std::int64_t value = ScanSaturated(text);
  if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (value < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value);
}

std::uint32_t ScanUnsigned(std::string_view text) {
  std::int64_t value = ScanSaturated(text);
  if (value > std::numeric_limits<std::uint32_t>::max()) return std::numeric_limits<std::uint32_t>::max();
  // Saturated before the cast, so that no count of digits wraps it around.
  if (value < std::numeric_limits<std::int32_t>::min()) value = std::numeric_limits<std::int32_t>::min();
  return static_cast<std::uint32_t>(value);
}

double ScanDecimal(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  if (i < text.size() && text[i] == '+') {
    ++i;
    // from_chars reads a minus sign of its own, which must not follow a plus.
    if (i < text.size() && text[i] == '-') return 0;
  }
  double value = 0;
  auto [end, error] = std::from_chars(text.data() + i, text.data() + text.size(), value,
                                      std::chars_format::fixed);
  (void)end;
  return error == std::errc() ? value : 0;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::vector<std::string_view> SplitWords(std::string_view line) {
  const auto separates = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; };
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && separates(line[i])) ++i;
    const std::size_t start = i;
    while (i < line.size() && !separates(line[i])) ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

bool FindLine(const char* start, std::size_t window, std::size_t& rawLength, std::string_view& text) {
  const void* end = window == 0 ? nullptr : std::memchr(start, '\n', window);
  if (end == nullptr) return false;
  rawLength = static_cast<std::size_t>(static_cast<const char*>(end) - start) + 1;
  text = std::string_view(start, rawLength - 1);
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

std::string LowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

std::string UpperCase(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

}  // namespace net
