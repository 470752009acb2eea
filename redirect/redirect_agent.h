// CRedirectAgent: answers the redirection category (RedirectionChannel,
// 66560). A viewer is told which relays to use by its address (the item
// "0.dc", a [DataCenter] document); a slave asking with the argument
// "redirect.csv" gets the raw table; a POST is a new table from the master
// (or, on the master, from an administrator), accepted only from the
// addresses allowed to post.
//
// Its thread ("RedirectAgent", named update event "RefreshRedirectionFiles")
// wakes every RedirectionRefreshFrequency seconds and when the event is set,
// and has the house read its files again and refresh from the master.
#pragma once

#include <cstdint>
#include <string>

#include "agents/abstract_agent.h"
#include "config/cp_registry.h"
#include "config/statistic_counter.h"
#include "poolmgr/worker_thread.h"
#include "redirect/redirection_house.h"

class CRedirectAgent : public CAbstractAgent, public CWorkerThread {
 public:
  static constexpr platform::DWORD kMaxNextUpdateSeconds = 604800;
  static constexpr platform::DWORD kMaxRefreshSeconds = 86400;
  // A client this relay does not serve asks again this soon.
  static constexpr platform::DWORD kNotHereNextUpdateSeconds = 1;

  CRedirectAgent(const CPRegistry& settings, CRedirectionHouse* house);
  ~CRedirectAgent() override;

  // Reads the settings and starts the thread. Always 1.
  int Init() override;
  int HTTPProcess(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                  CPTransactionLogEntry* logEntry) override;

  platform::DWORD NextUpdateSeconds() const { return m_NextUpdate; }
  platform::DWORD RefreshSeconds() const { return m_RefreshFrequency; }
  std::uint32_t Requests() const { return m_RequestCount.Value(); }
  // Whether `poster` may post a table, and why not.
  bool PosterAllowed(std::uint32_t poster, std::string& reason);

 protected:
  platform::DWORD WorkerThreadRun() override;

 private:
  void ReceivePost(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request, CPTransactionLogEntry* logEntry);
  void SendTable(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request, CPTransactionLogEntry* logEntry);
  void Redirect(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request, CPTransactionLogEntry* logEntry);

  CPRegistry m_Registry;
  bool m_Enabled = false;
  platform::DWORD m_NextUpdate = 86400;
  platform::DWORD m_RefreshFrequency = 7200;
  platform::DWORD m_Category = 66560;
  CStatisticCounter m_RequestCount;  // after m_Registry, which it writes to as it ends
  CRedirectionHouse* m_pHouse;
  CRedirectionMap* m_pMap;
};
