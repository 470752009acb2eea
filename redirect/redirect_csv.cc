#include "redirect/redirect_csv.h"

#include <cstdio>

#include "base/text_scan.h"

namespace redirect {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Up to `maxDigits` decimal digits, all of the text; false otherwise.
bool ScanSmallNumber(std::string_view text, std::size_t maxDigits, int& value) {
  if (text.empty() || text.size() > maxDigits) return false;
  value = 0;
  for (char c : text) {
    if (!IsDigit(c)) return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

// One to four dotted octets; `count` receives how many were given.
bool ScanOctets(std::string_view text, std::uint32_t& address, int& count) {
  address = 0;
  count = 0;
  while (true) {
    const std::size_t dot = text.find('.');
    int octet = 0;
    if (count == 4 || !ScanSmallNumber(text.substr(0, dot), 3, octet) || octet > 255) return false;
    address |= static_cast<std::uint32_t>(octet) << (24 - 8 * count);
    ++count;
    if (dot == std::string_view::npos) return true;
    text.remove_prefix(dot + 1);
  }
}

// A full dotted address (four octets).
bool ScanFullAddress(std::string_view text, std::uint32_t& address) {
  int count = 0;
  return ScanOctets(net::TrimBlanks(text), address, count) && count == 4;
}

}  // namespace

std::vector<int> ParsePortList(std::string_view text) {
  text = net::TrimBlanks(text);
  if (!text.empty() && text.front() == '(') text.remove_prefix(1);
  const std::size_t close = text.find(')');
  if (close != std::string_view::npos) text = text.substr(0, close);
  std::vector<int> ports;
  std::size_t position = 0;
  while (position < text.size() && ports.size() < kMaxPorts) {
    const std::size_t end = text.find_first_of(", |\t", position);
    const std::string_view token = text.substr(position, end == std::string_view::npos ? end : end - position);
    int port = 0;
    if (ScanSmallNumber(token, 5, port) && port >= 1 && port <= 65535) ports.push_back(port);
    if (end == std::string_view::npos) break;
    position = end + 1;
  }
  return ports;
}

Designator ParseDesignator(std::string_view text) {
  text = net::TrimBlanks(text);
  Designator designator;
  const std::size_t colon = text.find(':');
  designator.host = std::string(net::TrimBlanks(text.substr(0, colon)));
  if (colon != std::string_view::npos) designator.ports = ParsePortList(text.substr(colon + 1));
  return designator;
}

std::string JoinPorts(const std::vector<int>& ports, std::string_view separator) {
  std::string joined;
  for (std::size_t i = 0; i < ports.size(); ++i) {
    if (i > 0) joined += separator;
    joined += std::to_string(ports[i]);
  }
  return joined;
}

std::string CanonicalKey(Block block) {
  const std::uint32_t a = block.address & MaskFor(block.length);
  const unsigned o1 = a >> 24, o2 = (a >> 16) & 0xFF, o3 = (a >> 8) & 0xFF, o4 = a & 0xFF;
  char text[32];
  if (block.length <= 8) {
    std::snprintf(text, sizeof(text), "%u/%d", o1, block.length);
  } else if (block.length <= 16) {
    std::snprintf(text, sizeof(text), "%u.%u/%d", o1, o2, block.length);
  } else if (block.length <= 24) {
    std::snprintf(text, sizeof(text), "%u.%u.%u/%d", o1, o2, o3, block.length);
  } else {
    std::snprintf(text, sizeof(text), "%u.%u.%u.%u/%d", o1, o2, o3, o4, block.length);
  }
  return text;
}

bool ParseAddressKey(std::string_view text, Block& block) {
  text = net::TrimBlanks(text);
  const std::size_t slash = text.find('/');
  int count = 0;
  std::uint32_t address = 0;
  if (!ScanOctets(net::TrimBlanks(text.substr(0, slash)), address, count)) return false;
  int length = 8 * count;
  if (slash != std::string_view::npos) {
    if (!ScanSmallNumber(net::TrimBlanks(text.substr(slash + 1)), 2, length) || length > 32) return false;
  }
  block.length = length;
  block.address = address & MaskFor(length);
  return true;
}

bool RangeToBlocks(std::string_view text, std::vector<Block>& blocks) {
  blocks.clear();
  const std::size_t dash = text.find('-');
  if (dash == std::string_view::npos) return false;
  std::uint32_t first = 0, last = 0;
  if (!ScanFullAddress(text.substr(0, dash), first) || !ScanFullAddress(text.substr(dash + 1), last) || first > last) {
    return false;
  }
  // 64-bit arithmetic: the range may end at 255.255.255.255.
  std::uint64_t current = first;
  const std::uint64_t end = static_cast<std::uint64_t>(last) + 1;
  while (current < end) {
    if (blocks.size() == kMaxRangeBlocks) {
      blocks.clear();
      return false;
    }
    // The largest block that starts here and ends within the range.
    int length = 32;
    while (length > 0) {
      const std::uint64_t size = std::uint64_t{1} << (32 - (length - 1));
      if (current % size != 0 || current + size > end) break;
      --length;
    }
    blocks.push_back({static_cast<std::uint32_t>(current), length});
    current += std::uint64_t{1} << (32 - length);
  }
  return true;
}

bool SplitLines(std::string_view table, std::vector<std::string_view>& lines) {
  lines.clear();
  std::size_t position = 0;
  while (position < table.size()) {
    if (lines.size() == kMaxLines) return false;
    std::size_t end = table.find('\n', position);
    if (end == std::string_view::npos) end = table.size();
    std::string_view line = table.substr(position, end - position);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    position = end + 1;
  }
  return true;
}

std::vector<std::string_view> SplitCells(std::string_view line) {
  std::vector<std::string_view> cells;
  std::size_t position = 0;
  while (true) {
    const std::size_t comma = line.find(',', position);
    cells.push_back(net::TrimBlanks(line.substr(position, comma == std::string_view::npos ? comma : comma - position)));
    if (comma == std::string_view::npos) return cells;
    position = comma + 1;
  }
}

bool HeaderIsValid(std::string_view table) {
  if (table.size() > kMaxTableBytes) return false;
  std::vector<std::string_view> lines;
  if (!SplitLines(table, lines) || lines.size() < 2) return false;
  const std::size_t names = SplitCells(lines[0]).size();
  return names == SplitCells(lines[1]).size() && names - 1 <= kMaxServers;
}

}  // namespace redirect
