// The text forms of redirection: server designators ("host:(8080,8081)"),
// client address keys ("10.1/16", "10.0.0.1-10.0.0.6") in their canonical
// form, and the line and cell split of redirect.csv with its bounds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace redirect {

// Bounds on redirect.csv. A table over kMaxTableBytes, with more than
// kMaxLines lines or more than kMaxServers server columns is refused whole;
// a longer data cell, a range of more blocks, a port list of more ports are
// cut or dropped line by line.
inline constexpr std::size_t kMaxTableBytes = 8u * 1024 * 1024;
inline constexpr std::size_t kMaxLines = 256u * 1024;
inline constexpr std::size_t kMaxServers = 256;
inline constexpr std::size_t kMaxCellLength = 1024;
inline constexpr std::size_t kMaxPorts = 64;
inline constexpr std::size_t kMaxRangeBlocks = 64;
// Keys stored in all (a range counts with its blocks); further lines are dropped.
inline constexpr std::size_t kMaxKeys = 1u << 20;

// "host:(p1,p2)" or "host:p1|p2"; ports separated by commas, blanks or bars.
struct Designator {
  std::string host;
  std::vector<int> ports;
  // The first port, or -1 when there is none.
  int FirstPort() const { return ports.empty() ? -1 : ports.front(); }
};
// The host and the valid ports (1..65535, at most kMaxPorts) of a designator.
// A text without ":" is a host alone.
Designator ParseDesignator(std::string_view text);
// The ports of a port cell ("(8080,8081)", "8080|8081", "8080").
std::vector<int> ParsePortList(std::string_view text);
// "8080,8081" (or with another separator).
std::string JoinPorts(const std::vector<int>& ports, std::string_view separator);

// One CIDR block: the address masked to its length.
struct Block {
  std::uint32_t address = 0;
  int length = 32;
  bool operator==(const Block&) const = default;
};
inline constexpr std::uint32_t MaskFor(int length) {
  return length <= 0 ? 0u : length >= 32 ? 0xFFFFFFFFu : ~((1u << (32 - length)) - 1u);
}
// "10/8", "10.1/16", "10.1.2/24", "10.1.2.3/32": only the octets the length needs.
std::string CanonicalKey(Block block);

// A client address key. Forms: a.b.c.d, a.b.c.d/n and the shorter forms with
// fewer octets (missing octets are 0; without "/n" the length is 8 per octet
// given, so "10.1" is 10.1/16 as the map prints it). False for anything else
// (an octet above 255, a length above 32, a host name, stray characters).
bool ParseAddressKey(std::string_view text, Block& block);
// a.b.c.d-e.f.g.h (full dotted addresses, first not after last) as the
// smallest set of blocks covering it exactly, in address order. False when
// the range is malformed or would need more than kMaxRangeBlocks blocks.
bool RangeToBlocks(std::string_view text, std::vector<Block>& blocks);

// The lines of a table: split at line ends ("\r\n", or a bare "\n"), without
// the ends. False when there are more than kMaxLines.
bool SplitLines(std::string_view table, std::vector<std::string_view>& lines);
// The cells of one line, split at "," and trimmed of blanks.
std::vector<std::string_view> SplitCells(std::string_view line);

// The header check: at most kMaxTableBytes, at least two lines, the first
// two with the same number of cells and at most kMaxServers server columns.
bool HeaderIsValid(std::string_view table);

}  // namespace redirect
