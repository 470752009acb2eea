// The counters as people and monitoring systems read them: their names and
// help texts (in block order), one JSON object per sample, and the
// Prometheus text exposition together with the DWORD values of Statistics\.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "perf/perf_block.h"
#include "platform/types.h"

namespace perf {

struct CounterText {
  const char* key;   // the JSON name
  const char* name;  // the name the performance registry shows
  const char* help;
};
extern const std::array<CounterText, kCounterCount> kCounterTexts;
// The object's own name and help text.
extern const CounterText kObjectText;

// {"time": <seconds>, "counters": {...}}; counter 0 is `acceptedPerSecond`.
std::string FormatJson(std::int64_t time, const Counters& words, double acceptedPerSecond);
// Lines "name: value" for a person, counter 0 as a rate.
std::string FormatTable(const Counters& words, double acceptedPerSecond);

using Statistic = std::pair<std::string, platform::DWORD>;
// The DWORD values of the relay's Statistics key, by name.
std::vector<Statistic> ReadStatistics();
// The Prometheus text format (version 0.0.4) of the counters (none when
// null: no relay publishes them) and the statistics.
std::string FormatPrometheus(const Counters* words, const std::vector<Statistic>& statistics);

// Writes the counter names and help texts where the machine's performance
// registry keeps them, and First Counter and First Help under the service's
// Performance key; an install again keeps the numbers. False on failure.
bool InstallCounterNames(const std::string& serviceName);

}  // namespace perf
