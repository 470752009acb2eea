#include "conn/request_collector.h"

#include <algorithm>

#include "base/trace_bits.h"
#include "platform/trace.h"

using platform::DWORD;
using platform::kInvalidSocket;
using platform::SOCKET;

namespace {

// As large as a request thread's receive buffer: the parser keeps no more
// than a line's worth of bytes it could not take yet.
constexpr std::size_t kBufferSize = 4096;

}  // namespace

struct CRequestCollector::Connection {
  SOCKET socket = kInvalidSocket;
  std::uint32_t index = 0;
  std::uint32_t generation = 0;
  bool watched = false;  // registered with the poller
  // The request being collected, with its peer and parser; the parser of a
  // connection that was dropped serves the next one.
  std::shared_ptr<CCollectedRequest> request;
  std::unique_ptr<char[]> buffer = std::make_unique<char[]>(kBufferSize);
  unsigned int length = 0;      // bytes the parser has not taken yet
  std::size_t collected = 0;    // bytes read for this request
  Clock::time_point lastRead;
  Clock::time_point deadline;

  std::uint64_t Token() const {
    return kTokenBit | (static_cast<std::uint64_t>(generation & 0x7FFFFFFF) << 32) | index;
  }
};

CRequestCollector::CRequestCollector(platform::SocketPoller& poller, DWORD recvTimeoutSeconds,
                                     DWORD deadlineTimeouts, HandOver handOver)
    : m_Poller(poller),
      m_RecvTimeout(std::chrono::seconds(recvTimeoutSeconds)),
      m_RequestTimeout(std::chrono::seconds(recvTimeoutSeconds) * deadlineTimeouts),
      m_HandOver(std::move(handOver)) {}

CRequestCollector::~CRequestCollector() { CloseAll(); }

void CRequestCollector::Add(SOCKET socket, std::string peer) {
  if (Full()) {
    // The owner stops accepting before this happens; a connection beyond
    // the bound is closed rather than collected.
    platform::Shutdown(socket, platform::SD_BOTH);
    platform::CloseSocket(socket);
    return;
  }
  std::uint32_t index = 0;
  if (!m_FreeIndexes.empty()) {
    index = m_FreeIndexes.back();
    m_FreeIndexes.pop_back();
  } else {
    index = static_cast<std::uint32_t>(m_Connections.size());
    m_Connections.push_back(std::make_unique<Connection>());
    m_Connections.back()->index = index;
  }
  Connection& connection = *m_Connections[index];
  ++m_Count;
  connection.socket = socket;
  if (connection.request == nullptr) connection.request = std::make_shared<CCollectedRequest>();
  CCollectedRequest& request = *connection.request;
  request.peer = std::move(peer);
  if (request.parser) {
    request.parser->ResetHTTP();
  } else {
    request.parser = std::make_unique<QRNHTTP>();
  }
  connection.length = 0;
  connection.collected = 0;
  connection.lastRead = Clock::now();
  connection.deadline = connection.lastRead + m_RequestTimeout;
  // Most viewers send their request at once: it is handed over here,
  // without a round through the poller.
  if (ReadAndParse(connection)) return;
  if (m_Poller.Add(socket, connection.Token()) != 0) {
    Drop(connection, "it could not be watched");
    return;
  }
  connection.watched = true;
}

void CRequestCollector::OnReady(std::uint64_t token) {
  if (Connection* connection = Find(token)) ReadAndParse(*connection);
}

CRequestCollector::Connection* CRequestCollector::Find(std::uint64_t token) {
  const std::uint32_t index = static_cast<std::uint32_t>(token & 0xFFFFFFFF);
  if ((token & kTokenBit) == 0 || index >= m_Connections.size()) return nullptr;
  Connection* connection = m_Connections[index].get();
  // A connection handed over in the same round as its event is gone.
  if (connection->socket == kInvalidSocket || connection->Token() != token) return nullptr;
  return connection;
}

bool CRequestCollector::ReadAndParse(Connection& connection) {
  for (;;) {
    // One byte stays free, as in a request thread's buffer.
    const std::size_t room = kBufferSize - connection.length - 1;
    if (room == 0) {
      Drop(connection, "a line is longer than a request may hold");
      return true;
    }
    const int got = platform::Recv(connection.socket, connection.buffer.get() + connection.length, room,
                                   platform::MSG_DONTWAIT_FLAG);
    if (got < 0) {
      if (platform::WSAGetLastError() == platform::WSAEWOULDBLOCK) return false;
      Drop(connection, "the socket failed");
      return true;
    }
    if (got == 0) {
      Drop(connection, "the viewer closed it");
      return true;
    }
    connection.length += static_cast<unsigned int>(got);
    connection.collected += static_cast<std::size_t>(got);
    connection.lastRead = Clock::now();
    const httpStatus status = connection.request->parser->HTTPprocess(connection.buffer.get(), connection.length);
    if (status == eHTTPComplete) {
      HandOverRequest(connection, status);
      return true;
    }
    if (status == eHTTPInvalid) {
      trace(trace_bits::kParse, "ConnMgr: request from %s is not one of the viewer protocol\n",
            connection.request->peer.c_str());
      Drop(connection, "its request is invalid");
      return true;
    }
    if (connection.collected >= kMaxRequestBytes) {
      // A large request (a posted file): its thread reads the rest, still
      // within the request's deadline.
      HandOverRequest(connection, status);
      return true;
    }
  }
}

void CRequestCollector::HandOverRequest(Connection& connection, httpStatus status) {
  std::shared_ptr<CCollectedRequest> request = std::move(connection.request);
  request->status = status;
  request->pending.assign(connection.buffer.get(), connection.length);
  request->deadline = connection.deadline;
  const SOCKET socket = connection.socket;
  Release(connection);
  m_HandOver(socket, std::move(request));
}

void CRequestCollector::Drop(Connection& connection, const char* why) {
  trace(trace_bits::kHttp, "ConnMgr: connection from %s closed unanswered: %s\n", connection.request->peer.c_str(), why);
  const SOCKET socket = connection.socket;
  Release(connection);
  platform::Shutdown(socket, platform::SD_SEND);
  platform::Shutdown(socket, platform::SD_BOTH);
  platform::CloseSocket(socket);
}

void CRequestCollector::Release(Connection& connection) {
  if (connection.watched) m_Poller.Remove(connection.socket);
  connection.watched = false;
  connection.socket = kInvalidSocket;
  ++connection.generation;
  m_FreeIndexes.push_back(connection.index);
  --m_Count;
}

DWORD CRequestCollector::Sweep() {
  if (m_Count == 0) return platform::kInfinite;
  const Clock::time_point now = Clock::now();
  if (now < m_NextSweep) {
    return static_cast<DWORD>(std::chrono::ceil<std::chrono::milliseconds>(m_NextSweep - now).count());
  }
  for (const auto& connection : m_Connections) {
    if (connection->socket == kInvalidSocket) continue;
    if (now >= connection->deadline) {
      Drop(*connection, "the whole request took too long");
    } else if (now - connection->lastRead >= m_RecvTimeout) {
      Drop(*connection, "no bytes came within the receive timeout");
    }
  }
  m_NextSweep = now + std::chrono::milliseconds(kSweepMs);
  return m_Count == 0 ? platform::kInfinite : kSweepMs;
}

void CRequestCollector::CloseAll() {
  for (const auto& connection : m_Connections) {
    if (connection->socket != kInvalidSocket) Drop(*connection, "the listener stops");
  }
}
