#include "conn/request_collector.h"

#include <algorithm>
#include <cstring>

#include "base/trace_bits.h"
#include "platform/trace.h"

using platform::DWORD;
using platform::kInvalidSocket;
using platform::SOCKET;

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
  Connection& connection = NewConnection(socket);
  if (connection.request == nullptr) connection.request = std::make_shared<CCollectedRequest>();
  CCollectedRequest& request = *connection.request;
  request.peer = std::move(peer);
  if (request.parser) {
    request.parser->ResetHTTP();
  } else {
    request.parser = std::make_unique<QRNHTTP>();
  }
  request.received = 0;
  connection.length = 0;
  connection.lastRead = Clock::now();
  connection.deadline = connection.lastRead + m_RequestTimeout;
  Collect(connection);
}

void CRequestCollector::Adopt(SOCKET socket, std::shared_ptr<CCollectedRequest> request) {
  if (Full() || request == nullptr || !request->parser) {
    CloseUnanswered(socket, request != nullptr ? request->peer : std::string(), "the listener collects no more");
    return;
  }
  Connection& connection = NewConnection(socket);
  connection.length = static_cast<unsigned int>(std::min(request->pending.size(), kBufferSize - 1));
  std::memcpy(connection.buffer.get(), request->pending.data(), connection.length);
  connection.lastRead = Clock::now();
  connection.deadline = request->deadline;
  connection.request = std::move(request);
  Collect(connection);
}

CRequestCollector::Connection& CRequestCollector::NewConnection(SOCKET socket) {
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
  return connection;
}

void CRequestCollector::Collect(Connection& connection) {
  // Most viewers send their request at once: it is handed over here,
  // without a round through the poller.
  if (ReadAndParse(connection)) return;
  if (m_Poller.Add(connection.socket, connection.Token()) != 0) {
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
  const std::size_t before = connection.request->received;
  const char* why = "";
  const Arrival arrival =
      ReadArrived(connection.socket, *connection.request, connection.buffer.get(), connection.length, &why);
  if (connection.request->received != before) connection.lastRead = Clock::now();
  switch (arrival) {
    case Arrival::kWaiting:
      return false;
    case Arrival::kReady:
      HandOverRequest(connection);
      return true;
    case Arrival::kBroken:
      break;
  }
  Drop(connection, why);
  return true;
}

CRequestCollector::Arrival CRequestCollector::ReadArrived(SOCKET socket, CCollectedRequest& request, char* buffer,
                                                          unsigned int& length, const char** why) {
  for (;;) {
    // One byte stays free, as in a request thread's buffer.
    const std::size_t room = kBufferSize - length - 1;
    if (room == 0) {
      *why = "a line is longer than a request may hold";
      return Arrival::kBroken;
    }
    const int got = platform::Recv(socket, buffer + length, room, platform::MSG_DONTWAIT_FLAG);
    if (got < 0) {
      if (platform::WSAGetLastError() == platform::WSAEWOULDBLOCK) return Arrival::kWaiting;
      *why = "the socket failed";
      return Arrival::kBroken;
    }
    if (got == 0) {
      *why = "the viewer closed it";
      return Arrival::kBroken;
    }
    length += static_cast<unsigned int>(got);
    request.received += static_cast<std::size_t>(got);
    request.status = request.parser->HTTPprocess(buffer, length);
    if (request.status == eHTTPInvalid) {
      trace(trace_bits::kParse, "ConnMgr: request from %s is not one of the viewer protocol\n", request.peer.c_str());
      *why = "its request is invalid";
      return Arrival::kBroken;
    }
    // A large request (a posted file) is handed over unfinished: its thread
    // reads the rest, still within the request's deadline.
    if (request.status == eHTTPComplete || request.received >= kMaxRequestBytes) return Arrival::kReady;
  }
}

void CRequestCollector::HandOverRequest(Connection& connection) {
  std::shared_ptr<CCollectedRequest> request = std::move(connection.request);
  request->pending.assign(connection.buffer.get(), connection.length);
  request->deadline = connection.deadline;
  const SOCKET socket = connection.socket;
  Release(connection);
  m_HandOver(socket, std::move(request));
}

void CRequestCollector::Drop(Connection& connection, const char* why) {
  const SOCKET socket = connection.socket;
  // The request (and the peer's text in it) stays with the record.
  const std::shared_ptr<CCollectedRequest> request = connection.request;
  Release(connection);
  CloseUnanswered(socket, request->peer, why);
}

void CRequestCollector::CloseUnanswered(SOCKET socket, const std::string& peer, const char* why) {
  trace(trace_bits::kHttp, "ConnMgr: connection from %s closed unanswered: %s\n", peer.c_str(), why);
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
