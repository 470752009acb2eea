// CMetricsAgent: the administration web server's /metrics handler. It
// answers GET (and HEAD) with the performance counters and the Statistics
// values in the Prometheus text format, behind the same Basic
// authentication as the file agent.
#pragma once

#include "agents/request_agent.h"
#include "config/cp_registry.h"

class CMetricsAgent : public CRequestAgent {
 public:
  static constexpr const char* kPath = "/metrics";
  static constexpr const char* kContentType = "text/plain; version=0.0.4; charset=utf-8";

  explicit CMetricsAgent(const CPRegistry& settings);
  int ProcessRequest(CHTTPNetwork& connection, const CHTTPRequestMessage& request,
                     CHTTPResponseMessage& response) override;

 private:
  CPRegistry m_Settings;
};
