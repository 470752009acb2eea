#include "net/conn/conn_mgr.h"

#include <cstdio>

#include "net/conn/client_request_params.h"
#include "net/conn/connection_counters.h"
#include "platform/trace.h"
#include "poolmgr/pool_manager.h"
#include "poolmgr/pool_results.h"

using platform::DWORD;
using platform::kInvalidSocket;
using platform::SOCKET;

namespace {

// The listener's thread needs little; any adequate stack will do.
constexpr std::size_t kListenerStackBytes = 256 * 1024;

DWORD BoundedRecvTimeout(DWORD seconds) {
  if (seconds < CConnMgr::kMinRecvTimeout) return CConnMgr::kMinRecvTimeout;
  if (seconds > CConnMgr::kMaxRecvTimeout) return CConnMgr::kMaxRecvTimeout;
  return seconds;
}

}  // namespace

CConnMgr::CConnMgr(QRPoolManager* pool)
    : m_pPool(pool), m_StopEvent(platform::Event::Create(true, false)) {}

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
  trace(0x40, "ConnMgr: Start listen thread on %d.%d.%d.%d:%d\n", static_cast<int>(a >> 24),
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
  m_StopEvent->Set();
  m_StopCancel.Cancel();
  {
    // Refuses what still queues; the listener closes the socket itself.
    std::lock_guard<std::mutex> lock(m_SocketLock);
    if (m_Socket != kInvalidSocket) platform::Shutdown(m_Socket, platform::SD_BOTH);
  }
  if (platform::WaitForSingleObject(*m_Thread, kStopWaitMs) != platform::kWaitObject0) {
    trace(0x80, "ConnMgr: Timed Out!! Killing Thread\n");
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
    do {
      platform::SocketAddress peer;
      SOCKET accepted = AcceptNext(&peer);
      if (accepted == kInvalidSocket) continue;
      if (m_ListenState.load() == eRemoveFromPool) {
        trace(0x1000, "ConnMgr: Accept returned %s. Nothing processed because %s.\n", "OK",
              "m_ListenState != eRemoveFromPool");
        platform::CloseSocket(accepted);
        continue;
      }
      ServeConnection(accepted, peer);
    } while (m_ListenState.load() != eRemoveFromPool);
  }
  CloseListeningSocket();
  return 0;
}

SOCKET CConnMgr::AcceptNext(platform::SocketAddress* peer) {
  for (;;) {
    if (m_ListenState.load() == eRemoveFromPool) return kInvalidSocket;
    SOCKET listening = kInvalidSocket;
    {
      std::lock_guard<std::mutex> lock(m_SocketLock);
      listening = m_Socket;
    }
    if (listening == kInvalidSocket) {
      // A re-creation after a suspension failed: try again from time to time
      // instead of failing every accept at once until the stop.
      if (WaitForStop(m_SuspendPollMs)) return kInvalidSocket;
      int result = SetupSocket(m_Port.load(), m_AddressText.c_str());
      if (result != 0) trace(0x40, "ConnMgr: SetupSocket() Failed %d\n", result);
      continue;
    }
    SOCKET accepted = platform::Accept(listening, peer);
    if (accepted == kInvalidSocket && platform::WSAGetLastError() == platform::WSAEWOULDBLOCK) {
      // None waiting: sleep until one is, or until the stop. A wait that
      // fails backs off rather than spin.
      if (platform::WaitReadable(listening, platform::kInfinite, &m_StopCancel) != 1 &&
          WaitForStop(kAcceptBackoffMs)) {
        return kInvalidSocket;
      }
      continue;
    }
    if (m_ListenState.load() == eRemoveFromPool) {
      if (accepted != kInvalidSocket) platform::CloseSocket(accepted);
      return kInvalidSocket;
    }
    if (accepted != kInvalidSocket) {
      if (m_DroppedForDescriptors > 0) {
        trace(2, "ConnMgr: descriptors free again on port %d; %u connections were closed unanswered\n",
              static_cast<int>(m_Port.load()), m_DroppedForDescriptors);
      }
      m_DroppedForDescriptors = 0;
      m_FailedAccepts = 0;
      return accepted;
    }
    if (platform::WSAGetLastError() == platform::WSAEMFILE) {
      // Out of descriptors: the waiting connection would keep the socket
      // readable forever. Take it with the spare and close it.
      if (m_DroppedForDescriptors == 0) {
        trace(2, "ConnMgr: out of descriptors on port %d: connections are closed unanswered\n",
              static_cast<int>(m_Port.load()));
      }
      if (m_Spare.DropOneConnection(listening)) {
        ++m_DroppedForDescriptors;
      } else if (WaitForStop(kAcceptBackoffMs)) {
        return kInvalidSocket;
      }
      continue;
    }
    if (m_FailedAccepts++ == 0) {
      trace(0x1000, "ConnMgr: Accept returned %s. Nothing processed because %s.\n", "-1",
            "there is no valid socket");
    }
    if (WaitForStop(kAcceptBackoffMs)) return kInvalidSocket;
  }
}

void CConnMgr::ServeConnection(SOCKET socket, const platform::SocketAddress& peer) {
  if (m_pCounters != nullptr) m_pCounters->ConnectionAccepted();
  char peerText[CClientRequestParams::kPeerAddressSize] = {};
  std::snprintf(peerText, sizeof(peerText), "%s", platform::FormatDottedAddress(peer.address).c_str());
  trace(0x1000, "ConnMgr: Accepted from %s\n", peerText);

  int result = IssueConnection(socket, peerText);
  if (result == poolmgr::kPoolOk) return;
  // Refused: the viewer sees its connection closed without an answer.
  if (m_pCounters != nullptr) m_pCounters->ConnectionRefused();
  platform::Shutdown(socket, platform::SD_SEND);
  platform::CloseSocket(socket);
  if (result == poolmgr::kPoolFull) {
    const long thread = static_cast<long>(platform::GetCurrentThreadId());
    trace(2, "%ld ConnMgr: Pool Depth MAX <<**#%d Suspend**>>\n", thread, static_cast<int>(m_Port.load()));
    Suspend();
    trace(2, "%ld ConnMgr: Pool Depth MAX <<**#%d Resumed**>>\n", thread, static_cast<int>(m_Port.load()));
  } else {
    trace(2, "ConnMgr: ThreadErr %d\n", result);
  }
}

int CConnMgr::IssueConnection(SOCKET socket, const char* peerAddress) {
  if (m_pPool == nullptr) return poolmgr::kPoolNotOpen;
  CClientRequestParams job;
  job.m_Socket = socket;
  job.m_RecvTimeoutSeconds = m_RecvTimeoutSeconds;
  job.m_AgentList = m_pAgentList;
  job.m_TransactionLog = m_pTransactionLog;
  job.m_AgentTable = m_pAgentTable;
  job.SetPeerAddress(peerAddress);
  return m_pPool->IssueThread(&job, 1);
}

void CConnMgr::Suspend() {
  m_SuspendPollMs = kSuspendPollMs;
  m_Suspended.store(true);
  CloseListeningSocket();
  while (!WaitForStop(m_SuspendPollMs)) {
    if (!PoolHasRoom()) continue;
    int result = SetupSocket(m_Port.load(), m_AddressText.c_str());
    if (result != 0) trace(0x40, "ConnMgr: SetupSocket() Failed %d\n", result);
    break;
  }
  m_Suspended.store(false);
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
  platform::CloseSocket(m_Socket);
  m_Socket = kInvalidSocket;
}
