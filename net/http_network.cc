#include "net/http_network.h"

#include <algorithm>
#include <chrono>

#include "base/trace_bits.h"
#include "platform/sync.h"
#include "platform/trace.h"

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until `deadline`, 0 once it has passed.
platform::DWORD MillisecondsUntil(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<platform::DWORD>(left) : 0;
}

}  // namespace

CHTTPNetwork::CHTTPNetwork(platform::SOCKET socket, platform::DWORD timeoutSeconds,
                           platform::DWORD writeWaitSeconds)
    : m_Socket(socket), m_TimeoutSeconds(timeoutSeconds), m_WriteWaitSeconds(writeWaitSeconds) {}

void CHTTPNetwork::FailWrite(int error) {
  m_LastError = error;
  const long thread = static_cast<long>(platform::GetCurrentThreadId());
  switch (error) {
    case platform::WSAEWOULDBLOCK:
      trace(trace_bits::kSend,
            "Thread %ld: CHTTPNetwork::Write() WSAEWOULDBLOCK failed - You should never see this message "
            "because the socket was in blocking mode. socket (%d) error: %d...\n",
            thread, m_Socket, error);
      break;
    case platform::WSAECONNABORTED:
      trace(trace_bits::kSend,
            "Thread %ld: CHTTPNetwork::Write() WSAECONNABORTED: failed - the socket has been closed by the "
            "remote end due to timeout, socket (%d) error: %d...\n",
            thread, m_Socket, error);
      break;
    case platform::WSAECONNRESET:
      trace(trace_bits::kSend,
            "Thread %ld: CHTTPNetwork::Write() WSAECONNRESET failed - the socket has been closed by the "
            "remote end. socket (%d) error: %d...\n",
            thread, m_Socket, error);
      break;
    case platform::WSAESHUTDOWN:
      trace(trace_bits::kSend,
            "Thread %ld: CHTTPNetwork::Write() WSAESHUTDOWN failed - Shutdown requested by remote end. "
            "socket (%d) error: %d...\n",
            thread, m_Socket, error);
      break;
    default:
      trace(trace_bits::kSend, "Thread %ld: CHTTPNetwork::Write() failed - socket (%d) error: %d...\n", thread,
            m_Socket, error);
      break;
  }
}

long long CHTTPNetwork::Write(const void* data, std::size_t length) {
  const char* next = static_cast<const char*>(data);
  std::size_t remaining = length;
  const auto wait = std::chrono::seconds(m_WriteWaitSeconds);
  // The wait restarts whenever the peer takes something: only a peer that
  // takes nothing for a whole wait is given up on.
  Clock::time_point deadline = Clock::now() + wait;
  while (remaining > 0) {
    // Only what fits now, so a peer that stops reading cannot hold this
    // thread inside the send, past the wait below. The send is tried before
    // any wait: there is room most of the time.
    int sent = platform::Send(m_Socket, next, std::min(remaining, kWritePiece), platform::MSG_DONTWAIT_FLAG);
    if (sent < 0) {
      int error = platform::WSAGetLastError();
      if (error != platform::WSAEWOULDBLOCK) {
        FailWrite(error);
        return -1;
      }
      int ready = platform::WaitWritable(m_Socket, MillisecondsUntil(deadline));
      if (ready == 0) {
        trace(trace_bits::kSend, "CHTTPNetwork::Write: No send writability after timeout period\n");
        m_LastError = kTimeoutError;
        return -1;
      }
      if (ready < 0) {
        FailWrite(platform::WSAGetLastError());
        return -1;
      }
      continue;
    }
    next += sent;
    remaining -= static_cast<std::size_t>(sent);
    m_BytesWritten += static_cast<std::uint64_t>(sent);
    deadline = Clock::now() + wait;
  }
  return static_cast<long long>(length);
}

long long CHTTPNetwork::WriteFile(platform::File& file) {
  const long long size = file.Size();
  if (size < 0) {
    m_LastError = platform::WSAEBADF;
    trace(trace_bits::kSend, "CHTTPNetwork::WriteFile: Error in TransmitFile %d\n", m_LastError);
    return -1;
  }
  const auto wait = std::chrono::seconds(m_WriteWaitSeconds);
  Clock::time_point deadline = Clock::now() + wait;
  bool pending = false;
  long long offset = 0;
  platform::WSASetLastError(0);
  while (offset < size) {
    long long sent =
        platform::TransmitFile(m_Socket, file.Descriptor(), offset, size - offset, platform::MSG_DONTWAIT_FLAG);
    if (sent > 0) {
      offset += sent;
      deadline = Clock::now() + wait;
      continue;
    }
    // Nothing sent and no error: the file ended before its size (cut short
    // by someone else); what went out cannot be called the file.
    int error = sent == 0 ? platform::WSAEBADF : platform::WSAGetLastError();
    if (error != platform::WSAEWOULDBLOCK) {
      m_LastError = error;
      trace(trace_bits::kSend, "CHTTPNetwork::WriteFile: Error in TransmitFile %d\n", error);
      return -1;
    }
    if (!pending) {
      trace(trace_bits::kSend, "CHTTPNetwork::WriteFile: Performing Blocking TransmitFile %d\n", error);
      pending = true;
    }
    int ready = platform::WaitWritable(m_Socket, MillisecondsUntil(deadline));
    if (ready <= 0) {
      m_LastError = ready == 0 ? kTimeoutError : platform::WSAGetLastError();
      trace(trace_bits::kSend, "CHTTPNetwork::WriteFile: Error in TransmitFile %d\n", m_LastError);
      return -1;
    }
  }
  if (!pending) {
    trace(trace_bits::kSend, "CHTTPNetwork::WriteFile: Perform(ed) Non Blocking TransmitFile, %d\n",
          platform::WSAGetLastError());
  }
  m_BytesWritten += static_cast<std::uint64_t>(size);
  return size;
}
