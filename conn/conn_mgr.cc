#include "conn/conn_mgr.h"

#include <algorithm>
#include <iterator>
#include <string>

#include "base/trace_bits.h"
#include "conn/accept_point.h"
#include "conn/client_request_params.h"
#include "conn/connection_counters.h"
#include "conn/request_collector.h"
#include "conn/secret_agent.h"
#include "platform/trace.h"
#include "poolmgr/pool_manager.h"
#include "poolmgr/pool_results.h"

using platform::DWORD;
using platform::kInvalidSocket;
using platform::SOCKET;

namespace {

// The listener's thread needs little; any adequate stack will do.
constexpr std::size_t kListenerStackBytes = 256 * 1024;

// Poller tokens of the listener's own descriptors.
constexpr std::uint64_t kListenToken = 1;
constexpr std::uint64_t kStopToken = 2;
constexpr std::uint64_t kReturnsToken = 3;

using Clock = std::chrono::steady_clock;

DWORD BoundedRecvTimeout(DWORD seconds) {
  if (seconds < CConnMgr::kMinRecvTimeout) return CConnMgr::kMinRecvTimeout;
  if (seconds > CConnMgr::kMaxRecvTimeout) return CConnMgr::kMaxRecvTimeout;
  return seconds;
}

}  // namespace

CConnMgr::CConnMgr(QRPoolManager* pool)
    : m_pPool(pool),
      m_AcceptPoint(std::make_shared<CAcceptPoint>()),
      m_StopEvent(platform::Event::Create(true, false)) {}

CConnMgr::~CConnMgr() {
  Shutdown();
  // A listener that outlived the stop wait still uses this object: it cannot
  // be ended from outside, so its end is awaited.
  if (m_Thread) platform::WaitForSingleObject(*m_Thread, platform::kInfinite);
  CloseListeningSocket();
}

int CConnMgr::Start(unsigned short port, DWORD recvTimeoutSeconds, CAgentList* agentList, CAgentTable* agentTable,
                    CPTransactionLog* transactionLog, CConnectionCounters* counters, const char* address) {
  if (m_ListenState.load() != eStopped) return kAlreadyStarted;
  m_AddressText = address != nullptr ? address : "";
  int result = SetupSocket(port, m_AddressText.c_str());
  if (result != 0) return result;
  const std::uint32_t a = m_BoundAddress.address;
  trace(trace_bits::kHttp, "ConnMgr: Start listen thread on %d.%d.%d.%d:%d\n", static_cast<int>(a >> 24),
        static_cast<int>((a >> 16) & 0xFF), static_cast<int>((a >> 8) & 0xFF), static_cast<int>(a & 0xFF),
        static_cast<int>(m_Port.load()));
  // In place before the first connection can be accepted.
  m_RecvTimeoutSeconds = BoundedRecvTimeout(recvTimeoutSeconds);
  m_pAgentList = agentList;
  m_pTransactionLog = transactionLog;
  m_pAgentTable = agentTable;
  if (counters != nullptr) m_pCounters = counters;
  result = StartThread();
  if (result != 0) CloseListeningSocket();
  return result;
}

int CConnMgr::Shutdown() {
  int result = StopThread();
  // A listener that did not end may still hand these to a job.
  if (result != 0) return result;
  m_pAgentList = nullptr;
  m_pTransactionLog = nullptr;
  m_pAgentTable = nullptr;
  return result;
}

int CConnMgr::SetupSocket(unsigned short port, const char* address) {
  SOCKET s = platform::TcpSocket();
  if (s == kInvalidSocket) return kSocketFailed;
  platform::SocketAddress bound{0, port};
  std::uint32_t parsed = 0;
  if (address != nullptr && platform::ParseDottedAddress(address, &parsed)) bound.address = parsed;
  platform::SetReuseAddress(s, true);
  platform::SetDontLinger(s, true);
  // Accepted connections take these from the listening socket, which spares
  // the listener two system calls per connection.
  platform::SetSendBuffer(s, kSendBufferBytes);
  // Accept is tried before waiting: while connections queue up the listener
  // takes them one after another without a wait for each.
  platform::SetNonBlocking(s, true);
  // A viewer sends its request as soon as it has connected; taking the
  // connection only then spares the request thread a wait for the first
  // bytes (one thread switch per request). A silent viewer is still handed
  // over, about a second late, and dropped after the receive timeout.
  platform::SetDeferAccept(s, kDeferAcceptSeconds);
  if (platform::Bind(s, bound) != 0) {
    platform::CloseSocket(s);
    return kBindFailed;
  }
  if (platform::Listen(s, kListenBacklog) != 0) {
    platform::CloseSocket(s);
    return kListenFailed;
  }
  // A port chosen by the system is kept, so that a re-creation after a
  // suspension listens where the viewers were told to connect.
  platform::SocketAddress local;
  if (bound.port == 0 && platform::GetLocalAddress(s, &local) == 0) bound.port = local.port;
  std::lock_guard<std::mutex> lock(m_SocketLock);
  m_Socket = s;
  m_BoundAddress = bound;
  m_Port.store(bound.port);
  return 0;
}

