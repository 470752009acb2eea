#include "net/socket_request.h"

#include <algorithm>
#include <limits>

#include "base/trace_bits.h"
#include "platform/trace.h"

namespace {

// The end of the header block in `text` (just past its terminator), looking
// for a terminator that ends at or after `from`; npos when there is none.
std::size_t HeaderBlockEnd(const std::string& text, std::size_t from) {
  const std::size_t start = from > 3 ? from - 3 : 0;
  std::size_t end = std::string::npos;
  const std::size_t crlf = text.find("\r\n\r\n", start);
  if (crlf != std::string::npos) end = crlf + 4;
  const std::size_t lflf = text.find("\n\n", start);
  if (lflf != std::string::npos) end = std::min(end, lflf + 2);
  return end;
}

platform::DWORD SecondsToMilliseconds(platform::DWORD seconds) {
  constexpr platform::DWORD kLongest = (platform::kInfinite - 1) / 1000;
  return std::min(seconds, kLongest) * 1000;
}

}  // namespace

long CHTTPSocketRequest::Fail(int error) {
  m_Network.m_LastError = error;
  return -1;
}

int CHTTPSocketRequest::Read(void* buffer, std::size_t length, bool peek) {
  length = std::min<std::size_t>(length, std::numeric_limits<int>::max());
  platform::DWORD waitMs = SecondsToMilliseconds(m_Network.m_TimeoutSeconds);
  if (m_Network.m_ReadDeadline != std::chrono::steady_clock::time_point::max()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_Network.m_ReadDeadline -
                                                                            std::chrono::steady_clock::now())
                          .count();
    waitMs = left <= 0 ? 0 : std::min<platform::DWORD>(waitMs, static_cast<platform::DWORD>(left));
  }
  const int flags = peek ? platform::MSG_PEEK_FLAG : 0;
  int ready = 0;
  int received = -1;
  if (waitMs > 0 || m_Network.m_ReadDeadline > std::chrono::steady_clock::now()) {
    // What has arrived is taken without a wait; the wait is for bytes still
    // on their way. Another failure of the read is reported as it is.
    received = platform::Recv(m_Network.m_Socket, buffer, length, flags | platform::MSG_DONTWAIT_FLAG);
    ready = 1;
    if (received < 0 && platform::WSAGetLastError() == platform::WSAEWOULDBLOCK) {
      ready = platform::WaitReadable(m_Network.m_Socket, waitMs);
      received = ready > 0 ? platform::Recv(m_Network.m_Socket, buffer, length, flags) : -1;
    }
  }
  if (received < 0) {
    m_Network.m_LastError = ready == 0 ? CHTTPNetwork::kTimeoutError : platform::WSAGetLastError();
    trace(trace_bits::kNetwork, "CHTTPSocketRequest::Read(): Error: %d\n", m_Network.m_LastError);
    return -1;
  }
  if (!peek) m_Network.m_BytesRead += static_cast<std::uint64_t>(received);
  return received;
}

bool CHTTPSocketRequest::Consume(std::size_t length) {
  char sink[kHeaderPeek];
  while (length > 0) {
    int taken = Read(sink, std::min(length, sizeof(sink)), false);
    if (taken <= 0) {
      if (taken == 0) Fail(platform::WSAESHUTDOWN);
      return false;
    }
    length -= static_cast<std::size_t>(taken);
  }
  return true;
}

long CHTTPSocketRequest::ReadHeaderBlock(std::string& header) {
  header.clear();
  char piece[kHeaderPeek];
  for (;;) {
    int peeked = Read(piece, sizeof(piece), true);
    if (peeked < 0) return -1;
    // A peer that closes before the blank line leaves a peek that finds
    // nothing, for ever: that is the end of this message.
    if (peeked == 0) return Fail(platform::WSAESHUTDOWN);
    const std::size_t before = header.size();
    header.append(piece, static_cast<std::size_t>(peeked));
    const std::size_t end = HeaderBlockEnd(header, before);
    if (end != std::string::npos && end <= kMaxHeaderBlock) {
      // Take only up to the terminator: what follows is the body's.
      header.resize(end);
      if (!Consume(end - before)) return -1;
      return static_cast<long>(end);
    }
    if (header.size() >= kMaxHeaderBlock) {
      trace(trace_bits::kNetwork, "CHTTPSocketRequest::ReadHeaderBlock(): header block over %zu bytes\n",
            kMaxHeaderBlock);
      return Fail(platform::WSAEMSGSIZE);
    }
    if (!Consume(static_cast<std::size_t>(peeked))) return -1;
  }
}

long long CHTTPSocketRequest::ReadMessage(CHTTPMessage& message, std::size_t maxBody) {
  std::string header;
  long head = ReadHeaderBlock(header);
  if (head < 0) return -1;
  if (!message.ParseHead(header)) {
    trace(trace_bits::kNetwork, "CHTTPSocketRequest::ReadMessage(): not a valid start line\n");
    return Fail(platform::WSAEINVAL);
  }
  long long body = ReadBody(message, maxBody);
  return body < 0 ? -1 : head + body;
}

long long CHTTPSocketRequest::ReadBody(CHTTPMessage& message, std::size_t maxBody) {
  std::string& body = message.Body();
  body.clear();
  if (!message.ExpectsBody()) return 0;
  const bool announced = message.FindHeader(kContentLengthHeader).has_value();
  if (!announced && !message.BodyRunsToClose()) return 0;
  const int length = message.ContentLength();
  if (announced && length < 0) return Fail(platform::WSAEINVAL);
  if (announced && static_cast<std::size_t>(length) > maxBody) {
    trace(trace_bits::kNetwork, "CHTTPSocketRequest::ReadMessage(): body of %d bytes refused\n", length);
    return Fail(platform::WSAEMSGSIZE);
  }
  // Grows as the bytes arrive rather than on the peer's word alone.
  // One byte past the bound shows that a body to the close is too long.
  const std::size_t wanted = announced ? static_cast<std::size_t>(length)
                                       : maxBody + (maxBody < std::numeric_limits<std::size_t>::max() ? 1 : 0);
  char piece[16384];
  while (body.size() < wanted) {
    int got = Read(piece, std::min(sizeof(piece), wanted - body.size()), false);
    if (got < 0) return -1;
    if (got == 0) {
      if (announced) return Fail(platform::WSAESHUTDOWN);  // cut short
      break;
    }
    body.append(piece, static_cast<std::size_t>(got));
  }
  if (body.size() > maxBody) {
    trace(trace_bits::kNetwork, "CHTTPSocketRequest::ReadMessage(): body over %zu bytes refused\n", maxBody);
    return Fail(platform::WSAEMSGSIZE);
  }
  return static_cast<long long>(body.size());
}
