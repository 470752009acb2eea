#include "redirect/redirect_agent.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "base/event_catalogue.h"
#include "base/text_scan.h"
#include "base/trace_bits.h"
#include "net/fetched_item.h"
#include "platform/socket.h"
#include "platform/sync.h"
#include "platform/trace.h"
#include "redirect/redirect_csv.h"
#include "txlog/transaction_log_entry.h"

using platform::DWORD;

namespace {

constexpr DWORD kStopSeconds = 15;
constexpr const char* kTableArgument = "redirect.csv";
constexpr const char* kAnswerSource = "0.dc";

std::uint32_t AddressOfHost(const std::string& host) {
  std::uint32_t address = 0;
  platform::ParseDottedAddress(CRedirectionMap::AddressOf(host), &address);
  return address;
}

void Finish(CPTransactionLogEntry* logEntry, int status) {
  if (logEntry == nullptr) return;
  logEntry->SetStatus(status);
  logEntry->MarkFilled();
}

}  // namespace

CRedirectAgent::CRedirectAgent(const CPRegistry& settings, CRedirectionHouse* house)
    : CWorkerThread("RedirectAgent", "RefreshRedirectionFiles"),
      m_Registry(settings),
      m_RequestCount([this](std::uint32_t count) { m_Registry.SetStatisticsRedirectRequests(count); }),
      m_pHouse(house),
      m_pMap(house != nullptr ? &house->Map() : nullptr) {}

CRedirectAgent::~CRedirectAgent() {
  Stop(kStopSeconds);
  // The body uses the house and the settings: wait for a run Stop gave up on.
  WaitForDetachedThread(platform::kInfinite);
}

int CRedirectAgent::Init() {
  m_Registry.Open(1);
  m_NextUpdate = m_Registry.GetRedirectionNextUpdate();
  m_RefreshFrequency = m_Registry.GetRedirectionRefreshFrequency();
  m_Category = m_Registry.GetRedirectionChannel();
  m_Enabled = true;
  m_NextUpdate = std::min(m_NextUpdate, kMaxNextUpdateSeconds);
  // A period of 0 would have the thread spin.
  m_RefreshFrequency = std::clamp<DWORD>(m_RefreshFrequency, 1, kMaxRefreshSeconds);
  trace(trace_bits::kSend, "Redirect Agent: NextUpdate = %d:%02d hours\n", static_cast<int>(m_NextUpdate / 3600),
        static_cast<int>(m_NextUpdate / 60 % 60));
  trace(trace_bits::kSend, "Redirect Agent: Refresh Frequency = %d:%02d minutes\n",
        static_cast<int>(m_RefreshFrequency / 60), static_cast<int>(m_RefreshFrequency % 60));
  Start(true);
  return 1;
}

DWORD CRedirectAgent::WorkerThreadRun() {
  for (;;) {
    const int code = WaitFor(static_cast<std::int32_t>(m_RefreshFrequency), true);
    if (code == kWakeStop) break;
    if (code == kWakeFailed) {
      platform::Sleep(1000);
      continue;
    }
    if (m_pHouse != nullptr) m_pHouse->RefreshFromFiles();
  }
  return 0;
}

int CRedirectAgent::HTTPProcess(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                                CPTransactionLogEntry* logEntry) {
  if (request->GetMethod() == QRNHTTP::ePOST) {
    ReceivePost(socket, bytesSent, request, logEntry);
  } else if (request->GetMethod() == QRNHTTP::eGET && !request->Arguments().empty() &&
             request->Arguments().front() == kTableArgument) {
    SendTable(socket, bytesSent, request, logEntry);
  } else {
    Redirect(socket, bytesSent, request, logEntry);
  }
  return 1;
}

bool CRedirectAgent::PosterAllowed(std::uint32_t poster, std::string& reason) {
  if (m_pMap == nullptr) {
    reason = "this relay holds no redirection table";
    return false;
  }
  const std::string masterAddress = m_pMap->MasterAddress();
  const bool master = masterAddress.empty() || m_pMap->IsOwnAddress(masterAddress);
  if (!master) {
    std::uint32_t address = 0;
    if (platform::ParseDottedAddress(masterAddress, &address) && address == poster) return true;
    reason = "only the master " + masterAddress + " posts to this relay";
    return false;
  }
  if (m_pMap->IsOwnAddress(poster)) return true;
  CPRegistry settings(m_Registry);
  // A relay that made its own table because its master was away still takes
  // the master's table when it comes.
  const redirect::Designator configured = redirect::ParseDesignator(settings.GetRedirectionMasterZondrel());
  if (!configured.host.empty() && AddressOfHost(configured.host) == poster) return true;
  std::vector<std::string> allowed;
  settings.GetRedirectionAllowedPosters(allowed);
  for (const std::string& entry : allowed) {
    const std::string host(net::TrimBlanks(entry));
    if (host.empty()) continue;
    const std::vector<std::uint32_t> addresses = platform::ResolveHost(host);
    if (std::find(addresses.begin(), addresses.end(), poster) != addresses.end()) return true;
  }
  reason = "neither this relay's own address nor one of Redirection\\AllowedPosters";
  return false;
}

