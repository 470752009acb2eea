// CNullAgent: the agent of blocked categories. Instead of the content it
// sends the blocking message document named by BlockingMessageURL (a local
// file or an http URL), or an empty 204 answer when there is none.
#pragma once

#include <mutex>

#include "agents/abstract_agent.h"
#include "config/cp_registry.h"

class CNullAgent : public CAbstractAgent {
 public:
  explicit CNullAgent(const CPRegistry& registry);

  // Opens the settings key, creating it when missing. Always 1.
  int Init() override;
  // Answers with the blocking message (200, "408" logged when the send
  // failed) or 204. Always 1: a blocked request never fails.
  int HTTPProcess(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                  CPTransactionLogEntry* logEntry) override;
  // Adds one to Statistics\NullAgentRequests; every answered request counts.
  virtual void UpdateStatistics();

 private:
  CPRegistry m_Registry;
  std::mutex m_StatisticsLock;
};
