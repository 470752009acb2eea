// Registry value access through QRRegistry and the settings wrapper, as the
// server does it: a wrapper that is not held open, so every call opens the
// key, works and closes it.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "config/cp_registry.h"
#include "platform/trace.h"
#include "regwrap/qr_registry.h"

using namespace platform;

namespace {

QRRegistry SettingsKey() {
  QRRegistry key(QRRegistry(HKEY_LOCAL_MACHINE), kZondrelKeyPath);
  key.Open(1);
  key.Close(0);
  return key;
}

void BM_GetValueDword(benchmark::State& state) {
  QRRegistry key = SettingsKey();
  if (state.thread_index() == 0) key.SetValue("MaxClientThreads", DWORD{300}, REG_DWORD);
  DWORD value = 0;
  for (auto _ : state) {
    if (!key.GetValue("MaxClientThreads", &value)) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(value);
  }
}

void BM_GetValueDwordInSubKey(benchmark::State& state) {
  QRRegistry key = SettingsKey();
  key.SetValue("ThreadPools\\MaxClientThreads", DWORD{300}, REG_DWORD);
  DWORD value = 0;
  for (auto _ : state) {
    if (!key.GetValue("ThreadPools\\MaxClientThreads", &value)) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(value);
  }
}

// Most upstream settings are unset, and each upstream stream reads them all
// through the server's settings wrapper: one present and one missing.
void BM_SettingsReadText(benchmark::State& state) {
  CPRegistry settings;
  settings.SetProxyHost("proxy.example");
  for (auto _ : state) benchmark::DoNotOptimize(settings.GetProxyHost());
}

void BM_SettingsReadMissingText(benchmark::State& state) {
  CPRegistry settings;
  settings.DeleteProxyHost();
  for (auto _ : state) benchmark::DoNotOptimize(settings.GetProxyHost());
}

void BM_SetValueDword(benchmark::State& state) {
  QRRegistry key = SettingsKey();
  // One value per thread, as statistics counters are written.
  std::string name = "Statistics\\Counter" + std::to_string(state.thread_index());
  DWORD value = 0;
  for (auto _ : state) {
    if (!key.SetValue(name.c_str(), ++value, REG_DWORD)) state.SkipWithError("write failed");
  }
}

BENCHMARK(BM_GetValueDword)->Repetitions(10)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(BM_GetValueDword)->Threads(4)->Repetitions(10)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(BM_GetValueDwordInSubKey)->Repetitions(10)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(BM_SettingsReadText)->Repetitions(10)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(BM_SettingsReadMissingText)->Repetitions(10)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(BM_SetValueDword)->Repetitions(10)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(BM_SetValueDword)->Threads(4)->Repetitions(10)->ReportAggregatesOnly(true)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  // A machine of its own in a temporary directory, unless one is given.
  std::string root;
  if (getenv("ZONDREL_ROOT") == nullptr) {
    root = (std::filesystem::temp_directory_path() / "zondrel-bench-XXXXXX").string();
    if (mkdtemp(root.data()) == nullptr) return 1;
    setenv("ZONDREL_ROOT", root.c_str(), 1);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (!root.empty()) std::filesystem::remove_all(root);
  return 0;
}
