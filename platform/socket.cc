#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>

#include "platform/hosts_file.h"

namespace platform {

namespace {

thread_local int t_socket_error = 0;

int ToSocketError(int error) {
  switch (error) {
    case EINTR: return WSAEINTR;
    case EBADF: return WSAENOTSOCK;
    case EACCES:
    case EPERM: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE:
    case ENFILE: return WSAEMFILE;
    case EAGAIN: return WSAEWOULDBLOCK;
    case EINPROGRESS: return WSAEINPROGRESS;
    case ENOTSOCK: return WSAENOTSOCK;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET: return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM: return WSAENOBUFS;
    case ENOTCONN: return WSAENOTCONN;
    case EPIPE: return WSAESHUTDOWN;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    default: return WSAEINVAL;
  }
}

int Fail(int error) {
  t_socket_error = ToSocketError(error);
  return -1;
}

sockaddr_in ToSockaddr(const SocketAddress& address) {
  sockaddr_in in {};
  in.sin_family = AF_INET;
  in.sin_port = htons(address.port);
  in.sin_addr.s_addr = htonl(address.address);
  return in;
}

SocketAddress FromSockaddr(const sockaddr_in& in) {
  return SocketAddress{ntohl(in.sin_addr.s_addr), ntohs(in.sin_port)};
}

int SetIntOption(SOCKET s, int level, int name, int value) {
  if (::setsockopt(s, level, name, &value, sizeof(value)) != 0) return Fail(errno);
  return 0;
}

// Waits for `events` on the socket and, when given, the cancel descriptor.
int WaitFor(SOCKET s, short events, DWORD timeoutMs, const SocketCancel* cancel) {
  using Clock = std::chrono::steady_clock;
  const bool forever = timeoutMs == kInfinite;
  const auto deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : timeoutMs);
  for (;;) {
    pollfd fds[2] = {{s, events, 0}, {cancel != nullptr ? cancel->Descriptor() : -1, POLLIN, 0}};
    int wait_ms = -1;
    if (!forever) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait_ms = left > 0 ? static_cast<int>(left) : 0;
    }
    int ready = ::poll(fds, cancel != nullptr ? 2 : 1, wait_ms);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return Fail(errno);
    }
    if (ready == 0) {
      t_socket_error = WSAETIMEDOUT;
      return 0;
    }
    if (cancel != nullptr && (fds[1].revents & POLLIN) != 0) {
      t_socket_error = WSAEINTR;
      return -1;
    }
    if ((fds[0].revents & POLLNVAL) != 0) {
      t_socket_error = WSAENOTSOCK;
      return -1;
    }
    // Errors and hang-ups count as ready: the next call reports them.
    return 1;
  }
}

}  // namespace

int WSAGetLastError() { return t_socket_error; }
void WSASetLastError(int error) { t_socket_error = error; }

bool ParseDottedAddress(const std::string& text, std::uint32_t* address) {
  in_addr parsed {};
  if (text.empty() || ::inet_pton(AF_INET, text.c_str(), &parsed) != 1) return false;
  *address = ntohl(parsed.s_addr);
  return true;
}

std::string FormatDottedAddress(std::uint32_t address) {
  char text[INET_ADDRSTRLEN];
  in_addr in {htonl(address)};
  ::inet_ntop(AF_INET, &in, text, sizeof(text));
  return text;
}

namespace {

struct FreeAddressInfo {
  void operator()(addrinfo* info) const { ::freeaddrinfo(info); }
};
using AddressInfo = std::unique_ptr<addrinfo, FreeAddressInfo>;

// The IPv4 stream addresses of a host name; null with the error set when the
// lookup fails.
AddressInfo LookUp(const std::string& name, int flags) {
  addrinfo hints {};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = flags;
  addrinfo* found = nullptr;
  int result = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
  if (result != 0) {
    t_socket_error = result == EAI_AGAIN ? WSATRY_AGAIN : WSAHOST_NOT_FOUND;
    return nullptr;
  }
  return AddressInfo(found);
}

}  // namespace

