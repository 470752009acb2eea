// Adding a transaction-log entry, as every request thread does once per
// request: formatting the line and copying it into the shared buffer (with
// the occasional write to disk when the buffer is full).
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "bench/machine_root.h"
#include "config/cp_registry.h"
#include "txlog/transaction_log.h"

namespace {

std::string g_logDirectory;
std::unique_ptr<CPTransactionLog> g_log;

void FillRequest(CPTransactionLogEntry& entry) {
  entry.SetClientAddress("10.20.30.40");
  entry.SetMethod("GET");
  entry.SetUri("/KIBO-1/category/news/item?id=123456&v=2");
  entry.SetStatus(200);
  entry.SetBytes(18432);
  entry.SetTimeTaken(0.0123);
  entry.SetAgent(3);
  entry.SetUpstreamHost("192.168.100.200");
  entry.SetUpstreamStatus(200);
}

void StartLog(const benchmark::State& state) {
  if (state.thread_index() != 0) return;
  CPRegistry settings;
  settings.SetTransactionLogDirectory(g_logDirectory.c_str());
  g_log = OpenViewerTransactionLog(settings);
}

void StopLog(const benchmark::State& state) {
  if (state.thread_index() == 0) g_log.reset();
}

// The log's own part: the fields are set, the line is built and buffered.
void BM_AddEntry(benchmark::State& state) {
  CPTransactionLogEntry entry;
  FillRequest(entry);
  for (auto _ : state) {
    entry.MarkFilled();
    g_log->AddEntry(entry);
  }
}

// The request thread's whole part: setting the fields as well.
void BM_FillAndAddEntry(benchmark::State& state) {
  for (auto _ : state) {
    CPTransactionLogEntry entry;
    FillRequest(entry);
    g_log->AddEntry(entry);
  }
}

BENCHMARK(BM_AddEntry)->Setup(StartLog)->Teardown(StopLog)->Repetitions(10)
    ->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(BM_AddEntry)->Setup(StartLog)->Teardown(StopLog)->Threads(4)->Repetitions(10)
    ->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(BM_FillAndAddEntry)->Setup(StartLog)->Teardown(StopLog)->Repetitions(10)
    ->ReportAggregatesOnly(true)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  BenchMachineRoot machine;
  if (!machine.Ready()) return 1;
  // The log files go below the machine root too.
  g_logDirectory = machine.MakeDirectory("txlog");
  if (g_logDirectory.empty()) return 1;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
