// Fuzzes the analysis of transaction-log files: any bytes as a log file,
// with and without a field list before them. The answer must be JSON and
// count no more requests than the text has lines.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/json_reader.h"
#include "txlog/log_analysis.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void Analyse(std::string_view text, std::size_t lines) {
  CLogAnalysis analysis("", "");
  analysis.AddText(text);
  Check(analysis.Requests() <= lines);
  const json::JsonResult parsed = json::ParseJson(analysis.Json(), json::JsonLimits());
  Check(parsed.ok);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::size_t lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
  Analyse(text, lines);
  Analyse("#Fields: c-ip date time cs-method cs-uri sc-status bytes time-taken x-agent r-ip rs-status\r\n" +
              std::string(text),
          lines + 1);
  CLogAnalysis::ParseBound(text);
  CategoryOfUri(text);
  return 0;
}