std::vector<std::uint32_t> ResolveHost(const std::string& name) {
  std::vector<std::uint32_t> addresses;
  std::uint32_t dotted = 0;
  if (ParseDottedAddress(name, &dotted)) {
    addresses.push_back(dotted);
    return addresses;
  }
  addresses = HostsFileAddresses(name);
  if (!addresses.empty()) return addresses;
  AddressInfo found = LookUp(name, 0);
  for (addrinfo* a = found.get(); a != nullptr; a = a->ai_next) {
    std::uint32_t value = ntohl(reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr.s_addr);
    bool seen = false;
    for (std::uint32_t v : addresses) seen = seen || v == value;
    if (!seen) addresses.push_back(value);
  }
  return addresses;
}

std::string OfficialHostName(const std::string& name) {
  std::uint32_t dotted = 0;
  if (ParseDottedAddress(name, &dotted)) return name;
  const std::vector<std::uint32_t> known = HostsFileAddresses(name);
  if (!known.empty()) return HostsFileName(known.front());
  AddressInfo found = LookUp(name, AI_CANONNAME);
  if (!found) return {};
  return found->ai_canonname != nullptr ? found->ai_canonname : name;
}

std::string HostNameOfAddress(std::uint32_t address) {
  std::string name = HostsFileName(address);
  if (!name.empty()) return name;
  sockaddr_in in = ToSockaddr({address, 0});
  char host[NI_MAXHOST] = {};
  if (::getnameinfo(reinterpret_cast<sockaddr*>(&in), sizeof(in), host, sizeof(host), nullptr, 0, NI_NAMEREQD) != 0) {
    t_socket_error = WSAHOST_NOT_FOUND;
    return {};
  }
  return host;
}

SOCKET TcpSocket() {
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  return s < 0 ? Fail(errno) : s;
}

SOCKET UdpSocket() {
  int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  return s < 0 ? Fail(errno) : s;
}

int CloseSocket(SOCKET s) { return ::close(s) == 0 ? 0 : Fail(errno); }

int Shutdown(SOCKET s, int how) {
  int mode = how == SD_RECEIVE ? SHUT_RD : how == SD_SEND ? SHUT_WR : SHUT_RDWR;
  return ::shutdown(s, mode) == 0 ? 0 : Fail(errno);
}

int SetReuseAddress(SOCKET s, bool on) { return SetIntOption(s, SOL_SOCKET, SO_REUSEADDR, on ? 1 : 0); }

int SetDontLinger(SOCKET s, bool on) {
  linger value {};
  value.l_onoff = on ? 0 : 1;
  value.l_linger = 0;
  if (::setsockopt(s, SOL_SOCKET, SO_LINGER, &value, sizeof(value)) != 0) return Fail(errno);
  return 0;
}

int SetSendBuffer(SOCKET s, int bytes) { return SetIntOption(s, SOL_SOCKET, SO_SNDBUF, bytes); }
int SetReceiveBuffer(SOCKET s, int bytes) { return SetIntOption(s, SOL_SOCKET, SO_RCVBUF, bytes); }
int SetBroadcast(SOCKET s, bool on) { return SetIntOption(s, SOL_SOCKET, SO_BROADCAST, on ? 1 : 0); }
int SetNoDelay(SOCKET s, bool on) { return SetIntOption(s, IPPROTO_TCP, TCP_NODELAY, on ? 1 : 0); }

int SetDeferAccept(SOCKET s, int seconds) { return SetIntOption(s, IPPROTO_TCP, TCP_DEFER_ACCEPT, seconds); }

int SetNonBlocking(SOCKET s, bool on) {
  const int flags = ::fcntl(s, F_GETFL, 0);
  if (flags < 0) return Fail(errno);
  const int wanted = on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK;
  if (wanted != flags && ::fcntl(s, F_SETFL, wanted) != 0) return Fail(errno);
  return 0;
}

int Bind(SOCKET s, const SocketAddress& local) {
  sockaddr_in in = ToSockaddr(local);
  return ::bind(s, reinterpret_cast<sockaddr*>(&in), sizeof(in)) == 0 ? 0 : Fail(errno);
}

