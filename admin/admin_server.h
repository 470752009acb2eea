// CAdminServer: the administration web server's request handling. Each
// connection brings one plain HTTP/1.0 request; its path chooses a handler
// (0 the error agent, 1 the file agent, 3 the console's API, 2 and 4 free) through the path table,
// the handler answers, and one line goes to the administration log
// (Adm00001.log ...).
//
// The tables are built once and only read afterwards, so any number of
// administration threads may serve at once.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "agents/request_agent.h"
#include "config/cp_registry.h"
#include "net/connection_service.h"
#include "platform/socket.h"

class CPTransactionLog;
struct CConsoleContext;

class CAdminServer : public CConnectionService {
 public:
  static constexpr std::size_t kHandlerSlots = 5;
  static constexpr int kErrorHandler = 0;
  static constexpr int kFileHandler = 1;
  // The Prometheus text of the performance counters, at /metrics.
  static constexpr int kMetricsHandler = 2;
  static constexpr int kConsoleHandler = 3;
  // The largest request body kept.
  static constexpr std::size_t kMaxBody = 1 << 20;

  // Each read of a request waits at most `timeoutSeconds`. With `console`
  // (borrowed), the console's API answers /api.
  CAdminServer(const CPRegistry& settings, platform::DWORD timeoutSeconds, CConsoleContext* console = nullptr);
  ~CAdminServer() override;
  CAdminServer(const CAdminServer&) = delete;
  CAdminServer& operator=(const CAdminServer&) = delete;

  // Puts a handler in a free slot (2 to 4) before the server takes requests.
  void SetHandler(std::size_t slot, std::unique_ptr<CRequestAgent> handler);
  // Has `handler` answer `path` and the paths below it (before the server
  // takes requests); an entry for the same path is replaced.
  void AddPath(std::string path, int handler);
  // Reads one request (each read within RecvTimeout, the whole request by
  // `deadline`), answers it and logs it.
  void ServeConnection(platform::SOCKET socket, const std::string& peer, std::chrono::steady_clock::time_point deadline,
                       const std::atomic<bool>& stop) override;
  // The handler number that answers `path`; a number without a handler is
  // answered by the error agent.
  int HandlerFor(std::string_view path) const;

 private:
  // The URI as the administration log records it.
  static std::string LoggedUri(const CHTTPRequestMessage& request);

  CPRegistry m_Settings;
  platform::DWORD m_TimeoutSeconds;
  std::array<std::unique_ptr<CRequestAgent>, kHandlerSlots> m_Handlers;
  // Sorted by path (case ignored); searched from the end so that the most
  // specific entry wins.
  std::vector<std::pair<std::string, int>> m_Paths;
  std::unique_ptr<CPTransactionLog> m_pLog;
};
