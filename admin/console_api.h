// CConsoleApi: the JSON API of the administration console, a handler of the
// administration web server under /api/ (behind the same Basic
// authentication as the file agent). Each call is a thin layer over what
// the relay already has:
//
//   GET  /api/status              service status, version, statistics
//   GET  /api/settings            every setting: type, default, value
//   POST /api/settings            {"name": ..., "value": ...}
//   GET  /api/flash, /api/corp, /api/redirect       the channel files
//   POST /api/flash, /api/corp, /api/redirect       {"text": ...}
//   POST /api/actions/<event>     sets one of the server's named events
//   POST /api/cache-dump          writes the proxy cache report
//   GET  /api/logs                the transaction-log files
//   GET  /api/logs/<file>?from=N&count=N&filter=TEXT    lines of one file
//   GET  /api/logs/analysis?from=TIME&to=TIME          the transaction logs
//                                 analysed over a time range
//   POST /api/diagnostics         {"category": ..., "target": "relay" |
//                                 "dataCentre" | "both"}: test requests
//   GET  /api/relays              the relays that answer a beacon broadcast,
//                                 with their counters
//
// A change must come as a POST with the header "X-Zondrel-Console: 1", which
// a form or a page of another site cannot send; its JSON body is bounded
// and checked before anything is written.
#pragma once

#include <string>
#include <string_view>

#include "agents/request_agent.h"
#include "config/cp_registry.h"

struct CConsoleContext;

class CConsoleApi : public CRequestAgent {
 public:
  static constexpr const char* kPath = "/api";
  static constexpr const char* kChangeHeader = "X-Zondrel-Console";
  static constexpr std::size_t kMaxLogLines = 1000;
  // An analysis reads at most this much of the logs, newest files first.
  static constexpr std::size_t kMaxAnalysedBytes = 256u << 20;
  // How long the relays of the network have to answer a broadcast, and
  // then a status query.
  static constexpr unsigned kDiscoveryWaitMs = 1500;
  static constexpr unsigned kStatusWaitMs = 1000;

  // `context` is borrowed and outlives the handler.
  CConsoleApi(const CPRegistry& settings, CConsoleContext* context);

  int ProcessRequest(CHTTPNetwork& connection, const CHTTPRequestMessage& request,
                     CHTTPResponseMessage& response) override;

  // The answer to one call: status and JSON body (tests call it directly).
  struct Answer {
    int status = 200;
    std::string body;
  };
  Answer Handle(const CHTTPRequestMessage& request);

 private:
  Answer Status();
  Answer Settings();
  Answer ChangeSetting(std::string_view body);
  Answer Flash(bool change, std::string_view body);
  Answer Corporate(bool change, std::string_view body);
  Answer Redirection(bool change, std::string_view body);
  Answer Action(std::string_view event);
  Answer CacheDump();
  Answer Logs();
  Answer LogLines(std::string_view file, std::string_view query);
  Answer LogAnalysis(std::string_view query);
  Answer Diagnostics(std::string_view body);
  Answer Relays();

  CPRegistry m_Settings;
  CConsoleContext* m_pContext;
};
