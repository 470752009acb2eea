// CRequestCollector: the connections a listener has accepted whose request
// has not fully arrived yet. Their bytes are read as they come, on the
// listener's thread, through the system's readiness notification; a
// connection is handed to a request thread only once its request is
// complete, so a viewer that is still sending never holds a pool thread.
//
// Bounded in every way a viewer could stretch it: the number of connections
// collected, the bytes collected per request (a larger request is handed
// over once that much is in, and its thread reads the rest), the receive
// timeout between two reads and the deadline for the whole request. A
// connection that misses a bound is closed unanswered, as a request thread
// would close it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "conn/collected_request.h"
#include "platform/socket.h"
#include "platform/socket_poller.h"
#include "platform/types.h"

class CRequestCollector {
 public:
  static constexpr std::size_t kMaxConnections = 4096;
  static constexpr std::size_t kMaxRequestBytes = 64 * 1024;
  // As large as a request thread's receive buffer: the parser keeps no more
  // than a line's worth of bytes it could not take yet.
  static constexpr std::size_t kBufferSize = 4096;
  // How often deadlines are checked while connections are collected.
  static constexpr platform::DWORD kSweepMs = 100;
  // Poller tokens of collected connections have this bit; the owner of the
  // poller may use the others for its own descriptors.
  static constexpr std::uint64_t kTokenBit = 1ull << 63;

  // Takes a complete request: the socket and the request are the callee's
  // from here on, whatever becomes of them.
  using HandOver = std::function<void(platform::SOCKET, std::shared_ptr<CCollectedRequest>)>;

  // `poller` is borrowed. A request must come within `recvTimeoutSeconds`
  // of each read and within `deadlineTimeouts` of them in all.
  CRequestCollector(platform::SocketPoller& poller, platform::DWORD recvTimeoutSeconds,
                    platform::DWORD deadlineTimeouts, HandOver handOver);
  ~CRequestCollector();  // closes what is still collected
  CRequestCollector(const CRequestCollector&) = delete;
  CRequestCollector& operator=(const CRequestCollector&) = delete;

  std::size_t Count() const { return m_Count; }
  bool Full() const { return m_Count >= kMaxConnections; }

  // An accepted connection (non-blocking from here on) from `peer` (dotted
  // text, kept by its request): what has arrived is read at once, and a
  // complete request handed over without a wait.
  void Add(platform::SOCKET socket, std::string peer);
  // A connection whose request a request thread began to read (its parser,
  // the bytes it has not taken, the bytes read and the deadline): collected
  // on from there.
  void Adopt(platform::SOCKET socket, std::shared_ptr<CCollectedRequest> request);
  // The poller reported `token` (one with kTokenBit) ready.
  void OnReady(std::uint64_t token);
  // Closes the connections past a deadline; how long the poller may wait
  // before the next call (kInfinite while nothing is collected).
  platform::DWORD Sweep();
  void CloseAll();

  // What reading a connection's arrived bytes came to.
  enum class Arrival { kWaiting, kReady, kBroken };
  // Reads what has arrived on `socket`, without waiting, behind the
  // `length` bytes the parser has not taken yet in `buffer` (kBufferSize),
  // parses it with the request's parser and counts it in its `received`:
  // kReady (the parser's status in the request) when the request is whole
  // or has reached kMaxRequestBytes (its thread reads the rest), kWaiting
  // when more must come, kBroken when the connection is to be closed
  // unanswered, for the reason in `why`.
  static Arrival ReadArrived(platform::SOCKET socket, CCollectedRequest& request, char* buffer,
                             unsigned int& length, const char** why);
  // Closes a connection without an answer, saying why in the trace.
  static void CloseUnanswered(platform::SOCKET socket, const std::string& peer, const char* why);

 private:
  using Clock = std::chrono::steady_clock;
  struct Connection;

  // A free record for `socket`, counted.
  Connection& NewConnection(platform::SOCKET socket);
  // Takes what has arrived, then watches the connection for the rest.
  void Collect(Connection& connection);
  // Reads what has arrived and parses it; true when the connection is done
  // with here (handed over or closed).
  bool ReadAndParse(Connection& connection);
  void HandOverRequest(Connection& connection);
  void Drop(Connection& connection, const char* why);
  void Release(Connection& connection);
  Connection* Find(std::uint64_t token);

  platform::SocketPoller& m_Poller;
  const Clock::duration m_RecvTimeout;
  const Clock::duration m_RequestTimeout;
  HandOver m_HandOver;
  std::vector<std::unique_ptr<Connection>> m_Connections;
  std::vector<std::uint32_t> m_FreeIndexes;
  std::size_t m_Count = 0;
  Clock::time_point m_NextSweep;
};
