#include "tools/perf_command.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <memory>

#include "perf/perf_block.h"
#include "perf/perf_text.h"
#include "platform/dynamic_library.h"
#include "platform/sync.h"
#include "regwrap/qr_registry.h"

namespace zondrelctl {

namespace {

using OpenFn = std::uint32_t (*)(const char*);
using CollectFn = std::uint32_t (*)(const char*, void**, std::uint32_t*, std::uint32_t*);
using CloseFn = std::uint32_t (*)();

constexpr const char* kPerformanceKey = "SYSTEM\\CurrentControlSet\\Services\\Zondrel\\Performance";
// Room for the object the library writes, and then some.
constexpr std::uint32_t kCollectRoom = 4096;
constexpr double kMaxIntervalSeconds = 3600;
constexpr long kMaxCount = 1000000;

struct Options {
  double interval = 1;
  long count = 0;  // 0: until interrupted
  bool json = false;
  bool prometheus = false;
};

bool ParseOptions(const std::vector<std::string>& args, Options& options) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--json") {
      options.json = true;
    } else if (arg == "--prometheus") {
      options.prometheus = true;
    } else if ((arg == "--interval" || arg == "--count") && i + 1 < args.size()) {
      const std::string& value = args[++i];
      char* end = nullptr;
      if (arg == "--interval") {
        options.interval = std::strtod(value.c_str(), &end);
        if (end == value.c_str() || *end != '\0' || !(options.interval >= 0.1 && options.interval <= kMaxIntervalSeconds)) {
          std::cerr << "ERROR: --interval takes seconds from 0.1 to 3600.\n";
          return false;
        }
      } else {
        options.count = std::strtol(value.c_str(), &end, 10);
        if (end == value.c_str() || *end != '\0' || options.count < 1 || options.count > kMaxCount) {
          std::cerr << "ERROR: --count takes a number from 1 to 1000000.\n";
          return false;
        }
      }
    } else {
      std::cerr << "ERROR: Invalid argument \"" << arg
                << "\". Usage: zondrelctl perf [--interval S] [--count N] [--json] [--prometheus]\n";
      return false;
    }
  }
  return true;
}

std::uint32_t Word(const unsigned char* at) {
  return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
         (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

// The counters of one collected object, read through its own definitions
// as a monitor reads them; false when the data is not the relay's object.
bool ReadObject(const unsigned char* data, std::uint32_t size, perf::Counters& words) {
  if (size < 64) return false;
  const std::uint32_t total = Word(data), definition = Word(data + 4), header = Word(data + 8),
                      counters = Word(data + 32);
  if (total > size || counters != perf::kCounterCount || header < 64 || definition > total ||
      header + counters * 40 > definition) {
    return false;
  }
  const unsigned char* block = data + definition;
  const std::uint32_t blockLength = Word(block);
  if (definition + blockLength > total) return false;
  for (std::uint32_t i = 0; i < counters; ++i) {
    const unsigned char* counter = data + header + i * 40;
    const std::uint32_t offset = Word(counter + 36), bytes = Word(counter + 32);
    if (bytes != 4 || offset + 4 > blockLength) return false;
    words[i] = Word(block + offset);
  }
  return true;
}

class Collector {
 public:
  bool Load() {
    QRRegistry key(QRRegistry(platform::HKEY_LOCAL_MACHINE), kPerformanceKey);
    const std::string library = key.GetValue("Library", "");
    const std::string open = key.GetValue("Open", ""), collect = key.GetValue("Collect", ""),
                      close = key.GetValue("Close", "");
    if (library.empty() || open.empty() || collect.empty() || close.empty()) {
      std::cerr << "ERROR: The relay's counters are not installed (no Performance key); run zondrel -i.\n";
      return false;
    }
    std::string error;
    library_ = platform::DynamicLibrary::Load(library, &error);
    if (!library_) {
      std::cerr << "ERROR: Cannot load " << library << ": " << error << "\n";
      return false;
    }
    open_ = reinterpret_cast<OpenFn>(library_->Symbol(open));
    collect_ = reinterpret_cast<CollectFn>(library_->Symbol(collect));
    close_ = reinterpret_cast<CloseFn>(library_->Symbol(close));
    if (open_ == nullptr || collect_ == nullptr || close_ == nullptr) {
      std::cerr << "ERROR: " << library << " lacks " << open << ", " << collect << " or " << close << ".\n";
      return false;
    }
    opened_ = open_(nullptr) == 0;
    return opened_;
  }
  ~Collector() {
    if (opened_) close_();
  }
  bool Collect(perf::Counters& words) {
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[kCollectRoom]);
    void* at = buffer.get();
    std::uint32_t size = kCollectRoom, objects = 0;
    if (collect_("Global", &at, &size, &objects) != 0 || objects == 0 || size > kCollectRoom) return false;
    return ReadObject(buffer.get(), size, words);
  }

 private:
  std::unique_ptr<platform::DynamicLibrary> library_;
  OpenFn open_ = nullptr;
  CollectFn collect_ = nullptr;
  CloseFn close_ = nullptr;
  bool opened_ = false;
};

}  // namespace

int RunPerfCommand(const std::vector<std::string>& args) {
  Options options;
  if (!ParseOptions(args, options)) return 1;
  Collector collector;
  if (!collector.Load()) return 1;
  perf::Counters previous{};
  bool havePrevious = collector.Collect(previous);
  // The library opens the block again at a collection that found none.
  if (!havePrevious) havePrevious = collector.Collect(previous);
  if (options.prometheus) {
    std::cout << perf::FormatPrometheus(havePrevious ? &previous : nullptr, perf::ReadStatistics()) << std::flush;
    return havePrevious ? 0 : 1;
  }
  using Clock = std::chrono::steady_clock;
  Clock::time_point previousTime = Clock::now();
  bool any = false;
  for (long sample = 0; options.count == 0 || sample < options.count; ++sample) {
    platform::Sleep(static_cast<platform::DWORD>(options.interval * 1000));
    perf::Counters words{};
    const Clock::time_point now = Clock::now();
    if (!collector.Collect(words)) {
      std::cerr << "no data: the relay is not running\n";
      havePrevious = false;
      continue;
    }
    any = true;
    const double seconds = std::chrono::duration<double>(now - previousTime).count();
    const double rate = havePrevious && seconds > 0 && words[perf::eAcceptedRate] >= previous[perf::eAcceptedRate]
                            ? (words[perf::eAcceptedRate] - previous[perf::eAcceptedRate]) / seconds
                            : 0;
    if (options.json) {
      std::cout << perf::FormatJson(static_cast<std::int64_t>(std::time(nullptr)), words, rate) << "\n" << std::flush;
    } else {
      char stamp[32];
      const std::time_t clock = std::time(nullptr);
      std::tm local{};
      localtime_r(&clock, &local);
      std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
      std::cout << stamp << "\n" << perf::FormatTable(words, rate) << "\n" << std::flush;
    }
    previous = words;
    previousTime = now;
    havePrevious = true;
  }
  return any ? 0 : 1;
}

}  // namespace zondrelctl
