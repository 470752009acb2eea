#include "perf/perf_sampler.h"

#include <cstring>

#include "base/trace_bits.h"
#include "platform/shared_memory.h"
#include "platform/trace.h"
#include "poolmgr/pool_manager.h"

CPerfSampler::CPerfSampler(std::string blockName) : m_BlockName(std::move(blockName)) {}

CPerfSampler::~CPerfSampler() { Stop(); }

int CPerfSampler::Start(QRPoolManager* pool, platform::DWORD intervalMs) {
  if (m_Thread.Started()) return -1;
  if (!m_pBlock) {
    m_pBlock = platform::SharedMemory::Create(m_BlockName, perf::kBlockSize);
    if (!m_pBlock || m_pBlock->Size() < perf::kCounterCount * 4) {
      m_pBlock.reset();
      return -1;
    }
    m_pWords = static_cast<std::uint32_t*>(m_pBlock->Data());
    // A block left by a relay that ended without stopping counts afresh.
    for (std::size_t i = 0; i < perf::kCounterCount; ++i) Put(i, 0);
  }
  m_pPool = pool;
  m_Interval = intervalMs;
  return m_Thread.Start([this] { return Run(); }) ? 0 : -1;
}

void CPerfSampler::Stop() {
  if (!m_Thread.Stop(kStopWaitMs)) {
    trace(trace_bits::kThreads, "PerfSampler: Timed Out!! waiting for the sampling thread\n");
  }
  m_pPool = nullptr;
  if (m_pBlock) {
    m_pWords = nullptr;
    m_pBlock.reset();
    platform::SharedMemory::Remove(m_BlockName);
  }
}

platform::DWORD CPerfSampler::Run() {
  while (m_Thread.WaitPeriod(m_Interval)) Sample();
  return 0;
}

void CPerfSampler::Sample() {
  QRPoolManager* pool = m_pPool;
  if (m_pWords == nullptr || pool == nullptr) return;
  int slots = 0, idle = 0, reserved = 0, working = 0, ended = 0, expired = 0;
  float averageJobs = 0;
  if (pool->GatherSummaryStats(slots, idle, reserved, working, ended, expired, averageJobs) == 0) {
    Put(perf::eIdleThreads, static_cast<std::uint32_t>(idle));
    Put(perf::eWorkingThreads, static_cast<std::uint32_t>(working));
    Put(perf::eEndedThreads, static_cast<std::uint32_t>(ended));
    Put(perf::eExpiredThreads, static_cast<std::uint32_t>(expired));
    Put(perf::ePoolSlots, static_cast<std::uint32_t>(slots));
    Put(perf::eJobsPerThread, averageJobs > 0 ? static_cast<std::uint32_t>(averageJobs) : 0);
    Put(perf::eReservedThreads, static_cast<std::uint32_t>(reserved));
  }
  int reapedEnded = 0, reapedExpired = 0, stuck = 0;
  if (pool->GatherCleanerStats(reapedEnded, reapedExpired, stuck) == 0) {
    Put(perf::eReapedEnded, static_cast<std::uint32_t>(reapedEnded));
    Put(perf::eReapedExpired, static_cast<std::uint32_t>(reapedExpired));
    Put(perf::eStuckThreads, static_cast<std::uint32_t>(stuck));
  }
}

void CPerfSampler::Add(std::size_t word) {
  if (m_pWords != nullptr) std::atomic_ref<std::uint32_t>(m_pWords[word]).fetch_add(1, std::memory_order_relaxed);
}

void CPerfSampler::Put(std::size_t word, std::uint32_t value) {
  std::atomic_ref<std::uint32_t>(m_pWords[word]).store(value, std::memory_order_relaxed);
}

void CPerfSampler::CountAccepted() {
  Add(perf::eAcceptedRate);
  Add(perf::eAcceptedTotal);
}

void CPerfSampler::CountRefused() { Add(perf::eRefused); }

perf::Counters CPerfSampler::Read() const {
  perf::Counters words{};
  if (m_pWords == nullptr) return words;
  for (std::size_t i = 0; i < perf::kCounterCount; ++i) {
    words[i] = std::atomic_ref<std::uint32_t>(m_pWords[i]).load(std::memory_order_relaxed);
  }
  return words;
}

int CPerfSampler::Snapshot(unsigned char out[perf::kSnapshotSize]) const {
  if (m_pWords == nullptr || m_pPool == nullptr) return -1;
  const auto snapshot = perf::MakeSnapshot(Read());
  std::memcpy(out, snapshot.data(), snapshot.size());
  return 0;
}
