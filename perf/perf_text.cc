#include "perf/perf_text.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "config/cp_registry.h"
#include "regwrap/qr_registry.h"

namespace perf {

const std::array<CounterText, kCounterCount> kCounterTexts{{
    {"accepted_per_second", "Connections Accepted/sec", "Client connections accepted per second."},
    {"refused_total", "Connections Refused", "Connections closed because no pool thread could take them."},
    {"idle_threads", "Idle Threads", "Client pool threads waiting for work."},
    {"working_threads", "Working Threads", "Client pool threads answering a request."},
    {"ended_threads", "Ended Threads", "Client pool threads that have ended."},
    {"expired_threads", "Expired Threads", "Client pool threads that have expired."},
    {"pool_slots", "Pool Slots", "Slots of the client thread pool."},
    {"jobs_per_thread", "Jobs per Thread", "Average number of jobs done by a client pool thread."},
    {"reaped_ended", "Reaped Ended Threads", "Threads removed by the pool cleaner after ending."},
    {"reaped_expired", "Reaped Expired Threads", "Threads removed by the pool cleaner after expiring."},
    {"stuck_threads", "Stuck Threads", "Client pool threads that stopped reporting."},
    {"reserved_threads", "Reserved Threads", "Client pool threads reserved for a connection."},
    {"accepted_total", "Connections Accepted", "Client connections accepted since the relay started."},
}};

const CounterText kObjectText{"zondrel", "Zondrel", "Client connections and the client thread pool of the relay."};

namespace {

constexpr const char* kStatisticsKey = "SOFTWARE\\Orrinvale\\Zondrel\\Statistics";
constexpr const char* kPerflibKey = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib";
// Where the index numbers start on a machine that has none yet.
constexpr platform::DWORD kFirstIndexOnEmptyMachine = 2;
// The object and the thirteen counters: two index numbers each.
constexpr platform::DWORD kIndexSpan = 2 * kCounterCount;

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", value);
  return text;
}

// A label value with \, " and line ends escaped.
std::string LabelValue(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string FormatJson(std::int64_t time, const Counters& words, double acceptedPerSecond) {
  std::string out = "{\"time\": " + std::to_string(time) + ", \"counters\": {";
  for (std::size_t i = 0; i < kCounterCount; ++i) {
    if (i > 0) out += ", ";
    out += std::string("\"") + kCounterTexts[i].key + "\": ";
    out += i == eAcceptedRate ? Number(acceptedPerSecond) : std::to_string(words[i]);
  }
  return out + "}}";
}

std::string FormatTable(const Counters& words, double acceptedPerSecond) {
  std::string out;
  for (std::size_t i = 0; i < kCounterCount; ++i) {
    char line[96];
    if (i == eAcceptedRate) {
      std::snprintf(line, sizeof line, "%-26s %12.3f\n", kCounterTexts[i].name, acceptedPerSecond);
    } else {
      std::snprintf(line, sizeof line, "%-26s %12u\n", kCounterTexts[i].name, words[i]);
    }
    out += line;
  }
  return out;
}

std::vector<Statistic> ReadStatistics() {
  std::vector<Statistic> statistics;
  QRRegistry key(QRRegistry(platform::HKEY_LOCAL_MACHINE), kStatisticsKey);
  if (!key.Open(0)) return statistics;
  // Bounded: a key of more values than this is not the relay's.
  constexpr platform::DWORD kMaxValues = 1024;
  try {
    for (platform::DWORD index = 0; index < kMaxValues; ++index) {
      platform::DWORD type = 0;
      std::string name = key.EnumValue(index, &type);
      platform::DWORD value = 0;
      if (type != platform::REG_DWORD || name.empty() || !key.GetValue(name.c_str(), &value)) continue;
      statistics.emplace_back(std::move(name), value);
    }
  } catch (int) {
    // Past the last value.
  }
  key.Close(0);
  std::sort(statistics.begin(), statistics.end());
  return statistics;
}

std::string FormatPrometheus(const Counters* counters, const std::vector<Statistic>& statistics) {
  std::string out;
  auto family = [&](const char* name, const char* type, const char* help) {
    out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
  };
  auto sample = [&](const std::string& name, std::uint32_t value) { out += name + " " + std::to_string(value) + "\n"; };
  if (counters != nullptr) {
    const Counters& words = *counters;
    family("zondrel_connections_accepted_total", "counter", "Client connections accepted since the relay started.");
    sample("zondrel_connections_accepted_total", words[eAcceptedTotal]);
    family("zondrel_connections_refused_total", "counter",
           "Connections closed because no pool thread could take them.");
    sample("zondrel_connections_refused_total", words[eRefused]);
    family("zondrel_pool_threads", "gauge", "Client pool threads by state.");
    sample("zondrel_pool_threads{state=\"idle\"}", words[eIdleThreads]);
    sample("zondrel_pool_threads{state=\"working\"}", words[eWorkingThreads]);
    sample("zondrel_pool_threads{state=\"ended\"}", words[eEndedThreads]);
    sample("zondrel_pool_threads{state=\"expired\"}", words[eExpiredThreads]);
    sample("zondrel_pool_threads{state=\"reserved\"}", words[eReservedThreads]);
    family("zondrel_pool_slots", "gauge", "Slots of the client thread pool.");
    sample("zondrel_pool_slots", words[ePoolSlots]);
    family("zondrel_pool_jobs_per_thread", "gauge", "Average number of jobs done by a client pool thread.");
    sample("zondrel_pool_jobs_per_thread", words[eJobsPerThread]);
    family("zondrel_pool_reaped_total", "counter", "Threads removed by the pool cleaner.");
    sample("zondrel_pool_reaped_total{after=\"ended\"}", words[eReapedEnded]);
    sample("zondrel_pool_reaped_total{after=\"expired\"}", words[eReapedExpired]);
    family("zondrel_pool_stuck_threads", "gauge", "Client pool threads that stopped reporting.");
    sample("zondrel_pool_stuck_threads", words[eStuckThreads]);
  }
  if (!statistics.empty()) {
    family("zondrel_statistic", "gauge", "The relay's statistics values.");
    for (const Statistic& statistic : statistics) {
      sample("zondrel_statistic{name=\"" + LabelValue(statistic.first) + "\"}", statistic.second);
    }
  }
  return out;
}

namespace {

// Replaces the pairs of `strings` (index, text, index, text ...) whose index
// lies in [first, first + span] by `ours`.
std::vector<std::string> MergePairs(const std::vector<std::string>& strings, platform::DWORD first,
                                    const std::vector<std::pair<platform::DWORD, std::string>>& ours) {
  std::vector<std::string> merged;
  for (std::size_t i = 0; i + 1 < strings.size(); i += 2) {
    char* end = nullptr;
    const unsigned long index = std::strtoul(strings[i].c_str(), &end, 10);
    if (end != strings[i].c_str() && index >= first && index <= first + kIndexSpan) continue;
    merged.push_back(strings[i]);
    merged.push_back(strings[i + 1]);
  }
  for (const auto& [index, text] : ours) {
    merged.push_back(std::to_string(index));
    merged.push_back(text);
  }
  return merged;
}

}  // namespace

bool InstallCounterNames(const std::string& serviceName) {
  QRRegistry machine(platform::HKEY_LOCAL_MACHINE);
  QRRegistry performance(machine, ("SYSTEM\\CurrentControlSet\\Services\\" + serviceName + "\\Performance").c_str());
  QRRegistry perflib(machine, kPerflibKey);
  QRRegistry english(machine, (std::string(kPerflibKey) + "\\009").c_str());
  if (!performance.Open(1) || !perflib.Open(1) || !english.Open(1)) return false;
  platform::DWORD firstCounter = 0, firstHelp = 0;
  if (!performance.GetValue("First Counter", &firstCounter) || !performance.GetValue("First Help", &firstHelp) ||
      firstHelp != firstCounter + 1) {
    // Above every index the machine gives out already.
    const platform::DWORD lastCounter = perflib.GetValue("Last Counter", platform::DWORD{0});
    const platform::DWORD lastHelp = perflib.GetValue("Last Help", platform::DWORD{0});
    firstCounter = std::max({lastCounter + 2, lastHelp + 1, kFirstIndexOnEmptyMachine});
    if (firstCounter % 2 != 0) ++firstCounter;
    firstHelp = firstCounter + 1;
  }
  std::vector<std::pair<platform::DWORD, std::string>> names{{firstCounter, kObjectText.name}};
  std::vector<std::pair<platform::DWORD, std::string>> helps{{firstHelp, kObjectText.help}};
  for (platform::DWORD i = 0; i < kCounterCount; ++i) {
    names.emplace_back(firstCounter + 2 * (i + 1), kCounterTexts[i].name);
    helps.emplace_back(firstHelp + 2 * (i + 1), kCounterTexts[i].help);
  }
  std::vector<std::string> counterStrings, helpStrings;
  english.GetValue("Counter", counterStrings);
  english.GetValue("Help", helpStrings);
  bool ok = english.SetValue("Counter", MergePairs(counterStrings, firstCounter, names)) &&
            english.SetValue("Help", MergePairs(helpStrings, firstHelp, helps));
  const platform::DWORD lastCounter = firstCounter + kIndexSpan;
  const platform::DWORD lastHelp = firstHelp + kIndexSpan;
  if (perflib.GetValue("Last Counter", platform::DWORD{0}) < lastCounter) {
    ok = perflib.SetValue("Last Counter", lastCounter, platform::REG_DWORD) && ok;
  }
  if (perflib.GetValue("Last Help", platform::DWORD{0}) < lastHelp) {
    ok = perflib.SetValue("Last Help", lastHelp, platform::REG_DWORD) && ok;
  }
  ok = performance.SetValue("First Counter", firstCounter, platform::REG_DWORD) && ok;
  ok = performance.SetValue("First Help", firstHelp, platform::REG_DWORD) && ok;
  performance.SetValue("Last Counter", lastCounter, platform::REG_DWORD);
  performance.SetValue("Last Help", lastHelp, platform::REG_DWORD);
  english.Close(0);
  perflib.Close(0);
  performance.Close(0);
  return ok;
}

}  // namespace perf
