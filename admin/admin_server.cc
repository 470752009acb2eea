#include "admin/admin_server.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "admin/admin_auth.h"
#include "admin/console_api.h"
#include "admin/file_agent.h"
#include "admin/metrics_agent.h"
#include "agents/error_agent.h"
#include "base/event_catalogue.h"
#include "base/text_scan.h"
#include "base/trace_bits.h"
#include "net/http_message.h"
#include "net/http_network.h"
#include "net/socket_request.h"
#include "platform/trace.h"
#include "txlog/transaction_log.h"
#include "txlog/transaction_log_entry.h"

CAdminServer::CAdminServer(const CPRegistry& settings, platform::DWORD timeoutSeconds, CConsoleContext* console)
    : m_Settings(settings), m_TimeoutSeconds(timeoutSeconds) {
  m_Handlers[kErrorHandler] = std::make_unique<CErrorAgent>();
  m_Handlers[kFileHandler] = std::make_unique<CFileAgent>(m_Settings);
  SetHandler(kMetricsHandler, std::make_unique<CMetricsAgent>(m_Settings));
  AddPath(CMetricsAgent::kPath, kMetricsHandler);
  for (const char* path : {"/", "/Admin", "/Admin/CorpChannel/com", "/Admin/CorpTick/com", "/Admin/CorpRedirect/com",
                           "/Admin/Corp"}) {
    AddPath(path, kFileHandler);
  }
  if (console != nullptr) {
    m_Handlers[kConsoleHandler] = std::make_unique<CConsoleApi>(m_Settings, console);
    AddPath(CConsoleApi::kPath, kConsoleHandler);
  }
  std::vector<std::string> texts;
  m_Settings.GetAdminServerPaths(texts);
  for (const std::string& text : texts) {
    const std::size_t comma = text.find(',');
    if (comma == std::string::npos || text.find(',', comma + 1) != std::string::npos) continue;
    const std::string_view path = net::TrimBlanks(std::string_view(text).substr(0, comma));
    const std::string_view number = net::TrimBlanks(std::string_view(text).substr(comma + 1));
    AddPath(std::string(path), net::ScanLong(number));
  }
  // Without a log the server answers all the same.
  m_pLog = OpenAdminTransactionLog(m_Settings);
}

CAdminServer::~CAdminServer() = default;

void CAdminServer::SetHandler(std::size_t slot, std::unique_ptr<CRequestAgent> handler) {
  if (slot > kFileHandler && slot < kHandlerSlots) m_Handlers[slot] = std::move(handler);
}

void CAdminServer::AddPath(std::string path, int handler) {
  const std::string key = net::LowerCase(path);
  std::erase_if(m_Paths, [&](const auto& entry) { return net::LowerCase(entry.first) == key; });
  const auto at =
      std::find_if(m_Paths.begin(), m_Paths.end(), [&](const auto& entry) { return net::LowerCase(entry.first) > key; });
  m_Paths.insert(at, {std::move(path), handler});
}

int CAdminServer::HandlerFor(std::string_view path) const {
  for (auto entry = m_Paths.rbegin(); entry != m_Paths.rend(); ++entry) {
    const std::string& prefix = entry->first;
    if (path.size() < prefix.size() || !net::StartsWithNoCase(path, prefix)) continue;
    if (path.size() == prefix.size() || path[prefix.size()] == '/') {
      const int handler = entry->second;
      return handler >= 0 && static_cast<std::size_t>(handler) < kHandlerSlots && m_Handlers[handler] ? handler
                                                                                                        : kErrorHandler;
    }
  }
  return kErrorHandler;
}

std::string CAdminServer::LoggedUri(const CHTTPRequestMessage& request) {
  // The log says who made a change: the user of the credentials follows
  // the URI as one more query value.
  std::string uri = request.URI();
  if (request.Method() != net::kHTTPPost) return uri;
  const std::string user = admin_auth::UserName(request);
  if (!user.empty()) uri += (uri.find('?') == std::string::npos ? "?user=" : "&user=") + user;
  return uri;
}

void CAdminServer::ServeConnection(platform::SOCKET socket, const std::string& peer,
                                   std::chrono::steady_clock::time_point deadline, const std::atomic<bool>& stop) {
  CHTTPNetwork network(socket, m_TimeoutSeconds);
  network.SetReadDeadline(deadline);
  CHTTPRequestMessage request;
  if (CHTTPSocketRequest(network).ReadMessage(request, kMaxBody) < 0) {
    const int error = network.LastError();
    trace(trace_bits::kNetwork, "CAdminThread::Run() - Error reading request off network : %d\n", error);
    // A stop shuts the connection down: that is no failure to report.
    if (!stop.load()) events::Report<events::kAdminReadFailed>(std::to_string(error));
    return;
  }
  CHTTPResponseMessage response;
  const auto started = std::chrono::steady_clock::now();
  const int handler = HandlerFor(request.URI());
  m_Handlers[handler]->ProcessRequest(network, request, response);
  const auto finished = std::chrono::steady_clock::now();
  if (m_pLog == nullptr) return;
  CPAdminTransactionLogEntry entry;
  entry.SetClientAddress(peer);
  entry.SetMethod(request.MethodName());
  entry.SetUri(LoggedUri(request));
  entry.SetStatus(response.StatusCode());
  entry.SetBytes(network.BytesWritten());
  entry.SetTimeTaken(std::chrono::duration_cast<std::chrono::milliseconds>(finished - started).count() * 0.001);
  entry.SetAgent(handler);
  m_pLog->AddEntry(entry);
}
