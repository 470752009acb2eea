// CAdminAgent: the administrative commands that arrive on the viewer port
// (agent kind 6). One command exists: "PxyAgent", which makes the proxy
// cache write its dump report into a new file in the transaction log
// directory, named after the local time, and answers 204 when the report was
// written or 500 when it was not.
//
// Request: /KIBO-1/<category>-<item>?PxyAgent[+<flags>], the flags in
// decimal (default 125: every part except the raw item bytes).
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "agents/abstract_agent.h"
#include "config/cp_registry.h"

class CProxyAgent;

class CAdminAgent : public CAbstractAgent {
 public:
  static constexpr const char* kDumpCommand = "PxyAgent";
  static constexpr std::uint32_t kDefaultDumpFlags = 125;

  // `proxyAgent` is borrowed; without one the dump command answers 500.
  CAdminAgent(const CPRegistry& settings, CProxyAgent* proxyAgent);

  int Init() override { return 1; }
  // Runs the command named by the first argument. A request without a known
  // command is answered 400 here (the request thread sends nothing itself)
  // and gives 0.
  int HTTPProcess(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                  CPTransactionLogEntry* logEntry) override;

  // The dump report's file name for the local time `when`.
  static std::string DumpFileName(const std::string& directory, std::time_t when);

 protected:
  // The cache-dump command; its arguments follow the command's own. 1 when
  // the report was written.
  virtual int DumpProxyCache(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                             CPTransactionLogEntry* logEntry);

 private:
  int Answer(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request, CPTransactionLogEntry* logEntry,
             int status, const char* reason);

  CPRegistry m_Registry;
  CProxyAgent* m_ProxyAgent;
};