void CRedirectAgent::ReceivePost(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                                 CPTransactionLogEntry* logEntry) {
  platform::SocketAddress peer;
  const bool known = platform::GetPeerAddress(socket, &peer) == 0;
  const std::string poster = known ? platform::FormatDottedAddress(peer.address) : std::string();
  std::string reason = "the poster's address is unknown";
  if (!known || !PosterAllowed(peer.address, reason)) {
    trace(trace_bits::kRedirect, "Redirect Agent: Refused post of redirect.csv from %s: %s.\n", poster.c_str(),
          reason.c_str());
    events::Report<events::kRedirectPostRefused>(poster, reason);
    HTTPSendErrorPacket(socket, bytesSent, request, 403, "Not allowed to post redirect.csv");
    Finish(logEntry, 403);
    return;
  }
  const std::vector<char>& body = request->Body();
  int result = -2;
  if (body.size() <= redirect::kMaxTableBytes && m_pHouse != nullptr) {
    trace(trace_bits::kRedirect, "Redirect Agent: Received post of redirect.csv:\n%.*s\n", static_cast<int>(body.size()),
          body.data());
    result = m_pHouse->WriteNewData(body.data(), static_cast<DWORD>(body.size()), true);
  }
  if (result == 0) {
    HTTPSendErrorPacket(socket, bytesSent, request, 204, "Successful receipt of redirect.dat");
    Finish(logEntry, 204);
    return;
  }
  trace(trace_bits::kRedirect, "Redirect Agent: Failed to update RedirectionHousingProject with new redirect.csv\n");
  HTTPSendErrorPacket(socket, bytesSent, request, 500, "Failed receiving redirect.dat");
  Finish(logEntry, 500);
}

void CRedirectAgent::SendTable(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                               CPTransactionLogEntry* logEntry) {
  trace(trace_bits::kRedirect, "Redirect Agent: Receiving request from slave for redirect.csv.\n");
  const std::string table = m_pHouse != nullptr ? m_pHouse->GetDataString() : std::string();
  if (table.empty()) {
    HTTPSendErrorPacket(socket, bytesSent, request, 204, "No redirect.csv");
    Finish(logEntry, 204);
    return;
  }
  trace(trace_bits::kRedirect, "Redirect Agent: Returning redirect.csv: \n%s\n", table.c_str());
  char head[64];
  const int length = std::snprintf(head, sizeof(head), "HTTP/1.0 200 OK\r\nContent-length: %d\r\n\r\n",
                                   static_cast<int>(table.size()));
  const bool sent = SendResponse(socket, bytesSent, head, static_cast<unsigned long>(length)) == kSendSucceeded &&
                    SendResponse(socket, bytesSent, table.data(), static_cast<unsigned long>(table.size())) ==
                        kSendSucceeded;
  Finish(logEntry, sent ? 200 : 408);
}

void CRedirectAgent::Redirect(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                              CPTransactionLogEntry* logEntry) {
  std::string client;
  platform::SocketAddress peer;
  if (platform::GetPeerAddress(socket, &peer) == 0) {
    client = platform::FormatDottedAddress(peer.address);
  } else {
    trace(trace_bits::kRedirect, "Redirect Agent: Unable to get client address from socket handle.\n");
    events::Report<events::kRedirectNoClientAddress>();
  }
  const std::string answer = m_Enabled && m_pMap != nullptr ? m_pMap->BuildRedirectAnswer(client) : std::string();
  if (answer.empty()) {
    trace(trace_bits::kRedirect, "Redirect Agent: Nowhere to direct client %s\n", client.c_str());
    HTTPSendErrorPacket(socket, bytesSent, request, 204, "No Redirection");
    Finish(logEntry, 204);
    return;
  }
  trace(trace_bits::kRedirect, "Redirect Agent: Redirecting client %s to specified Zondrel(s).\n", client.c_str());
  CFetchedItem item(0, 0, kAnswerSource, std::vector<char>(answer.begin(), answer.end()));
  // A client this relay serves keeps its answer for the configured time;
  // any other asks its own relays again at once.
  const bool here = answer.find("EnableCorpChannel") != std::string::npos;
  item.SetNextUpdateTime(static_cast<std::int64_t>(std::time(nullptr)) +
                         (here ? m_NextUpdate : kNotHereNextUpdateSeconds));
  if (HTTPSendResponse(socket, bytesSent, request, &item, 0) == 1) {
    Finish(logEntry, 200);
  } else {
    trace(trace_bits::kRedirect, "Redirect Agent: Error sending response\n");
    events::Report<events::kRedirectSendFailed>(client);
    HTTPSendErrorPacket(socket, bytesSent, request, 500, "Redirection exception");
    Finish(logEntry, 500);
  }
  m_RequestCount.Increment();
}
