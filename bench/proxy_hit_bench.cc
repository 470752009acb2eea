// The proxy agent's own work on a cache hit: finding the fresh entry and
// building the list of its items, and the whole answer written to a viewer
// on a loopback connection (one gathered send). A cached category of four
// items of 1 KiB, as the end-to-end benchmark asks for.
#include <benchmark/benchmark.h>

#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/machine_root.h"
#include "cache/proxy_agent.h"
#include "net/qrn_http.h"
#include "platform/socket.h"
#include "txlog/transaction_log_entry.h"

namespace {

// Opens the protected send for the benchmark.
class BenchProxyAgent : public CProxyAgent {
 public:
  using CProxyAgent::CProxyAgent;
};

std::unique_ptr<QRNHTTP> Request(const std::string& target) {
  auto request = std::make_unique<QRNHTTP>();
  std::string text = "GET " + target + " HTTP/1.0\r\nUser-Agent: viewer\r\n\r\n";
  auto length = static_cast<unsigned int>(text.size());
  request->HTTPprocess(text.data(), length);
  return request;
}

// Entry "1000" with items 1 to 4 of 1 KiB, fresh for an hour.
void FillEntry(CProxyAgent& agent) {
  CCacheEntry* entry = agent.Cache().Table()->FindOrCreate("1000");
  entry->Lock(platform::kInfinite);
  for (std::uint32_t id = 1; id <= 4; ++id) {
    const std::string record = "OFF:0\r\nLEN:0\r\nLID:" + std::to_string(id) + "\r\nTLEN:1024\r\nFP:0\r\nSRC:dc\r\n\r\n" +
                               std::string(1024, static_cast<char>('a' + id));
    auto item = CCacheFile::Create(id, 0, static_cast<std::uint32_t>(record.size()));
    item->Write(record.data(), record.size());
    entry->AddItem(std::move(item));
  }
  entry->Publish();
  const auto now = static_cast<std::int64_t>(std::time(nullptr));
  entry->ExchangeViewerNextUpdate(now + 3600);
  entry->ExchangeRefreshDeadline(now + 3600);
  entry->Unlock();
}

std::unique_ptr<BenchProxyAgent> g_agent;

void BM_ProcessRequestHit(benchmark::State& state) {
  auto request = Request("/KIBO-1/NumItm-4/1000-0");
  for (auto _ : state) {
    CCacheResponse response;
    CUpstreamResult result;
    CCacheHits hits;
    if (!g_agent->Cache().ProcessRequest(*request, response, result, hits) || response.Count() != 4) {
      state.SkipWithError("not a hit of four items");
    }
    benchmark::DoNotOptimize(response.DataLength());
  }
}

// A loopback connection whose viewer end is drained by a thread of its own.
class DrainedConnection {
 public:
  DrainedConnection() {
    platform::SOCKET listener = platform::TcpSocket();
    platform::SocketAddress address{0x7F000001, 0};
    platform::Bind(listener, address);
    platform::Listen(listener, 1);
    platform::GetLocalAddress(listener, &address);
    m_Viewer = platform::TcpSocket();
    platform::Connect(m_Viewer, address, 2000);
    m_Server = platform::Accept(listener, nullptr);
    platform::CloseSocket(listener);
    m_Drain = std::thread([this] {
      std::vector<char> buffer(1 << 16);
      while (platform::Recv(m_Viewer, buffer.data(), buffer.size()) > 0) {
      }
    });
  }
  ~DrainedConnection() {
    platform::Shutdown(m_Server, platform::SD_BOTH);
    m_Drain.join();
    platform::CloseSocket(m_Server);
    platform::CloseSocket(m_Viewer);
  }
  platform::SOCKET Server() const { return m_Server; }

 private:
  platform::SOCKET m_Viewer;
  platform::SOCKET m_Server;
  std::thread m_Drain;
};

void BM_AnswerHit(benchmark::State& state) {
  auto request = Request("/KIBO-1/NumItm-4/1000-0");
  DrainedConnection connection;
  for (auto _ : state) {
    CPTransactionLogEntry entry;
    unsigned long bytesSent = 0;
    if (g_agent->HTTPProcess(connection.Server(), bytesSent, request.get(), &entry) != 1) {
      state.SkipWithError("not answered");
    }
  }
}

BENCHMARK(BM_ProcessRequestHit)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_ProcessRequestHit)->Threads(2)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_AnswerHit)->Repetitions(5)->ReportAggregatesOnly(true)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  BenchMachineRoot machine;
  if (!machine.Ready()) return 1;
  // Traces of the hit path at the product's default mask, going nowhere.
  g_agent = std::make_unique<BenchProxyAgent>(CPRegistry());
  FillEntry(*g_agent);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  g_agent.reset();
  return 0;
}