int CConnMgr::StartThread() {
  int expected = eStopped;
  if (m_Thread || !m_ListenState.compare_exchange_strong(expected, eStarting)) {
    return expected == eListening ? kAlreadyStarted : kThreadNotStarted;
  }
  m_StopEvent->Reset();
  m_StopCancel.Reset();
  m_Thread = platform::Thread::Start([this] { return ListenerThread(); }, kListenerStackBytes);
  if (!m_Thread) {
    m_ListenState.store(eStopped);
    return kThreadNotStarted;
  }
  m_ThreadId = m_Thread->Id();
  return 0;
}

int CConnMgr::StopThread() {
  int state = m_ListenState.load();
  if (!m_Thread || (state != eListening && state != eStarting && state != eRemoveFromPool)) return kNotListening;
  m_ListenState.store(eRemoveFromPool);
  m_AcceptPoint->Close();
  m_StopEvent->Set();
  m_StopCancel.Cancel();
  {
    // Refuses what still queues; the listener closes the socket itself.
    std::lock_guard<std::mutex> lock(m_SocketLock);
    if (m_Socket != kInvalidSocket) platform::Shutdown(m_Socket, platform::SD_BOTH);
  }
  if (platform::WaitForSingleObject(*m_Thread, kStopWaitMs) != platform::kWaitObject0) {
    trace(trace_bits::kThreads, "ConnMgr: Timed Out!! Killing Thread\n");
    return kNotListening;
  }
  m_Thread.reset();
  m_ThreadId = 0;
  m_ListenState.store(eStopped);
  return 0;
}

DWORD CConnMgr::ListenerThread() {
  int expected = eStarting;
  if (m_ListenState.compare_exchange_strong(expected, eListening)) {
    platform::SocketPoller poller;
    CRequestCollector collector(poller, m_RecvTimeoutSeconds, CSecretAgent::kRequestDeadlineTimeouts,
                                [this](SOCKET socket, std::shared_ptr<CCollectedRequest> request) {
                                  HandOver(socket, std::move(request));
                                });
    if (poller.Valid() && poller.Add(m_StopCancel.Descriptor(), kStopToken) == 0 &&
        poller.Add(m_AcceptPoint->ReturnsDescriptor(), kReturnsToken) == 0) {
      m_AcceptPoint->CollectReturns(true);
      ListenLoop(poller, collector);
      m_AcceptPoint->CollectReturns(false);
    } else {
      trace(trace_bits::kHttp, "ConnMgr: no readiness notification on port %d: nothing is accepted\n",
            static_cast<int>(m_Port.load()));
      while (!WaitForStop(kSuspendPollMs)) {
      }
    }
    // Requests still arriving are not answered.
    collector.CloseAll();
    m_pPoller = nullptr;
    m_Watching = false;
  }
  CloseListeningSocket();
  return 0;
}

