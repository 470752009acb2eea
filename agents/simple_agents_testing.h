// Test support for the null and pass-through agents: a viewer request parsed
// from its text, the fields of a formatted transaction log line, and one
// request run through an agent on a loopback connection.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "agents/abstract_agent.h"
#include "txlog/transaction_log_entry.h"

namespace agent_testing {

// A parser holding the whole request `text` (request line, headers, body).
std::unique_ptr<QRNHTTP> ParsedText(const std::string& text);

// The blank-separated fields of the entry's line, formatted now.
std::vector<std::string> LogFields(CPTransactionLogEntry& entry);
// Field positions of a viewer-request line.
inline constexpr std::size_t kStatusField = 5;
inline constexpr std::size_t kUpstreamHostField = 9;
inline constexpr std::size_t kUpstreamStatusField = 10;

struct Served {
  int result = -1;
  unsigned long bytesSent = 0;
  std::string wire;  // everything the viewer received
  CPTransactionLogEntry entry;
};
// Runs `request` through `agent` for a viewer that reads everything, or,
// with `viewerGone`, for one that has closed its end.
Served Serve(CAbstractAgent& agent, const std::string& request, bool viewerGone = false);

}  // namespace agent_testing
