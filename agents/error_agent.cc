#include "agents/error_agent.h"

#include <string>

#include "base/event_catalogue.h"
#include "base/trace_bits.h"
#include "net/http_tables.h"
#include "platform/trace.h"

namespace {

constexpr int kNotFound = 404;

}  // namespace

int CErrorAgent::ProcessRequest(CHTTPNetwork& connection, const CHTTPRequestMessage& request,
                                CHTTPResponseMessage& response) {
  trace(trace_bits::kRequest, "ErrorAgent::ProcessRequest - sending %d to client\n", kNotFound);
  response.SetStatus(kNotFound, net::HTTPStatusReason(kNotFound), "HTTP/1.0");
  if (response.Send(connection) == 0) {
    const int error = connection.LastError();
    trace(trace_bits::kNetwork, "CErrorAgent::ProcessRequest() - Error sending response on network : %d\n", error);
    events::Report<events::kAdminSendFailed>(std::to_string(error));
  }
  return 1;
}
