#include "cache/proxy_agent.h"

#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "base/event_catalogue.h"
#include "base/trace_bits.h"
#include "net/qrn_http.h"
#include "platform/trace.h"
#include "txlog/transaction_log_entry.h"

namespace {

// Next-update line modes of the prefix: on, and left out (HEAD).
constexpr int kWithNextUpdate = 1;
constexpr int kWithoutNextUpdate = 2;

// Pieces of one answer held on the stack; longer answers use the heap.
constexpr std::size_t kInlinePieces = 16;

}  // namespace

CProxyAgent::CProxyAgent(const CPRegistry& settings) : m_Registry(settings), m_Cache(m_Registry) {
  m_InitResult = m_Cache.Init();
  if (m_InitResult != 0) {
    events::Report<events::kProxyAgentStarted>();
  } else {
    events::Report<events::kProxyAgentStartFailed>();
  }
}

CProxyAgent::~CProxyAgent() { m_Cache.Destroy(); }

int CProxyAgent::HTTPProcess(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                             CPTransactionLogEntry* logEntry) {
  if (request == nullptr) return 0;
  trace(trace_bits::kProxy, "CProxyAgent.DealWithProxyContent(): Processing category ID %d\n", request->GetCategory());
  try {
    CCacheResponse items;
    CUpstreamResult result;
    CCacheHits hits;
    const bool processed = m_Cache.ProcessRequest(*request, items, result, hits);
    // Upstream details only when upstream was asked; the rest of the line
    // is filled either way, so a cache hit logs a whole line too.
    if (logEntry != nullptr && !result.host.empty()) {
      logEntry->SetUpstreamHost(result.host);
      logEntry->SetUpstreamStatus(result.status);
    }
    int sent = 0;
    int status = 500;
    if (processed) {
      sent = HTTPSendResponse(socket, bytesSent, request, &items, 0);
      status = sent == 0 ? 408 : items.Empty() ? 204 : 200;
    } else {
      HTTPSendErrorPacket(socket, bytesSent, request, 500, result.reason.c_str());
    }
    if (logEntry != nullptr) logEntry->SetStatus(status);
    // Counted once the viewer has its answer, off the answer's time.
    m_Cache.RecordStatistics(hits);
    return sent;
  } catch (const std::exception&) {
    events::Report<events::kProxyAgentException>(request->RequestURI());
    if (logEntry != nullptr) logEntry->SetStatus(500);
    return 0;
  }
}

int CProxyAgent::HTTPSendResponse(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                                  const CCacheResponse* items, int flag) {
  if (request == nullptr || items == nullptr) return 0;
  trace(trace_bits::kProxy, "CProxyAgent::HTTPSendResponse - going to send %d items\n",
        static_cast<int>(items->Count()));
  const bool head = request->GetMethod() == QRNHTTP::eHEAD;
  unsigned long contentLength = static_cast<unsigned long>(items->DataLength());
  const HTTPText prefix =
      request->MakeResponsePrefix(contentLength, static_cast<long>(items->NextUpdateTime()), 0,
                                  head ? kWithoutNextUpdate : kWithNextUpdate);
  if (prefix == nullptr) return 0;
  const std::size_t prefixLength = std::strlen(prefix.get());

  // The prefix and the items' memory go out as they are, in as few system
  // calls as the socket allows.
  platform::SendSlice inlinePieces[kInlinePieces];
  std::vector<platform::SendSlice> heapPieces;
  const std::size_t pieceCount = 1 + (head ? 0 : items->Count());
  platform::SendSlice* pieces = inlinePieces;
  if (pieceCount > kInlinePieces) {
    heapPieces.resize(pieceCount);
    pieces = heapPieces.data();
  }
  std::size_t count = 0;
  pieces[count++] = platform::SendSlice{prefix.get(), prefixLength};
  if (!head) {
    items->ForEachItem([&](const CCacheFile& item) {
      pieces[count++] = platform::SendSlice{item.Data(), item.DataLength()};
      return true;
    });
  }

  std::size_t sent = 0;
  if (SendPieces(socket, bytesSent, std::span<const platform::SendSlice>(pieces, count), sent) != kSendSucceeded) {
    ReportSendFailure(sent < prefixLength ? "Sending (from cache) lpPrefix" : "Sending (from cache) via TransmitFile");
    return 0;
  }
  return 1;
}
