// CAcceptPoint: a listener's socket as its request threads see it. A thread
// that has just finished a connection takes the next one waiting here
// itself instead of parking: under load the connection goes to a thread
// that is already running, and one sleep and one wake-up per request are
// saved. The listener stays in charge: it opens the point only while it
// watches the socket itself, so a paused, suspended or stopping listener is
// never bypassed, and it still accepts, collects, hands over and refuses as
// before. A thread that finds a request not yet whole returns it; the
// listener collects it as it collects its own.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "conn/collected_request.h"
#include "platform/socket.h"

class CConnectionCounters;

class CAcceptPoint {
 public:
  struct Returned {
    platform::SOCKET socket;
    std::shared_ptr<CCollectedRequest> request;
  };

  CAcceptPoint() = default;
  ~CAcceptPoint();  // closes returned connections nobody collected
  CAcceptPoint(const CAcceptPoint&) = delete;
  CAcceptPoint& operator=(const CAcceptPoint&) = delete;

  // --- The listener's side.
  // Threads may take connections from `listening` (non-blocking) until
  // Close, each counted in `counters` (may be null) as the listener counts
  // its own.
  void Open(platform::SOCKET listening, CConnectionCounters* counters);
  // Once this returns no thread uses the socket, which may then be closed.
  void Close();
  // Readable while returned connections wait for the listener.
  int ReturnsDescriptor() const { return m_ReturnsReady.Descriptor(); }
  // Returned connections are taken (true) or closed unanswered (false,
  // while no listener collects them).
  void CollectReturns(bool collect);
  std::vector<Returned> TakeReturned();

  // --- A request thread's side.
  // A connection waiting on the socket (its viewer's dotted address in
  // `peer`), or kInvalidSocket: none waits, or the point is closed.
  platform::SOCKET TakeWaiting(std::string* peer);
  // A taken connection whose request has not fully arrived: the listener
  // collects the rest.
  void Return(platform::SOCKET socket, std::shared_ptr<CCollectedRequest> request);

 private:
  // Readers are the taking threads; Close waits for them.
  std::shared_mutex m_SocketLock;
  platform::SOCKET m_Listening = platform::kInvalidSocket;
  CConnectionCounters* m_pCounters = nullptr;
  // Checked first, without the lock, by every thread that ends a job.
  std::atomic<bool> m_Open{false};

  std::mutex m_ReturnsLock;
  bool m_Collecting = false;
  std::vector<Returned> m_Returned;
  platform::SocketCancel m_ReturnsReady;
};
