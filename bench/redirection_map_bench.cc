// The redirection map: installing a table of 100,000 keys (mixed prefix
// lengths, single addresses and ranges) and answering clients from it,
// BuildRedirectAnswer with 1 and 4 threads at once.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench/machine_root.h"
#include "platform/socket.h"
#include "redirect/redirection_map.h"

namespace {

BenchMachineRoot g_Root;

constexpr int kKeys = 100000;
constexpr int kServers = 8;

// Servers are dotted loopback addresses; names are not looked up and the
// table's master is not this relay, so nothing is posted.
class BenchMap : public CRedirectionMap {
 public:
  using CRedirectionMap::CRedirectionMap;

 protected:
  std::string AddressName(std::uint32_t address) override { return "relay" + std::to_string(address & 0xFF); }
};

RedirectionIdentity Identity() {
  RedirectionIdentity identity;
  identity.hostName = "relay1";
  identity.ownAddresses = {0x7F000065, 0x7F000001};
  identity.address = "127.0.0.101";
  identity.ports = {8080};
  return identity;
}

std::string Dotted(std::uint32_t a) { return platform::FormatDottedAddress(a); }

// 100,000 keys: a fifth each of /32 addresses, /24, /16 to /20 blocks, /25
// to /30 blocks, and ranges of up to 1,000 addresses.
std::string MakeTable() {
  std::mt19937 random(7);
  std::string table = "Bench Corp";
  std::string ports = "127.0.0.200";
  for (int i = 0; i < kServers; ++i) {
    table += ", 127.0.0." + std::to_string(101 + i);
    ports += ", " + std::to_string(8080 + i);
  }
  table += "\r\n" + ports + "\r\n";
  for (int k = 0; k < kKeys; ++k) {
    const std::uint32_t address = random();
    std::string key;
    switch (k % 5) {
      case 0: key = Dotted(address); break;
      case 1: key = Dotted(address) + "/24"; break;
      case 2: key = Dotted(address) + "/" + std::to_string(16 + random() % 5); break;
      case 3: key = Dotted(address) + "/" + std::to_string(25 + random() % 6); break;
      default: {
        const std::uint32_t last = address > 0xFFFFFFFFu - 1000 ? address : address + random() % 1000;
        key = Dotted(address) + "-" + Dotted(last);
      }
    }
    table += key;
    for (int s = 0; s < kServers; ++s) table += (random() % 4 == 0) ? ", x" : ", ";
    table += "\r\n";
  }
  table += "all others, x\r\n";
  return table;
}

const std::string& Table() {
  static const std::string table = MakeTable();
  return table;
}

BenchMap& InstalledMap() {
  static BenchMap* map = [] {
    auto* installed = new BenchMap(CPRegistry(), Identity());
    installed->SetRedirectCsv(Table().data(), static_cast<platform::DWORD>(Table().size()));
    return installed;
  }();
  return *map;
}

void BM_InstallTable(benchmark::State& state) {
  BenchMap map(CPRegistry(), Identity());
  for (auto _ : state) {
    map.SetRedirectCsv(Table().data(), static_cast<platform::DWORD>(Table().size()));
  }
  const CRedirectionMap::Statistics stats = map.GetStatistics();
  state.counters["keys"] = static_cast<double>(stats.keys);
  state.counters["table_MB"] = static_cast<double>(Table().size()) / 1e6;
}
BENCHMARK(BM_InstallTable)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(3)->ReportAggregatesOnly(true);

void BM_BuildRedirectAnswer(benchmark::State& state) {
  BenchMap& map = InstalledMap();
  std::mt19937 random(static_cast<unsigned>(state.thread_index()) + 1);
  std::vector<std::string> clients;
  for (int i = 0; i < 4096; ++i) clients.push_back(Dotted(random()));
  std::size_t next = 0;
  std::size_t bytes = 0;
  for (auto _ : state) {
    const std::string answer = map.BuildRedirectAnswer(clients[next++ & 4095]);
    bytes += answer.size();
    benchmark::DoNotOptimize(answer.data());
  }
  state.counters["answer_bytes"] = static_cast<double>(bytes) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_BuildRedirectAnswer)->Threads(1)->Threads(4)->UseRealTime()->Repetitions(3)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
