#include "perf/perf_block.h"

#include <atomic>
#include <cstring>

#include "platform/shared_memory.h"

namespace perf {

namespace {

void PutWord(unsigned char* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace

std::array<unsigned char, kSnapshotSize> MakeSnapshot(const Counters& words) {
  std::array<unsigned char, kSnapshotSize> out{};
  unsigned char* at = out.data();
  for (std::size_t word = 1; word < kCounterCount; ++word, at += 4) {
    if (word == eJobsPerThread) {
      const float jobs = static_cast<float>(words[word]);
      std::uint32_t bits = 0;
      std::memcpy(&bits, &jobs, sizeof bits);
      PutWord(at, bits);
    } else {
      PutWord(at, words[word]);
    }
  }
  return out;
}

Counters ParseSnapshot(const std::array<unsigned char, kSnapshotSize>& snapshot) {
  Counters words{};
  const unsigned char* at = snapshot.data();
  for (std::size_t word = 1; word < kCounterCount; ++word, at += 4) {
    const std::uint32_t bits = static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
                               (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
    if (word == eJobsPerThread) {
      float jobs = 0;
      std::memcpy(&jobs, &bits, sizeof jobs);
      // A peer's float may be anything: only a count it can stand for.
      words[word] = jobs >= 0 && jobs < 4294967296.0f ? static_cast<std::uint32_t>(jobs) : 0;
    } else {
      words[word] = bits;
    }
  }
  return words;
}

bool ReadBlock(Counters& words) {
  auto block = platform::SharedMemory::Open(kBlockName, true);
  if (!block || block->Size() < kCounterCount * 4) return false;
  auto* data = static_cast<std::uint32_t*>(block->Data());
  for (std::size_t i = 0; i < kCounterCount; ++i) {
    words[i] = std::atomic_ref<std::uint32_t>(data[i]).load(std::memory_order_relaxed);
  }
  return true;
}

}  // namespace perf
