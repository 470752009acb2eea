// CPerfSampler: the relay's side of the performance block. It creates the
// named block, counts the connections the listeners report, and every
// interval copies the client pool's statistics into the block.
//
// Threads: the listeners count from any thread (one atomic add each), the
// sampling thread overwrites the pool words, readers in other processes read
// concurrently; nothing is locked, so the words may disagree for a moment.
// Start and Stop belong to the owner's thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "base/periodic_thread.h"
#include "perf/connection_counters.h"
#include "perf/perf_block.h"
#include "platform/sync.h"
#include "platform/types.h"

namespace platform {
class SharedMemory;
}
class QRPoolManager;

class CPerfSampler : public CConnectionCounters {
 public:
  static constexpr platform::DWORD kStopWaitMs = 5000;

  explicit CPerfSampler(std::string blockName = perf::kBlockName);
  ~CPerfSampler() override;
  CPerfSampler(const CPerfSampler&) = delete;
  CPerfSampler& operator=(const CPerfSampler&) = delete;

  // Creates and maps the block on the first call (-1, the sampler inert,
  // when that fails), then samples `pool` every `intervalMs`. 0 on success.
  int Start(QRPoolManager* pool, platform::DWORD intervalMs);
  // Ends the thread, unmaps the block and removes its name.
  void Stop();

  void CountAccepted();
  void CountRefused();
  void ConnectionAccepted() override { CountAccepted(); }
  void ConnectionRefused() override { CountRefused(); }

  // The status snapshot; -1 without block or pool.
  int Snapshot(unsigned char out[perf::kSnapshotSize]) const;
  // The block's words as they are now; zeros without a block.
  perf::Counters Read() const;
  // Copies the pool's statistics into the block at once (the thread does
  // it every interval).
  void Sample();

 private:
  void Add(std::size_t word);
  void Put(std::size_t word, std::uint32_t value);
  platform::DWORD Run();

  std::string m_BlockName;
  std::unique_ptr<platform::SharedMemory> m_pBlock;
  std::uint32_t* m_pWords = nullptr;
  std::atomic<QRPoolManager*> m_pPool{nullptr};
  platform::DWORD m_Interval = 0;
  CPeriodicThread m_Thread;
};