int Listen(SOCKET s, int backlog) { return ::listen(s, backlog) == 0 ? 0 : Fail(errno); }

SOCKET Accept(SOCKET s, SocketAddress* peer) {
  for (;;) {
    sockaddr_in in {};
    socklen_t length = sizeof(in);
    int accepted = ::accept4(s, reinterpret_cast<sockaddr*>(&in), &length, SOCK_CLOEXEC);
    if (accepted >= 0) {
      if (peer != nullptr) *peer = FromSockaddr(in);
      return accepted;
    }
    // A connection that was reset while queued is not the listener's failure.
    if (errno == EINTR || errno == ECONNABORTED || errno == EPROTO) continue;
    return Fail(errno);
  }
}

int Connect(SOCKET s, const SocketAddress& remote, DWORD timeoutMs) {
  int flags = ::fcntl(s, F_GETFL, 0);
  ::fcntl(s, F_SETFL, flags | O_NONBLOCK);
  sockaddr_in in = ToSockaddr(remote);
  int result = ::connect(s, reinterpret_cast<sockaddr*>(&in), sizeof(in));
  if (result != 0 && errno != EINPROGRESS) {
    int error = errno;
    ::fcntl(s, F_SETFL, flags);
    return Fail(error);
  }
  if (result != 0) {
    int ready = WaitFor(s, POLLOUT, timeoutMs, nullptr);
    if (ready <= 0) {
      ::fcntl(s, F_SETFL, flags);
      return -1;
    }
    int error = 0;
    socklen_t length = sizeof(error);
    ::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length);
    if (error != 0) {
      ::fcntl(s, F_SETFL, flags);
      return Fail(error);
    }
  }
  ::fcntl(s, F_SETFL, flags);
  return 0;
}

int GetLocalAddress(SOCKET s, SocketAddress* local) {
  sockaddr_in in {};
  socklen_t length = sizeof(in);
  if (::getsockname(s, reinterpret_cast<sockaddr*>(&in), &length) != 0) return Fail(errno);
  *local = FromSockaddr(in);
  return 0;
}

int GetPeerAddress(SOCKET s, SocketAddress* peer) {
  sockaddr_in in {};
  socklen_t length = sizeof(in);
  if (::getpeername(s, reinterpret_cast<sockaddr*>(&in), &length) != 0) return Fail(errno);
  *peer = FromSockaddr(in);
  return 0;
}

int WaitReadable(SOCKET s, DWORD timeoutMs, const SocketCancel* cancel) {
  return WaitFor(s, POLLIN, timeoutMs, cancel);
}

int WaitWritable(SOCKET s, DWORD timeoutMs, const SocketCancel* cancel) {
  return WaitFor(s, POLLOUT, timeoutMs, cancel);
}

int Recv(SOCKET s, void* buffer, std::size_t length, int flags) {
  for (;;) {
    const int recv_flags = ((flags & MSG_PEEK_FLAG) != 0 ? MSG_PEEK : 0) |
                           ((flags & MSG_DONTWAIT_FLAG) != 0 ? MSG_DONTWAIT : 0);
    ssize_t n = ::recv(s, buffer, length, recv_flags);
    if (n >= 0) return static_cast<int>(n);
    if (errno != EINTR) return Fail(errno);
  }
}

int Send(SOCKET s, const void* data, std::size_t length, int flags) {
  const int send_flags = MSG_NOSIGNAL | ((flags & MSG_DONTWAIT_FLAG) != 0 ? MSG_DONTWAIT : 0);
  for (;;) {
    ssize_t n = ::send(s, data, length, send_flags);
    if (n >= 0) return static_cast<int>(n);
    if (errno != EINTR) return Fail(errno);
  }
}

