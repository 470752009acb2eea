// The console's diagnostic requests: a viewer request for a category sent
// to this relay's own viewer port, and the same request sent to the data
// centre the way the relay sends its own (server list, proxy or firewall).
// Each is reported with its status, header and timing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "config/cp_registry.h"

namespace diagnostics {

// At most this much of an answer is read; the first kPreviewBytes are shown.
inline constexpr std::size_t kMaxAnswerBytes = 4u << 20;
inline constexpr std::size_t kPreviewBytes = 512;
// How long one diagnostic request may take in all.
inline constexpr std::uint32_t kTimeoutMs = 15000;

struct Probe {
  std::string target;  // "host:port" asked, when one was reached
  int status = 0;      // 0: no HTTP answer
  std::string header;  // status line and header lines as they came
  std::uint64_t bodyBytes = 0;
  std::string bodyStart;  // the first kPreviewBytes of the body
  double milliseconds = 0;
  std::string error;  // why there is no answer
};

// A category path as a viewer names it after "/KIBO-1/": "12345" or
// "12345-0", optionally followed by "?" and arguments of letters, digits
// and "+-_.=". Anything else is refused before a request is made.
bool IsCategoryPath(std::string_view path);

// The viewer request this relay gets for `path` (a checked category path).
std::string ViewerRequest(std::string_view path);

// Asks the relay's first viewer listener (an "every interface" entry is
// asked on 127.0.0.1).
Probe AskRelay(CPRegistry& settings, std::string_view path);
// Asks the data centre.
Probe AskDataCentre(const CPRegistry& settings, std::string_view path);

std::string ProbeJson(const Probe& probe);

}  // namespace diagnostics