void CConnMgr::ListenLoop(platform::SocketPoller& poller, CRequestCollector& collector) {
  m_pPoller = &poller;
  m_Paused = false;
  WatchListeningSocket(true);
  platform::SocketPoller::Ready ready[64];
  while (m_ListenState.load() != eRemoveFromPool) {
    DWORD waitMs = collector.Sweep();
    if (m_Paused) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(m_RetryAt - Clock::now()).count();
      waitMs = std::min<DWORD>(waitMs, static_cast<DWORD>(std::max<long long>(left, 0)));
    }
    const int count = poller.Wait(ready, std::size(ready), waitMs);
    for (int i = 0; i < count && m_ListenState.load() != eRemoveFromPool; ++i) {
      if (ready[i].token == kListenToken) {
        AcceptWaiting(collector);
      } else if (ready[i].token == kReturnsToken) {
        for (CAcceptPoint::Returned& returned : m_AcceptPoint->TakeReturned()) {
          collector.Adopt(returned.socket, std::move(returned.request));
        }
      } else if (ready[i].token != kStopToken) {
        collector.OnReady(ready[i].token);
      }
    }
    if (count < 0 && platform::WSAGetLastError() != platform::WSAEINTR) WaitForStop(kAcceptBackoffMs);
    if (m_Paused && Clock::now() >= m_RetryAt) TryListenAgain();
    // At the bound of collected connections new ones wait in the system's
    // queue until some are done.
    if (!m_Paused) WatchListeningSocket(!collector.Full());
  }
}

void CConnMgr::AcceptWaiting(CRequestCollector& collector) {
  for (int round = 0; round < kAcceptsPerRound && !m_Paused && !collector.Full(); ++round) {
    SOCKET listening = kInvalidSocket;
    {
      std::lock_guard<std::mutex> lock(m_SocketLock);
      listening = m_Socket;
    }
    if (listening == kInvalidSocket || m_ListenState.load() == eRemoveFromPool) return;
    platform::SocketAddress peer;
    SOCKET accepted = platform::Accept(listening, &peer);
    if (accepted == kInvalidSocket) {
      const int error = platform::WSAGetLastError();
      if (error == platform::WSAEWOULDBLOCK) return;
      if (error == platform::WSAEMFILE) {
        // Out of descriptors: the waiting connection would keep the socket
        // readable forever. Take it with the spare and close it.
        if (m_DroppedForDescriptors == 0) {
          trace(trace_bits::kConnPool, "ConnMgr: out of descriptors on port %d: connections are closed unanswered\n",
                static_cast<int>(m_Port.load()));
        }
        if (m_Spare.DropOneConnection(listening)) {
          ++m_DroppedForDescriptors;
          continue;
        }
      } else if (m_FailedAccepts++ == 0) {
        trace(trace_bits::kAccept, "ConnMgr: Accept returned %s. Nothing processed because %s.\n", "-1",
              "there is no valid socket");
      }
      // A lasting failure must not make the listener spin.
      StopListening(kAcceptBackoffMs);
      return;
    }
    if (m_DroppedForDescriptors > 0) {
      trace(trace_bits::kConnPool,
            "ConnMgr: descriptors free again on port %d; %u connections were closed unanswered\n",
            static_cast<int>(m_Port.load()), m_DroppedForDescriptors);
    }
    m_DroppedForDescriptors = 0;
    m_FailedAccepts = 0;
    if (m_ListenState.load() == eRemoveFromPool) {
      trace(trace_bits::kAccept, "ConnMgr: Accept returned %s. Nothing processed because %s.\n", "OK",
            "m_ListenState != eRemoveFromPool");
      platform::CloseSocket(accepted);
      return;
    }
    if (m_pCounters != nullptr) m_pCounters->ConnectionAccepted();
    // The one copy of the peer's address: its request carries it to the log.
    std::string peerText = platform::FormatDottedAddress(peer.address);
    trace(trace_bits::kAccept, "ConnMgr: Accepted from %s\n", peerText.c_str());
    if (CollectsRequests()) {
      collector.Add(accepted, std::move(peerText));
      continue;
    }
    auto request = std::make_shared<CCollectedRequest>();
    request->peer = std::move(peerText);
    request->deadline = std::chrono::steady_clock::now() +
                        std::chrono::seconds(m_RecvTimeoutSeconds) * CSecretAgent::kRequestDeadlineTimeouts;
    HandOver(accepted, std::move(request));
  }
}

void CConnMgr::HandOver(SOCKET socket, std::shared_ptr<CCollectedRequest> request) {
  const int result = IssueConnection(socket, std::move(request));
  if (result == poolmgr::kPoolOk) return;
  // Refused: the viewer sees its connection closed without an answer.
  if (m_pCounters != nullptr) m_pCounters->ConnectionRefused();
  platform::Shutdown(socket, platform::SD_SEND);
  platform::CloseSocket(socket);
  if (result != poolmgr::kPoolFull) {
    trace(trace_bits::kConnPool, "ConnMgr: ThreadErr %d\n", result);
  } else if (!m_Suspended.load()) {
    trace(trace_bits::kConnPool, "%ld ConnMgr: Pool Depth MAX <<**#%d Suspend**>>\n",
          static_cast<long>(platform::GetCurrentThreadId()), static_cast<int>(m_Port.load()));
    m_Suspended.store(true);
    StopListening(kSuspendPollMs);
    CloseListeningSocket();
  }
}

