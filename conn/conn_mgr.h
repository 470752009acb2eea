// CConnMgr: one listening TCP socket and the listener thread that accepts
// viewer connections on it, collects each viewer's request as its bytes
// arrive (CRequestCollector) and hands the connection, with its complete
// request, as a job to the client request pool. While the pool has no free
// thread the manager stops listening (the system refuses new connections)
// and polls the pool every 2.5 s until fewer than 90% of its slots work;
// the requests being collected meanwhile go on arriving.
//
// The listener thread alone collects, suspends and re-creates the socket;
// Shutdown, from another thread, only asks it to stop and waits. While the
// listener watches its socket, a request thread that has finished a
// connection may take the next waiting one itself (CAcceptPoint).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "conn/collected_request.h"
#include "platform/socket.h"
#include "platform/socket_poller.h"
#include "platform/sync.h"
#include "platform/types.h"

class CAcceptPoint;
class CAgentList;
struct CAgentTable;
class CConnectionCounters;
class CPTransactionLog;
class CRequestCollector;
class QRPoolManager;

class CConnMgr {
 public:
  // m_ListenState values.
  enum eListenState : int { eStopped = 0, eStarting = 2, eListening = 4, eRemoveFromPool = 8 };

  // Results (0 is success).
  static constexpr int kAlreadyStarted = 16385;
  static constexpr int kThreadNotStarted = 16386;
  static constexpr int kNotListening = 16387;  // also: the stop timed out
  static constexpr int kSocketFailed = 16389;
  static constexpr int kBindFailed = 16391;
  static constexpr int kListenFailed = 16392;

  // Viewers that arrive while the listener is busy wait in the system's
  // queue; one that finds it full is turned away and tries again a second
  // later. A hundred overflowed with 200 viewers at once; this holds a
  // thousand (the system may cap it lower).
  static constexpr int kListenBacklog = 1024;
  static constexpr int kSendBufferBytes = 524288;
  static constexpr int kDeferAcceptSeconds = 1;
  static constexpr platform::DWORD kSuspendPollMs = 2500;
  static constexpr double kResumeWorkingRatio = 0.9;
  static constexpr platform::DWORD kStopWaitMs = 7500;
  // After a failed accept (other than a full pool) the listener waits this
  // long before the next one, so that a lasting failure cannot make it spin.
  static constexpr platform::DWORD kAcceptBackoffMs = 100;
  // Connections accepted in one go before the collected ones get a turn.
  static constexpr int kAcceptsPerRound = 64;
  // Receive timeouts outside this range (seconds) are brought into it.
  static constexpr platform::DWORD kMinRecvTimeout = 1;
  static constexpr platform::DWORD kMaxRecvTimeout = 3600;

  // `pool` is borrowed.
  explicit CConnMgr(QRPoolManager* pool);
  virtual ~CConnMgr();  // Shutdown
  CConnMgr(const CConnMgr&) = delete;
  CConnMgr& operator=(const CConnMgr&) = delete;

  // Binds `address` (dotted IPv4; empty or not dotted: every interface) on
  // `port` (0: a free port, kept for later re-creation) and starts the
  // listener. The borrowed objects go into every job and must outlive the
  // manager; `counters` may be null.
  int Start(unsigned short port, platform::DWORD recvTimeoutSeconds, CAgentList* agentList,
            CAgentTable* agentTable, CPTransactionLog* transactionLog, CConnectionCounters* counters,
            const char* address);
  // Stops the listener (kNotListening unless it listens) and forgets the
  // borrowed objects.
  int Shutdown();

  int ListenState() const { return m_ListenState.load(); }
  // The port listened on (after Start: the one actually bound).
  unsigned short Port() const { return m_Port.load(); }
  const std::string& AddressText() const { return m_AddressText; }
  // True while a full pool keeps the manager from listening.
  bool Suspended() const { return m_Suspended.load(); }

 protected:
  // Creates, binds and listens on the socket; 0 or a result code.
  virtual int SetupSocket(unsigned short port, const char* address);
  // The listener thread's body.
  virtual platform::DWORD ListenerThread();
  // Whether the listener collects each viewer's request before handing the
  // connection over; a listener whose threads read their own requests hands
  // each connection over as it is accepted, with its peer and deadline.
  virtual bool CollectsRequests() const { return true; }
  // Hands a connection with its collected request to the pool: the pool's
  // result. The job owns the socket only when this succeeds.
  virtual int IssueConnection(platform::SOCKET socket, std::shared_ptr<CCollectedRequest> request);

  QRPoolManager* Pool() const { return m_pPool; }
  // Shared with the jobs, which may outlive the manager.
  const std::shared_ptr<CAcceptPoint>& AcceptPoint() const { return m_AcceptPoint; }

 private:
  int StartThread();
  int StopThread();
  void ListenLoop(platform::SocketPoller& poller, CRequestCollector& collector);
  // Accepts what waits on the listening socket and collects it.
  void AcceptWaiting(CRequestCollector& collector);
  // A complete request: to the pool, or refused when it has no thread.
  void HandOver(platform::SOCKET socket, std::shared_ptr<CCollectedRequest> request);
  // The listening socket leaves (or joins) what the listener waits for.
  void StopListening(platform::DWORD retryMs);
  void WatchListeningSocket(bool watch);
  // Called while not listening, at the retry time: listens again when the
  // pool has room.
  void TryListenAgain();
  bool PoolHasRoom();
  // Waits on the stop event: true when a stop was requested.
  bool WaitForStop(platform::DWORD milliseconds);
  void CloseListeningSocket();

  std::unique_ptr<platform::Thread> m_Thread;
  platform::DWORD m_ThreadId = 0;
  std::atomic<int> m_ListenState{eStopped};
  std::atomic<bool> m_Suspended{false};
  // Listener-thread state of the listening socket: watched by the poller,
  // or (when not) when to look at it again.
  platform::SocketPoller* m_pPoller = nullptr;
  bool m_Watching = false;
  bool m_Paused = false;  // not listening for a while (full pool, failures)
  std::chrono::steady_clock::time_point m_RetryAt;
  // The socket changes only on the listener thread (and in Start before it
  // runs); the lock keeps Shutdown from touching a descriptor being closed.
  std::mutex m_SocketLock;
  platform::SOCKET m_Socket = platform::kInvalidSocket;
  platform::SocketAddress m_BoundAddress;
  platform::DWORD m_RecvTimeoutSeconds = 0;
  std::atomic<unsigned short> m_Port{0};
  std::string m_AddressText;
  QRPoolManager* m_pPool;
  std::shared_ptr<CAcceptPoint> m_AcceptPoint;
  CAgentList* m_pAgentList = nullptr;
  CPTransactionLog* m_pTransactionLog = nullptr;
  CAgentTable* m_pAgentTable = nullptr;
  CConnectionCounters* m_pCounters = nullptr;

  // Stop requests: the event ends the listener's sleeps, the cancel its
  // wait for sockets.
  std::unique_ptr<platform::Event> m_StopEvent;
  platform::SocketCancel m_StopCancel;
  platform::SpareDescriptor m_Spare;
  // Failed accepts in a row, traced once per burst.
  unsigned m_FailedAccepts = 0;
  unsigned m_DroppedForDescriptors = 0;
};
