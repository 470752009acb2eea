#include "agents/pass_through_agent.h"

#include <algorithm>
#include <string>

#include "base/event_catalogue.h"
#include "base/trace_bits.h"
#include "net/http_tables.h"
#include "platform/trace.h"
#include "txlog/transaction_log_entry.h"
#include "upstream/http_stream.h"

namespace {

// The header with "Via: <product>" as its last line, when it has line ends
// to put it behind.
std::string WithViaLine(const std::string& header) {
  const std::size_t lastReturn = header.rfind('\r');
  if (lastReturn == std::string::npos) return header;
  return header.substr(0, lastReturn) + "Via: " + net::HTTPUserAgent() + "\r\n\r\n";
}

// A proxy that refused the relay's credentials is the relay's failure, not
// the viewer's: its status line reads 500, everything else stays.
bool ReplaceStatusWith500(std::string& header) {
  const std::size_t blank = header.find(' ');
  const std::size_t lineEnd = header.find_first_of("\r\n");
  if (blank == std::string::npos || blank + 3 >= std::min(lineEnd, header.size())) return false;
  header.replace(blank + 1, 3, "500");
  return true;
}

}  // namespace

CPassThroughAgent::CPassThroughAgent(const CPRegistry& registry)
    : m_Registry(registry),
      m_RequestCount([this](std::uint32_t count) { m_Registry.SetStatisticsPassThruRequests(count); }) {}

int CPassThroughAgent::Init() {
  m_Registry.Open(1);
  return 1;
}

int CPassThroughAgent::HTTPProcess(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                                   CPTransactionLogEntry* logEntry) {
  const int category = static_cast<int>(request->GetCategory());
  trace(trace_bits::kSend, "CPassThroughAgent.HTTPProcess(): Processing category ID %d, for URI %s\n", category,
        request->RequestURI().c_str());
  const std::uint32_t method = request->GetMethod();
  if (method != QRNHTTP::eGET && method != QRNHTTP::eHEAD && method != QRNHTTP::ePOST) {
    trace(trace_bits::kSend, "CPassThroughAgent: Invalid Method in HTTP response (%u)\n", method);
    return 0;
  }

  CPHTTPStream stream(m_Registry);
  // The request line alone, then the empty line that ends the head.
  std::string upstreamRequest(request->RequestLine());
  upstreamRequest.append("\r\n");
  const std::vector<char>& body = request->Body();
  std::string header;
  CUpstreamResult answered;
  int status = stream.OpenAndGetHeader(upstreamRequest, body.empty() ? nullptr : body.data(), body.size(), header,
                                       &answered);
  bool sent = true;
  if (answered.host.empty()) {
    // No server could be reached; the error packet counts as the answer.
    HTTPSendErrorPacket(socket, bytesSent, request, 500, nullptr);
    status = 500;
  } else {
    logEntry->SetUpstreamHost(answered.host);
    logEntry->SetUpstreamStatus(status);
    logEntry->MarkFilled();
    header = WithViaLine(header);
    if (header.empty()) {
      // Upstream sent the viewer back to this relay: no answer to pass on.
      HTTPSendErrorPacket(socket, bytesSent, request, 500, nullptr);
      status = 500;
    } else if (status == 407) {
      status = 500;
      if (!ReplaceStatusWith500(header)) {
        HTTPSendErrorPacket(socket, bytesSent, request, 500, nullptr);
      } else {
        sent = SendResponse(socket, bytesSent, header.data(), static_cast<unsigned long>(header.size())) ==
               kSendSucceeded;
      }
    } else {
      trace(trace_bits::kSend, "CPassThroughAgent::HTTPProcess - CONNECTED TO HOST %s:%d\n", answered.host.c_str(),
            static_cast<int>(answered.port));
      sent = RelayAnswer(socket, bytesSent, request, stream, header);
    }
  }
  stream.Close();
  m_RequestCount.Increment();

  if (!sent) {
    status = 408;
    trace(trace_bits::kSend, "CPassThroughAgent.HTTPProcess(): Error sending response for category ID %d\n", category);
    ReportSendFailure("Sending pass-thru response");
  } else {
    trace(trace_bits::kSend, "CPassThroughAgent.HTTPProcess(): Sent response for category ID %d\n", category);
  }
  logEntry->SetStatus(status);
  logEntry->MarkFilled();
  return sent ? 1 : 0;
}

bool CPassThroughAgent::RelayAnswer(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                                    CPHTTPStream& stream, const std::string& header) {
  if (SendResponse(socket, bytesSent, header.data(), static_cast<unsigned long>(header.size())) != kSendSucceeded) {
    return false;
  }
  if (request->GetMethod() == QRNHTTP::eHEAD) return true;
  // Only the announced body, read a block at a time into a block-sized buffer.
  const int announced = stream.GetContentLength(header);
  char block[kRelayBlock];
  for (long long left = announced; left > 0;) {
    const int got = stream.Read(block, static_cast<std::size_t>(std::min<long long>(left, sizeof(block))));
    if (got <= 0) break;
    if (SendResponse(socket, bytesSent, block, static_cast<unsigned long>(got)) != kSendSucceeded) return false;
    left -= got;
  }
  return true;
}

