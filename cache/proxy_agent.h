// CProxyAgent: answers the categories that the agent list gives to the
// proxy cache. The answer is the response prefix followed by every cached
// item newer than the item number the viewer sent, straight from the
// entries' memory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "agents/abstract_agent.h"
#include "cache/cache_response.h"
#include "cache/proxy_cache.h"
#include "config/cp_registry.h"
#include "platform/file.h"

class CProxyAgent : public CAbstractAgent {
 public:
  // Initialises the cache at once and reports the outcome to the event log;
  // Init returns it.
  explicit CProxyAgent(const CPRegistry& settings);
  ~CProxyAgent() override;

  int Init() override { return m_InitResult; }
  // Always fills sc-status; r-ip and rs-status only when upstream was asked.
  int HTTPProcess(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                  CPTransactionLogEntry* logEntry) override;

  // The cache report (for the administration agent); 1 when written.
  int DumpCache(platform::File& file, std::uint32_t flags) { return m_Cache.DumpCache(file, flags); }
  CProxyCache& Cache() { return m_Cache; }

 protected:
  using CAbstractAgent::HTTPSendResponse;
  // Prefix and items (only the prefix for HEAD). 1 when all was sent.
  virtual int HTTPSendResponse(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                               const CCacheResponse* items, int flag);

 private:
  CPRegistry m_Registry;
  CProxyCache m_Cache;
  int m_InitResult = 0;
};
