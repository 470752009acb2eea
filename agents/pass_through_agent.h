// CPassThroughAgent: relays a viewer request (its request line and posted
// body; the viewer's header lines stay behind) to the data centre and copies
// the answer back with a Via line added. Categories that no other agent
// serves come here.
#pragma once

#include <cstdint>

#include "agents/abstract_agent.h"
#include "config/cp_registry.h"
#include "config/statistic_counter.h"

class CPHTTPStream;

class CPassThroughAgent : public CAbstractAgent {
 public:
  // The answer's body is relayed in blocks of this size.
  static constexpr std::size_t kRelayBlock = 1024;

  explicit CPassThroughAgent(const CPRegistry& registry);

  // Opens the settings key, creating it when missing. Always 1.
  int Init() override;
  // 1 when the whole answer went out, 0 when a send failed or the method is
  // not GET, HEAD or POST (nothing is sent then). An unreachable data
  // centre, and a proxy that refuses its credentials (407), answer 500.
  int HTTPProcess(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                  CPTransactionLogEntry* logEntry) override;

  // Requests relayed since this agent was created; Statistics\PassThruRequests
  // follows within about a second, and when the agent ends.
  std::uint32_t RequestCount() const { return m_RequestCount.Value(); }

 private:
  // Sends the header, then up to its Content-Length of body bytes (none for
  // HEAD). False when a send failed.
  bool RelayAnswer(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request, CPHTTPStream& stream,
                   const std::string& header);
  CPRegistry m_Registry;
  CStatisticCounter m_RequestCount;  // after m_Registry, which it writes to as it ends
};