long long SendGather(SOCKET s, const SendSlice* slices, std::size_t count, int flags) {
  iovec vectors[kMaxSendSlices];
  if (count > kMaxSendSlices) count = kMaxSendSlices;
  for (std::size_t i = 0; i < count; ++i) vectors[i] = iovec{const_cast<void*>(slices[i].data), slices[i].length};
  msghdr message{};
  message.msg_iov = vectors;
  message.msg_iovlen = count;
  const int send_flags = MSG_NOSIGNAL | ((flags & MSG_DONTWAIT_FLAG) != 0 ? MSG_DONTWAIT : 0);
  for (;;) {
    ssize_t n = ::sendmsg(s, &message, send_flags);
    if (n >= 0) return n;
    if (errno != EINTR) return Fail(errno);
  }
}

int SendTo(SOCKET s, const void* data, std::size_t length, const SocketAddress& to) {
  sockaddr_in in = ToSockaddr(to);
  ssize_t n = ::sendto(s, data, length, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&in), sizeof(in));
  return n < 0 ? Fail(errno) : static_cast<int>(n);
}

int RecvFrom(SOCKET s, void* buffer, std::size_t length, SocketAddress* from) {
  sockaddr_in in {};
  socklen_t size = sizeof(in);
  for (;;) {
    ssize_t n = ::recvfrom(s, buffer, length, 0, reinterpret_cast<sockaddr*>(&in), &size);
    if (n >= 0) {
      if (from != nullptr) *from = FromSockaddr(in);
      return static_cast<int>(n);
    }
    if (errno != EINTR) return Fail(errno);
  }
}

namespace {

long long SendFileRange(SOCKET s, int fd, long long offset, long long length, bool dontWait) {
  off_t position = static_cast<off_t>(offset);
  long long sent = 0;
  while (sent < length) {
    ssize_t n = ::sendfile(s, fd, &position, static_cast<std::size_t>(length - sent));
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        if (dontWait) return sent > 0 ? sent : Fail(EAGAIN);
        if (WaitFor(s, POLLOUT, 60000, nullptr) <= 0) return -1;
        continue;
      }
      return Fail(errno);
    }
    if (n == 0) break;  // the file is shorter than announced
    sent += n;
  }
  return sent;
}

}  // namespace

long long TransmitFile(SOCKET s, int fd, long long offset, long long length, int flags) {
  if ((flags & MSG_DONTWAIT_FLAG) == 0) return SendFileRange(s, fd, offset, length, false);
  // sendfile has no per-call flag: the socket is non-blocking for this call only.
  const int mode = ::fcntl(s, F_GETFL, 0);
  if (mode < 0) return Fail(errno);
  if ((mode & O_NONBLOCK) == 0 && ::fcntl(s, F_SETFL, mode | O_NONBLOCK) != 0) return Fail(errno);
  long long sent = SendFileRange(s, fd, offset, length, true);
  if ((mode & O_NONBLOCK) == 0) ::fcntl(s, F_SETFL, mode);
  return sent;
}

SpareDescriptor::SpareDescriptor() { Take(); }

SpareDescriptor::~SpareDescriptor() {
  if (fd_ >= 0) ::close(fd_);
}

void SpareDescriptor::Take() {
  if (fd_ < 0) fd_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

bool SpareDescriptor::DropOneConnection(SOCKET listening) {
  // accept4 would block on a blocking listener with nothing waiting.
  pollfd waiting {listening, POLLIN, 0};
  if (::poll(&waiting, 1, 0) != 1) {
    t_socket_error = WSAEWOULDBLOCK;
    return false;
  }
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  int accepted = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  int error = errno;
  if (accepted >= 0) ::close(accepted);
  Take();
  if (accepted >= 0) return true;
  Fail(error);
  return false;
}

SocketCancel::SocketCancel() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

SocketCancel::~SocketCancel() {
  if (fd_ >= 0) ::close(fd_);
}

void SocketCancel::Cancel() {
  std::uint64_t one = 1;
  (void)!::write(fd_, &one, sizeof(one));
}

void SocketCancel::Reset() {
  std::uint64_t value = 0;
  (void)!::read(fd_, &value, sizeof(value));
}

bool SocketCancel::Cancelled() const {
  pollfd fd {fd_, POLLIN, 0};
  return ::poll(&fd, 1, 0) == 1;
}

}  // namespace platform
