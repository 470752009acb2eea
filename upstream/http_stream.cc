// CPHTTPStream: construction, connecting, and the bounded reads and writes.
#include "upstream/http_stream.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "base/trace_bits.h"
#include "net/http_message.h"
#include "net/http_network.h"
#include "net/socket_request.h"
#include "base/text_scan.h"
#include "platform/trace.h"
#include "upstream/request_text.h"
#include "upstream/stream_abort.h"

namespace {

platform::DWORD SecondsToMilliseconds(platform::DWORD seconds) {
  constexpr platform::DWORD kLongest = (platform::kInfinite - 1) / 1000;
  return std::min(seconds, kLongest) * 1000;
}

// A configured port that can be dialled (0 when the setting is unusable).
unsigned UsablePort(platform::DWORD port) { return port <= 65535 ? port : 0; }

}  // namespace

namespace upstream {

std::uint32_t OutgoingAddress(CPRegistry& settings) {
  constexpr platform::DWORD kMostEntries = 64;
  const platform::DWORD count = std::min<platform::DWORD>(settings.GetServerNoOfListenThreads(), kMostEntries);
  std::uint32_t chosen = 0;
  for (platform::DWORD i = 1; i <= count; ++i) {
    const std::string entry = settings.GetServerLISTENIPPort(i);
    const std::size_t comma = entry.find(',');
    std::uint32_t address = 0;
    if (comma == std::string::npos ||
        !platform::ParseDottedAddress(std::string(net::TrimBlanks(std::string_view(entry).substr(0, comma))), &address) ||
        address == 0 || (chosen != 0 && chosen != address)) {
      return 0;
    }
    chosen = address;
  }
  return chosen;
}

}  // namespace upstream

CPHTTPStream::CPHTTPStream(const CPRegistry& settings) : m_Settings(settings) {
  m_RecvTimeout = m_Settings.GetRecvTimeout();
  m_ConnectTimeout = m_Settings.GetConnectTimeout();
  m_LocalAddress = upstream::OutgoingAddress(m_Settings);
  m_ProxyHost = std::string(net::TrimBlanks(m_Settings.GetProxyHost()));
  m_ProxyPort = UsablePort(m_Settings.GetProxyPort());
  m_UseProxy = m_ProxyPort > 0 && !m_ProxyHost.empty();
  m_SocksHost = std::string(net::TrimBlanks(m_Settings.GetSocksHost()));
  m_SocksPort = UsablePort(m_Settings.GetSocksPort());
  m_SocksUser = m_Settings.GetSocksUser();
  m_UseSocks = !m_UseProxy && m_SocksPort > 0 && !m_SocksHost.empty();
  if (m_UseProxy) m_ProxyCredentials = upstream::BasicCredentials(m_Settings.GetProxyUser(), m_Settings.GetProxyPassword());
  // The first stream brings the shared cancellation into being.
  upstream::StreamCancel();
}

CPHTTPStream::~CPHTTPStream() { Close(); }

void CPHTTPStream::AbortAll() { upstream::AbortAllStreams(); }

int CPHTTPStream::FailedOrCancelled() {
  return upstream::StreamsAborted() ? kIoCancelled : kIoFailed;
}

bool CPHTTPStream::ResolveAddress(const std::string& host, platform::SocketAddress& address) {
  std::uint32_t dotted = 0;
  if (platform::ParseDottedAddress(host, &dotted)) {
    address.address = dotted;
    return true;
  }
  const std::vector<std::uint32_t> found = platform::ResolveHost(host);
  if (found.empty()) {
    trace(trace_bits::kNetwork, "PHTTPStream: DNS lookup on name [%s] failed\n", host.c_str());
    return false;
  }
  address.address = found.front();
  return true;
}

bool CPHTTPStream::ConnectToSocksServer(platform::SocketAddress& firewall) {
  trace(trace_bits::kNetwork, "CPHTTPStream::ConnectToSocksServer() Connecting to \"%s:%d\"...\n", m_SocksHost.c_str(),
        static_cast<int>(m_SocksPort));
  if (!ResolveAddress(m_SocksHost, firewall)) return false;
  firewall.port = static_cast<std::uint16_t>(m_SocksPort);
  return true;
}

