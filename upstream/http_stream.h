// CPHTTPStream: the relay's one way of talking HTTP to the outside. A TCP
// stream with a connect timeout, bounded read and write waits, and an
// optional hop through an HTTP proxy or a SOCKS 4 firewall. On top of it,
// OpenAndGetHeader sends a whole request to a data-centre server picked from
// the server list, follows one redirection, answers 401 and 407 once with
// credentials, and leaves the stream at the first byte of the answer's body.
//
// One stream belongs to one thread for one exchange. What outlives it is
// process-wide: the last server that answered, and the abort that ends every
// stream's waits at shut-down (AbortAll).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "config/cp_registry.h"
#include "platform/socket.h"
#include "platform/types.h"

namespace upstream {
// The address a relay's outgoing connections are made from: the one address
// its Comm\LISTEN<n> entries name, when every entry names that same
// specific address ("address,port"); else 0 (the system chooses). A slave
// can then tell its master's posts from anyone else's.
std::uint32_t OutgoingAddress(CPRegistry& settings);
}  // namespace upstream

// What OpenAndGetHeader reports about the server that answered.
struct CUpstreamResult {
  std::string host;  // the real server, never the proxy
  unsigned port = 0;
  int status = 0;
  std::string reason;  // the reason phrase of a 407
};

class CPHTTPStream {
 public:
  // Open results besides 0 (connected).
  static constexpr int kOpenFailed = -1;
  static constexpr int kOpenCancelled = -2;
  // Read and Write results.
  static constexpr int kIoFailed = -1;
  static constexpr int kIoCancelled = -2;
  // Each wait for room to write.
  static constexpr platform::DWORD kWriteWaitSeconds = 60;

  // Reads the stream's settings (timeouts, proxy, SOCKS) from `settings`.
  explicit CPHTTPStream(const CPRegistry& settings);
  virtual ~CPHTTPStream();
  CPHTTPStream(const CPHTTPStream&) = delete;
  CPHTTPStream& operator=(const CPHTTPStream&) = delete;

  // Connects to host:port (through the SOCKS firewall when one is set).
  // 0 connected, -1 failed, -2 cancelled, or the firewall's refusal: 10051
  // (network unreachable), 1326 (logon failure).
  virtual int Open(const std::string& host, unsigned port);
  virtual void Close();
  // Bytes received into buffer[0..size) (0: the peer closed), -1 on timeout
  // or error, -2 when cancelled. With `peek` the bytes stay in the socket.
  virtual int Read(void* buffer, std::size_t size, int peek = 0);
  // Sends all `length` bytes (length 0: the zero-terminated text in buffer).
  // The length, -1 on timeout or error, -2 when cancelled.
  virtual int Write(const void* buffer, std::size_t length);
  // Reads exactly the answer's header block (status line, header lines and
  // the blank line) into `header`, leaving the stream at the first body
  // byte. The status code; 500 when no valid header came.
  virtual int ReadHeader(std::string& header);
  // The header's Content-Length, -1 when it has none.
  virtual int GetContentLength(const std::string& header);
  // The reason phrase of the header's status line.
  virtual std::string GetStatusText(const std::string& header);

  // Sends `request` (request line, header lines, blank line) and `body` to a
  // data-centre server and reads the answer's header. The final status
  // code; the stream stays open for the body after 200 and 204.
  int OpenAndGetHeader(const std::string& request, std::string& header, CUpstreamResult* result = nullptr);
  virtual int OpenAndGetHeader(const std::string& request, const void* body, std::size_t bodyLength,
                               std::string& header, CUpstreamResult* result);
  // Credentials to offer a server that answers 401: 1 with them, 0 without.
  // The plain stream has none.
  virtual int GetCredentials(std::string& user, std::string& password);

  // One attempt at one server. A 302 leaves its target in host and port.
  int AttemptOpenUsing(std::string request, const void* body, std::size_t bodyLength, std::string& header,
                       std::string& host, unsigned& port, CUpstreamResult* result);

  // Ends every pending connect, read and write of every stream, now and
  // later: the first step of stopping the server.
  static void AbortAll();

  platform::SOCKET Socket() const { return m_Socket; }
  bool UsesProxy() const { return m_UseProxy; }
  bool UsesSocks() const { return m_UseSocks; }

 private:
  // Resolves a dotted address or a host name; false when it cannot.
  static bool ResolveAddress(const std::string& host, platform::SocketAddress& address);
  bool ConnectToSocksServer(platform::SocketAddress& firewall);
  int NegotiateSocksConnection(const platform::SocketAddress& target);
  // Which result the waits and transfers give once the streams are aborted.
  static int FailedOrCancelled();

  platform::SocketAddress m_Target;
  platform::SOCKET m_Socket = platform::kInvalidSocket;
  platform::DWORD m_RecvTimeout;
  platform::DWORD m_ConnectTimeout;
  // The address outgoing connections are made from (0: the system's choice).
  std::uint32_t m_LocalAddress = 0;
  CPRegistry m_Settings;
  std::string m_ProxyHost;
  unsigned m_ProxyPort = 0;
  bool m_UseProxy = false;
  std::string m_SocksHost;
  unsigned m_SocksPort = 0;
  std::string m_SocksUser;
  bool m_UseSocks = false;
  std::string m_ProxyCredentials;  // base64 of "user:password" for the proxy
};
