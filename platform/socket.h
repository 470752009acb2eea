// Sockets for the server: TCP and UDP over IPv4 with the classic socket
// error numbers (WSAECONNRESET and friends), which the server traces, logs
// and branches on. Calls that fail return -1 (or kInvalidSocket) and leave
// the error for WSAGetLastError().
//
// Threads: a socket is a plain descriptor that this layer keeps no state
// for, and the last error is the calling thread's own, so calls on different
// sockets never interfere. On one socket one thread may receive while
// another sends, and a Shutdown from any thread ends the others' blocked
// Accept, Recv, Send or wait on it (that is how listeners and request
// threads are stopped). Connect, and TransmitFile with MSG_DONTWAIT_FLAG,
// switch the socket's blocking mode for their own length, so nothing else may
// run on that socket meanwhile; nor may CloseSocket while any call on the
// socket runs, since its number can be reused at once. A SocketCancel may be
// cancelled and reset from any thread while others wait on it; a
// SpareDescriptor belongs to one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/types.h"

namespace platform {

using SOCKET = int;
constexpr SOCKET kInvalidSocket = -1;

// Socket error numbers.
constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINPROGRESS = 10036;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_DATA = 11004;

int WSAGetLastError();
void WSASetLastError(int error);

// An IPv4 endpoint; the address in host byte order (127.0.0.1 = 0x7F000001).
struct SocketAddress {
  std::uint32_t address = 0;  // 0: any interface
  std::uint16_t port = 0;
};

// "a.b.c.d" → address; false when the text is not a dotted IPv4 address.
bool ParseDottedAddress(const std::string& text, std::uint32_t* address);
std::string FormatDottedAddress(std::uint32_t address);
// Name lookups ask the machine's hosts file (platform/hosts_file.h) first and
// the system resolver only for names it does not know.
// Addresses of a host name or dotted text (empty with the error set when unknown).
std::vector<std::uint32_t> ResolveHost(const std::string& name);
// The official name the name lookup gives for a host name (a dotted address
// stays as it is); empty with the error set when unknown.
std::string OfficialHostName(const std::string& name);
// The name of an address (a reverse lookup); empty with the error set when
// it has none.
std::string HostNameOfAddress(std::uint32_t address);

SOCKET TcpSocket();
SOCKET UdpSocket();
int CloseSocket(SOCKET s);

constexpr int SD_RECEIVE = 0;
constexpr int SD_SEND = 1;
constexpr int SD_BOTH = 2;
int Shutdown(SOCKET s, int how);

// Options as the server sets them.
int SetReuseAddress(SOCKET s, bool on);
int SetDontLinger(SOCKET s, bool on);          // close returns at once, data still goes out
int SetSendBuffer(SOCKET s, int bytes);
int SetReceiveBuffer(SOCKET s, int bytes);
int SetBroadcast(SOCKET s, bool on);
int SetNoDelay(SOCKET s, bool on);
// A listening socket hands a connection over only once its peer has sent
// something, or after about `seconds` of silence.
int SetDeferAccept(SOCKET s, int seconds);
// A non-blocking socket answers Accept and Recv with -1 (WSAEWOULDBLOCK)
// instead of waiting.
int SetNonBlocking(SOCKET s, bool on);

int Bind(SOCKET s, const SocketAddress& local);
int Listen(SOCKET s, int backlog);
// Blocks until a connection arrives (on a non-blocking socket: fails with
// WSAEWOULDBLOCK when none is waiting); kInvalidSocket when the listening
// socket fails or is shut down. The new socket takes the listening socket's
// linger and buffer options.
SOCKET Accept(SOCKET s, SocketAddress* peer);
// Connects, giving up after `timeoutMs` (WSAETIMEDOUT).
int Connect(SOCKET s, const SocketAddress& remote, DWORD timeoutMs);
int GetLocalAddress(SOCKET s, SocketAddress* local);
int GetPeerAddress(SOCKET s, SocketAddress* peer);

// Waits until the socket can be read (or written). 1 ready, 0 timed out
// (WSAETIMEDOUT), -1 error. kInfinite waits without limit. A wait ends early
// with -1 (WSAEINTR) when `cancel` is given and gets cancelled.
class SocketCancel;
int WaitReadable(SOCKET s, DWORD timeoutMs, const SocketCancel* cancel = nullptr);
int WaitWritable(SOCKET s, DWORD timeoutMs, const SocketCancel* cancel = nullptr);

constexpr int MSG_PEEK_FLAG = 1;
// Send and TransmitFile: take only what fits now instead of blocking until
// everything is queued, so a writer's own writability wait bounds the time a
// peer that stops reading can hold it. Nothing fits: -1 with WSAEWOULDBLOCK.
// Recv: take what has arrived; nothing has: -1 with WSAEWOULDBLOCK.
constexpr int MSG_DONTWAIT_FLAG = 2;
// Bytes received (0: the peer closed), or -1.
int Recv(SOCKET s, void* buffer, std::size_t length, int flags = 0);
// Bytes sent, or -1. Never raises SIGPIPE.
int Send(SOCKET s, const void* data, std::size_t length, int flags = 0);
int SendTo(SOCKET s, const void* data, std::size_t length, const SocketAddress& to);
int RecvFrom(SOCKET s, void* buffer, std::size_t length, SocketAddress* from);
// One piece of a gathered send.
struct SendSlice {
  const void* data;
  std::size_t length;
};
// Sends the pieces in order with one system call: bytes sent (fewer than
// asked when the socket fills; with MSG_DONTWAIT_FLAG nothing waits), or -1.
// At most kMaxSendSlices pieces are taken per call.
constexpr std::size_t kMaxSendSlices = 64;
long long SendGather(SOCKET s, const SendSlice* slices, std::size_t count, int flags = 0);

// Sends `length` bytes of the open file `fd` from `offset` with the kernel's
// file transmission. Bytes sent, or -1. With MSG_DONTWAIT_FLAG it returns
// after what fits now (fewer bytes than asked).
long long TransmitFile(SOCKET s, int fd, long long offset, long long length, int flags = 0);

// A descriptor held in reserve by a listener. A process out of descriptors
// cannot accept, so the waiting connection keeps the listening socket
// readable and a listener would spin on it; giving up the spare makes room to
// take that connection and close it at once.
class SpareDescriptor {
 public:
  SpareDescriptor();  // takes the spare (when the process has one to give)
  ~SpareDescriptor();
  SpareDescriptor(const SpareDescriptor&) = delete;
  SpareDescriptor& operator=(const SpareDescriptor&) = delete;
  bool Held() const { return fd_ >= 0; }
  // Lets the spare go, accepts one waiting connection of `listening` without
  // blocking and closes it, then takes the spare again. True when a
  // connection was closed; false (error kept) when none could be taken.
  bool DropOneConnection(SOCKET listening);

 private:
  void Take();
  int fd_ = -1;
};

// Ends pending socket waits: once Cancel() is called every wait given this
// object returns at once, now and later, until Reset().
class SocketCancel {
 public:
  SocketCancel();
  ~SocketCancel();
  SocketCancel(const SocketCancel&) = delete;
  SocketCancel& operator=(const SocketCancel&) = delete;
  void Cancel();
  void Reset();
  bool Cancelled() const;
  int Descriptor() const { return fd_; }

 private:
  int fd_ = -1;
};

}  // namespace platform
