#include "agents/error_agent.h"

#include <string>

#include "base/trace_bits.h"
#include "net/http_tables.h"
#include "platform/event_log.h"
#include "platform/trace.h"

namespace {

// "Error sending response to client : Winsock Error %1".
constexpr platform::WORD kAdminCategory = 26;
constexpr platform::DWORD kEventAdminSendFailed = 0xC0000074;
constexpr platform::DWORD kAdminViewBit = 0x80;

constexpr int kNotFound = 404;

}  // namespace

int CErrorAgent::ProcessRequest(CHTTPNetwork& connection, const CHTTPRequestMessage& request,
                                CHTTPResponseMessage& response) {
  trace(trace_bits::kRequest, "ErrorAgent::ProcessRequest - sending %d to client\n", kNotFound);
  response.SetStatus(kNotFound, net::HTTPStatusReason(kNotFound), "HTTP/1.0");
  if (response.Send(connection) == 0) {
    const int error = connection.LastError();
    trace(trace_bits::kNetwork, "CErrorAgent::ProcessRequest() - Error sending response on network : %d\n", error);
    platform::ReportEvent(platform::EVENTLOG_ERROR_TYPE, kAdminCategory, kEventAdminSendFailed, kAdminViewBit,
                          {std::to_string(error)});
  }
  return 1;
}
