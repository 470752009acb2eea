// The performance block: thirteen 32-bit counters about the client
// connections and the client thread pool, kept in the machine's named shared
// memory so that any process can read them while the relay writes them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace perf {

inline constexpr const char* kBlockName = "ZondrelPerfBlock";
inline constexpr std::size_t kBlockSize = 4096;
inline constexpr std::size_t kCounterCount = 13;
// The status snapshot answered to other relays.
inline constexpr std::size_t kSnapshotSize = 48;

// Word positions in the block.
enum eCounter : std::size_t {
  eAcceptedRate = 0,  // accepted connections, shown as a rate per second
  eRefused = 1,       // accepted but closed: no pool thread could take them
  eIdleThreads = 2,
  eWorkingThreads = 3,
  eEndedThreads = 4,
  eExpiredThreads = 5,
  ePoolSlots = 6,
  eJobsPerThread = 7,  // average, truncated
  eReapedEnded = 8,
  eReapedExpired = 9,
  eStuckThreads = 10,
  eReservedThreads = 11,
  eAcceptedTotal = 12,  // accepted connections, the running total
};

using Counters = std::array<std::uint32_t, kCounterCount>;

// Words 1 to 6, word 7 as a float, then words 8 to 12, little-endian.
std::array<unsigned char, kSnapshotSize> MakeSnapshot(const Counters& words);
// The counters of a snapshot another relay sent (word 0 is not in it: 0).
Counters ParseSnapshot(const std::array<unsigned char, kSnapshotSize>& snapshot);

// The counters of the machine's block; false when no relay publishes one.
bool ReadBlock(Counters& words);

}  // namespace perf
