#include "agents/null_agent.h"

#include <ctime>
#include <limits>
#include <memory>

#include "base/trace_bits.h"
#include "net/fetched_item.h"
#include "platform/trace.h"
#include "txlog/transaction_log_entry.h"
#include "upstream/http_file.h"

CNullAgent::CNullAgent(const CPRegistry& registry) : m_Registry(registry) {}

int CNullAgent::Init() {
  m_Registry.Open(1);
  return 1;
}

int CNullAgent::HTTPProcess(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                            CPTransactionLogEntry* logEntry) {
  trace(trace_bits::kSend, "CNullAgent.HTTPProcess(): dumping category ID %d, for URI %s\n",
        static_cast<int>(request->GetCategory()), request->RequestURI().c_str());
  UpdateStatistics();

  const std::string name = m_Registry.GetBlockingMessageURL();
  HTTPFile document(m_Registry);
  const bool opened = !name.empty() && document.Open(name) == 1;
  const long long length = opened ? document.GetLength() : -1;
  // A document that cannot be announced in one data-stream item is as good as none.
  if (length < 0 || length > std::numeric_limits<std::uint32_t>::max()) {
    HTTPSendErrorPacket(socket, bytesSent, request, 204, nullptr);
    logEntry->SetStatus(204);
    logEntry->MarkFilled();
    return 1;
  }

  const std::string path = document.GetFilePath();
  CFetchedItem item(0, 0, 0, path, document.Detach(), static_cast<std::uint32_t>(length));
  item.SetNextUpdateTime(static_cast<std::int64_t>(std::time(nullptr)) + m_Registry.GetBlockingNextUpdate());
  const int sent = HTTPSendResponse(socket, bytesSent, request, &item, 0);
  logEntry->SetStatus(sent == 1 ? 200 : 408);
  logEntry->MarkFilled();
  return 1;
}

void CNullAgent::UpdateStatistics() {
  std::lock_guard<std::mutex> hold(m_StatisticsLock);
  m_Registry.SetStatisticsNullAgentRequests(m_Registry.GetStatisticsNullAgentRequests() + 1);
}
