#include "perfctr/perfctr.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>

#include "perf/perf_block.h"
#include "perfctr/perf_data.h"
#include "platform/event_log.h"
#include "platform/shared_memory.h"
#include "platform/trace.h"
#include "regwrap/qr_registry.h"

ZONDREL_TRACE_MODULE("perfctr")

namespace {

using platform::DWORD;

constexpr const char* kEventSource = "servctrs";
constexpr const char* kPerflibKey = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib";
constexpr const char* kPerformanceKey = "SYSTEM\\CurrentControlSet\\Services\\Zondrel\\Performance";
// Information events of the counters' event source.
constexpr DWORD kEventOpened = 0x40000B54;
constexpr DWORD kEventClosed = 0x40000BB7;

struct State {
  std::mutex lock;
  int opens = 0;
  bool started = false;  // the first Open ran
  bool ready = false;    // the index numbers are known
  DWORD eventLogLevel = 1;
  std::unique_ptr<platform::CEventLog> events;
  std::unique_ptr<platform::SharedMemory> block;
  std::array<unsigned char, perfctr::kDefinitionSize> definition{};
  DWORD firstCounter = 0;
};

State& TheState() {
  // Destroyed when the library is unloaded.
  static State state;
  return state;
}

// The first Open's work; `state.lock` is held.
void OpenOnce(State& state) {
  if (!state.started) {
    QRRegistry perflib(QRRegistry(platform::HKEY_LOCAL_MACHINE), kPerflibKey);
    state.eventLogLevel = perflib.GetValue("EventLogLevel", DWORD{1});
    state.events = std::make_unique<platform::CEventLog>(kEventSource);
    if (state.eventLogLevel > 1) {
      state.events->Report(platform::EVENTLOG_INFORMATION_TYPE, 0, kEventOpened, {});
    }
    state.started = true;
  }
  if (!state.block) state.block = platform::SharedMemory::Open(perf::kBlockName, true);
  if (state.block && state.block->Size() < perf::kCounterCount * 4) state.block.reset();
  if (!state.ready) {
    QRRegistry performance(QRRegistry(platform::HKEY_LOCAL_MACHINE), kPerformanceKey);
    DWORD firstCounter = 0, firstHelp = 0;
    if (performance.GetValue("First Counter", &firstCounter) && performance.GetValue("First Help", &firstHelp)) {
      state.definition = perfctr::BuildDefinition(firstCounter, firstHelp);
      state.firstCounter = firstCounter;
      state.ready = true;
    }
  }
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) std::uint32_t OpenZondrelPerf(const char* /*deviceNames*/) {
  State& state = TheState();
  std::lock_guard<std::mutex> hold(state.lock);
  OpenOnce(state);
  ++state.opens;
  return perfctr::kSuccess;
}

__attribute__((visibility("default"))) std::uint32_t CollectZondrelPerf(const char* valueName, void** data,
                                                                         std::uint32_t* totalBytes,
                                                                         std::uint32_t* objectCount) {
  if (data == nullptr || totalBytes == nullptr || objectCount == nullptr) return perfctr::kSuccess;
  State& state = TheState();
  std::lock_guard<std::mutex> hold(state.lock);
  const std::uint32_t room = *totalBytes;
  *totalBytes = 0;
  *objectCount = 0;
  if (!state.ready || !state.block) {
    // Perhaps the relay has started since.
    OpenOnce(state);
    return perfctr::kSuccess;
  }
  switch (perfctr::ClassifyRequest(valueName)) {
    case perfctr::eRequest::eForeign:
      return perfctr::kSuccess;
    case perfctr::eRequest::eList:
      if (!perfctr::ListNames(valueName, state.firstCounter)) return perfctr::kSuccess;
      break;
    case perfctr::eRequest::eGlobal:
    case perfctr::eRequest::eCostly:
      break;
  }
  if (room < perfctr::kDataSize || *data == nullptr) return perfctr::kMoreData;
  perf::Counters words{};
  auto* source = static_cast<std::uint32_t*>(state.block->Data());
  for (std::size_t i = 0; i < perf::kCounterCount; ++i) {
    words[i] = std::atomic_ref<std::uint32_t>(source[i]).load(std::memory_order_relaxed);
  }
  const auto bytes = perfctr::BuildData(state.definition, words);
  std::memcpy(*data, bytes.data(), bytes.size());
  *data = static_cast<unsigned char*>(*data) + bytes.size();
  *totalBytes = static_cast<std::uint32_t>(bytes.size());
  *objectCount = 1;
  return perfctr::kSuccess;
}

__attribute__((visibility("default"))) std::uint32_t CloseZondrelPerf(void) {
  State& state = TheState();
  std::lock_guard<std::mutex> hold(state.lock);
  if (state.opens > 0 && --state.opens == 0) {
    state.block.reset();
    if (state.events && state.eventLogLevel > 1) {
      state.events->Report(platform::EVENTLOG_INFORMATION_TYPE, 0, kEventClosed, {});
    }
    state.events.reset();
    state.started = false;
    state.ready = false;
  }
  return perfctr::kSuccess;
}

}  // extern "C"
