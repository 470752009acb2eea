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
