#include "conn/accept_point.h"

#include "base/trace_bits.h"
#include "conn/connection_counters.h"
#include "conn/request_collector.h"
#include "platform/trace.h"

using platform::kInvalidSocket;
using platform::SOCKET;

CAcceptPoint::~CAcceptPoint() { CollectReturns(false); }

void CAcceptPoint::Open(SOCKET listening, CConnectionCounters* counters) {
  std::unique_lock<std::shared_mutex> lock(m_SocketLock);
  m_Listening = listening;
  m_pCounters = counters;
  m_Open.store(listening != kInvalidSocket);
}

void CAcceptPoint::Close() {
  m_Open.store(false);
  std::unique_lock<std::shared_mutex> lock(m_SocketLock);
  m_Listening = kInvalidSocket;
}

void CAcceptPoint::CollectReturns(bool collect) {
  std::vector<Returned> unwanted;
  {
    std::lock_guard<std::mutex> lock(m_ReturnsLock);
    m_Collecting = collect;
    if (!collect) unwanted.swap(m_Returned);
  }
  for (Returned& returned : unwanted) {
    CRequestCollector::CloseUnanswered(returned.socket, returned.request->peer, "the listener stops");
  }
}

std::vector<CAcceptPoint::Returned> CAcceptPoint::TakeReturned() {
  std::lock_guard<std::mutex> lock(m_ReturnsLock);
  m_ReturnsReady.Reset();
  std::vector<Returned> taken;
  taken.swap(m_Returned);
  return taken;
}

SOCKET CAcceptPoint::TakeWaiting(std::string* peer) {
  if (!m_Open.load(std::memory_order_relaxed)) return kInvalidSocket;
  std::shared_lock<std::shared_mutex> lock(m_SocketLock);
  if (m_Listening == kInvalidSocket) return kInvalidSocket;
  platform::SocketAddress address;
  // Failures are the listener's to handle: it sees them on its next accept.
  const SOCKET accepted = platform::Accept(m_Listening, &address);
  if (accepted == kInvalidSocket) return kInvalidSocket;
  if (m_pCounters != nullptr) m_pCounters->ConnectionAccepted();
  *peer = platform::FormatDottedAddress(address.address);
  trace(trace_bits::kAccept, "ConnMgr: Accepted from %s\n", peer->c_str());
  return accepted;
}

void CAcceptPoint::Return(SOCKET socket, std::shared_ptr<CCollectedRequest> request) {
  {
    std::lock_guard<std::mutex> lock(m_ReturnsLock);
    if (m_Collecting) {
      m_Returned.push_back({socket, std::move(request)});
      m_ReturnsReady.Cancel();
      return;
    }
  }
  CRequestCollector::CloseUnanswered(socket, request->peer, "the listener stops");
}
