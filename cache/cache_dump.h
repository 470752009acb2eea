// The cache dump report: a plain-text account of the proxy cache for people
// — every entry with its times, its items and their sizes, and totals —
// written into an open file. Flag bits choose the parts:
//
//   0x40 a section per entry        0x08 the entry's two times
//   0x20 the cache's byte totals    0x04 the entry's byte totals
//   0x10 a line per item            0x02 each item's raw bytes
//   0x01 each item's data and buffer sizes
#pragma once

#include <cstdint>

#include "platform/file.h"

class CCacheTable;

// Every part except the raw item bytes.
inline constexpr std::uint32_t kDefaultDumpFlags = 0x7D;

namespace dump_flags {
inline constexpr std::uint32_t kEntrySections = 0x40;
inline constexpr std::uint32_t kCacheTotals = 0x20;
inline constexpr std::uint32_t kItemLines = 0x10;
inline constexpr std::uint32_t kEntryTimes = 0x08;
inline constexpr std::uint32_t kEntryTotals = 0x04;
inline constexpr std::uint32_t kItemData = 0x02;
inline constexpr std::uint32_t kItemSizes = 0x01;
}  // namespace dump_flags

// Holds the table's lock for the whole report (no entry is created
// meanwhile) and each entry's lock while that entry is written. 1 when the
// report was written, 0 when the file refused it.
int DumpCache(CCacheTable& table, platform::File& file, std::uint32_t flags);
