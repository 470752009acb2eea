// The data a performance-data collector receives for the relay's object: a
// 64-byte object header, thirteen 40-byte counter definitions and a 56-byte
// counter block, 640 bytes, every field little-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "perf/perf_block.h"

namespace perfctr {

inline constexpr std::size_t kObjectHeaderSize = 64;
inline constexpr std::size_t kCounterDefinitionSize = 40;
inline constexpr std::size_t kDefinitionSize = kObjectHeaderSize + perf::kCounterCount * kCounterDefinitionSize;  // 584
inline constexpr std::size_t kCounterBlockSize = 4 + 4 * perf::kCounterCount;                                   // 56
inline constexpr std::size_t kDataSize = kDefinitionSize + kCounterBlockSize;                                   // 640
inline constexpr std::uint32_t kDetailNovice = 100;
inline constexpr std::uint32_t kRatePerSecond = 0x10410400;
inline constexpr std::uint32_t kRawCount = 0x00010000;
// Results of the entry points.
inline constexpr std::uint32_t kSuccess = 0;
inline constexpr std::uint32_t kMoreData = 234;

// The object header and the counter definitions, with the name and help
// indexes raised by the machine's First Counter and First Help.
std::array<unsigned char, kDefinitionSize> BuildDefinition(std::uint32_t firstCounter, std::uint32_t firstHelp);
// The definition followed by the counter block of `words`.
std::array<unsigned char, kDataSize> BuildData(const std::array<unsigned char, kDefinitionSize>& definition,
                                               const perf::Counters& words);

enum class eRequest { eGlobal, eForeign, eCostly, eList };
// What a collection request asks for: null, empty or "Global", "Foreign",
// "Costly", or else a list of decimal index numbers separated by blanks.
eRequest ClassifyRequest(const char* valueName);
// Whether the list `text` names `index` (bounded: numbers beyond 32 bits
// and other characters end a number).
bool ListNames(std::string_view text, std::uint32_t index);

}  // namespace perfctr
