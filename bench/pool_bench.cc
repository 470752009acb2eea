// The thread pool as the server uses it: how long a job takes to start on an
// idle pool thread, how many jobs a pool of 300 passes with 8 issuing
// threads, and what 300 idle threads cost in resident memory.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/sync.h"
#include "poolmgr/pool_manager.h"
#include "poolmgr/pool_results.h"

namespace {

using Clock = std::chrono::steady_clock;

struct BenchParams : QRThreadParams {
  int Assign(const QRThreadParams& other) override {
    const auto& params = static_cast<const BenchParams&>(other);
    issued = params.issued;
    gate = params.gate;
    return 0;
  }
  Clock::time_point issued;
  platform::Event* gate = nullptr;  // the job waits for it when given
};

struct Shared {
  std::atomic<std::int64_t> latencyNs{0};
  std::atomic<std::uint64_t> jobsDone{0};
  std::unique_ptr<platform::Event> done = platform::Event::Create(false, false);
};

class BenchThread : public QRPoolThread {
 public:
  explicit BenchThread(Shared* shared) : shared_(shared) { m_Params = &params_; }

 protected:
  void Run() override {
    for (;;) {
      auto latency = Clock::now() - params_.issued;
      shared_->latencyNs.store(std::chrono::duration_cast<std::chrono::nanoseconds>(latency).count());
      if (params_.gate != nullptr) platform::WaitForSingleObject(*params_.gate, 60000);
      shared_->jobsDone.fetch_add(1);
      shared_->done->Set();
      if (!Recycle(eThdIdle)) return;
    }
  }

 private:
  Shared* shared_;
  BenchParams params_;
};

class BenchFactory : public QRPoolThreadFactory {
 public:
  explicit BenchFactory(Shared* shared) : shared_(shared) {}
  QRPoolThread* CreatePoolThread() override { return new BenchThread(shared_); }

 private:
  Shared* shared_;
};

int IssueUntilAccepted(QRPoolManager& pool, const BenchParams& params) {
  int result;
  while ((result = pool.IssueThread(&params)) == poolmgr::kPoolFull) std::this_thread::yield();
  return result;
}

bool WaitForIdle(QRPoolManager& pool, int count) {
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  int slots, idle, reserved, working, ended, expired;
  float average;
  do {
    pool.GatherSummaryStats(slots, idle, reserved, working, ended, expired, average);
    if (idle == count) return true;
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  } while (Clock::now() < deadline);
  return false;
}

double ResidentMiB() {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return 0;
  char line[256];
  double kib = 0;
  while (std::fgets(line, sizeof(line), status) != nullptr) {
    if (std::strncmp(line, "VmRSS:", 6) == 0) kib = std::strtod(line + 6, nullptr);
  }
  std::fclose(status);
  return kib / 1024.0;
}

// From IssueThread to the job running on a thread that is parked idle.
void BM_IssueToRunOnIdleThread(benchmark::State& state) {
  Shared shared;
  BenchFactory factory(&shared);
  QRPoolManager pool(&factory, 180000, 600000, 5);
  pool.OpenPool(1);
  BenchParams params;
  // The first job starts the thread.
  params.issued = Clock::now();
  IssueUntilAccepted(pool, params);
  platform::WaitForSingleObject(*shared.done, 10000);
  std::vector<double> latenciesUs;
  for (auto _ : state) {
    state.PauseTiming();
    // The thread parks again, and falls asleep, before the next job.
    if (!WaitForIdle(pool, 1)) state.SkipWithError("no idle thread");
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    state.ResumeTiming();
    params.issued = Clock::now();
    if (IssueUntilAccepted(pool, params) != 0) state.SkipWithError("issue failed");
    platform::WaitForSingleObject(*shared.done, 10000);
    latenciesUs.push_back(static_cast<double>(shared.latencyNs.load()) / 1000.0);
  }
  std::sort(latenciesUs.begin(), latenciesUs.end());
  auto at = [&](double quantile) {
    double last = static_cast<double>(latenciesUs.size() - 1);
    return latenciesUs[static_cast<std::size_t>(quantile * last)];
  };
  state.counters["median_us"] = at(0.5);
  state.counters["p90_us"] = at(0.9);
  state.counters["p99_us"] = at(0.99);
}

// Jobs through a pool of 300 with 8 threads issuing at once.
void BM_JobsThroughPoolOf300With8Issuers(benchmark::State& state) {
  constexpr int kIssuers = 8;
  constexpr int kJobsPerIssuer = 5000;
  Shared shared;
  BenchFactory factory(&shared);
  QRPoolManager pool(&factory, 180000, 600000, 5);
  pool.OpenPool(300);
  std::uint64_t total = 0;
  for (auto _ : state) {
    const std::uint64_t target = shared.jobsDone.load() + kIssuers * kJobsPerIssuer;
    std::vector<std::thread> issuers;
    for (int i = 0; i < kIssuers; ++i) {
      issuers.emplace_back([&] {
        BenchParams params;
        for (int j = 0; j < kJobsPerIssuer; ++j) {
          params.issued = Clock::now();
          IssueUntilAccepted(pool, params);
        }
      });
    }
    for (auto& issuer : issuers) issuer.join();
    while (shared.jobsDone.load() < target) std::this_thread::yield();
    total += kIssuers * kJobsPerIssuer;
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(total));
  int slots, idle, reserved, working, ended, expired;
  float average;
  pool.GatherSummaryStats(slots, idle, reserved, working, ended, expired, average);
  state.counters["threads"] = idle + working + reserved;
}

// Resident memory of the process with 300 pool threads parked idle.
void BM_ResidentMemoryWith300IdleThreads(benchmark::State& state) {
  for (auto _ : state) {
    double before = ResidentMiB();
    Shared shared;
    BenchFactory factory(&shared);
    QRPoolManager pool(&factory, 180000, 600000, 5);
    pool.OpenPool(300);
    auto gate = platform::Event::Create(true, false);
    BenchParams params;
    params.gate = gate.get();
    // Blocking jobs force 300 threads to exist at once.
    for (int i = 0; i < 300; ++i) IssueUntilAccepted(pool, params);
    gate->Set();
    if (!WaitForIdle(pool, 300)) state.SkipWithError("threads did not park");
    double after = ResidentMiB();
    state.counters["rss_total_MiB"] = after;
    state.counters["rss_added_MiB"] = after - before;
  }
}

BENCHMARK(BM_IssueToRunOnIdleThread)->Iterations(2000)->UseRealTime();
BENCHMARK(BM_JobsThroughPoolOf300With8Issuers)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResidentMemoryWith300IdleThreads)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