void CConnMgr::StopListening(DWORD retryMs) {
  WatchListeningSocket(false);
  m_Paused = true;
  m_RetryAt = Clock::now() + std::chrono::milliseconds(retryMs);
}

void CConnMgr::WatchListeningSocket(bool watch) {
  if (m_pPoller == nullptr || watch == m_Watching) return;
  std::lock_guard<std::mutex> lock(m_SocketLock);
  if (m_Socket == kInvalidSocket) {
    m_Watching = false;
    return;
  }
  m_Watching = (watch ? m_pPoller->Add(m_Socket, kListenToken) : m_pPoller->Remove(m_Socket)) == 0 ? watch : !watch;
  // Request threads take connections only while the listener would.
  if (m_Watching && CollectsRequests() && m_ListenState.load() != eRemoveFromPool) {
    m_AcceptPoint->Open(m_Socket, m_pCounters);
  } else {
    m_AcceptPoint->Close();
  }
}

void CConnMgr::TryListenAgain() {
  bool hasSocket = false;
  {
    std::lock_guard<std::mutex> lock(m_SocketLock);
    hasSocket = m_Socket != kInvalidSocket;
  }
  if (!hasSocket) {
    // Suspended for a full pool, or a re-creation failed: listen again once
    // fewer than 90% of the pool's threads work.
    if (!PoolHasRoom()) {
      StopListening(kSuspendPollMs);
      return;
    }
    const int result = SetupSocket(m_Port.load(), m_AddressText.c_str());
    if (result != 0) {
      trace(trace_bits::kHttp, "ConnMgr: SetupSocket() Failed %d\n", result);
      StopListening(kSuspendPollMs);
      return;
    }
  }
  if (m_Suspended.exchange(false)) {
    trace(trace_bits::kConnPool, "%ld ConnMgr: Pool Depth MAX <<**#%d Resumed**>>\n",
          static_cast<long>(platform::GetCurrentThreadId()), static_cast<int>(m_Port.load()));
  }
  m_Paused = false;
  WatchListeningSocket(true);
}

int CConnMgr::IssueConnection(SOCKET socket, std::shared_ptr<CCollectedRequest> request) {
  if (m_pPool == nullptr) return poolmgr::kPoolNotOpen;
  CClientRequestParams job;
  job.m_Socket = socket;
  job.m_RecvTimeoutSeconds = m_RecvTimeoutSeconds;
  job.m_AgentList = m_pAgentList;
  job.m_TransactionLog = m_pTransactionLog;
  job.m_AgentTable = m_pAgentTable;
  job.m_Collected = std::move(request);
  job.m_AcceptPoint = m_AcceptPoint;
  return m_pPool->IssueThread(&job, 1);
}

bool CConnMgr::PoolHasRoom() {
  int slots = 0, idle = 0, reserved = 0, working = 0, ended = 0, expired = 0;
  float averageJobs = 0;
  // A pool that cannot say (closed meanwhile) refuses the next job itself.
  if (m_pPool == nullptr ||
      m_pPool->GatherSummaryStats(slots, idle, reserved, working, ended, expired, averageJobs) != 0 ||
      slots <= 0) {
    return true;
  }
  return static_cast<double>(working) / slots < kResumeWorkingRatio;
}

bool CConnMgr::WaitForStop(DWORD milliseconds) {
  if (m_ListenState.load() == eRemoveFromPool) return true;
  platform::WaitForSingleObject(*m_StopEvent, milliseconds);
  return m_ListenState.load() == eRemoveFromPool;
}

void CConnMgr::CloseListeningSocket() {
  std::lock_guard<std::mutex> lock(m_SocketLock);
  if (m_Socket == kInvalidSocket) return;
  m_AcceptPoint->Close();
  platform::CloseSocket(m_Socket);
  m_Socket = kInvalidSocket;
}
