// CHTTPNetwork: one plain-HTTP connection's socket with timed writes, file
// transmission, and the byte counters and last error that its users log.
// The socket stays the caller's: it is neither shut down nor closed here.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "platform/file.h"
#include "platform/socket.h"
#include "platform/types.h"

class CHTTPNetwork {
 public:
  // The server gives a stalled peer this long per piece before it gives up.
  static constexpr platform::DWORD kWriteWaitSeconds = 60;
  static constexpr std::size_t kWritePiece = 65536;
  // LastError() after a wait that ran out.
  static constexpr int kTimeoutError = -1;

  // `timeoutSeconds` bounds each read (see CHTTPSocketRequest);
  // `writeWaitSeconds` each wait for room to write.
  CHTTPNetwork(platform::SOCKET socket, platform::DWORD timeoutSeconds,
               platform::DWORD writeWaitSeconds = kWriteWaitSeconds);
  CHTTPNetwork(const CHTTPNetwork&) = delete;
  CHTTPNetwork& operator=(const CHTTPNetwork&) = delete;

  // Sends all `length` bytes in pieces of at most kWritePiece, each after the
  // socket became writable within the write wait. `length`, or -1 with the
  // error stored (kTimeoutError when the peer took nothing for a whole wait).
  long long Write(const void* data, std::size_t length);
  // Sends the whole file with the system's file transmission. The file's
  // size, or -1 with the error stored.
  long long WriteFile(platform::File& file);

  platform::SOCKET Socket() const { return m_Socket; }
  platform::DWORD Timeout() const { return m_TimeoutSeconds; }
  void SetTimeout(platform::DWORD seconds) { m_TimeoutSeconds = seconds; }
  // Reads after `deadline` fail as timed out, whatever the timeout of each
  // read: a whole request must arrive in time, not only each piece of it.
  void SetReadDeadline(std::chrono::steady_clock::time_point deadline) { m_ReadDeadline = deadline; }
  std::chrono::steady_clock::time_point ReadDeadline() const { return m_ReadDeadline; }
  std::uint64_t BytesRead() const { return m_BytesRead; }
  std::uint64_t BytesWritten() const { return m_BytesWritten; }
  // The socket error of the last failure, kTimeoutError for a timeout.
  int LastError() const { return m_LastError; }

 private:
  friend class CHTTPSocketRequest;  // reads through this connection

  void FailWrite(int error);

  platform::SOCKET m_Socket;
  platform::DWORD m_TimeoutSeconds;
  platform::DWORD m_WriteWaitSeconds;
  std::uint64_t m_BytesRead = 0;
  std::uint64_t m_BytesWritten = 0;
  int m_LastError = 0;
  std::chrono::steady_clock::time_point m_ReadDeadline = std::chrono::steady_clock::time_point::max();
};
