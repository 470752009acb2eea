// The viewer protocol on a request thread's path: parsing a typical viewer
// request, and building the response prefix and a data-stream header. None of
// it traces, so it needs no machine root.
#include <benchmark/benchmark.h>

#include <cstring>
#include <ctime>
#include <string>

#include "net/fetched_item.h"
#include "net/iqrn_http.h"
#include "net/qrn_http.h"

namespace {

const std::string kRequest =
    "GET /KIBO-1/NumItm-5/67328-1?data_file+logo HTTP/1.0\r\n"
    "User-Agent: QRNviewer/2.0\r\n"
    "QRNReqType:1\r\n"
    "QRNrouter-time:934\r\n"
    "Accept: application/octet-stream\r\n"
    "\r\n";

// A 5000-byte channel item due again in ten minutes.
const CFetchedItem& TypicalItem() {
  static CFetchedItem* item = [] {
    auto* made = new CFetchedItem(1234, 1, 2, "corp.dat", std::vector<char>(5000, 'x'));
    made->SetNextUpdateTime(std::time(nullptr) + 600);
    return made;
  }();
  return *item;
}

void BM_ParseViewerRequest(benchmark::State& state) {
  QRNHTTP parser;
  char buffer[4096];
  for (auto _ : state) {
    parser.ResetHTTP();
    std::memcpy(buffer, kRequest.data(), kRequest.size());
    auto length = static_cast<unsigned int>(kRequest.size());
    if (parser.HTTPprocess(buffer, length) != eHTTPComplete) state.SkipWithError("not complete");
    benchmark::DoNotOptimize(parser.GetCategory());
  }
}

void BM_MakeResponsePrefix(benchmark::State& state) {
  QRNHTTP http;
  const long expires = static_cast<long>(std::time(nullptr)) + 600;
  for (auto _ : state) {
    unsigned long length = 5120;
    HTTPText prefix = http.MakeResponsePrefix(length, expires, 784111777, 1);
    benchmark::DoNotOptimize(prefix.get());
  }
}

void BM_MakeDataStreamHeader(benchmark::State& state) {
  QRNHTTP http;
  const CFetchedItem& item = TypicalItem();
  for (auto _ : state) {
    HTTPText header = http.MakeDataStreamHeader(&item, 0, 0);
    benchmark::DoNotOptimize(header.get());
  }
}

void BM_PrefixAndHeaderForOneItem(benchmark::State& state) {
  QRNHTTP http;
  const CFetchedItem& item = TypicalItem();
  for (auto _ : state) {
    HTTPText header = http.MakeDataStreamHeader(&item, 0, 0);
    unsigned long length = item.SendLength() + std::strlen(header.get());
    HTTPText prefix = http.MakeResponsePrefix(length, static_cast<long>(item.NextUpdateTime()), 0, 1);
    benchmark::DoNotOptimize(prefix.get());
  }
}

BENCHMARK(BM_ParseViewerRequest)->Repetitions(10)->ReportAggregatesOnly(true);
BENCHMARK(BM_MakeResponsePrefix)->Repetitions(10)->ReportAggregatesOnly(true);
BENCHMARK(BM_MakeDataStreamHeader)->Repetitions(10)->ReportAggregatesOnly(true);
BENCHMARK(BM_PrefixAndHeaderForOneItem)->Repetitions(10)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
