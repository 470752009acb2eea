#include "admin/metrics_agent.h"

#include "admin/admin_auth.h"
#include "base/trace_bits.h"
#include "net/http_tables.h"
#include "perf/perf_block.h"
#include "perf/perf_text.h"
#include "platform/trace.h"

CMetricsAgent::CMetricsAgent(const CPRegistry& settings) : m_Settings(settings) {}

int CMetricsAgent::ProcessRequest(CHTTPNetwork& connection, const CHTTPRequestMessage& request,
                                  CHTTPResponseMessage& response) {
  const int method = request.Method();
  if (method != net::kHTTPGet && method != net::kHTTPHead) {
    trace(trace_bits::kRequest, "CMetricsAgent::ProcessRequest - Method %s not supported\n",
          request.MethodName().c_str());
    response.SetStatus(405, net::HTTPStatusReason(405), "HTTP/1.0");
    response.AddHeader("Server", net::HTTPUserAgent());
    response.AddHeader("Allow", "GET, HEAD");
    return response.Send(connection);
  }
  if (!admin_auth::IsAuthorised(m_Settings, request)) return admin_auth::SendAuthRequest(connection, response);
  perf::Counters words{};
  const bool counters = perf::ReadBlock(words);
  response.SetStatus(200, net::HTTPStatusReason(200), "HTTP/1.0");
  response.AddHeader("Server", net::HTTPUserAgent());
  response.AddHeader("Content-Type", kContentType);
  response.AddHeader("Cache-Control", "no-cache");
  response.Body() = perf::FormatPrometheus(counters ? &words : nullptr, perf::ReadStatistics());
  if (method == net::kHTTPHead) response.SetNoBody(true);
  return response.Send(connection);
}