int CPHTTPStream::Open(const std::string& host, unsigned port) {
  Close();
  if (port == 0 || port > 65535 || !ResolveAddress(host, m_Target)) return kOpenFailed;
  m_Target.port = static_cast<std::uint16_t>(port);

  const platform::SOCKET socket = platform::TcpSocket();
  if (socket == platform::kInvalidSocket) {
    trace(trace_bits::kNetwork, "CPHTTPStream::Open() socket() failed, error=%d\n", platform::WSAGetLastError());
    return kOpenFailed;
  }
  trace(trace_bits::kNetwork, "*** Creating socket [%d]\n", socket);
  if (!upstream::RegisterStreamSocket(socket)) {
    platform::CloseSocket(socket);
    return kOpenCancelled;
  }
  m_Socket = socket;
  platform::SetReuseAddress(socket, true);
  platform::SetDontLinger(socket, true);
  // Peers see who is asking: the address this relay listens on.
  if (m_LocalAddress != 0 && platform::Bind(socket, {m_LocalAddress, 0}) != 0) {
    trace(trace_bits::kNetwork, "CPHTTPStream::Open() unable to bind to %s, error=%d\n",
          platform::FormatDottedAddress(m_LocalAddress).c_str(), platform::WSAGetLastError());
  }

  platform::SocketAddress dial = m_Target;
  std::string dialHost = host;
  unsigned dialPort = port;
  if (m_UseSocks) {
    if (!ConnectToSocksServer(dial)) {
      Close();
      return kOpenFailed;
    }
    dialHost = m_SocksHost;
    dialPort = m_SocksPort;
  }
  if (platform::Connect(socket, dial, SecondsToMilliseconds(m_ConnectTimeout)) != 0) {
    const int error = platform::WSAGetLastError();
    Close();
    if (upstream::StreamsAborted()) return kOpenCancelled;
    if (error == platform::WSAETIMEDOUT) {
      trace(trace_bits::kNetwork, "PHTTPStream: Timeout occured connecting to %s:%d after %d seconds\n",
            dialHost.c_str(), static_cast<int>(dialPort), static_cast<int>(m_ConnectTimeout));
    } else {
      trace(trace_bits::kNetwork, "PHTTPStream: connect error occured connecting to %s:%d Error %d\n", dialHost.c_str(),
            static_cast<int>(dialPort), error);
    }
    return kOpenFailed;
  }
  if (upstream::StreamsAborted()) {
    Close();
    return kOpenCancelled;
  }
  trace(trace_bits::kNetwork, "*** Connecting socket [%d]\n", socket);
  return m_UseSocks ? NegotiateSocksConnection(m_Target) : 0;
}

void CPHTTPStream::Close() {
  if (m_Socket == platform::kInvalidSocket) return;
  trace(trace_bits::kNetwork, "*** Closing socket [%d]\n", m_Socket);
  // Forgotten by the abort first, so that it never touches a reused number.
  upstream::UnregisterStreamSocket(m_Socket);
  platform::Shutdown(m_Socket, platform::SD_SEND);
  platform::CloseSocket(m_Socket);
  m_Socket = platform::kInvalidSocket;
}

int CPHTTPStream::Read(void* buffer, std::size_t size, int peek) {
  if (m_Socket == platform::kInvalidSocket || buffer == nullptr) return kIoFailed;
  size = std::min<std::size_t>(size, INT_MAX);
  // An aborted stream reads nothing more, even what has arrived already.
  if (upstream::StreamsAborted()) return kIoCancelled;
  const int flags = peek != 0 ? platform::MSG_PEEK_FLAG : 0;
  // What has arrived is taken without a wait (the rest of an answer mostly
  // has); the wait is for an answer still on its way.
  int received = platform::Recv(m_Socket, buffer, size, flags | platform::MSG_DONTWAIT_FLAG);
  if (received < 0 && platform::WSAGetLastError() == platform::WSAEWOULDBLOCK) {
    received = -1;
    if (platform::WaitReadable(m_Socket, SecondsToMilliseconds(m_RecvTimeout), &upstream::StreamCancel()) > 0) {
      received = platform::Recv(m_Socket, buffer, size, flags);
    }
  }
  // An aborted stream's socket is shut down and reads as closed.
  if (received <= 0 && upstream::StreamsAborted()) return kIoCancelled;
  if (received < 0) {
    trace(trace_bits::kNetwork, "CPHTTPStream::Read(): Error: %d\n", platform::WSAGetLastError());
    return kIoFailed;
  }
  return received;
}

int CPHTTPStream::Write(const void* buffer, std::size_t length) {
  if (m_Socket == platform::kInvalidSocket || buffer == nullptr) return kIoFailed;
  if (length == 0) length = std::strlen(static_cast<const char*>(buffer));
  if (length > INT_MAX) return kIoFailed;
  if (upstream::StreamsAborted()) return kIoCancelled;
  CHTTPNetwork network(m_Socket, m_RecvTimeout, kWriteWaitSeconds);
  if (network.Write(buffer, length) < 0) return FailedOrCancelled();
  return static_cast<int>(length);
}

int CPHTTPStream::ReadHeader(std::string& header) {
  constexpr int kNoAnswer = 500;
  header.clear();
  if (m_Socket == platform::kInvalidSocket) return kNoAnswer;
  CHTTPNetwork network(m_Socket, m_RecvTimeout, kWriteWaitSeconds);
  CHTTPSocketRequest reader(network);
  if (reader.ReadHeaderBlock(header) < 0) return kNoAnswer;
  CHTTPResponseMessage message;
  return message.ParseHead(header) ? message.StatusCode() : kNoAnswer;
}

int CPHTTPStream::GetContentLength(const std::string& header) {
  CHTTPResponseMessage message;
  if (!message.ParseHead(header)) return -1;
  return std::max(message.ContentLength(), -1);
}

std::string CPHTTPStream::GetStatusText(const std::string& header) {
  CHTTPResponseMessage message;
  return message.ParseHead(header) ? message.Reason() : std::string();
}

int CPHTTPStream::GetCredentials(std::string& user, std::string& password) { return 0; }
